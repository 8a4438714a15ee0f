// Detection over crafted files: tags in the order they are tried, the index
// sub-version, hex first lines, Ferrow records, the 2000-byte scan limit, the
// file pointer. Header layouts: formats_doc_test.cc.
#include "stream/version_detection.h"

#include <gtest/gtest.h>

#include "memory_source.h"
#include "platform/byte_order.h"

namespace corvane::stream {
namespace {

using fakes::MemorySource;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// `text` over the bytes of `file` from `at` on.
std::vector<uint8_t> Patched(std::vector<uint8_t> file, size_t at, const std::string& text) {
  std::copy(text.begin(), text.end(), file.begin() + at);
  return file;
}

// n records; a CR starts the first payload unless line_end is false.
std::vector<uint8_t> FerrowRecords(int n, bool line_end = true) {
  std::vector<uint8_t> out;
  for (int i = 0; i < n; ++i) out.insert(out.end(), {0x1D, 0x10, 0x01, 0x7C, 0, 4, 0x55, 0x55, 0x55, 0x55});
  if (line_end) out[6] = 0x0D;
  return out;
}

TEST(DetectVersionTest, CraftedFiles) {
  const std::vector<uint8_t> index = BuildHeader(10), text(2100, 'a');
  const struct { const char* name; std::vector<uint8_t> file; TagSet tags; EnumFileVersion version; int32_t sub_version; } cases[] = {
      {"every 1.02 header", BuildHeader(8), TagSet::kFull, FileVersionCVR_V0102, 0},
      {"index sub-version 1", index, TagSet::kFull, FileVersionIDX_V0102, 1},
      {"index sub-version 0", Patched(index, 64, std::string("IDX V 01.02\n\0\0\0\0", 16)), TagSet::kFull, FileVersionIDX_V0102, 0},
      {"sub-version as atoi reads it", Patched(index, 76, "  +7"), TagSet::kFull, FileVersionIDX_V0102, 7},
      {"negative sub-version", Patched(index, 76, "-3x\n"), TagSet::kFull, FileVersionIDX_V0102, -3},
      {"huge sub-version", Patched(index, 76, "999999999999999"), TagSet::kFull, FileVersionIDX_V0102, INT32_MAX},
      {"big-endian index", BuildHeader(11), TagSet::kFull, FileVersionIDX_Vu102, 1},
      {"e1.01 stream header", BuildHeader(1), TagSet::kFull, FileVersionCVR_Ve101, 0},
      {"V 01.00 ends at CR after the tag", Bytes("KRV Binary Log File V 01.00\n\rnotice"), TagSet::kFull, FileVersionCVR_V0100, 0},
      {"V 01.00 is tried first", Bytes("xx CVR V 01.02 V 01.00\r"), TagSet::kFull, FileVersionCVR_V0100, 0},
      {"tags are case-sensitive", Bytes("cvr v 01.02\r"), TagSet::kFull, FileVersionUnknown, 0},
      {"zero bytes do not end the search", Bytes(std::string("\0\0CVR V u1.02\r", 14)), TagSet::kFull, FileVersionCVR_Vu102, 0},
      {"reduced set ignores 1.02", BuildHeader(8), TagSet::kReduced, FileVersionUnknown, 0},
      {"line end past 2000 bytes", Patched(text, 2000, "\r"), TagSet::kFull, FileVersionUnknown, 0},
      {"line end at byte 2000", Patched(Patched(text, 1999, "\x1A"), 10, "V e1.01"), TagSet::kFull, FileVersionCVR_Ve101, 0},
      {"hex dump 5", Bytes(">> 00 00 51\r\n"), TagSet::kFull, FileVersionCvrConvHex, 0},
      {"hex dump 6", Bytes(">> 1A 10 00\r\n"), TagSet::kReduced, FileVersionVantrelHex, 0},
      {"ten Ferrow records", FerrowRecords(10), TagSet::kFull, FileVersionFerrow, 0},
      {"nine Ferrow records", FerrowRecords(9), TagSet::kFull, FileVersionUnknown, 0},
      {"Ferrow with a bad byte", Patched(FerrowRecords(10), 51, "\x11"), TagSet::kFull, FileVersionUnknown, 0},
      {"Ferrow without CR in the scan", FerrowRecords(12, false), TagSet::kFull, FileVersionUnknown, 0},
      {"text without tag", Bytes("hello\r\n"), TagSet::kFull, FileVersionUnknown, 0},
  };
  // The file is read in pieces, not byte by byte. (The restored pointer and
  // failing reads: fuzz target version_detection.)
  for (const auto& c : cases) {
    MemorySource src(c.file);
    Detection d = DetectVersion(src, c.tags);
    EXPECT_EQ(std::make_pair(d.version, d.index_sub_version), std::make_pair(c.version, c.sub_version)) << c.name;
    EXPECT_LE(src.reads, c.file.size() == 128 ? 2 : 20) << c.name;
  }
}

TEST(TextRulesTest, HexDumpFirstLinesAndIndexSubVersion) {
  const std::vector<uint8_t> h = Patched(BuildHeader(10), 70, std::string(1, '\0'));
  EXPECT_EQ(ParseIndexSubVersion(std::string(h.begin(), h.end())), 0) << "a zero byte within 64..75";
  const std::pair<const char*, int> cases[] = {{">> 1A 10", 6}, {">> 00 10", 5}, {"<anything", 6},
                                                {"<x>00", 5}, {"x> 0g", 0}, {">>  00", 0}, {"", 0}};
  for (auto [line, version] : cases) EXPECT_EQ(ClassifyHexDump(line), version) << line;
}

}  // namespace
}  // namespace corvane::stream
