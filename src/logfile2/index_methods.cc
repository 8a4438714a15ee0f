// The index methods of LogFile2 that start and watch the indexing thread
// (index_builder.h): CreateIndex, GetIndexingProgress, GetDiskSectorSize,
// and the object's side of IndexHost, through which the thread reaches it.
#include "frame/error_catalogue.h"
#include "logfile2/index_builder.h"
#include "logfile2/log_file2.h"
#include "platform/file.h"
#include "stream/open_mode.h"

namespace corvane::logfile2 {
namespace {

using platform::CriticalSectionLock;

// An existing index, opened for Jump.
platform::OpenOptions IndexReadOptions(uint32_t share) {
  return stream::OpenOptionsFor(FileAccessModeReadOnly, share);
}

}  // namespace

void LogFile2Object::ForgetRequest() {
  indexing_progress_ = 0;
  requested_resolution_ = 0;
}

Status LogFile2Object::PublishFirstPass(const std::string& index_path, int64_t messages) {
  CriticalSectionLock hold(lock_);
  // The stream was opened by CreateIndex; one that could not be opened then
  // is opened now.
  Status st;
  if (!index_.is_open()) {
    st = index_.OpenIndex(index_path, IndexReadOptions(platform::kShareRead | platform::kShareWrite),
                          log_.version(), 0);
    if (!st.ok()) (void)index_.Close();
    index_resolution_ = static_cast<int64_t>(index_.is_open() ? index_.resolution() : 0);
  }
  total_messages_ = messages + static_cast<int64_t>(bookmarks_.size());
  index_complete_ = st.ok();
  return st;
}

void LogFile2Object::ReleaseIndex() {
  CriticalSectionLock hold(lock_);
  (void)index_.Close();
}

Status LogFile2Object::InstallIndex(const std::string& index_path, bool rebuilt) {
  CriticalSectionLock hold(lock_);
  const uint32_t share = rebuilt ? platform::kShareRead | platform::kShareWrite
                                 : platform::kShareRead;
  // The object is still open: Close joins the thread before it closes.
  Status st = index_.OpenIndex(index_path, IndexReadOptions(share), log_.version(), 0);
  if (!st.ok()) (void)index_.Close();
  if (index_.is_open()) {
    if (!rebuilt) return st;  // the old index, with the counts it had
    index_resolution_ = static_cast<int64_t>(index_.resolution());
    total_messages_ =
        static_cast<int64_t>(index_.record_count()) + static_cast<int64_t>(bookmarks_.size());
    index_complete_ = true;
    return st;
  }
  index_complete_ = false;
  index_resolution_ = 0;
  indexed_messages_ = 0;
  return st.ok() ? Status::Error(kErrFileNotFound) : st;
}

void LogFile2Object::StopIndexing() {
  if (!indexing_thread_.Joinable()) return;
  stop_indexing_ = true;
  indexing_thread_.Join();  // also releases the thread handle
  stop_indexing_ = false;
}

HRESULT LogFile2Object::CreateIndex(LONGLONG i64IndexRes) {
  if (!open_) return Raise(errors::kFileNotOpen);
  if (i64IndexRes < 1) return Raise(errors::kInvalidIndexRes);
  CriticalSectionLock control(indexing_control_);
  StopIndexing();
  CriticalSectionLock hold(lock_);
  if (!open_) return Raise(errors::kFileNotOpen);
  requested_resolution_ = i64IndexRes;
  IndexJob job{path_, log_.version(), i64IndexRes, index_complete_.load()};
  if (!job.rebuild) {
    // The index of the first pass, open for Jump while the thread writes
    // it. Sharing delete lets the thread remove it when the pass is stopped
    // or fails; a file of an earlier attempt is replaced.
    const std::string index_path = IndexPathOf(path_);
    (void)index_.Close();
    (void)platform::RemoveFile(index_path);
    platform::OpenOptions options;
    options.access = platform::kAccessRead;
    options.share = platform::kShareRead | platform::kShareWrite | platform::kShareDelete;
    options.disposition = platform::Disposition::kOpenAlways;
    Status st = index_.OpenIndex(index_path, options, log_.version(),
                                 static_cast<uint64_t>(i64IndexRes));
    // Access denied comes from the fields the read-only stream cannot write
    // (or from a file it may not open); the thread writes the file anyway.
    if (!st.ok() && st.code() != kErrAccessDenied) {
      (void)index_.Close();
      (void)platform::RemoveFile(index_path);  // removed above: whatever is there is this attempt's
      index_resolution_ = 0;
      return Raise(errors::kIndexCreateFailed);
    }
    index_resolution_ = index_.is_open() ? i64IndexRes : 0;
    indexed_messages_ = 0;
  }
  indexing_progress_ = 0;
  stop_indexing_ = false;
  if (!indexing_thread_.Start([this, job] { IndexBuilder(*this, job).Run(); })) {
    return Raise(errors::kIndexThreadFailed);
  }
  return S_OK;
}

HRESULT LogFile2Object::GetIndexingProgress(LONGLONG* pi64FilePointerPos) {
  if (!pi64FilePointerPos) return Raise(errors::kNullGetIndexingProgress);
  *pi64FilePointerPos = indexing_progress_;
  return S_OK;
}

HRESULT LogFile2Object::GetDiskSectorSize(ULONG* dwBytesPerSector) {
  if (!dwBytesPerSector) return Raise(errors::kNullGetDiskSectorSize);
  std::string place;
  {
    CriticalSectionLock hold(lock_);
    place = path_;  // empty before the first Open: the current directory
  }
  uint32_t bytes = 0;
  if (!platform::FileSystem::Current()->BytesPerSector(place, &bytes).ok()) {
    return Raise(errors::kIncompatibleDiskDrive);
  }
  *dwBytesPerSector = bytes;
  return S_OK;
}

}  // namespace corvane::logfile2
