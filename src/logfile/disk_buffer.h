// The write-behind buffer of an enciphered e1.01 log.
//
// Blocks are collected in plain form and reach the file, enciphered, when
// the buffer is full and more bytes come, and at Close. The buffer always
// starts on the cipher grid: its first byte lies at 60 + a multiple of 128 in
// the file, and its size is a multiple of 128, which every cipher block size
// divides. A final flush writes the buffered bytes only, so a log ends with
// its last cipher block, however short.
//
// Enciphering never changes the plain bytes in the buffer, so a failed flush
// can be undone and repeated without enciphering anything twice:
//   - a block whose append fails is taken back whole: the file is cut back
//     to the grid boundary at or before where the block began, the plain
//     bytes between that boundary and the block are put back in the buffer,
//     and the object is as it was before the block (a later WriteBlock may
//     try again);
//   - a failed final flush cuts the file back to the last whole 128 bytes it
//     wrote; Close may be called again.
// Only when cutting back fails is the buffer marked broken: it then refuses
// every append and flush, since what the file holds is no longer known.
//
// Not thread-safe: the LogFile object's lock is held around every call.
#ifndef CORVANE_LOGFILE_DISK_BUFFER_H_
#define CORVANE_LOGFILE_DISK_BUFFER_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file.h"
#include "platform/status.h"
#include "stream/cipher_parameters.h"

namespace corvane::logfile {

class DiskBuffer {
 public:
  DiskBuffer() = default;
  DiskBuffer(const DiskBuffer&) = delete;
  DiskBuffer& operator=(const DiskBuffer&) = delete;

  // Replaces the buffer by an empty one of `size` bytes (a multiple of 128,
  // not 0). False when the memory cannot be had.
  bool Allocate(uint32_t size);
  void Release();

  // Starts writing to `file`, whose pointer stands at `file_position` (on
  // the cipher grid). Both must outlive the writing; `cipher` is copied.
  void Attach(platform::File* file, const stream::CipherParameters& cipher,
              int64_t file_position);
  void Detach();

  bool attached() const { return file_ != nullptr; }
  bool broken() const { return broken_; }
  uint32_t size() const { return size_; }
  uint32_t fill() const { return fill_; }

  // One block is appended as a unit: BeginBlock, Append for each of its
  // parts, then EndBlock on success or TakeBackBlock after a failed Append.
  void BeginBlock();
  // Copies n bytes behind the fill; a full buffer is flushed when a further
  // byte comes, so a buffer filled exactly waits for the next block or Close.
  // A failed flush fails with its system error.
  Status Append(const uint8_t* data, uint32_t n);
  void EndBlock() { in_block_ = false; }
  void TakeBackBlock();

  // Enciphers and writes the buffered bytes; the buffer is empty after
  // success. After a failure the bytes stay buffered for another attempt.
  Status Flush();

 private:
  // Enciphers and writes buffer[0..count); *written tells how many of its
  // bytes reached the file.
  Status WriteOut(uint32_t count, uint64_t* written);
  // Cuts the file back to buffer position `keep` (a multiple of 128 not
  // beyond what reached the file) and moves buffer[keep..fill) to the front.
  void CutBackTo(uint32_t keep);

  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t size_ = 0;
  uint32_t fill_ = 0;
  platform::File* file_ = nullptr;
  stream::CipherParameters cipher_;
  int64_t buffer_position_ = 0;  // file offset of buffer_[0]
  bool broken_ = false;

  // The block being appended: where the buffer stood when it began.
  bool in_block_ = false;
  int64_t block_buffer_position_ = 0;
  uint32_t block_fill_ = 0;
  bool block_flushed_ = false;   // a flush wrote the buffer the block began in
  uint64_t failed_written_ = 0;  // bytes a failed flush of this block wrote
  std::vector<uint8_t> block_prefix_;  // plain bytes from the grid to the block
};

}  // namespace corvane::logfile

#endif  // CORVANE_LOGFILE_DISK_BUFFER_H_
