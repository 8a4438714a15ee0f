// The table of file generations: one row per EnumFileVersion value with
// everything the library and cvrtool need to know about it. Every other
// place asks this table; docs/formats.md describes the same rows and a test
// keeps the two in step.
//
// Header-only and constexpr, so that cvrtool (a client of the public
// interfaces) can compile it too. Constant data: safe from any thread.
#ifndef CORVANE_STREAM_GENERATIONS_H_
#define CORVANE_STREAM_GENERATIONS_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/byte_order.h"

namespace corvane::stream {

enum class FileKind { kNone, kLog, kIndex, kBookmark, kInfoMessage, kRawMessages, kHexText };

// How the file header is built (file_format.h builds each form).
enum class HeaderForm {
  kNone,    // no header of its own (0, 4, 5, 6)
  kE101,    // 60 bytes: title "KRV Binary Log File V e1.01", notice, 0x1A
  kV0100,   // 60 bytes: title "KRV Binary Log File V 01.00", CR LF lines, 0x1A
  kE100,    // 60 bytes, read only (no writer)
  kTagged,  // 128 bytes: maker, banner, version field, notice, 0x1A
};

// Which of the key source's parameter sets enciphers the generation.
enum class CipherSet { kNone, kE100, kShared };

// Components that read or write a generation (bit set).
enum Component : uint8_t {
  kLogFileReads = 1,    // LogFile (reduced detection)
  kLogFileWrites = 2,
  kLogFile2Reads = 4,
  kLogFile2Writes = 8,
  kLegacyRW = 16,       // the Corvane object
  kStreamWrites = 32,   // the stream builds its header when creating it
  kCompanion = 64,      // LogFile2 reads and writes it beside its log
};

struct Generation {
  EnumFileVersion version;
  std::string_view name;         // enumerator name, as cvrtool shows it
  std::string_view short_name;   // cvrtool's --to/--format name; empty if not writable
  std::string_view description;  // cvrtool's one-line description
  FileKind kind;
  HeaderForm header;
  uint32_t header_length;        // bytes in front of the first block
  std::string_view field;        // version field of a tagged header (offset 64)
  CipherSet cipher;              // kNone: stored plain
  ByteOrder numbers;             // byte order of stored numbers (index, bookmark files)
  uint32_t block_header_length;  // 16, 12 or 0 (no block headers)
  ByteOrder block_order;         // of a 16-byte block header
  ByteOrder count_order;         // of a bulk block's message count
  bool padded_messages;          // bulk messages occupy a multiple of 4 bytes
  uint8_t components;            // Component bits
};

inline constexpr ByteOrder kBE = ByteOrder::kBig;
inline constexpr ByteOrder kLE = ByteOrder::kLittle;
inline constexpr uint8_t kLogFile2RW = kLogFile2Reads | kLogFile2Writes | kStreamWrites;

// Indexed by the EnumFileVersion value.
// clang-format off
inline constexpr Generation kGenerations[] = {
  // version, name, short name, description, kind, header form, header length, version field,
  // cipher set, number order, block-header length, block-header order, count order, padded, components
  {FileVersionUnknown,    "FileVersionUnknown",    "",      "unknown format",                                          FileKind::kNone,        HeaderForm::kNone,   128, "",                   CipherSet::kNone,   kBE, 0,  kLE, kLE, true,  0},
  {FileVersionCVR_Ve101,  "FileVersionCVR_Ve101",  "e1.01", "CVR V e1.01, enciphered, big-endian",                     FileKind::kLog,         HeaderForm::kE101,   60,  "",                   CipherSet::kShared, kBE, 16, kBE, kBE, true,  kLogFileReads | kLogFileWrites | kLogFile2RW},
  {FileVersionCVR_V0100,  "FileVersionCVR_V0100",  "",      "CVR V 01.00, plain, big-endian, millisecond stamps",      FileKind::kLog,         HeaderForm::kV0100,  60,  "",                   CipherSet::kNone,   kBE, 12, kBE, kLE, true,  kLogFileReads | kLogFile2Reads | kLegacyRW},
  {FileVersionCVR_Ve100,  "FileVersionCVR_Ve100",  "",      "CVR V e1.00, enciphered, big-endian, millisecond stamps", FileKind::kLog,         HeaderForm::kE100,   60,  "",                   CipherSet::kE100,   kBE, 12, kBE, kLE, true,  kLogFileReads | kLogFile2Reads},
  {FileVersionFerrow,     "FileVersionFerrow",     "",      "raw message records",                                     FileKind::kRawMessages, HeaderForm::kNone,   0,   "",                   CipherSet::kNone,   kBE, 0,  kLE, kLE, true,  kLogFileReads | kLogFile2Reads},
  {FileVersionCvrConvHex, "FileVersionCvrConvHex", "",      "hexadecimal text dump of blocks",                         FileKind::kHexText,     HeaderForm::kNone,   0,   "",                   CipherSet::kNone,   kBE, 12, kBE, kLE, true,  kLogFileReads | kLogFile2Reads},
  {FileVersionVantrelHex, "FileVersionVantrelHex", "",      "hexadecimal text dump of message records",                FileKind::kHexText,     HeaderForm::kNone,   0,   "",                   CipherSet::kNone,   kBE, 0,  kLE, kLE, true,  kLogFileReads | kLogFile2Reads},
  {FileVersionCVR_Ve102,  "FileVersionCVR_Ve102",  "e1.02", "CVR V e1.02, enciphered, little-endian",                  FileKind::kLog,         HeaderForm::kTagged, 128, "CVR V e1.02\n",     CipherSet::kShared, kLE, 16, kLE, kLE, false, kLogFile2RW},
  {FileVersionCVR_V0102,  "FileVersionCVR_V0102",  "1.02",  "CVR V 01.02, plain, little-endian",                       FileKind::kLog,         HeaderForm::kTagged, 128, "CVR V 01.02\n",     CipherSet::kNone,   kLE, 16, kLE, kLE, false, kLogFile2RW},
  {FileVersionCVR_Vu102,  "FileVersionCVR_Vu102",  "u1.02", "CVR V u1.02, plain, big-endian",                          FileKind::kLog,         HeaderForm::kTagged, 128, "CVR V u1.02\n",     CipherSet::kNone,   kBE, 16, kBE, kBE, true,  kLogFile2RW},
  {FileVersionIDX_V0102,  "FileVersionIDX_V0102",  "",      "index file, little-endian",                               FileKind::kIndex,       HeaderForm::kTagged, 128, "IDX V 01.02.001\n", CipherSet::kNone,   kLE, 0,  kLE, kLE, true,  kStreamWrites | kCompanion},
  {FileVersionIDX_Vu102,  "FileVersionIDX_Vu102",  "",      "index file, big-endian",                                  FileKind::kIndex,       HeaderForm::kTagged, 128, "IDX V u1.02.001\n", CipherSet::kNone,   kBE, 0,  kLE, kLE, true,  kStreamWrites | kCompanion},
  {FileVersionBMK_V0102,  "FileVersionBMK_V0102",  "",      "bookmark file, little-endian",                            FileKind::kBookmark,    HeaderForm::kTagged, 128, "BMK V 01.02\n",     CipherSet::kNone,   kLE, 0,  kLE, kLE, true,  kStreamWrites | kCompanion},
  {FileVersionBMK_Ve102,  "FileVersionBMK_Ve102",  "",      "bookmark file, enciphered",                               FileKind::kBookmark,    HeaderForm::kTagged, 128, "BMK V e1.02\n",     CipherSet::kShared, kLE, 0,  kLE, kLE, true,  kStreamWrites | kCompanion},
  {FileVersionBMK_Vu102,  "FileVersionBMK_Vu102",  "",      "bookmark file, big-endian",                               FileKind::kBookmark,    HeaderForm::kTagged, 128, "BMK V u1.02\n",     CipherSet::kNone,   kBE, 0,  kLE, kLE, true,  kStreamWrites | kCompanion},
  {FileVersionINF_V0102,  "FileVersionINF_V0102",  "",      "info-message file, little-endian",                        FileKind::kInfoMessage, HeaderForm::kTagged, 128, "INF V 01.02\n",     CipherSet::kNone,   kLE, 0,  kLE, kLE, true,  kStreamWrites},
  {FileVersionINF_Ve102,  "FileVersionINF_Ve102",  "",      "info-message file, enciphered",                           FileKind::kInfoMessage, HeaderForm::kTagged, 128, "INF V e1.02\n",     CipherSet::kShared, kLE, 0,  kLE, kLE, true,  kStreamWrites},
  {FileVersionINF_Vu102,  "FileVersionINF_Vu102",  "",      "info-message file, big-endian",                           FileKind::kInfoMessage, HeaderForm::kTagged, 128, "INF V u1.02\n",     CipherSet::kNone,   kBE, 0,  kLE, kLE, true,  kStreamWrites},
};
// clang-format on

inline constexpr EnumFileVersion kLastFileVersion = FileVersionINF_Vu102;
static_assert(sizeof kGenerations / sizeof kGenerations[0] == kLastFileVersion + 1);

// The row of `version`; values outside 0..17 get the row of 0.
constexpr const Generation& GenerationOf(int version) {
  return version < 0 || version > kLastFileVersion ? kGenerations[0] : kGenerations[version];
}

// The value a caller left in an EnumFileVersion it passes by address. A
// client may store any 32-bit number there, and an enum object cannot hold
// every one of them, so it is read as the number it is.
inline int32_t CallerVersion(const EnumFileVersion* p) {
  int32_t value;
  static_assert(sizeof value == sizeof *p);
  std::memcpy(&value, p, sizeof value);
  return value;
}

constexpr bool Handles(int version, uint8_t component) {
  return (GenerationOf(version).components & component) != 0;
}

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_GENERATIONS_H_
