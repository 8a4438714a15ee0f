#include "logfile/log_file.h"

namespace corvane::logfile {
namespace {
const frame::ErrorSource kSource{"LOGFILE", &IID_ILogFile, &CLSID_LogFile};
}  // namespace

LogFileObject::LogFileObject(IUnknown* outer) : ComObject(outer, kSource) {}

HRESULT CreateLogFile(IUnknown* outer, REFIID iid, void** out) {
  return frame::CreateComObject<LogFileObject>(outer, iid, out);
}

// The methods are not built yet.
HRESULT LogFileObject::Open(BSTR, EnumFileAccessMode, EnumFileVersion*) { return E_NOTIMPL; }
HRESULT LogFileObject::GetFilePointerPos(ULONGLONG*) { return E_NOTIMPL; }
HRESULT LogFileObject::GetFileSize(ULONGLONG*) { return E_NOTIMPL; }
HRESULT LogFileObject::ReadBlockHeader(BYTE*, ULONG, ULONG*, LONG*) { return E_NOTIMPL; }
HRESULT LogFileObject::ReadBlockData(BYTE*, ULONG) { return E_NOTIMPL; }
HRESULT LogFileObject::Close() { return E_NOTIMPL; }
HRESULT LogFileObject::WriteBlock(BYTE*, ULONG, BYTE*, ULONG) { return E_NOTIMPL; }

}  // namespace corvane::logfile
