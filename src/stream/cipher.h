// The block cipher of the enciphered generations (versions 1, 3, 7, 13, 16).
//
// Everything behind the file header is enciphered on one grid of cipher
// blocks of block_size bytes that starts at the end of the header; the last
// block of a file may be shorter. Per block of length L (padded with zeros
// up to the block size while it is worked on):
//   encipher: XOR every byte with the whitening byte; then, when the pass
//     count is above 0, L mixing steps, each taking
//       t = feedback ^ byte[0] ^ byte[tap 1] ^ ... ^ byte[tap 10],
//     moving bytes 1..L-1 down one place and storing t as byte L-1;
//   decipher: L inverse steps (always), then XOR with the whitening byte.
// Seen as a sequence, the block after the L steps is s[L..2L) of the
// recurrence s[k+L] = feedback ^ s[k] ^ XOR of s[k+tap] (taps below L), so
// both directions cost O(L * taps), not O(L^2); the tests check that against
// the step-by-step definition.
//
// All functions require parameters that pass CipherParameters::Validate()
// and fail with kErrInvalidParameter otherwise. They keep no state between
// calls: safe from any thread on separate data.
#ifndef CORVANE_STREAM_CIPHER_H_
#define CORVANE_STREAM_CIPHER_H_

#include <cstddef>
#include <cstdint>

#include "platform/status.h"
#include "stream/byte_source.h"
#include "stream/cipher_parameters.h"

namespace corvane::stream {

// The parameters in the form the transforms use, made once per file: a
// tap that occurs twice cancels itself (x ^ x = 0), so only taps of odd
// multiplicity are kept, sorted; the taps below a short block's length are
// then a prefix. Making one validates the parameters and costs about a
// thousand instructions, too many to pay on every small read.
struct CipherSchedule {
  uint8_t whitening = 0;
  uint8_t feedback = 0;
  bool mix = false;
  uint32_t block = 0;  // 0: not made
  uint8_t taps[CipherParameters::kTapCount] = {};
  int tap_count = 0;

  int TapsBelow(uint32_t length) const {
    int n = 0;
    while (n < tap_count && taps[n] < length) ++n;
    return n;
  }
};
Status MakeSchedule(const CipherParameters& p, CipherSchedule* s);

// Enciphers / deciphers `count` bytes in place on a grid that starts at
// data[0] (a last block shorter than the block size over its own length),
// with a schedule made before.
void EncipherGrid(const CipherSchedule& s, uint8_t* data, size_t count);
void DecipherGrid(const CipherSchedule& s, uint8_t* data, size_t count);

// Enciphers / deciphers `count` bytes in place, on a grid that starts at
// data[0]; a last block shorter than the block size is worked on over its
// own length.
Status EncipherInPlace(const CipherParameters& p, uint8_t* data, size_t count);
Status DecipherInPlace(const CipherParameters& p, uint8_t* data, size_t count);

// The read side, as the stream reads: delivers the plain bytes of
// [p, p + n) where p is the source's file pointer, header_length the start
// of the grid. Reads the whole cipher blocks that cover the range; at the
// end of the file fewer bytes (possibly none) are delivered. The file
// pointer ends at p + n in every case; a failed read fails the call (after
// delivering the whole blocks read before it), else the result is that of
// this last move. Positions inside the
// header are treated as lying on the grid extended backwards. A read whose
// end would lie past the largest file offset fails (invalid parameter)
// before anything moves, as does the same read through DecipherAllOrNothing.
Status Decipher(const CipherParameters& p, ByteSource& source, uint32_t header_length,
                void* dst, uint32_t n, uint32_t* delivered);
Status Decipher(const CipherSchedule& s, ByteSource& source, uint32_t header_length, void* dst,
                uint32_t n, uint32_t* delivered);

// The read side as the LogFile component reads: the same bytes, but when
// fewer than n bytes exist behind p it copies nothing, reports the number
// that do exist, succeeds, and leaves the file pointer where the read of
// the blocks stopped. Failed moves and reads fail.
Status DecipherAllOrNothing(const CipherParameters& p, ByteSource& source,
                            uint32_t header_length, void* dst, uint32_t n, uint32_t* delivered);
Status DecipherAllOrNothing(const CipherSchedule& s, ByteSource& source, uint32_t header_length,
                            void* dst, uint32_t n, uint32_t* delivered);

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_CIPHER_H_
