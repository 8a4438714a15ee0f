// Telling a file's version from its first bytes.
//
// One procedure serves the stream (every tag, index sub-version parsed) and
// the LogFile component (the reduced tag set: generations V 01.00, e1.00
// and e1.01 only):
//   1. read the header text from offset 0 up to and including the first
//      carriage return or 0x1A, which must come within 2000 bytes;
//   2. the first tag of the set that occurs anywhere in it gives the version;
//   3. otherwise the first-line test of hexadecimal dumps;
//   4. otherwise ten well-formed Ferrow record heads in a row from offset 0.
// The file pointer is restored afterwards; if that fails the result is
// unknown.
//
// Not thread-safe by itself; the caller holds whatever lock guards `source`.
#ifndef CORVANE_STREAM_VERSION_DETECTION_H_
#define CORVANE_STREAM_VERSION_DETECTION_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <span>
#include <string>

#include "stream/byte_source.h"
#include "stream/file_format.h"

namespace corvane::stream {

enum class TagSet { kFull, kReduced };

struct Detection {
  EnumFileVersion version = FileVersionUnknown;
  // Parsed for the full tag set whenever the header text was found (0 for
  // the reduced set and when no header text ends within 2000 bytes).
  int32_t index_sub_version = 0;
  // A read or seek of the header failed (an I/O error, not damage); the
  // version is then unknown.
  Status failure;
};

Detection DetectVersion(ByteSource& source, TagSet tags);

// The one header scan: appends to *text the bytes from the file pointer up
// to and including the first 0x1A (or carriage return, when
// `end_at_carriage_return`), which must come within kScanLimit bytes. False
// when it does not, or a read fails (then *failure, when given, receives
// the read's status); the file pointer is then wherever the reads left it.
bool ReadHeaderText(ByteSource& source, std::string* text, bool end_at_carriage_return,
                    Status* failure = nullptr);

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_VERSION_DETECTION_H_
