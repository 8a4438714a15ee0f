// WriteBuffer: the write-behind buffer of every writer of a log, and its one
// policy for taking back a failed write.
//
// Records (a head and its data: a block header and the block's bytes) are
// appended as units. They collect in memory and reach the file when the
// buffer is full and more bytes come, and at Flush. A buffer of capacity 0
// writes each part straight through. An enciphered log's bytes are
// enciphered on their way to the file; the buffer itself only ever holds
// plain bytes, so a failed write can be repeated without enciphering
// anything twice.
//
// An enciphered log's buffer starts at the end of the header, on the cipher
// grid, and stays there: every write-out but a final Flush is a whole
// buffer, and its capacity is a multiple of 128, which every cipher block
// size divides.
//
// The take-back policy: a failed call leaves the log as it was before the
// call. The file is cut back to its length when the call began (where the
// buffer's first byte goes), and the buffer holds again exactly what it
// held. So a failed Append leaves nothing of its record anywhere, a failed
// Flush keeps every byte for another attempt, and a retry under the same
// conditions fails the same way. Only when the file cannot be cut back is
// the buffer broken: what the file holds past the last good write is then
// unknown, and it refuses every further Append and Flush.
//
// A Flush that ends an enciphered log in a short cipher block (the end of a
// log, at Close) ends the log: a later block could not continue it on the
// grid, so every further Append is refused (a Close that failed for another
// reason may still be repeated).
//
// The sink's file pointer stands at the buffer's first byte whenever no call
// is running. The owner may move it only while the buffer is empty.
//
// Not thread-safe: the owning object's lock is held around every call.
#ifndef CORVANE_STREAM_WRITE_BUFFER_H_
#define CORVANE_STREAM_WRITE_BUFFER_H_

#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/status.h"
#include "stream/byte_source.h"
#include "stream/cipher.h"
#include "stream/cipher_parameters.h"

namespace corvane::stream {

class WriteBuffer {
 public:
  WriteBuffer() = default;
  WriteBuffer(const WriteBuffer&) = delete;
  WriteBuffer& operator=(const WriteBuffer&) = delete;

  // Replaces the buffer by an empty one of `capacity` bytes (0: unbuffered).
  // False when the memory cannot be had; the buffer is then unbuffered.
  // Large buffers are left uninitialised, so they cost no memory until
  // records fill them.
  bool Allocate(uint32_t capacity);
  void Release();

  // Starts writing to `sink` (which must outlive the writing), enciphering
  // with `cipher` when it is given (it is copied). An enciphered buffer
  // needs a capacity that is a non-zero multiple of 128.
  void Attach(ByteSink* sink, const CipherParameters* cipher);
  void Detach();

  bool attached() const { return sink_ != nullptr; }
  bool broken() const { return broken_; }
  uint32_t capacity() const { return capacity_; }
  uint32_t fill() const { return fill_; }

  // Appends one record as a unit (see above). A part may be null only when
  // its length is 0; callers check the pointers they are given. A record
  // of one part passes no data. *head_failed (may be null) tells whether
  // the write that failed was needed for the head. A write that falls short
  // without an error fails with kErrDiskFull.
  Status Append(const void* head, uint32_t head_length, const void* data, uint32_t data_length,
                bool* head_failed = nullptr) {
    // The common case, inline: the record fits and nothing reaches the
    // file. A buffer that it fills exactly is written when the next byte
    // comes.
    const uint64_t total = uint64_t{head_length} + data_length;
    if (total <= capacity_ - fill_ && capacity_ > 0 && sink_ && !broken_ && !ended_) {
      if (head_failed) *head_failed = false;
      if (head_length > 0) std::memcpy(buffer_.get() + fill_, head, head_length);
      if (data_length > 0) std::memcpy(buffer_.get() + fill_ + head_length, data, data_length);
      fill_ += static_cast<uint32_t>(total);
      return Status::Ok();
    }
    return AppendWritingOut(head, head_length, data, data_length, head_failed);
  }
  // Writes out every buffered byte; the buffer is empty after success.
  Status Flush();
  // Drops the buffered bytes unwritten.
  void Discard() { fill_ = 0; }

 private:
  // Append when the record does not fit, or the buffer takes nothing.
  Status AppendWritingOut(const void* head, uint32_t head_length, const void* data,
                          uint32_t data_length, bool* head_failed);
  // Copies n bytes behind the fill, writing out the buffer each time it is
  // full and more bytes come (*reused is then set); unbuffered, writes them
  // straight through.
  Status Put(const uint8_t* p, uint32_t n, bool* reused);
  // Writes buffer[0..count), enciphered where the log is.
  Status WriteOut(uint32_t count);
  // Cuts the file back to `start`; marks the buffer broken when it cannot.
  void CutBack(int64_t start);

  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t capacity_ = 0;
  uint32_t fill_ = 0;
  ByteSink* sink_ = nullptr;
  bool enciphered_ = false;
  CipherSchedule schedule_;  // made once at Attach
  Status schedule_status_;   // why it could not be made
  // The enciphered copy of a write-out: the buffer keeps its plain bytes
  // for a retry, and the file gets one write per buffer.
  std::unique_ptr<uint8_t[]> enciphered_bytes_;
  bool broken_ = false;
  bool ended_ = false;  // an enciphered log ends in a short cipher block
  // The bytes buffered before a record that needs two write-outs or more,
  // which reuse the buffer, kept until the record is complete.
  std::unique_ptr<uint8_t[]> saved_;
};

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_WRITE_BUFFER_H_
