// A platform file read through a read-ahead window.
//
// The object keeps the logical file pointer itself; the system's pointer is
// moved only when bytes must really be read or written. A read that the
// window cannot serve fills the window with one system read at the logical
// pointer (or, for a request as large as the window, reads straight into
// the caller's memory). What callers see is what unbuffered reads would
// give them:
//   - positions are those of the logical pointer;
//   - bytes behind the window's end always come from the file, so a file
//     that grows while open (a log still being recorded) is read to its new
//     end, and a read at the end of the file asks the file again;
//   - every write through this object drops the window first, so nothing
//     it has overwritten is returned afterwards.
// Bytes that another handle rewrites in place (rather than appends) may be
// seen late while they stay inside the window; DropWindow() forgets it.
//
// Not thread-safe: the owner serialises calls.
#ifndef CORVANE_STREAM_READ_AHEAD_FILE_H_
#define CORVANE_STREAM_READ_AHEAD_FILE_H_

#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/file.h"
#include "stream/byte_source.h"

namespace corvane::stream {

class ReadAheadFile final : public ByteSource, public ByteSink {
 public:
  static constexpr uint32_t kDefaultWindow = 64 * 1024;

  explicit ReadAheadFile(uint32_t window = kDefaultWindow) : capacity_(window) {}

  // Takes a freshly opened file (its pointer at 0); closes any earlier one.
  void Attach(std::unique_ptr<platform::File> file);
  // Reads through a file that its owner keeps open (and closes), whose
  // pointer stands at `position`; the owner must not move it meanwhile.
  void Borrow(platform::File* file, int64_t position);
  // Closes the file; the status is the system's answer to the close (a
  // file that was not open closes fine).
  Status Close();
  bool is_open() const { return file_ != nullptr; }

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    if (pos_ >= window_start_ && n <= window_end_ - pos_ && pos_ < window_end_) {
      std::memcpy(dst, window_.get() + (pos_ - window_start_), n);
      pos_ += n;
      *got = n;
      return Status::Ok();
    }
    return ReadSlow(dst, n, got);
  }
  // Makes up to n bytes at the logical pointer (at most the window's size)
  // readable in place: *data points at them inside the window and *got
  // tells how many there are (fewer at the end of the file). The pointer
  // moves past them. The bytes stay valid until the next call on this
  // object. Saves the copy that Read makes, for callers that only look.
  Status View(uint32_t n, const uint8_t** data, uint32_t* got);
  uint32_t window_capacity() const { return capacity_; }
  // Sets what a read after a move reads first (default kFirstFill).
  void set_first_fill(uint32_t bytes) { first_fill_ = bytes; }
  // The window's bytes at the logical pointer, without moving it: how many
  // there are (0 when the window does not hold the pointer); *data points
  // at them. Valid until the next call that reads, writes or seeks.
  uint32_t BytesAhead(const uint8_t** data) const override {
    if (pos_ < window_start_ || pos_ >= window_end_) return 0;
    *data = window_.get() + (pos_ - window_start_);
    return static_cast<uint32_t>(window_end_ - pos_);
  }
  // Moves the logical pointer; a resulting negative position fails with
  // kErrNegativeSeek and leaves it unchanged. kEnd asks the file's size.
  Status Seek(int64_t distance, platform::SeekOrigin origin, int64_t* new_pos) override;
  // Writes at the logical pointer and moves it by the bytes written.
  Status Write(const void* src, uint32_t n, uint32_t* written) override;
  Status GetSize(int64_t* size);
  // Writes the system's buffers to the disk.
  Status Flush();
  // Moves the logical pointer to `offset` and cuts the file there
  // (everything behind it is dropped).
  Status CutAt(int64_t offset) override;

  void PassBytes(uint32_t n) override { pos_ += n; }

  int64_t position() const override { return pos_; }
  // Seek to a position known to be valid (not negative), without checks.
  void MoveTo(int64_t pos) { pos_ = pos; }
  void DropWindow() { window_start_ = window_end_ = 0; }

 private:
  Status ReadSlow(void* dst, uint32_t n, uint32_t* got);
  // How much the next fill, reading from file offset `from`, reads (at
  // least `at_least`, at most the window): twice the last fill, up to the
  // window, while reading goes on at or less than a window beyond where the
  // last fill ended; after any other move (a jump reads one record, not
  // 64 KiB) the first fill again.
  uint32_t NextFill(int64_t from, uint32_t at_least);
  // Moves the system's pointer to the logical one.
  Status SyncPointer();

  platform::File* file_ = nullptr;
  std::unique_ptr<platform::File> owned_;  // the file, unless borrowed
  std::unique_ptr<uint8_t[]> window_;
  uint32_t capacity_;
  int64_t window_start_ = 0;  // file offset of window_[0]
  int64_t window_end_ = 0;    // one past the last valid byte
  int64_t pos_ = 0;           // logical file pointer
  int64_t system_pos_ = 0;    // the system's pointer; -1 when unknown
  // What a read after a move reads first: a jump reads one record and
  // usually walks forward over up to a hundred more (the index's spacing).
  static constexpr uint32_t kFirstFill = 8192;
  uint32_t first_fill_ = kFirstFill;
  uint32_t fill_ = 0;     // what the last fill read (the window after Attach)
  int64_t fill_end_ = 0;  // where the last read from the file ended
};

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_READ_AHEAD_FILE_H_
