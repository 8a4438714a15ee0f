// The fourteen parameters of the block cipher of enciphered generations.
//
//   #   field        role
//   1   whitening    low 8 bits XORed into every data byte
//   2   feedback     low 8 bits XORed into every mixing step
//   3   pass_count   the encipher mixes a block only when it is above 0
//   4-13 taps[10]    offsets inside a block whose bytes feed every mixing step
//   14  block_size   bytes per cipher block
//
// A usable set has a block size of 2 to 128 that divides 128 (so that every
// disk buffer, a multiple of 128 bytes, holds whole blocks), every tap in
// 1 .. block_size - 1, and a pass count of at least 1. Version 3 (e1.00) has
// one set; versions 1, 7, 13 and 16 share the other. The values come from
// the key source (key_source.h): a key file when one is configured, else the
// library's built-in sets.
//
// A plain value type; not thread-safe for concurrent writes.
#ifndef CORVANE_STREAM_CIPHER_PARAMETERS_H_
#define CORVANE_STREAM_CIPHER_PARAMETERS_H_

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace corvane::stream {

class CipherParameters {
 public:
  static constexpr int kTapCount = 10;
  static constexpr int32_t kMaxBlockSize = 128;

  CipherParameters() = default;  // all fourteen 0
  virtual ~CipherParameters() = default;
  CipherParameters(const CipherParameters&) = default;
  CipherParameters& operator=(const CipherParameters&) = default;

  // Fills all fourteen values with the set of `version` from the key source.
  // kErrNotSupported (nothing changed) for a version without a set; the key
  // source's error (nothing changed) when a configured key file cannot be
  // used.
  Status Load(int version);
  // Load(version).ok().
  bool SetUp(int version) { return Load(version).ok(); }

  // Ok when the set meets every requirement above; otherwise
  // kErrInvalidParameter, with the reason in *why when given.
  Status Validate(std::string* why = nullptr) const;

  int32_t whitening = 0;
  int32_t feedback = 0;
  int32_t pass_count = 0;
  int32_t taps[kTapCount] = {};
  int32_t block_size = 0;
};

bool operator==(const CipherParameters& a, const CipherParameters& b);

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_CIPHER_PARAMETERS_H_
