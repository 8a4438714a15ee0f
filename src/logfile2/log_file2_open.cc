// LogFile2::Open and the rules for the companion files (the index file
// "idx" and the bookmark file "bmk" beside the log).
#include "frame/error_catalogue.h"
#include "frame/strings.h"
#include "logfile2/index_builder.h"
#include "logfile2/log_file2.h"
#include "logfile2/logfile2_format.h"
#include "platform/file.h"
#include "stream/companion_path.h"
#include "stream/open_mode.h"

namespace corvane::logfile2 {
namespace {

using platform::CriticalSectionLock;
using platform::Disposition;


platform::OpenOptions IndexReadOptions() {
  return stream::OpenOptionsFor(FileAccessModeReadOnly, platform::kShareRead);
}

}  // namespace

void LogFile2Object::ResetState() {
  (void)index_.Close();
  bookmarks_.Clear();
  bookmark_load_failed_ = false;
  index_resolution_ = 0;
  total_messages_ = 0;
  indexed_messages_ = 0;
  index_complete_ = false;
  indexing_progress_ = 0;
  reader_.Reset(FileVersionUnknown);
}

HRESULT LogFile2Object::Open(BSTR bstrFileName, EnumFileAccessMode FileAccessMode,
                             EnumFileVersion* pFileFormat, LONG bFullFlush) {
  if (!bstrFileName || !pFileFormat) {
    return Raise(errors::kNullOpenParams);
  }
  if (open_) return Raise(errors::kFileAlreadyOpen);
  CriticalSectionLock hold(lock_);
  if (open_) return Raise(errors::kFileAlreadyOpen);

  // Modes and generation are checked before any companion file is touched:
  // a refused Open must not have removed an index or bookmark file.
  if (FileAccessMode != FileAccessModeReadOnly && FileAccessMode != FileAccessModeWriteCreateNew &&
      FileAccessMode != FileAccessModeWriteCreateAlways) {
    return Raise(errors::kCreationFailedAccessMode);
  }
  const bool writing = FileAccessMode != FileAccessModeReadOnly;
  if (writing && !WritableVersion(stream::CallerVersion(pFileFormat))) {
    return Raise(errors::kCreationFailedFileFormat);
  }
  if (!frame::BstrToNarrow(bstrFileName, &path_) || path_.empty() ||
      path_.size() > platform::MaxPathLength()) {
    return Raise(errors::kCreationFailed);
  }

  ResetState();
  HRESULT hr = S_OK;
  if (FileAccessMode == FileAccessModeWriteCreateNew) hr = ClearCompanionsForCreateNew();
  if (FileAccessMode == FileAccessModeWriteCreateAlways) hr = MoveCompanionsAside();
  if (FAILED(hr)) return hr;

  time_base_.Restart();
  hr = OpenLog(FileAccessMode, pFileFormat, bFullFlush != 0);
  SettleCompanions(SUCCEEDED(hr));
  if (FAILED(hr)) return Raise(errors::CreationFailed(hr));
  if (!writing) hr = OpenCompanionsForReading();
  if (FAILED(hr)) {
    (void)log_.Close();
    ResetState();
    return Raise(hr == E_CVR_FILE_ALREADY_OPEN ? errors::kBookmarkFileInUse : errors::kCreationFailed);
  }
  writing_ = writing;
  open_ = true;
  return S_OK;
}

HRESULT LogFile2Object::ClearCompanionsForCreateNew() {
  // A bookmark file that loads completely belongs to a log that exists.
  const bool bookmarks_exist = bookmarks_.Load(path_) == BookmarkStore::LoadResult::kLoaded;
  // The new log starts without bookmarks, whatever the test read.
  bookmarks_.Clear();
  if (bookmarks_exist) {
    return Raise(errors::kBookmarkFileExists);
  }
  (void)index_.OpenIndex(IndexPathOf(path_), IndexReadOptions(), FileVersionUnknown, 0);
  const bool index_exists = index_.is_open();
  (void)index_.Close();
  if (index_exists) return Raise(errors::kIndexFileExists);
  return S_OK;
}

HRESULT LogFile2Object::MoveCompanionsAside() {
  const struct { std::string path; const ErrorEntry& in_use; } companions[] = {
      {IndexPathOf(path_), errors::kIndexFileInUse},
      {BookmarkStore::PathFor(path_), errors::kBookmarkFileInUse}};
  // A companion that another process holds refuses the open before anything
  // changes.
  for (const auto& c : companions) {
    std::unique_ptr<platform::File> held;
    const Status st = platform::OpenFile(
        c.path, {platform::kAccessRead, platform::kShareNone, Disposition::kOpenExisting, false},
        &held);
    if (st.code() == kErrSharingViolation) return Raise(c.in_use);
  }
  // Each companion is renamed aside, to be removed once the new log exists
  // or renamed back if it cannot be made: a log that cannot be replaced
  // keeps its index and bookmarks. A companion that cannot be moved would
  // stay beside the new log and describe the old one, so it fails the open.
  moved_aside_.clear();
  for (const auto& c : companions) {
    const std::string aside = stream::StagingPath(c.path);
    const Status st = platform::RenameFile(c.path, aside, true);
    if (st.ok()) moved_aside_.push_back(c.path);
    if (st.ok() || st.IsNotFound()) continue;
    SettleCompanions(false);
    return Raise(st.code() == kErrSharingViolation ? c.in_use : errors::kCreationFailed);
  }
  return S_OK;
}

void LogFile2Object::SettleCompanions(bool log_replaced) {
  for (const std::string& path : moved_aside_) {
    const std::string aside = stream::StagingPath(path);
    if (log_replaced) {
      (void)platform::RemoveFile(aside);
    } else {
      (void)platform::RenameFile(aside, path, false);
    }
  }
  moved_aside_.clear();
}

HRESULT LogFile2Object::OpenLog(EnumFileAccessMode mode, EnumFileVersion* pFileFormat,
                                bool full_flush) {
  const bool writing = mode != FileAccessModeReadOnly;
  platform::OpenOptions options = stream::OpenOptionsFor(mode, platform::kShareRead);
  options.write_through = writing && full_flush;
  // For reading the generation is detected, except in an empty file, which
  // has none: it takes the caller's *pFileFormat, which must then be one
  // this component reads (checked below). Nothing is written either way.
  const int version = stream::CallerVersion(pFileFormat);
  uint32_t last_error = 0;
  Status st = log_.Open(path_, options, version, &last_error);
  // The open itself failed: nothing was created.
  if (!log_.is_open()) return st.IsDiskFull() ? E_CVR_DISK_FULL : E_CVR_FILE_CREATION_FAILS;

  HRESULT hr = S_OK;
  if (!st.ok()) {
    hr = st.IsDiskFull() ? E_CVR_DISK_FULL : E_CVR_FILE_CREATION_FAILS;
  } else if (!writing) {
    *pFileFormat = log_.version();
    const int v = log_.version();
    if (stream::GenerationOf(v).version != v || !stream::Handles(v, stream::kLogFile2Reads)) {
      hr = E_CVR_FILE_HEADER_INFO_WRONG_VERSION;
    } else if (log_.header_length() > 0 &&
               !log_.Seek(log_.header_length(), platform::SeekOrigin::kBegin).ok()) {
      hr = E_CVR_FILE_CREATION_FAILS;
    }
  }
  if (FAILED(hr)) {
    log_.DiscardBuffer();
    (void)log_.Close();
    // Only a file this call created is removed; one that existed before
    // (replaced by create-always, last error 183) or was opened for reading
    // is not.
    if (writing && last_error != kErrAlreadyExists) (void)platform::RemoveFile(path_);
    return hr;
  }
  reader_.Reset(log_.version());
  return S_OK;
}

HRESULT LogFile2Object::OpenCompanionsForReading() {
  // A bookmark file that is there but cannot be read fails the open: going
  // on without its bookmarks would number the messages wrongly, and a Close
  // after a change would save over the bookmarks still on the disk. A
  // damaged one is used as far as it reads (and marked, so that Close does
  // not remove it).
  uint32_t error = 0;
  const BookmarkStore::LoadResult loaded = bookmarks_.Load(path_, &error);
  if (loaded == BookmarkStore::LoadResult::kUnreadable) {
    return error == kErrSharingViolation ? E_CVR_FILE_ALREADY_OPEN : E_CVR_FILE_CREATION_FAILS;
  }
  bookmark_load_failed_ = loaded == BookmarkStore::LoadResult::kFailed;
  // An index that is missing, not an index, or held by a pass of another
  // process is not used (CreateIndex builds one); one that cannot be read
  // for another reason fails the open, as the bookmark file does.
  Status st = index_.OpenIndex(IndexPathOf(path_), IndexReadOptions(), log_.version(), 0);
  if (!st.ok() && !st.IsNotFound() && st.code() != kErrSharingViolation) {
    (void)index_.Close();
    return E_CVR_FILE_CREATION_FAILS;
  }
  // The count stays 0 until a first pass completes. A count of 0 over a log
  // that holds anything behind its header is therefore a pass that never
  // finished (its process ended, or it still runs in another one): such an
  // index is not used, and CreateIndex builds it anew.
  const bool unfinished = st.ok() && index_.is_open() && index_.record_count() == 0 &&
                          log_.GetSize() != static_cast<int64_t>(log_.header_length());
  if (!st.ok() || !index_.is_open() || unfinished) {
    (void)index_.Close();
    index_complete_ = false;
    return S_OK;
  }
  index_resolution_ = static_cast<int64_t>(index_.resolution());
  total_messages_ = static_cast<int64_t>(index_.record_count() + bookmarks_.size());
  index_complete_ = true;
  return S_OK;
}

}  // namespace corvane::logfile2
