#include "logfile2/log_file2.h"

#include "frame/error_catalogue.h"
#include "logfile2/logfile2_format.h"
#include "stream/block_header.h"
#include "stream/settings.h"

namespace corvane::logfile2 {
namespace {

using platform::CriticalSectionLock;

const frame::ErrorSource kSource{"LOGFILE", &IID_ILogFile2, &CLSID_LogFile2};

}  // namespace

LogFile2Object::LogFile2Object(IUnknown* outer) : ComObject(outer, kSource) {}

// The streams close their files without flushing; the bookmarks are not
// written.
// A running indexing thread uses the object: it is stopped and joined first.
LogFile2Object::~LogFile2Object() {
  CriticalSectionLock control(indexing_control_);
  StopIndexing();
}

HRESULT CreateLogFile2(IUnknown* outer, REFIID iid, void** out) {
  return frame::CreateComObject<LogFile2Object>(outer, iid, out);
}

HRESULT LogFile2Object::Close() {
  // The indexing control is held to the end: a CreateIndex on another
  // thread must not start a pass between the stop and the close, or that
  // pass would outlive this log and publish its index into the next one.
  CriticalSectionLock control(indexing_control_);
  StopIndexing();
  indexing_progress_ = 0;
  CriticalSectionLock hold(lock_);
  if (!open_) return Raise(errors::kFileNotOpen);
  // Only the buffered bytes reach the file, also for the enciphered
  // generations: a log ends with its last, possibly short, cipher block,
  // never with zero fill that would read back as blocks. A failed flush
  // keeps the bytes for another Close.
  Status st = log_.FlushBuffer();
  if (!st.ok()) {
    if (st.IsDiskFull()) {
      return Raise(errors::kFinalFlushDiskFull);
    }
    return Raise(errors::kFlushFailed);
  }
  if (!bookmarks_.empty()) {
    // Bookmarks that were only read stay in their file as they are, so that
    // a log on read-only media still closes.
    st = bookmarks_.changed() ? bookmarks_.Save(path_, log_.version()) : Status::Ok();
    if (!st.ok()) {
      if (st.IsDiskFull()) return Raise(errors::kOutOfDiskSpace);
      return Raise(errors::kBookmarkSaveFailed);
    }
  } else if (!bookmark_load_failed_) {
    // A missing file is the usual case. A file that stays although its
    // last bookmark was deleted would bring the bookmarks back at the next
    // Open, so that failure is reported (the files stay open).
    st = BookmarkStore::RemoveFile(path_);
    if (bookmarks_.changed() && !st.ok() && !st.IsNotFound()) {
      return Raise(errors::kBookmarkSaveFailed);
    }
  }
  // The system may report a lost write-back of the log only here; the
  // object is closed either way, as the handle is gone.
  const Status closed = log_.Close();
  (void)index_.Close();
  // A reused object must not carry this log's bookmarks into the next.
  bookmarks_.Clear();
  open_ = false;
  if (writing_ && !closed.ok()) return Raise(errors::kFlushFailed);
  return S_OK;
}

HRESULT LogFile2Object::FlushLogfile() {
  CriticalSectionLock hold(lock_);
  if (open_) (void)log_.SyncToDisk();
  return S_OK;
}

HRESULT LogFile2Object::GetFileSize(LONGLONG* pi64FileSize) {
  if (!pi64FileSize) return Raise(errors::kNullGetFileSizeParams);
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  if (!open_) return Raise(errors::kFileNotOpen);
  *pi64FileSize = log_.GetSize();
  if (*pi64FileSize < 0) return Raise(errors::kFileSizeFailed);
  return S_OK;
}

HRESULT LogFile2Object::GetFilePointerPos(LONGLONG* pi64FilePointerPos) {
  if (!pi64FilePointerPos) return Raise(errors::kNullPointer);
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  if (!open_) return Raise(errors::kFileNotOpen);
  *pi64FilePointerPos = log_.GetPosition();
  if (*pi64FilePointerPos < 0) return Raise(errors::kFilePointerFailed);
  return S_OK;
}

HRESULT LogFile2Object::SetDiskBufferSize(ULONG dwDiskBufferSize) {
  {
    CriticalSectionLock hold(lock_);
    log_.set_disk_buffer_size(dwDiskBufferSize);  // used from the next Open on
  }
  stream::StoreDiskBufferSize(dwDiskBufferSize);
  return S_OK;
}

HRESULT LogFile2Object::GetDiskBufferSize(ULONG* pdwDiskBufferSize) {
  if (!pdwDiskBufferSize) return Raise(errors::kNullGetDiskBufferSize);
  CriticalSectionLock hold(lock_);
  *pdwDiskBufferSize = log_.disk_buffer_size();
  return S_OK;
}

HRESULT LogFile2Object::GetIndexedRecCount(LONGLONG* pi64RecCount) {
  if (!pi64RecCount) return Raise(errors::kNullGetIndexedRecCount);
  *pi64RecCount = index_complete_ ? total_messages_.load() : indexed_messages_.load();
  return S_OK;
}

HRESULT LogFile2Object::GetIndexResolution(LONGLONG* i64IndexRes) {
  if (!i64IndexRes) return Raise(errors::kNullGetIndexResolution);
  *i64IndexRes = index_resolution_;
  return S_OK;
}

HRESULT LogFile2Object::ReadBlockHeader(BYTE* pbyStructBlockHeader, ULONG dwBlockHeaderLength,
                                        ULONG* pdwNumberOfBytesReturned, LONG* bEndOfFile) {
  if (!pbyStructBlockHeader || !pdwNumberOfBytesReturned || !bEndOfFile) {
    return Raise(errors::kNullPointers);
  }
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  if (!open_) return Raise(errors::kFileNotOpen);
  *bEndOfFile = 0;
  *pdwNumberOfBytesReturned = 0;
  LogBlockHeader header;
  bool end_of_file = false;
  Result r = reader_.ReadHeader(&header, &end_of_file);
  if (!r.ok()) return Raise(r.entry());
  stream::DeliverHeader(header, pbyStructBlockHeader, dwBlockHeaderLength);
  if (end_of_file) {
    *bEndOfFile = 1;
    return S_OK;
  }
  *pdwNumberOfBytesReturned = dwBlockHeaderLength;
  return S_OK;
}

HRESULT LogFile2Object::ReadBlockData(BYTE* pbyData, ULONG dwDataLength) {
  if (!pbyData) return Raise(errors::kNullReadBlockDataParams);
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  if (!open_) return Raise(errors::kFileNotOpen);
  Result r = reader_.ReadData(pbyData, dwDataLength);
  return r.ok() ? S_OK : Raise(r.entry());
}

}  // namespace corvane::logfile2
