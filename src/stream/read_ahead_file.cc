#include "stream/read_ahead_file.h"

#include <algorithm>
#include <new>

namespace corvane::stream {

using platform::SeekOrigin;

void ReadAheadFile::Attach(std::unique_ptr<platform::File> file) {
  owned_ = std::move(file);
  file_ = owned_.get();
  pos_ = 0;
  system_pos_ = fill_end_ = 0;
  fill_ = capacity_;
  DropWindow();
}

void ReadAheadFile::Borrow(platform::File* file, int64_t position) {
  owned_.reset();
  file_ = file;
  pos_ = position;
  system_pos_ = fill_end_ = position;
  fill_ = capacity_;
  DropWindow();
}

Status ReadAheadFile::Close() {
  Status st = owned_ ? owned_->Close() : Status::Ok();
  owned_.reset();
  file_ = nullptr;
  pos_ = 0;
  system_pos_ = 0;
  DropWindow();
  return st;
}

uint32_t ReadAheadFile::NextFill(int64_t from, uint32_t at_least) {
  // Reading goes on where the last fill ended, or a skip of less than a
  // window beyond it (a reader that passes over data it does not need, such
  // as the indexing pass). A move backwards is a jump: a viewer stepping
  // back through a log reads a little at each place.
  const int64_t distance = from - fill_end_;
  const bool onward = distance >= 0 && distance <= int64_t{capacity_};
  fill_ = onward ? std::min(capacity_, fill_ * 2) : std::min(capacity_, first_fill_);
  return std::max(fill_, at_least);
}

Status ReadAheadFile::SyncPointer() {
  if (system_pos_ == pos_) return Status::Ok();
  Status st = file_->Seek(pos_, SeekOrigin::kBegin, nullptr);
  system_pos_ = st.ok() ? pos_ : -1;
  return st;
}

Status ReadAheadFile::ReadSlow(void* dst, uint32_t n, uint32_t* got) {
  *got = 0;
  if (!file_) return Status::Error(kErrInvalidHandle);
  auto* out = static_cast<uint8_t*>(dst);
  uint32_t done = 0;
  if (pos_ >= window_start_ && pos_ < window_end_) {
    done = static_cast<uint32_t>(std::min<int64_t>(n, window_end_ - pos_));
    std::memcpy(out, window_.get() + (pos_ - window_start_), done);
    pos_ += done;
  }
  uint32_t rest = n - done;
  if (rest == 0) {
    *got = done;
    return Status::Ok();
  }
  Status st;
  if (!window_ && rest < capacity_) {
    window_.reset(new (std::nothrow) uint8_t[capacity_]);
  }
  if (rest >= capacity_ || !window_) {
    // Large requests gain nothing from the window: read in place.
    uint32_t g = 0;
    st = file_->ReadAt(pos_, out + done, rest, &g);
    pos_ += g;
    fill_end_ = pos_;
    system_pos_ = -1;  // where ReadAt left it depends on the system
    *got = done + g;
    return st;
  }
  DropWindow();
  uint32_t g = 0;
  st = file_->ReadAt(pos_, window_.get(), NextFill(pos_, rest), &g);
  system_pos_ = -1;
  fill_end_ = pos_ + g;
  if (st.ok()) {
    window_start_ = pos_;
    window_end_ = pos_ + g;
    uint32_t take = std::min(rest, g);
    std::memcpy(out + done, window_.get(), take);
    pos_ += take;
    done += take;
  }
  *got = done;
  return st;
}

Status ReadAheadFile::View(uint32_t n, const uint8_t** data, uint32_t* got) {
  *got = 0;
  *data = nullptr;
  if (!file_) return Status::Error(kErrInvalidHandle);
  n = std::min(n, capacity_);
  if (pos_ >= window_start_ && pos_ < window_end_ && n <= window_end_ - pos_) {
    *data = window_.get() + (pos_ - window_start_);
    pos_ += n;
    *got = n;
    return Status::Ok();
  }
  // Refill the window from the pointer, so that the whole range lies in it.
  if (!window_) window_.reset(new (std::nothrow) uint8_t[capacity_]);
  if (!window_) return Status::Error(kErrNotEnoughMemory);
  // The window's unread tail moves to the front and the read goes on
  // behind it: no byte is read twice.
  uint32_t kept = 0;
  if (pos_ >= window_start_ && pos_ < window_end_) {
    kept = static_cast<uint32_t>(window_end_ - pos_);
    std::memmove(window_.get(), window_.get() + (pos_ - window_start_), kept);
  }
  DropWindow();
  uint32_t g = 0;
  Status st = file_->ReadAt(pos_ + kept, window_.get() + kept, NextFill(pos_ + kept, n) - kept, &g);
  system_pos_ = -1;
  fill_end_ = pos_ + kept + g;
  if (!st.ok()) return st;
  window_start_ = pos_;
  window_end_ = pos_ + kept + g;
  *data = window_.get();
  *got = std::min(n, kept + g);
  pos_ += *got;
  return Status::Ok();
}

Status ReadAheadFile::Seek(int64_t distance, SeekOrigin origin, int64_t* new_pos) {
  if (!file_) return Status::Error(kErrInvalidHandle);
  int64_t base = pos_;
  if (origin == SeekOrigin::kBegin) {
    base = 0;
  } else if (origin == SeekOrigin::kEnd) {
    Status st = file_->GetSize(&base);
    if (!st.ok()) return st;
  }
  int64_t target = 0;
  if (__builtin_add_overflow(base, distance, &target)) return Status::Error(kErrInvalidParameter);
  if (target < 0) return Status::Error(kErrNegativeSeek);
  pos_ = target;
  if (new_pos) *new_pos = target;
  return Status::Ok();
}

Status ReadAheadFile::Write(const void* src, uint32_t n, uint32_t* written) {
  *written = 0;
  if (!file_) return Status::Error(kErrInvalidHandle);
  DropWindow();
  Status st = SyncPointer();
  if (!st.ok()) return st;
  st = file_->Write(src, n, written);
  pos_ += *written;
  system_pos_ = pos_;
  return st;
}

Status ReadAheadFile::GetSize(int64_t* size) {
  if (!file_) return Status::Error(kErrInvalidHandle);
  return file_->GetSize(size);
}

Status ReadAheadFile::CutAt(int64_t offset) {
  if (!file_) return Status::Error(kErrInvalidHandle);
  Status st = Seek(offset, platform::SeekOrigin::kBegin, nullptr);
  if (!st.ok()) return st;
  DropWindow();
  st = SyncPointer();
  if (!st.ok()) return st;
  return file_->SetEndOfFile();
}

Status ReadAheadFile::Flush() {
  if (!file_) return Status::Error(kErrInvalidHandle);
  return file_->Flush();
}

}  // namespace corvane::stream
