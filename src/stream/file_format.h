// File kinds, generations and file headers of the log file family.
//
// One EnumFileVersion value names a file's kind and generation together.
// For each value the table in file_format.cc fixes the header length the
// stream assumes, whether everything after the header is enciphered, the
// byte order of stored numbers and the length of a block header.
//
// Header of generation 1.02 (versions 7 to 17), 128 bytes, every gap 0x00:
//
//   0          20        32              64            96              121       127
//   +----------+---------+---------------+------+------+---------------+---------+----+
//   | maker LF | 0 ...   | banner LF | 0  | tag LF | 0 | notice(24) LF | 0 ...   | 1A |
//   +----------+---------+---------------+------+------+---------------+---------+----+
//
//   maker at 0:   "Tamri Zuduva Deravi\n"
//   banner at 32: "Binary Log File\n" (log), "Binary Log Index File\n" (index),
//                 "Binary Log Bookmark File\n" (bookmark), "Binary Log InfoMsg File\n"
//   tag at 64:    "CVR V e1.02\n", "CVR V 01.02\n", "CVR V u1.02\n",
//                 "IDX V 01.02.001\n", "IDX V u1.02.001\n", "BMK V ...\n", "INF V ...\n"
//                 (only "e" is written; "E" is recognised on reading)
//   notice at 96: 24 characters and a line feed; readers ignore it.
//   Index files: the three digits behind "IDX V 01.02." (offset 76) are the
//   index sub-version; files written here carry 1.
//
// Header of generation e1.01 (version 1), 60 bytes:
//
//   0                             27 28                          58 59
//   +-----------------------------+--+---------------------------+--+
//   |"KRV Binary Log File V e1.01"|LF| notice, LF, zero padding  |1A|
//   +-----------------------------+--+---------------------------+--+
//
//   stream form:  29 notice characters at 28..56, LF at 57, 0 at 58
//   LogFile form: 26 notice characters at 28..53, LF at 54, 0 at 55..58
//
// The header is never enciphered; the cipher grid starts behind it.
//
// Block headers (the deciphered bytes of enciphered generations):
//
//   12-byte form, big-endian (versions 2, 3, 5):
//   0      2      3      4              8              12
//   | id   | conn | 0x00 | time (ms)    | data length  |
//
//   16-byte form, big-endian (1, 9) or little-endian (7, 8):
//   0      2      3      4                            12             16
//   | id   | conn | mode | time stamp (64-bit)        | data length  |
//
// Everything here is constant data and pure functions: safe from any thread.
#ifndef CORVANE_STREAM_FILE_FORMAT_H_
#define CORVANE_STREAM_FILE_FORMAT_H_

#include <corvane/corvane.h>

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/byte_order.h"

namespace corvane::stream {

enum class FileKind { kNone, kLog, kIndex, kBookmark, kInfoMessage, kRawMessages, kHexText };

struct VersionInfo {
  EnumFileVersion version;
  FileKind kind;
  uint32_t header_length;        // bytes of file header the stream assumes
  bool enciphered;               // content after the header is enciphered
  ByteOrder order;               // byte order of stored numbers
  uint32_t block_header_length;  // 0: no block headers of the family
};

inline constexpr EnumFileVersion kLastFileVersion = FileVersionINF_Vu102;

// The table row of a version; versions outside 0..17 get the row of 0.
const VersionInfo& InfoFor(int version);

// Header length by the stream's rule: 128 for 0 and below, 60 for 1 to 3,
// 0 for 4 to 6, 128 for 7 and above.
uint32_t HeaderLength(int version);
// True for exactly 1, 3, 7, 13 and 16.
bool IsEnciphered(int version);
ByteOrder NumberOrder(int version);

// ---- Headers. ----

inline constexpr uint32_t kHeaderLength102 = 128;
inline constexpr uint32_t kHeaderLength101 = 60;
inline constexpr uint8_t kHeaderEnd = 0x1A;
inline constexpr uint8_t kCarriageReturn = 0x0D;

inline constexpr uint32_t kMakerOffset = 0;
inline constexpr uint32_t kBannerOffset = 32;
inline constexpr uint32_t kVersionFieldOffset = 64;
inline constexpr uint32_t kNoticeOffset = 96;
inline constexpr uint32_t kIndexSubVersionOffset = 76;

inline constexpr std::string_view kMakerLine = "Tamri Zuduva Deravi\n";
inline constexpr std::string_view kNotice102 = "Corvane trace log engine\n";
inline constexpr std::string_view kTitle101 = "KRV Binary Log File V e1.01";
inline constexpr std::string_view kNotice101Stream = "Written by corvane log stream";
inline constexpr std::string_view kNotice101LogFile = "Written by corvane LogFile";

// The two forms of the e1.01 header: the stream's and the LogFile
// component's (a shorter notice). Readers cannot tell them apart.
enum class E101Form { kStream, kLogFile };
std::array<uint8_t, kHeaderLength101> BuildE101Header(E101Form form);

// The header that the stream writes when it creates a file of `version`:
// 60 bytes for 1, 128 bytes for 7 to 17. Empty for every other version,
// which has no writer.
std::vector<uint8_t> BuildHeader(int version);

// ---- Detection. ----

struct TagRule {
  std::string_view tag;
  EnumFileVersion version;
};

// Every tag in the order detection tries them; the first that occurs
// anywhere in the scanned text wins.
std::span<const TagRule> FullTagSet();
// The first five tags only (generations V 01.00, e1.00 and e1.01): the
// LogFile component's detection. Never yields 7 to 17.
std::span<const TagRule> ReducedTagSet();

// The scan of the header text ends at the first carriage return or 0x1A,
// which must lie among the first kScanLimit bytes.
inline constexpr uint32_t kScanLimit = 2000;

// Finds the first tag of `tags` occurring in `text` (zero bytes included);
// FileVersionUnknown when none does.
EnumFileVersion MatchTags(std::string_view text, std::span<const TagRule> tags);

// The index sub-version: the number at offset 76 of the scanned text (after
// "IDX V 01.02."), read like atoi; 0 when the text ends at or before 76 or a
// zero byte lies within 64..75.
int32_t ParseIndexSubVersion(std::string_view text);

// The first-line test of hexadecimal dumps: FileVersionCvrConvHex,
// FileVersionVantrelHex, or FileVersionUnknown when the text is no dump.
EnumFileVersion ClassifyHexDump(std::string_view text);

inline constexpr uint32_t kFerrowHeadLength = 6;
inline constexpr uint32_t kFerrowProbeRecords = 10;
// True when a 6-byte record head has a media byte of 0x1D, 0x1B or 0x10
// and a receiver byte of 0x10 or 0xFD.
bool IsFerrowHead(const uint8_t head[kFerrowHeadLength]);
// The payload length of a record head (big-endian, bytes 4 and 5).
inline uint16_t FerrowPayloadLength(const uint8_t head[kFerrowHeadLength]) {
  return DecodeBE16(head + 4);
}

bool IsHexDigit(uint8_t c);

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_FILE_FORMAT_H_
