// Reading the hexadecimal text dumps (versions 5 and 6).
//
// Any two adjacent hexadecimal digits (0-9, A-F, a-f) form a byte, the
// first giving the high nibble; every other character only separates. A run
// of three digits therefore gives two overlapping bytes ("1B10" gives 1B,
// B1, 10). Each read starts afresh: a digit pair is never formed across two
// reads.
//
// Not thread-safe; one caller per decoder and source.
#ifndef CORVANE_STREAM_HEX_TEXT_H_
#define CORVANE_STREAM_HEX_TEXT_H_

#include <cstddef>
#include <cstdint>

#include "platform/status.h"
#include "stream/byte_source.h"

namespace corvane::stream {

class HexDecoder {
 public:
  // Decodes from in[0..in_len) until out_room bytes are produced or the
  // input is used up; *consumed tells how many characters were used (the
  // character that completes the last byte included). Returns the bytes
  // produced. The previous character carries over to the next call.
  size_t Decode(const uint8_t* in, size_t in_len, uint8_t* out, size_t out_room,
                size_t* consumed);
  void Reset() { previous_ = -1; }

 private:
  int previous_ = -1;  // value of the previous character if it was a digit
};

// Reads n decoded bytes at the file pointer. Stops early at the end of the
// file (no byte is made from nothing). The file pointer ends right behind
// the character that completed the last byte delivered, or at the end of
// the file. A failed read ends the call with its error and the bytes decoded
// before it in *delivered. Reads the text in pieces, moving the pointer back
// over characters it did not use.
Status ReadHexText(ByteSource& source, void* dst, uint32_t n, uint32_t* delivered);

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_HEX_TEXT_H_
