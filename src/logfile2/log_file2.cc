#include "logfile2/log_file2.h"

namespace corvane::logfile2 {
namespace {
const frame::ErrorSource kSource{"LOGFILE", &IID_ILogFile2, &CLSID_LogFile2};
}  // namespace

LogFile2Object::LogFile2Object(IUnknown* outer) : ComObject(outer, kSource) {}

HRESULT CreateLogFile2(IUnknown* outer, REFIID iid, void** out) {
  return frame::CreateComObject<LogFile2Object>(outer, iid, out);
}

// The methods are not built yet.
HRESULT LogFile2Object::Open(BSTR, EnumFileAccessMode, EnumFileVersion*, LONG) { return E_NOTIMPL; }
HRESULT LogFile2Object::GetFilePointerPos(LONGLONG*) { return E_NOTIMPL; }
HRESULT LogFile2Object::GetFileSize(LONGLONG*) { return E_NOTIMPL; }
HRESULT LogFile2Object::ReadBlockHeader(BYTE*, ULONG, ULONG*, LONG*) { return E_NOTIMPL; }
HRESULT LogFile2Object::ReadBlockData(BYTE*, ULONG) { return E_NOTIMPL; }
HRESULT LogFile2Object::Close() { return E_NOTIMPL; }
HRESULT LogFile2Object::WriteBlock(BYTE*, ULONG, BYTE*, ULONG, ULONG) { return E_NOTIMPL; }
HRESULT LogFile2Object::InsertBookmark(LONGLONG, BSTR) { return E_NOTIMPL; }
HRESULT LogFile2Object::Jump(LONGLONG) { return E_NOTIMPL; }
HRESULT LogFile2Object::GetIndexedRecCount(LONGLONG*) { return E_NOTIMPL; }
HRESULT LogFile2Object::CreateIndex(LONGLONG) { return E_NOTIMPL; }
HRESULT LogFile2Object::GetDiskSectorSize(ULONG*) { return E_NOTIMPL; }
HRESULT LogFile2Object::GetIndexingProgress(LONGLONG*) { return E_NOTIMPL; }
HRESULT LogFile2Object::GetBookmarkCount(LONGLONG*) { return E_NOTIMPL; }
HRESULT LogFile2Object::BookmarkRead(BSTR*) { return E_NOTIMPL; }
HRESULT LogFile2Object::BookmarkDelete() { return E_NOTIMPL; }
HRESULT LogFile2Object::BookmarkJump(LONGLONG) { return E_NOTIMPL; }
HRESULT LogFile2Object::BookmarkEdit(BSTR) { return E_NOTIMPL; }
HRESULT LogFile2Object::GetBookmarkBlockNumber(LONGLONG, LONGLONG*) { return E_NOTIMPL; }
HRESULT LogFile2Object::SetDiskBufferSize(ULONG) { return E_NOTIMPL; }
HRESULT LogFile2Object::FlushLogfile() { return E_NOTIMPL; }
HRESULT LogFile2Object::GetIndexResolution(LONGLONG*) { return E_NOTIMPL; }
HRESULT LogFile2Object::GetDiskBufferSize(ULONG*) { return E_NOTIMPL; }
HRESULT LogFile2Object::GetBookmarkIndexNumber(LONGLONG, LONGLONG*) { return E_NOTIMPL; }

}  // namespace corvane::logfile2
