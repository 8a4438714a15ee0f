#include "logfile2/index_builder.h"

#include <algorithm>
#include <memory>

#include "platform/file.h"
#include "platform/system.h"
#include "stream/companion_path.h"

namespace corvane::logfile2 {
namespace {

using platform::Disposition;
using platform::OpenOptions;
using stream::IndexRecord;

constexpr uint32_t kIconInformation = 0x40;  // MB_ICONINFORMATION

OpenOptions Options(uint32_t access, uint32_t share, Disposition disposition) {
  OpenOptions options;
  options.access = access;
  options.share = share;
  options.disposition = disposition;
  return options;
}

// The target is written from its first byte: a file left by an earlier
// pass must not keep records behind the new ones.
OpenOptions TargetOptions() {
  return Options(platform::kAccessWrite, platform::kShareRead, Disposition::kCreateAlways);
}

// The log is read sharing read only: a log still open for writing
// elsewhere is not indexed.
OpenOptions LogOptions() {
  return Options(platform::kAccessRead, platform::kShareRead, Disposition::kOpenExisting);
}

bool AskRetry(const char* caption, const std::string& text) {
  return platform::ShowMessageBox(caption, text, platform::kMbRetryCancel | kIconInformation) ==
         platform::kIdRetry;
}

void ShowSystemError(uint32_t code) {
  (void)platform::ShowMessageBox("Error", platform::SystemErrorText(code),
                                 platform::kMbOk | kIconInformation);
}

std::string Printf1(const char* format, const std::string& arg) {
  std::string text(format);
  const size_t at = text.find("%s");
  return text.replace(at, 2, arg);
}

// The text of the box after a failed rename of the rebuild file.
std::string RenameErrorText(uint32_t code, const std::string& from, const std::string& to) {
  switch (code) {
    case kErrFileNotFound:
    case kErrPathNotFound: return Printf1("File or path specified by %s not found.", from);
    case kErrAccessDenied:
    case kErrFileExists:
    case kErrAlreadyExists: return Printf1("File name %s already exists.", to);
    case kErrInvalidParameter:
    case kErrInvalidName: return Printf1("File name contains invalid characters %s.", to);
    default: return std::string();
  }
}

}  // namespace

std::string IndexPathOf(const std::string& log_path) {
  return stream::CompanionPath(log_path, "idx");
}

std::string RebuildPathOf(const std::string& log_path) {
  return stream::StagingPath(IndexPathOf(log_path));
}

IndexBuilder::IndexBuilder(IndexHost& host, IndexJob job)
    : host_(host),
      job_(std::move(job)),
      index_path_(IndexPathOf(job_.log_path)),
      target_path_(job_.rebuild ? RebuildPathOf(job_.log_path) : index_path_) {}

void IndexBuilder::Run() {
  host_.SetIndexed(0);
  // A target that could not be opened may still have been created (by
  // CreateIndex, or by an open that failed after creating it).
  if (!OpenTarget()) {
    Discard();
    return;
  }
  if (!OpenLog()) {
    Discard();
    return;
  }
  host_.SetProgress(log_.header_length());
  std::unique_ptr<SplitReading> split = SplitLogReading();
  const PassResult result =
      RunIndexPass(log_, log_.version(), job_.resolution, *this, &counts_, split.get());
  split.reset();  // lets go of its handles
  switch (result) {
    case PassResult::kStopped: Stopped(); return;
    case PassResult::kSinkFailed: Discard(); return;  // its box has been shown
    case PassResult::kReadFailed:
      ShowSystemError(kErrIoDevice);
      Discard();
      return;
    case PassResult::kEnded: break;
  }
  if (Checkpoint(counts_.counted, counts_.progress)) {
    Stopped();
    return;
  }
  if (!FinishTarget()) {
    Discard();
    return;
  }
  (void)log_.Close();
  // Some file systems report a failed write-back only at the close: such an
  // index is not trusted.
  const Status closed = target_.Close();
  if (!closed.ok()) {
    ShowSystemError(closed.code());
    Discard();
    return;
  }
  // A stop that came while the files were being finished: a first index is
  // complete on disk by now and is kept and published (throwing it away
  // would lose a valid index for nothing); a rebuild is not installed, and
  // the index in use stays.
  if (stop_requested() && job_.rebuild) {
    Stopped();
    return;
  }
  if (job_.rebuild) {
    InstallRebuild();
  } else {
    const Status published = host_.PublishFirstPass(index_path_, counts_.counted);
    if (!published.ok()) ShowSystemError(published.code());
  }
}

bool IndexBuilder::OpenTarget() {
  target_.set_disk_buffer_size(std::max(target_.disk_buffer_size(), kMinIndexBuffer));
  for (;;) {
    Status st = target_.OpenIndex(target_path_, TargetOptions(), job_.log_version,
                                  static_cast<uint64_t>(job_.resolution));
    if (st.ok()) return true;
    // A file that was created but whose header failed is not left behind.
    if (target_.is_open()) {
      target_.DiscardBuffer();
      (void)target_.Close();
      (void)platform::RemoveFile(target_path_);
    }
    if (!RetryAfter(st)) return false;
  }
}

bool IndexBuilder::OpenLog() {
  Status st = log_.Open(job_.log_path, LogOptions(), FileVersionUnknown);
  if (st.ok() && log_.header_length() > 0) {
    st = log_.Seek(log_.header_length(), platform::SeekOrigin::kBegin);
  }
  if (st.ok()) return true;
  ShowSystemError(st.code());
  (void)log_.Close();
  return false;
}

std::unique_ptr<SplitReading> IndexBuilder::SplitLogReading() {
  if (!CanSplitReading(log_)) return nullptr;
  auto split = std::make_unique<SplitReading>();
  // 128 times the read buffer: 256 KiB with the default 2048 bytes, which
  // stays in a processor's cache from the read to the walk, while the
  // turns (waking a thread costs microseconds on a virtual machine) stay
  // rare against the copy.
  split->piece_size = static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{log_.read_buffer_capacity()} * 128, kMaxSplitPiece));
  // A log of a few pieces is read sooner than a thread starts.
  const int64_t size = log_.GetSize(), first = log_.GetPosition();
  if (size < 0 || first < 0 || size - first < int64_t{4} * split->piece_size) return nullptr;
  for (auto& file : split->files) {
    if (!platform::OpenFile(job_.log_path, LogOptions(), &file).ok()) return nullptr;
  }
  return split;
}

bool IndexBuilder::Record(const IndexRecord& record) {
  for (;;) {
    // The disk buffer takes a record that fails back whole, so a retry
    // after a full disk never leaves part of it behind twice.
    Status st = target_.WriteIndexRecord(record);
    if (st.ok()) return true;
    if (!RetryAfter(st)) return false;
  }
}

bool IndexBuilder::Checkpoint(int64_t counted, int64_t progress) {
  host_.SetIndexed(counted);
  host_.SetProgress(progress);
  return stop_requested();
}

bool IndexBuilder::FinishTarget() {
  for (;;) {
    Status st = target_.FlushBuffer();
    if (st.ok()) st = target_.WriteRecordCount(static_cast<uint64_t>(counts_.counted));
    // A rebuilt index replaces the old one by a rename: on the disk first,
    // so that a crash leaves the old index or the new one.
    if (st.ok() && job_.rebuild) st = target_.SyncToDisk();
    if (st.ok()) return true;
    if (!RetryAfter(st)) return false;
  }
}

bool IndexBuilder::RetryAfter(Status st) {
  if (!st.IsDiskFull()) {
    ShowSystemError(st.code());
    return false;
  }
  if (stop_requested()) return false;
  return AskRetry("Error", "Insufficient disk space.");
}

void IndexBuilder::Discard() {
  (void)log_.Close();
  target_.DiscardBuffer();
  (void)target_.Close();
  (void)platform::RemoveFile(target_path_);
  // The counts described the file just deleted.
  host_.SetIndexed(0);
}

void IndexBuilder::Stopped() {
  Discard();
  host_.ForgetRequest();
}

void IndexBuilder::InstallRebuild() {
  host_.ReleaseIndex();
  // The questions are asked without the object lock.
  const bool replaced = ReplaceIndexFile();
  if (!replaced) (void)platform::RemoveFile(target_path_);
  // The old index stays in use if it is still there.
  const Status installed = host_.InstallIndex(index_path_, replaced);
  if (!installed.ok()) ShowSystemError(installed.code());
}

bool IndexBuilder::AskRetryUnlessStopped(const std::string& text) {
  // The answer may come much later: a stop requested meanwhile wins.
  return !stop_requested() && AskRetry("Indexing Error", text) && !stop_requested();
}

bool IndexBuilder::ReplaceIndexFile() {
  for (;;) {
    Status st = platform::RemoveFile(index_path_);
    if (st.ok() || st.code() == kErrFileNotFound) break;
    if (!AskRetryUnlessStopped(platform::SystemErrorText(st.code()))) return false;
  }
  for (;;) {
    Status st = platform::RenameFile(target_path_, index_path_, false);
    if (st.ok()) return true;
    if (!AskRetryUnlessStopped(RenameErrorText(st.code(), target_path_, index_path_))) {
      return false;
    }
  }
}

}  // namespace corvane::logfile2
