// LogFile2::Open and the rules for the companion files (the index file
// "idx" and the bookmark file "bmk" beside the log).
#include "frame/error_catalogue.h"
#include "frame/strings.h"
#include "logfile2/index_builder.h"
#include "logfile2/log_file2.h"
#include "logfile2/logfile2_format.h"
#include "platform/file.h"
#include "stream/open_mode.h"

namespace corvane::logfile2 {
namespace {

using platform::CriticalSectionLock;


platform::OpenOptions IndexReadOptions() {
  return stream::OpenOptionsFor(FileAccessModeReadOnly, platform::kShareRead);
}

}  // namespace

void LogFile2Object::ResetState() {
  index_.Close();
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
  if (FileAccessMode == FileAccessModeWriteCreateAlways) hr = ClearCompanionsForCreateAlways();
  if (FAILED(hr)) return hr;

  time_base_.Restart();
  hr = OpenLog(FileAccessMode, pFileFormat, bFullFlush != 0);
  if (FAILED(hr)) return Raise(errors::CreationFailed(hr));
  if (!writing) OpenCompanionsForReading();
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
  index_.Close();
  if (index_exists) return Raise(errors::kIndexFileExists);
  return S_OK;
}

HRESULT LogFile2Object::ClearCompanionsForCreateAlways() {
  // Any failure but a sharing violation (a missing file above all) is
  // ignored: the new log replaces whatever was there.
  Status st = platform::RemoveFile(IndexPathOf(path_));
  if (st.code() == kErrSharingViolation) {
    return Raise(errors::kIndexFileInUse);
  }
  st = BookmarkStore::RemoveFile(path_);
  if (st.code() == kErrSharingViolation) {
    return Raise(errors::kBookmarkFileInUse);
  }
  return S_OK;
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
    log_.Close();
    // Only a file this call created is removed; one that existed before
    // (replaced by create-always, last error 183) or was opened for reading
    // is not.
    if (writing && last_error != kErrAlreadyExists) (void)platform::RemoveFile(path_);
    return hr;
  }
  reader_.Reset(log_.version());
  return S_OK;
}

void LogFile2Object::OpenCompanionsForReading() {
  uint32_t error = 0;
  const BookmarkStore::LoadResult loaded = bookmarks_.Load(path_, &error);
  bookmark_load_failed_ = loaded == BookmarkStore::LoadResult::kFailed;
  Status st = index_.OpenIndex(IndexPathOf(path_), IndexReadOptions(), log_.version(), 0);
  // The count stays 0 until a first pass completes. A count of 0 over a log
  // that holds anything behind its header is therefore a pass that never
  // finished (its process ended, or it still runs in another one): such an
  // index is not used, and CreateIndex builds it anew.
  const bool unfinished = st.ok() && index_.is_open() && index_.record_count() == 0 &&
                          log_.GetSize() != static_cast<int64_t>(log_.header_length());
  if (!st.ok() || !index_.is_open() || unfinished) {
    index_.Close();
    index_complete_ = false;
    return;
  }
  index_resolution_ = static_cast<int64_t>(index_.resolution());
  total_messages_ = static_cast<int64_t>(index_.record_count() + bookmarks_.size());
  index_complete_ = true;
}

}  // namespace corvane::logfile2
