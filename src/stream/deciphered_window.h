// Deciphered bytes of an enciphered file, kept between reads.
//
// A viewer reads a log in small pieces (a block header, then its data). The
// window holds up to 64 KiB of deciphered bytes on the cipher grid, so that
// each cipher block is read and deciphered once however small the reads,
// and the cipher schedule is made once per file rather than once per read.
//
// Up to whole_end() the window holds whole cipher blocks, which never change
// once written (logs only grow). A short last block at the end of the file
// is deciphered over the length it has now; the file may grow behind it, so
// it is served only by the read that deciphered it and read again after.
// Whoever writes to the file drops the window first.
//
// Not thread-safe: the owner serialises calls, as for the file beneath.
#ifndef CORVANE_STREAM_DECIPHERED_WINDOW_H_
#define CORVANE_STREAM_DECIPHERED_WINDOW_H_

#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/status.h"
#include "stream/byte_source.h"
#include "stream/cipher.h"
#include "stream/read_ahead_file.h"

namespace corvane::stream {

class DecipheredWindow {
 public:
  static constexpr uint32_t kCapacity = 64 * 1024;

  // Makes the schedule for `p` on a grid that starts at `header_length`,
  // and drops the window. Fails when the parameters are invalid.
  Status Prepare(const CipherParameters& p, uint32_t header_length);
  // Forgets the window and the schedule (a file closed or replaced).
  void Reset();
  void Drop() { start_ = end_ = whole_end_ = 0; }

  // Reads as stream::Decipher does: the plain bytes of [p, p + n) where p
  // is the source's file pointer, fewer at the end of the file; the pointer
  // ends at p + n; a failed read fails the call.
  Status Read(ByteSource& source, void* dst, uint32_t n, uint32_t* delivered);
  // Reads as stream::DecipherAllOrNothing does: when fewer than n bytes
  // exist behind p, copies nothing, reports how many exist and leaves the
  // pointer at the end of the data; failed moves and reads fail.
  Status ReadAllOrNothing(ByteSource& source, void* dst, uint32_t n, uint32_t* delivered);
  // The same over a read-ahead file, with the common case inline: the
  // window holds the range whole.
  Status Read(ReadAheadFile& source, void* dst, uint32_t n, uint32_t* delivered) {
    return Serve(source, dst, n, delivered) ? Status::Ok()
                                            : Read(static_cast<ByteSource&>(source), dst, n, delivered);
  }
  Status ReadAllOrNothing(ReadAheadFile& source, void* dst, uint32_t n, uint32_t* delivered) {
    return Serve(source, dst, n, delivered)
               ? Status::Ok()
               : ReadAllOrNothing(static_cast<ByteSource&>(source), dst, n, delivered);
  }
  // The whole deciphered blocks at file offset `pos`, for reading in place:
  // how many there are (0 when the window does not hold `pos`); *data
  // points at them until the window is next filled or dropped. A short last
  // block is never among them.
  uint32_t BytesAhead(int64_t pos, const uint8_t** data) const {
    if (pos < start_ || pos >= whole_end_) return 0;
    *data = bytes_.get() + (pos - start_);
    return static_cast<uint32_t>(whole_end_ - pos);
  }

 private:
  bool Serve(ReadAheadFile& source, void* dst, uint32_t n, uint32_t* delivered) {
    const int64_t pos = source.position();
    if (!Holds(pos, n)) return false;
    if (n > 0) std::memcpy(dst, bytes_.get() + (pos - start_), n);
    *delivered = n;
    end_ = whole_end_;  // a short last block is not served again
    source.MoveTo(pos + n);
    return true;
  }
  // Fills the window from the cipher block that holds `pos`; *read_failure
  // receives a failed read's status (the bytes before it are kept).
  Status Fill(ByteSource& source, int64_t pos, Status* read_failure);
  // The window holds [pos, pos + n) whole.
  bool Holds(int64_t pos, uint32_t n) const {
    return pos >= start_ && pos < whole_end_ && n <= whole_end_ - pos;
  }

  CipherSchedule schedule_;
  uint32_t header_length_ = 0;
  std::unique_ptr<uint8_t[]> bytes_;
  int64_t start_ = 0;      // file offset of bytes_[0], on the grid
  int64_t end_ = 0;        // one past the last deciphered byte
  int64_t whole_end_ = 0;  // one past the last whole block
};

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_DECIPHERED_WINDOW_H_
