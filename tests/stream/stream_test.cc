// The stream layer: LogFileStream and IndexFileStream on real files, the
// settings rules and the time base; the cipher at odd positions and on failing
// files, and the key file; version detection over crafted files. Reads after
// seeks in any order are checked against the file by the log_file_stream fuzz
// target, agreement with a step-by-step cipher model by the cipher target,
// every key file refusal by key_file, detection's pointer, failing reads and
// the reduced tag set (never a 1.02 kind) by version_detection. What a
// stream's Open reports decides LogFile2's open, whose outcomes (files left or
// removed, names too long, an empty log's generation) the LogFile2 open tests
// and the empty-log test of tests/logfile check. Header layouts:
// formats_doc_test.cc.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/registry.h"
#include "stream/cipher.h"
#include "stream/deciphered_window.h"
#include "stream/file_format.h"
#include "stream/index_file_stream.h"
#include "stream/key_source.h"
#include "stream/settings.h"
#include "stream/time_base.h"
#include "stream/version_detection.h"
#include "stream/memory_source.h"
#include "support/log_bytes.h"
#include "support/temp_dir.h"

namespace corvane::stream {
namespace {

using fakes::MemorySource;
namespace registry = platform::registry; constexpr auto kUser = platform::Hive::kCurrentUser;

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
#endif
}

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnv(kKeyFileEnvironment, "");
    (void)registry::DeleteTree(kUser, kSettingsKey);
  }
  // Under Wine every test program shares the registry: a size or key file
  // left behind would change the next program's opens.
  void TearDown() override { SetUp(); }

  // A little-endian DWORD.
  static uint32_t Stored(const char* name) {
    uint32_t value = 0, size = 4, type = 0;
    return registry::QueryValue(kUser, kSettingsKey, name, &value, &size, &type).ok() ? value : 0xBADu;
  }
  test::TempDir dir_;
};

TEST(IndexPathTest, ExtensionBecomesIdxUnlessThePathHasATilde) {
  const std::pair<const char*, const char*> cases[] = {{"dir/log.a.b", "dir/log.a.idx"}, {"C:\\dir.v2\\log", "C:\\dir.v2\\log.idx"},
                                                       {"dir/.hidden", "dir/.hidden.idx"}, {"dir/~log.idx", "dir/~log.idx"}};
  for (auto [in, out] : cases) EXPECT_EQ(IndexFileStream::IndexPathFor(in), out) << in;
}

// The stream's sizes are stored when missing, and read from the first four
// bytes of a value of any type; a value longer than 260 bytes is replaced.
// LogFile's rule: a created key gives 128, a missing value 0 (used as 128), a
// stored value is rounded up to a multiple of 128, never wrapping, and is
// not rewritten.
TEST_F(StreamTest, Settings) {
  EXPECT_EQ(ReadStreamSettings().indexing_buffer_size, 2048u);  // before the value is looked at
  EXPECT_EQ(Stored(kIndexingBufferSizeName), 2048u);
  ASSERT_TRUE(registry::SetString(kUser, kSettingsKey, kIndexingBufferSizeName, std::string("\x00\x10\x00\x00zz", 6)).ok());
  EXPECT_EQ(ReadStreamSettings().indexing_buffer_size, 4096u);
  ASSERT_TRUE(registry::SetString(kUser, kSettingsKey, kDiskBufferSizeName, std::string(300, 'x')).ok());
  EXPECT_EQ(ReadStreamSettings().disk_buffer_size, 0u);
  EXPECT_EQ(Stored(kDiskBufferSizeName), 0u);

  ASSERT_TRUE(registry::DeleteTree(kUser, kSettingsKey).ok());
  EXPECT_EQ(ReadLogFileDiskBufferSetting(), 128u);
  ASSERT_TRUE(registry::DeleteValue(kUser, kSettingsKey, kDiskBufferSizeName).ok());
  EXPECT_EQ(std::make_pair(ReadLogFileDiskBufferSetting(), LogFileDiskBufferSize()), std::make_pair(0u, 128u));
  for (auto [stored, used] : {std::pair{0u, 0u}, {1u, 128u}, {256u, 256u}, {0xFFFFFF81u, 0xFFFFFF80u}}) {
    StoreDiskBufferSize(stored);
    EXPECT_EQ(std::make_pair(ReadLogFileDiskBufferSetting(), Stored(kDiskBufferSizeName)), std::make_pair(used, stored));
  }
}

// Counter spans become nanoseconds without overflow; a counter that went
// back gives 0 rather than a huge stamp.
TEST(TimeBaseTest, CounterSpansBecomeNanosecondsWithoutOverflow) {
  const struct { int64_t span, frequency; uint64_t nanoseconds; } cases[] = {
      {1, 3, 333333333},
      {int64_t{20} * 1000000000, 1000000000, uint64_t{20} * 1000000000},  // x 10^9 passes 2^64
      {864000000000, 10000000, 86400000000000},                          // x 10^9 passes 2^63
      {int64_t{3579545} * 31536000, 3579545, uint64_t{31536000} * 1000000000},
      {-5, 10000000, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeBase::CounterToNanoseconds(c.span, c.frequency), c.nanoseconds) << c.span;
}

// ---- The cipher and the key file ----

const CipherParameters& Shared() { static const CipherParameters p = ParametersFromKey(DefaultKeyMaterial().sets[1]); return p; }

TEST(CipherTest, RefusesParametersThatBreakTheInverse) {
  uint8_t data[8] = {}; uint32_t got = 0;
  MemorySource src(std::vector<uint8_t>(64));
  for (int change = 0; change < 6; ++change) {
    CipherParameters p = Shared();
    int32_t* fields[] = {&p.block_size, &p.block_size, &p.taps[4], &p.taps[9], &p.pass_count};
    const int32_t values[] = {1, 48, 0, p.block_size, 0};
    change < 5 ? void(*fields[change] = values[change]) : void(p = CipherParameters());
    EXPECT_EQ(std::make_pair(EncipherInPlace(p, data, 8).code(), Decipher(p, src, 0, data, 8, &got).code()),
              std::make_pair(uint32_t{kErrInvalidParameter}, uint32_t{kErrInvalidParameter})) << change;
  }
}

// Many blocks go side by side (as many as the processor's widest lanes
// take, then fewer); they must come out as blocks enciphered one at a time,
// which take a separate path, and decipher back, for both built-in sets.
TEST(CipherTest, BlocksSideBySideAgreeWithBlocksOneAtATime) {
  for (const auto& set : DefaultKeyMaterial().sets) {
    const CipherParameters p = ParametersFromKey(set);
    const size_t block = static_cast<size_t>(p.block_size), n = block * (64 + 32 + 16 + 5) + 3;
    std::vector<uint8_t> together = test::Pattern(n, 9), apart = together;
    ASSERT_TRUE(EncipherInPlace(p, together.data(), n).ok());
    for (size_t at = 0; at < n; at += block) ASSERT_TRUE(EncipherInPlace(p, apart.data() + at, std::min(block, n - at)).ok());
    EXPECT_EQ(together, apart) << block;
    ASSERT_TRUE(DecipherInPlace(p, together.data(), n).ok());
    EXPECT_EQ(together, test::Pattern(n, 9)) << block;
  }
}

// Reads of a file with a 60-byte plain header: all or nothing, zero bytes at
// block starts (the empty work buffer never reaches memcpy), a failing file,
// and positions from a damaged index whose end passes the largest offset.
TEST(CipherTest, ReadsAtAPosition) {
  std::vector<uint8_t> plain = test::Pattern(100, 3), file(60, 0xEE), body = plain;
  ASSERT_TRUE(EncipherInPlace(Shared(), body.data(), body.size()).ok());
  file.insert(file.end(), body.begin(), body.end());
  using ReadFn = Status (*)(const CipherParameters&, ByteSource&, uint32_t, void*, uint32_t, uint32_t*);
  const ReadFn all = DecipherAllOrNothing, Decipher = stream::Decipher;
  const struct { ReadFn read; int64_t pos; uint32_t n; int64_t fail_at; uint32_t code, got; } cases[] = {
      {all, 150, 16, -1, 0, 10},  {all, 90, 16, -1, 0, 16},  {all, 60, 0, -1, 0, 0},
      {all, 60 + Shared().block_size, 0, -1, 0, 0},          {all, 160, 0, -1, 0, 0},
      {all, 90, 16, 0, kErrIoDevice, 0},                     {Decipher, 90, 16, -1, 0, 16}, {Decipher, 90, 16, 0, kErrIoDevice, 0},
      {Decipher, INT64_MAX - 2, 24, -1, kErrInvalidParameter, 0},
      {all, INT64_MAX - 2, 24, -1, kErrInvalidParameter, 0},
  };
  // Each read also through a deciphered window, which must answer alike.
  for (const auto& c : cases) for (bool windowed : {false, true}) {
    SCOPED_TRACE(::testing::Message() << c.pos << " " << c.n << (windowed ? " windowed" : ""));
    MemorySource src(file);
    src.set_pos(c.pos), src.fail_reads_at = c.fail_at;
    std::vector<uint8_t> out(24, 0xCC); uint32_t got = 99;
    DecipheredWindow window;
    ASSERT_TRUE(window.Prepare(Shared(), 60).ok());
    const Status st = !windowed ? c.read(Shared(), src, 60, out.data(), c.n, &got)
                      : c.read == all ? window.ReadAllOrNothing(src, out.data(), c.n, &got) : window.Read(src, out.data(), c.n, &got);
    EXPECT_EQ(st.code(), c.code);
    EXPECT_EQ(got, c.got);
    const bool delivered = c.got == c.n && c.n;  // otherwise nothing is
    EXPECT_TRUE(delivered ? std::equal(out.begin(), out.begin() + c.n, plain.begin() + (c.pos - 60)) : out == std::vector<uint8_t>(24, 0xCC));
    EXPECT_TRUE(!delivered || src.pos() == c.pos + c.n);
    EXPECT_TRUE(c.code != kErrInvalidParameter || (src.pos() == c.pos && src.reads == 0)) << "nothing read";
  }
}


TEST(KeySourceTest, RefusesMalformedOrUnusableFilesWithTheirFault) {
  const std::string magic = "corvane-key-file 1\n", shared = "shared 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n";
  const std::pair<std::string, const char*> cases[] = {
      {"", "empty"},
      {magic + "e1.00 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n", "lacks the set \"shared\""},
      {magic + "e1.00 256 2 3 1 1 1 1 1 1 1 1 1 1 2\n" + shared, "not a byte"},
      {magic + "e1.00 1 2 1 1 1 1 1 1 1 1 1 1 1 96\n" + shared, "block size"},
  };
  for (const auto& [text, fault] : cases) {
    KeyMaterial k = DefaultKeyMaterial(); std::string msg;
    EXPECT_TRUE(ParseKeyFile(text, &k, &msg).code() == kErrInvalidData && msg.find(fault) != std::string::npos) << text << msg;
  }
}

// A key file named in the settings replaces the built-in sets; one named in
// the environment wins (its key: fuzz target key_file); a bad one is never
// used, a missing one is reported.
TEST_F(StreamTest, KeyFileFromTheSettingsOrTheEnvironment) {
  const std::string good = dir_.File("good.txt"), bad = dir_.File("bad.txt");
  const std::string text = "# test key\ncorvane-key-file 1\n\nshared 0xA7 0x3D 1 8 11 15 20 26 31 37 42 50 56 64\r\n"
      "e1.00  1 2 3 1 1 1 1 1 1 1 1 1 1 2\n";
  test::WriteFileBytes(good, {text.begin(), text.end()});
  test::WriteFileBytes(bad, {'x', '\n'});
  ASSERT_TRUE(registry::SetString(kUser, kSettingsKey, kKeyFileValueName, good).ok());
  CipherParameters p;
  ASSERT_TRUE(p.Load(3).ok());  // e1.00: each parameter from its byte
  EXPECT_EQ(std::make_tuple(p.whitening, p.feedback, p.pass_count, p.block_size), std::make_tuple(1, 2, 3, 2));
  ASSERT_TRUE(p.Load(13).ok());
  EXPECT_EQ(p, Shared()) << "the same as the built-in set";

  SetEnv(kKeyFileEnvironment, bad);
  std::string msg; KeyMaterial k;
  EXPECT_TRUE(LoadKeyMaterial(&k, &msg).code() == kErrInvalidData && msg.find("bad.txt") != std::string::npos) << msg;
  CipherParameters none;
  EXPECT_TRUE(!none.SetUp(1) && none == CipherParameters()) << "nothing loaded";
  SetEnv(kKeyFileEnvironment, dir_.File("missing.txt"));
  EXPECT_EQ(none.Load(1).code(), kErrFileNotFound);
}

// ---- Version detection ----

std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

// `text` over the bytes of `file` from `at` on.
std::vector<uint8_t> Patched(std::vector<uint8_t> file, size_t at, const std::string& text) {
  return std::copy(text.begin(), text.end(), file.begin() + at), file;
}

// n records; a CR starts the first payload unless line_end is false.
std::vector<uint8_t> FerrowRecords(int n, bool line_end = true) {
  std::vector<uint8_t> out;
  for (int i = 0; i < n; ++i) out.insert(out.end(), {0x1D, 0x10, 0x01, 0x7C, 0, 4, 0x55, 0x55, 0x55, 0x55});
  return out[6] = line_end ? 0x0D : 0x55, out;
}

TEST(DetectVersionTest, CraftedFiles) {
  const std::vector<uint8_t> index = BuildHeader(10), text(2100, 'a');
  // sub_version and tags default to 0 and the full tag set.
  const struct { const char* name; std::vector<uint8_t> file; EnumFileVersion version; int32_t sub_version = 0; TagSet tags = TagSet::kFull; }
      cases[] = {
      {"every 1.02 header", BuildHeader(8), FileVersionCVR_V0102}, {"e1.01 stream header", BuildHeader(1), FileVersionCVR_Ve101},
      {"index sub-version 1", index, FileVersionIDX_V0102, 1}, {"big-endian index", BuildHeader(11), FileVersionIDX_Vu102, 1},
      {"index sub-version 0", Patched(index, 64, std::string("IDX V 01.02\n\0\0\0\0", 16)), FileVersionIDX_V0102},
      {"sub-version as atoi reads it", Patched(index, 76, "  +7"), FileVersionIDX_V0102, 7},
      {"negative sub-version", Patched(index, 76, "-3x\n"), FileVersionIDX_V0102, -3},
      {"huge sub-version", Patched(index, 76, "999999999999999"), FileVersionIDX_V0102, INT32_MAX},
      {"V 01.00 ends at CR after the tag", Text("KRV Binary Log File V 01.00\n\rnotice"), FileVersionCVR_V0100},
      {"V 01.00 is tried first", Text("xx CVR V 01.02 V 01.00\r"), FileVersionCVR_V0100},
      {"tags are case-sensitive", Text("cvr v 01.02\r"), FileVersionUnknown}, {"text without tag", Text("hello\r\n"), FileVersionUnknown},
      {"zero bytes do not end the search", Text(std::string("\0\0CVR V u1.02\r", 14)), FileVersionCVR_Vu102},
      {"line end past 2000 bytes", Patched(text, 2000, "\r"), FileVersionUnknown},
      {"line end at byte 2000", Patched(Patched(text, 1999, "\x1A"), 10, "V e1.01"), FileVersionCVR_Ve101},
      {"hex dump 5", Text(">> 00 00 51\r\n"), FileVersionCvrConvHex}, {"hex dump 6", Text(">> 1A 10 00\r\n"), FileVersionVantrelHex, 0, TagSet::kReduced},
      {"ten Ferrow records", FerrowRecords(10), FileVersionFerrow}, {"nine Ferrow records", FerrowRecords(9), FileVersionUnknown},
      {"Ferrow with a bad byte", Patched(FerrowRecords(10), 51, "\x11"), FileVersionUnknown},
      {"Ferrow without CR in the scan", FerrowRecords(12, false), FileVersionUnknown},
  };
  // The file is read in pieces, not byte by byte. (The restored pointer and
  // failing reads: fuzz target version_detection.)
  for (const auto& c : cases) {
    MemorySource src(c.file);
    Detection d = DetectVersion(src, c.tags);
    EXPECT_EQ(std::make_pair(d.version, d.index_sub_version), std::make_pair(c.version, c.sub_version)) << c.name;
    EXPECT_LE(src.reads, c.file.size() == 128 ? 2 : 20) << c.name;
  }
  // The text rules alone: a hex dump's first line, the index sub-version.
  const std::vector<uint8_t> h = Patched(BuildHeader(10), 70, std::string(1, '\0'));
  EXPECT_EQ(ParseIndexSubVersion(std::string(h.begin(), h.end())), 0) << "a zero byte within 64..75";
  const std::pair<const char*, int> lines[] = {{">> 1A 10", 6}, {">> 00 10", 5}, {"<anything", 6}, {"<x>00", 5}, {"x> 0g", 0}, {">>  00", 0}, {"", 0}};
  for (auto [line, version] : lines) EXPECT_EQ(ClassifyHexDump(line), version) << line;
}

}  // namespace
}  // namespace corvane::stream
