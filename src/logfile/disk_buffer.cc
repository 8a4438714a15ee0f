#include "logfile/disk_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "logfile/log_file_format.h"
#include "stream/cipher.h"

namespace corvane::logfile {
namespace {

uint32_t GridFloor(uint64_t offset) {
  return static_cast<uint32_t>(offset / kBufferGranule * kBufferGranule);
}

}  // namespace

bool DiskBuffer::Allocate(uint32_t size) {
  Release();
  // Left uninitialised: a large buffer costs no memory until blocks fill it,
  // and no byte of it is written out before a block has been copied there.
  buffer_.reset(new (std::nothrow) uint8_t[size]);
  if (!buffer_) return false;
  size_ = size;
  try {
    block_prefix_.reserve(kBufferGranule);
  } catch (const std::bad_alloc&) {
    Release();
    return false;
  }
  return true;
}

void DiskBuffer::Release() {
  Detach();
  buffer_.reset();
  size_ = 0;
}

void DiskBuffer::Attach(platform::File* file, const stream::CipherParameters& cipher,
                        int64_t file_position) {
  file_ = file;
  cipher_ = cipher;
  buffer_position_ = file_position;
  fill_ = 0;
  broken_ = false;
  in_block_ = false;
}

void DiskBuffer::Detach() {
  file_ = nullptr;
  fill_ = 0;
  broken_ = false;
  in_block_ = false;
}

void DiskBuffer::BeginBlock() {
  in_block_ = true;
  block_buffer_position_ = buffer_position_;
  block_fill_ = fill_;
  block_flushed_ = false;
  failed_written_ = 0;
}

Status DiskBuffer::Append(const uint8_t* data, uint32_t n) {
  if (!file_ || broken_ || !buffer_) return Status::Error(kErrInvalidHandle);
  for (;;) {
    const uint32_t part = std::min(size_ - fill_, n);
    std::memcpy(buffer_.get() + fill_, data, part);
    fill_ += part;
    data += part;
    n -= part;
    // A buffer that the bytes fill exactly is written when the next byte
    // arrives (or at Close), not before.
    if (n == 0) break;

    if (in_block_ && !block_flushed_) {
      // The buffer is about to be reused: keep the plain bytes that a
      // take-back would have to write again.
      const uint32_t from = GridFloor(block_fill_);
      block_prefix_.assign(buffer_.get() + from, buffer_.get() + block_fill_);
    }
    uint64_t written = 0;
    Status st = WriteOut(fill_, &written);
    if (!st.ok()) {
      failed_written_ = written;
      return st;
    }
    if (in_block_) block_flushed_ = true;
    buffer_position_ += fill_;
    fill_ = 0;
  }
  return Status::Ok();
}

void DiskBuffer::TakeBackBlock() {
  if (!in_block_) return;
  in_block_ = false;
  if (broken_) return;
  if (!block_flushed_) {
    // Still in the buffer the block began in. A failed flush of that buffer
    // may have written part of it; the bytes before the block are kept.
    fill_ = block_fill_;
    CutBackTo(GridFloor(std::min<uint64_t>(failed_written_, block_fill_)));
    return;
  }
  // The block began in a buffer that has been written out since: cut the
  // file back to the grid boundary before the block and buffer again the
  // plain bytes between that boundary and the block.
  const uint32_t from = GridFloor(block_fill_);
  const int64_t cut = block_buffer_position_ + from;
  if (!file_->Seek(cut, platform::SeekOrigin::kBegin, nullptr).ok() ||
      !file_->SetEndOfFile().ok()) {
    broken_ = true;
    return;
  }
  std::memcpy(buffer_.get(), block_prefix_.data(), block_prefix_.size());
  fill_ = static_cast<uint32_t>(block_prefix_.size());
  buffer_position_ = cut;
}

Status DiskBuffer::Flush() {
  if (!file_ || broken_) return Status::Error(kErrInvalidHandle);
  if (fill_ == 0) return Status::Ok();
  uint64_t written = 0;
  Status st = WriteOut(fill_, &written);
  if (!st.ok()) {
    CutBackTo(GridFloor(std::min<uint64_t>(written, fill_)));
    return st;
  }
  buffer_position_ += fill_;
  fill_ = 0;
  return Status::Ok();
}

Status DiskBuffer::WriteOut(uint32_t count, uint64_t* written) {
  platform::File* file = file_;
  auto sink = [file](const uint8_t* data, uint32_t n, uint32_t* w) {
    return file->Write(data, n, w);
  };
  return stream::Encipher(cipher_, buffer_.get(), count, sink, written);
}

void DiskBuffer::CutBackTo(uint32_t keep) {
  const int64_t cut = buffer_position_ + keep;
  if (!file_->Seek(cut, platform::SeekOrigin::kBegin, nullptr).ok() ||
      !file_->SetEndOfFile().ok()) {
    broken_ = true;
    return;
  }
  std::memmove(buffer_.get(), buffer_.get() + keep, fill_ - keep);
  fill_ -= keep;
  buffer_position_ = cut;
}

}  // namespace corvane::logfile
