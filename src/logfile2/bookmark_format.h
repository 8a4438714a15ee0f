// The bookmark file (versions 12, 13 and 14) behind its 128-byte header.
//
//   0    128  file header of the bookmark kind ("BMK V 01.02", "BMK V e1.02",
//             "BMK V u1.02"; see stream/file_format.h)
//   128  4    bookmark count
//   132  ...  the records, in list order
//
//   record:  0                      8            12                12+L
//            | log message number   | length L   | comment bytes  |
//            | (signed 64-bit)      | (32-bit)   | (L, no zero)   |
//
// Numbers are little-endian in versions 12 and 13 and big-endian in 14 (the
// bookmarks of a "u" log). In version 13 everything from offset 128 on (count
// and records) is enciphered by the stream. Comment bytes are stored as held
// (the system code page); a comment shorter than L is followed by zero bytes
// up to L, and a reader cuts the comment at its first zero byte.
//
// Pure data and functions: safe from any thread.
#ifndef CORVANE_LOGFILE2_BOOKMARK_FORMAT_H_
#define CORVANE_LOGFILE2_BOOKMARK_FORMAT_H_

#include <corvane/corvane.h>

#include <cstdint>

#include "platform/byte_order.h"
#include "stream/generations.h"

namespace corvane::logfile2 {

inline constexpr uint32_t kBookmarkCountOffset = 128;
inline constexpr uint32_t kBookmarkCountLength = 4;
inline constexpr uint32_t kBookmarkRecordsOffset = kBookmarkCountOffset + kBookmarkCountLength;

inline constexpr uint32_t kBookmarkNumberLength = 8;
inline constexpr uint32_t kBookmarkLengthLength = 4;
inline constexpr uint32_t kBookmarkRecordHeadLength = kBookmarkNumberLength + kBookmarkLengthLength;

inline bool IsBookmarkVersion(int version) {
  return stream::GenerationOf(version).kind == stream::FileKind::kBookmark;
}

// Byte order of the numbers in a bookmark file of `version`.
inline ByteOrder BookmarkNumberOrder(int version) { return stream::GenerationOf(version).numbers; }

inline void EncodeBookmarkRecordHead(ByteOrder order, int64_t log_message_number, uint32_t length,
                                     uint8_t out[kBookmarkRecordHeadLength]) {
  Encode64(order, out, static_cast<uint64_t>(log_message_number));
  Encode32(order, out + kBookmarkNumberLength, length);
}

}  // namespace corvane::logfile2

#endif  // CORVANE_LOGFILE2_BOOKMARK_FORMAT_H_
