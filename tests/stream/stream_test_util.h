// Open modes, byte patterns and a read-back helper for the file-level tests
// of the stream room.
#ifndef CORVANE_TESTS_STREAM_STREAM_TEST_UTIL_H_
#define CORVANE_TESTS_STREAM_STREAM_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "stream/log_file_stream.h"

namespace corvane::stream::files {

inline platform::OpenOptions ForWriting() {
  return {platform::kAccessWrite, platform::kShareRead, platform::Disposition::kCreateAlways, false};
}
inline platform::OpenOptions ForReading(uint32_t access = platform::kAccessRead) {
  return {access, platform::kShareRead | platform::kShareWrite, platform::Disposition::kOpenExisting,
          false};
}

inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 1) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

// Everything behind the header, read through a stream that detects the
// version.
inline std::vector<uint8_t> ReadBody(const std::string& path) {
  LogFileStream r;
  std::vector<uint8_t> out;
  if (!r.Open(path, ForReading(), 0).ok() ||
      !r.Seek(r.header_length(), platform::SeekOrigin::kBegin).ok()) {
    ADD_FAILURE() << "cannot read " << path;
    return out;
  }
  for (uint32_t got = 1; got;) {
    uint8_t piece[4096];
    if (!r.Read(piece, sizeof piece, &got).ok()) {
      ADD_FAILURE() << "read failed in " << path;
      break;
    }
    out.insert(out.end(), piece, piece + got);
  }
  return out;
}

}  // namespace corvane::stream::files

#endif  // CORVANE_TESTS_STREAM_STREAM_TEST_UTIL_H_
