// LogFile2: fast recording and viewing of large logs.
#ifndef CORVANE_LOGFILE2_LOG_FILE2_H_
#define CORVANE_LOGFILE2_LOG_FILE2_H_

#include <corvane/corvane.h>

#include "frame/com_object.h"

namespace corvane::logfile2 {

class LogFile2Object final : public frame::ComObject<ILogFile2> {
 public:
  explicit LogFile2Object(IUnknown* outer);

  HRESULT STDMETHODCALLTYPE Open(BSTR bstrFileName, EnumFileAccessMode FileAccessMode,
                                 EnumFileVersion* pFileFormat, LONG bFullFlush) override;
  HRESULT STDMETHODCALLTYPE GetFilePointerPos(LONGLONG* pi64FilePointerPos) override;
  HRESULT STDMETHODCALLTYPE GetFileSize(LONGLONG* pi64FileSize) override;
  HRESULT STDMETHODCALLTYPE ReadBlockHeader(BYTE* pbyStructBlockHeader, ULONG dwBlockHeaderLength,
                                            ULONG* pdwNumberOfBytesReturned,
                                            LONG* bEndOfFile) override;
  HRESULT STDMETHODCALLTYPE ReadBlockData(BYTE* pbyData, ULONG dwDataLength) override;
  HRESULT STDMETHODCALLTYPE Close() override;
  HRESULT STDMETHODCALLTYPE WriteBlock(BYTE* pStructBlockHeader, ULONG dwHeaderLength,
                                       BYTE* pbyData, ULONG dwDataLength,
                                       ULONG dwBulkBlockMsgCount) override;
  HRESULT STDMETHODCALLTYPE InsertBookmark(LONGLONG i64MsgNo, BSTR bstrComment) override;
  HRESULT STDMETHODCALLTYPE Jump(LONGLONG i64MsgNo) override;
  HRESULT STDMETHODCALLTYPE GetIndexedRecCount(LONGLONG* pi64RecCount) override;
  HRESULT STDMETHODCALLTYPE CreateIndex(LONGLONG i64IndexRes) override;
  HRESULT STDMETHODCALLTYPE GetDiskSectorSize(ULONG* dwBytesPerSector) override;
  HRESULT STDMETHODCALLTYPE GetIndexingProgress(LONGLONG* pi64FilePointerPos) override;
  HRESULT STDMETHODCALLTYPE GetBookmarkCount(LONGLONG* pi64BookmarkCount) override;
  HRESULT STDMETHODCALLTYPE BookmarkRead(BSTR* bstrComment) override;
  HRESULT STDMETHODCALLTYPE BookmarkDelete() override;
  HRESULT STDMETHODCALLTYPE BookmarkJump(LONGLONG i64BookmarkNo) override;
  HRESULT STDMETHODCALLTYPE BookmarkEdit(BSTR bstrComment) override;
  HRESULT STDMETHODCALLTYPE GetBookmarkBlockNumber(LONGLONG i64BookmarkNumber,
                                                   LONGLONG* pi64BookmarkBlockNumber) override;
  HRESULT STDMETHODCALLTYPE SetDiskBufferSize(ULONG dwDiskBufferSize) override;
  HRESULT STDMETHODCALLTYPE FlushLogfile() override;
  HRESULT STDMETHODCALLTYPE GetIndexResolution(LONGLONG* i64IndexRes) override;
  HRESULT STDMETHODCALLTYPE GetDiskBufferSize(ULONG* pdwDiskBufferSize) override;
  HRESULT STDMETHODCALLTYPE GetBookmarkIndexNumber(LONGLONG i64MsgNumber,
                                                   LONGLONG* pi64BookmarkNumber) override;
};

// Creation function for the object map (supports aggregation).
HRESULT CreateLogFile2(IUnknown* outer, REFIID iid, void** out);

}  // namespace corvane::logfile2

#endif  // CORVANE_LOGFILE2_LOG_FILE2_H_
