// File headers and detection of the log file family. The facts of each
// generation (header form and length, tags, byte orders, block headers)
// are rows of stream/generations.h; the byte layouts are drawn in
// docs/formats.md.
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
#include "stream/generations.h"

namespace corvane::stream {

inline bool IsEnciphered(int version) { return GenerationOf(version).cipher != CipherSet::kNone; }

// ---- Headers. ----

inline constexpr uint32_t kHeaderLength102 = GenerationOf(FileVersionCVR_V0102).header_length;
inline constexpr uint32_t kHeaderLength101 = GenerationOf(FileVersionCVR_Ve101).header_length;
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
inline constexpr std::string_view kTitle100 = "KRV Binary Log File V 01.00";
inline constexpr std::string_view kNotice100 = "Corvane binary block log    ";
inline constexpr std::string_view kNotice101Stream = "Written by corvane log stream";
inline constexpr std::string_view kNotice101LogFile = "Written by corvane LogFile";

// The two forms of the e1.01 header: the stream's and the LogFile
// component's (a shorter notice). Readers cannot tell them apart.
enum class E101Form { kStream, kLogFile };
std::array<uint8_t, kHeaderLength101> BuildE101Header(E101Form form);

// The 60 header bytes of generation V 01.00, as the Corvane object writes
// them.
std::array<uint8_t, kHeaderLength101> BuildV0100Header();

// The header that the stream writes when it creates a file of `version`
// (rows with kStreamWrites: 60 bytes for 1, 128 bytes for 7 to 17). Empty
// for every other version, which the stream does not create.
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
