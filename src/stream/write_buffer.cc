#include "stream/write_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>


namespace corvane::stream {

bool WriteBuffer::Allocate(uint32_t capacity) {
  Release();
  if (capacity == 0) return true;
  buffer_.reset(new (std::nothrow) uint8_t[capacity]);
  if (!buffer_) return false;
  capacity_ = capacity;
  return true;
}

void WriteBuffer::Release() {
  Detach();
  buffer_.reset();
  saved_.reset();
  enciphered_bytes_.reset();
  capacity_ = 0;
}

void WriteBuffer::Attach(ByteSink* sink, const CipherParameters* cipher) {
  sink_ = sink;
  enciphered_ = cipher != nullptr;
  if (cipher) schedule_status_ = MakeSchedule(*cipher, &schedule_);
  fill_ = 0;
  broken_ = ended_ = false;
}

void WriteBuffer::Detach() {
  sink_ = nullptr;
  fill_ = 0;
  broken_ = ended_ = false;
}

Status WriteBuffer::AppendWritingOut(const void* head, uint32_t head_length, const void* data,
                                     uint32_t data_length, bool* head_failed) {
  if (head_failed) *head_failed = false;
  if (!sink_ || broken_ || ended_) {
    // Nothing can be written, the head first of all.
    if (head_failed) *head_failed = true;
    return Status::Error(kErrInvalidHandle);
  }
  const uint64_t total = uint64_t{head_length} + data_length;
  // Write-outs happen during this call. Each leaves the buffer's bytes as
  // they are, so while there is only one (the record fits into what is free
  // now plus one more buffer), the bytes buffered before the record are
  // still in place if it fails. Only a record that needs a second
  // write-out, after the first has reused the buffer, needs a copy of them.
  const int64_t start = sink_->position();
  const uint32_t before = fill_;
  if (before > 0 && total > 2 * uint64_t{capacity_} - before) {
    if (!saved_) saved_.reset(new (std::nothrow) uint8_t[capacity_]);
    if (!saved_) return Status::Error(kErrNotEnoughMemory);
    std::memcpy(saved_.get(), buffer_.get(), before);
  }
  bool reused = false;
  Status st = Put(static_cast<const uint8_t*>(head), head_length, &reused);
  if (!st.ok() && head_failed) *head_failed = true;
  if (st.ok()) st = Put(static_cast<const uint8_t*>(data), data_length, &reused);
  if (st.ok()) return st;

  CutBack(start);
  if (reused) std::memcpy(buffer_.get(), saved_.get(), before);
  fill_ = before;
  return st;
}

Status WriteBuffer::Put(const uint8_t* p, uint32_t n, bool* reused) {
  if (capacity_ == 0) {
    if (n == 0) return Status::Ok();
    uint32_t written = 0;
    Status st = sink_->Write(p, n, &written);
    return st.ok() && written != n ? Status::Error(kErrDiskFull) : st;
  }
  for (;;) {
    const uint32_t part = std::min(capacity_ - fill_, n);
    if (part > 0) std::memcpy(buffer_.get() + fill_, p, part);
    fill_ += part;
    p += part;
    n -= part;
    if (n == 0) return Status::Ok();
    Status st = WriteOut(fill_);
    if (!st.ok()) return st;
    *reused = true;
    fill_ = 0;
  }
}

Status WriteBuffer::Flush() {
  if (broken_) return Status::Error(kErrInvalidHandle);
  if (fill_ == 0) return Status::Ok();
  if (!sink_) return Status::Error(kErrInvalidHandle);
  const int64_t start = sink_->position();
  Status st = WriteOut(fill_);
  if (!st.ok()) {
    CutBack(start);
    return st;
  }
  ended_ = enciphered_ && fill_ % schedule_.block != 0;
  fill_ = 0;
  return Status::Ok();
}

Status WriteBuffer::WriteOut(uint32_t count) {
  const uint8_t* out = buffer_.get();
  if (enciphered_) {
    if (!schedule_status_.ok()) return schedule_status_;
    if (!enciphered_bytes_) enciphered_bytes_.reset(new (std::nothrow) uint8_t[capacity_]);
    if (!enciphered_bytes_) return Status::Error(kErrNotEnoughMemory);
    std::memcpy(enciphered_bytes_.get(), out, count);
    EncipherGrid(schedule_, enciphered_bytes_.get(), count);
    out = enciphered_bytes_.get();
  }
  uint32_t written = 0;
  Status st = sink_->Write(out, count, &written);
  return st.ok() && written != count ? Status::Error(kErrDiskFull) : st;
}

void WriteBuffer::CutBack(int64_t start) {
  if (!sink_->CutAt(start).ok()) broken_ = true;
}

}  // namespace corvane::stream
