// Detection over crafted files: tags in the order they are tried, sub-version,
// hex first lines, Ferrow records, the 2000-byte scan limit, the file
// pointer; and the text rules it builds on. Header layouts: formats_doc_test.cc.
#include "stream/version_detection.h"

#include <gtest/gtest.h>

#include "memory_source.h"
#include "platform/byte_order.h"

namespace corvane::stream {
namespace {

using fakes::MemorySource;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// n records; a CR starts the first payload unless line_end is false.
std::vector<uint8_t> FerrowRecords(int n, uint16_t payload, bool line_end = true) {
  std::vector<uint8_t> out;
  for (int i = 0; i < n; ++i) {
    uint8_t head[6] = {0x1D, 0x10, 0x01, 0x7C, 0, 0};
    EncodeBE16(head + 4, payload);
    out.insert(out.end(), head, head + 6);
    out.insert(out.end(), payload, 0x55);
  }
  if (line_end && n > 0 && payload > 0) out[6] = 0x0D;
  return out;
}

struct DetectCase {
  const char* name;
  std::vector<uint8_t> file;
  TagSet tags;
  EnumFileVersion version;
  int32_t sub_version;
};

std::vector<DetectCase> Cases() {
  std::vector<uint8_t> old_index = BuildHeader(10);
  std::copy_n("IDX V 01.02\n\0\0\0\0", 16, old_index.begin() + 64);
  std::vector<uint8_t> v0100 = Bytes("KRV Binary Log File V 01.00\n\rnotice");
  std::vector<uint8_t> late_end(2100, 'a');
  late_end[2000] = 0x0D;  // the 2001st byte: too late
  std::vector<uint8_t> in_time(2100, 'a');
  in_time[1999] = 0x1A;
  std::copy_n("V e1.01", 7, in_time.begin() + 10);
  std::vector<uint8_t> no_end = FerrowRecords(12, 4, /*line_end=*/false);
  std::vector<uint8_t> ferrow_bad = FerrowRecords(10, 4);
  ferrow_bad[5 * 10 + 1] = 0x11;  // receiver byte of record 6
  return {
      {"every 1.02 header", BuildHeader(8), TagSet::kFull, FileVersionCVR_V0102, 0},
      {"index sub-version 1", BuildHeader(10), TagSet::kFull, FileVersionIDX_V0102, 1},
      {"index sub-version 0", old_index, TagSet::kFull, FileVersionIDX_V0102, 0},
      {"big-endian index", BuildHeader(11), TagSet::kFull, FileVersionIDX_Vu102, 1},
      {"e1.01 stream header", BuildHeader(1), TagSet::kFull, FileVersionCVR_Ve101, 0},
      {"V 01.00 ends at CR after the tag", v0100, TagSet::kFull, FileVersionCVR_V0100, 0},
      {"V 01.00 is tried first", Bytes("xx CVR V 01.02 V 01.00\r"), TagSet::kFull, FileVersionCVR_V0100, 0},
      {"tags are case-sensitive", Bytes("cvr v 01.02\r"), TagSet::kFull, FileVersionUnknown, 0},
      {"zero bytes do not end the search", Bytes(std::string("\0\0CVR V u1.02\r", 14)), TagSet::kFull,
       FileVersionCVR_Vu102, 0},
      {"reduced set ignores 1.02", BuildHeader(8), TagSet::kReduced, FileVersionUnknown, 0},
      {"line end past 2000 bytes", late_end, TagSet::kFull, FileVersionUnknown, 0},
      {"line end at byte 2000", in_time, TagSet::kFull, FileVersionCVR_Ve101, 0},
      {"hex dump 5", Bytes(">> 00 00 51\r\n"), TagSet::kFull, FileVersionCvrConvHex, 0},
      {"hex dump 6", Bytes(">> 1A 10 00\r\n"), TagSet::kReduced, FileVersionVantrelHex, 0},
      {"ten Ferrow records", FerrowRecords(10, 4), TagSet::kFull, FileVersionFerrow, 0},
      {"nine Ferrow records", FerrowRecords(9, 4), TagSet::kFull, FileVersionUnknown, 0},
      {"Ferrow with a bad byte", ferrow_bad, TagSet::kFull, FileVersionUnknown, 0},
      {"Ferrow without CR in the scan", no_end, TagSet::kFull, FileVersionUnknown, 0},
      {"text without tag", Bytes("hello\r\n"), TagSet::kFull, FileVersionUnknown, 0},
  };
}

// A file pointer that stands anywhere is restored; a failed read gives
// unknown; the file is read in pieces, not byte by byte.
TEST(DetectVersionTest, CraftedFiles) {
  for (const DetectCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    for (int64_t fail_at : {int64_t{-1}, int64_t{0}}) {
      MemorySource src(c.file);
      src.set_pos(3);
      src.fail_reads_at = fail_at;
      Detection d = DetectVersion(src, c.tags);
      EXPECT_EQ(d.version, fail_at < 0 ? c.version : FileVersionUnknown);
      EXPECT_EQ(d.index_sub_version, fail_at < 0 ? c.sub_version : 0);
      EXPECT_EQ(src.pos(), 3) << "file pointer restored";
      EXPECT_LE(src.reads, c.file.size() == 128 ? 2 : 20) << "in pieces, not byte by byte";
    }
  }
}

TEST(IndexSubVersionTest, ParsesLikeAtoiAtOffset76) {
  std::vector<uint8_t> h = BuildHeader(10);
  const std::string text(h.begin(), h.end());
  const struct {
    size_t at, count;
    std::string by;
    int32_t expect;
  } cases[] = {
      {64, 0, "", 1},
      {76, 4, "  +7", 7},
      {76, 4, "-3x\n", -3},
      {76, 4, "999999999999999", INT32_MAX},
      {70, 1, std::string(1, '\0'), 0},  // a zero byte within 64..75
  };
  for (const auto& c : cases) {
    std::string t = text;
    EXPECT_EQ(ParseIndexSubVersion(t.replace(c.at, c.count, c.by)), c.expect) << c.by;
  }
  EXPECT_EQ(ParseIndexSubVersion(text.substr(0, 76)), 0);
}

TEST(HexDumpTest, FirstLineRules) {
  const std::pair<const char*, int> cases[] = {{">> 1A 10", 6}, {">> 00 10", 5}, {"<anything", 6},
                                                {"<x>00", 5}, {"x> 0g", 0}, {">>  00", 0}, {"", 0}};
  for (auto [line, version] : cases) EXPECT_EQ(ClassifyHexDump(line), version) << line;
}

}  // namespace
}  // namespace corvane::stream
