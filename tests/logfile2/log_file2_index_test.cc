// LogFile2 index and jumps: index file bytes in both byte orders, the
// indexing thread (pass, rebuild, message boxes), Jump into plain and bulk
// blocks. Passes restarted and jumps during a pass: tests/hardening/
// concurrency_test.cc; a full disk while indexing: disk_full_test.cc.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <numeric>
#include <random>

#include "logfile2/index_pass.h"
#include "logfile2/log_file2_test_util.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "stream/settings.h"

namespace corvane::test {
namespace {

// The boxes the indexing thread shows: the first one's caption and type, and
// how many. Each is answered `answer` (OK for an OK-only box) after on_box.
struct BoxLog {
  std::string caption;
  unsigned type = 0;
  std::atomic<int> count{0};
  int answer = 2;  // Cancel
  std::function<void()> on_box;
};

int STDMETHODCALLTYPE RecordBox(const char* caption, const char*, unsigned type, void* context) {
  auto* log = static_cast<BoxLog*>(context);
  if (log->count.load() == 0) log->caption = caption, log->type = type;
  if (log->on_box) log->on_box();
  ++log->count;
  return (type & 0xF) == 0 ? 1 : log->answer;
}

uint64_t Get(const Bytes& b, size_t at, int n, bool big) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v |= uint64_t{b[at + i]} << (8 * (big ? n - 1 - i : i));
  return v;
}

// The index file's fields after its 128-byte header: resolution, count, then
// of each 24-byte record the message head, its block and the messages to the
// block's end.
std::vector<uint64_t> IndexFields(const std::string& path, bool big = false) {
  const Bytes b = ReadFileBytes(path);
  if (b.size() < 144) return {};
  std::vector<uint64_t> v{Get(b, 128, 8, big), Get(b, 136, 8, big)};
  for (size_t at = 144; at + 24 <= b.size(); at += 24)
    for (auto [offset, n] : {std::pair{0, 8}, {8, 8}, {16, 4}}) v.push_back(Get(b, at + offset, n, big));
  return v;
}

// A message carrying `number` at payload byte 0 (record byte 6), padded to 4 bytes if asked.
Bytes NumberedMessage(uint32_t number, size_t payload, bool padded) {
  Bytes p = Pattern(payload, static_cast<uint8_t>(number));
  for (int i = 0; i < 4 && i < static_cast<int>(payload); ++i) p[i] = static_cast<uint8_t>(number >> (8 * i));
  Bytes m = RawRecord(0x1D, 0x10, 0, p);
  while (padded && m.size() % 4 != 0) m.push_back(0);
  return m;
}


class IndexTest : public LogFile2Test {
 protected:
  void SetUp() override {
    LogFile2Test::SetUp();
    CorvaneSetMessageBoxHandler(&RecordBox, &boxes_);
  }
  void TearDown() override {
    log_->Close();  // joins a thread still running
    TakeError();
    CorvaneSetMessageBoxHandler(nullptr, nullptr);
    (void)platform::registry::DeleteValue(platform::Hive::kCurrentUser, stream::kSettingsKey,
                                          stream::kIndexingBufferSizeName);
  }

  // CreateIndex, then waits until the index file and the object hold `messages`.
  void BuildIndex(const std::string& log_path, LONGLONG resolution, uint64_t messages, bool big = false) {
    ASSERT_EQ(log_->CreateIndex(resolution), S_OK);
    ASSERT_TRUE(WaitUntil([&] {
      LONGLONG count = 0, res = 0;
      if (log_->GetIndexedRecCount(&count) != S_OK || log_->GetIndexResolution(&res) != S_OK) return false;
      const std::vector<uint64_t> v = IndexFields(Companion(log_path, "idx"), big);
      return v.size() >= 2 && v[1] == messages && v[0] == uint64_t(resolution) && res == resolution && uint64_t(count) >= messages;
    }));
  }

  void ExpectJumps(std::initializer_list<uint32_t> targets) {
    for (uint32_t n : targets) EXPECT_TRUE(log_->Jump(n) == S_OK && NextIsNumbered(log_.get(), n)) << n;
  }

  BoxLog boxes_;
};

// 250 blocks at resolution 100 in every writable generation: two records in
// the log's byte order (big-endian only for "u"). (An index found at Open:
// log_file2_test.cc and the rebuild test's holder.)
TEST_F(IndexTest, TwoHundredFiftyBlocksAtResolutionHundredGiveTwoRecordsInTheLogsByteOrder) {
  const struct { EnumFileVersion version; bool big; } cases[] = {
      {FileVersionCVR_V0102, false}, {FileVersionCVR_Vu102, true}, {FileVersionCVR_Ve102, false}, {FileVersionCVR_Ve101, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    const std::string path = dir_.File("v" + std::to_string(c.version) + ".log");
    ASSERT_TRUE(WriteLog(path, 250, c.version));
    uint64_t at[201] = {c.version == FileVersionCVR_Ve101 ? 60u : 128u};  // block positions
    for (uint32_t i = 0; i < 200; ++i) at[i + 1] = at[i] + NumberedSize(i);
    OpenRead(path);
    BuildIndex(path, 100, 250, c.big);
    EXPECT_EQ(FileSize(Companion(path, "idx")), 192);
    EXPECT_EQ(IndexFields(Companion(path, "idx"), c.big),
              (std::vector<uint64_t>{100, 250, at[100] + 16, at[100], 0, at[200] + 16, at[200], 0}));
    LONGLONG progress = 0, size = 0;
    EXPECT_TRUE(log_->GetIndexingProgress(&progress) == S_OK && log_->GetFileSize(&size) == S_OK && progress == size);
    ExpectJumps({0, 99, 100, 199, 249, 150});
    ASSERT_EQ(log_->Close(), S_OK);
  }
}

// Every message of 3000, in random order, from wherever the last jump
// left the reader: the walks forward from an index record cross the
// read-ahead's first fill and its window, or the deciphered window.
TEST_F(IndexTest, JumpReachesEveryMessageFromAnywhere) {
  for (EnumFileVersion v : {FileVersionCVR_V0102, FileVersionCVR_Ve102}) {
    SCOPED_TRACE(v);
    const std::string path = dir_.File("every" + std::to_string(v) + ".log");
    ASSERT_TRUE(WriteLog(path, 3000, v));
    OpenRead(path);
    BuildIndex(path, 100, 3000);
    std::vector<uint32_t> order(3000);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (uint32_t n : order) ASSERT_TRUE(log_->Jump(n) == S_OK && NextIsNumbered(log_.get(), n)) << n;
    ASSERT_EQ(log_->Close(), S_OK);
  }
}

// Bulk blocks of three messages at 99..101 and 198..200: the record for 100
// stands at the second message head with 2 to go; jumps land inside with the
// block's stamp. Small indexing buffers move chunk ends across every item.
TEST_F(IndexTest, BulkBlocksAreIndexedAtTheirMessagesAndJumpedInto) {
  const struct { EnumFileVersion version; bool padded; uint32_t buffer; } cases[] = {
      {FileVersionCVR_V0102, false, 2048}, {FileVersionCVR_V0102, false, 1}, {FileVersionCVR_Vu102, true, 27}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + " buffer " + std::to_string(c.buffer));
    // The indexing thread reads its chunks in pieces of that many bytes.
    ASSERT_TRUE(platform::registry::SetDword(platform::Hive::kCurrentUser, stream::kSettingsKey,
                                             stream::kIndexingBufferSizeName, c.buffer).ok());
    const std::string path = dir_.File("bulk.log");
    const bool big = c.version == FileVersionCVR_Vu102;
    OpenWrite(path, c.version);
    uint64_t pos = 128, bulk_at = 0, second_head = 0;
    uint32_t number = 0;
    for (int item = 0; item < 198; ++item) {  // items 99 and 196 are the bulk blocks
      const bool bulk = item == 99 || item == 196;
      Bytes d;
      for (int i = 0; i < (bulk ? 3 : 1); ++i, ++number) {
        if (bulk && i == 1 && bulk_at == 0) second_head = pos + 20 + d.size();
        PutBytes(d, bulk ? NumberedMessage(number, 5 + i, c.padded) : NumberedMessage(number, 4 + number % 5, false));
      }
      if (bulk && bulk_at == 0) bulk_at = pos;
      const LogBlockHeader h = bulk ? MakeHeader(CVR_ID_MULTI_QUIVOX_MSG, 2, 1, 777, 0) : MakeHeader(0x20, 1, 0, 0, 0);
      ASSERT_EQ(Write(log_.get(), h, d, bulk ? 3 : 0), S_OK);
      pos += (bulk ? 20 : 16) + d.size();
    }
    ASSERT_EQ(log_->Close(), S_OK);

    OpenRead(path);
    BuildIndex(path, 100, 202, big);
    const std::vector<uint64_t> v = IndexFields(dir_.File("bulk.idx"), big);
    ASSERT_EQ(v.size(), 8u);
    EXPECT_EQ((std::vector<uint64_t>{v[2], v[3], v[4], v[7]}), (std::vector<uint64_t>{second_head, bulk_at, 2, 1}));
    for (LONGLONG n : {100, 101, 200, 199}) {
      ASSERT_EQ(log_->Jump(n), S_OK) << n;
      for (LONGLONG next = n; next < 202 && next < n + 3; ++next) {  // the message jumped to has the bulk block's stamp
        const std::vector<Record> rec = ReadAll(log_.get(), 1);
        ASSERT_TRUE(rec.size() == 1 && rec[0].data.size() >= 10) << next;
        EXPECT_TRUE(Get(rec[0].data, 6, 4, false) == uint64_t(next) && (next > n || rec[0].header.qwTimeStamp == 777u)) << next;
      }
    }
    ASSERT_EQ(log_->Close(), S_OK);
    std::filesystem::remove(dir_.File("bulk.idx"));
  }
}

// The pass on two threads gives the records and counts of the pass over the
// stream's chunks wherever its pieces cut the items: piece sizes from the
// largest item (26) up put every cut into a block header, a bulk block's
// count and first head, and a later message head; blocks longer than a
// piece make a turn read its piece anew.
TEST_F(IndexTest, PassOnTwoThreadsIndexesLikeThePassThroughTheStream) {
  struct Sink final : logfile2::MessageSink {  // refuses record `refuse`, stops at checkpoint `stop`
    size_t refuse = SIZE_MAX, stop = SIZE_MAX, checkpoints = 0;
    std::vector<stream::IndexRecord> records;
    bool Record(const stream::IndexRecord& r) override { return records.size() < refuse && (records.push_back(r), true); }
    bool Checkpoint(int64_t, int64_t) override { return ++checkpoints >= stop; }
  };
  struct Pass {
    std::vector<stream::IndexRecord> records;
    logfile2::PassCounts counts;
    logfile2::PassResult result;
  };
  const std::string path = dir_.File("cut.log");
  auto pass = [&](uint32_t piece, Sink sink = {}) {
    stream::LogFileStream log;
    platform::OpenOptions read;
    read.share = platform::kShareRead;
    EXPECT_TRUE(log.Open(path, read, FileVersionUnknown).ok() && log.Seek(log.header_length(), platform::SeekOrigin::kBegin).ok());
    logfile2::SplitReading split;
    split.piece_size = piece;
    for (auto& file : split.files) EXPECT_TRUE(piece == 0 || (logfile2::CanSplitReading(log) && platform::OpenFile(path, read, &file).ok()));
    Pass p;
    p.result = logfile2::RunIndexPass(log, log.version(), 3, sink, &p.counts, piece ? &split : nullptr);
    p.records = std::move(sink.records);
    return p;
  };
  for (EnumFileVersion version : {FileVersionCVR_V0102, FileVersionCVR_Vu102}) {
    SCOPED_TRACE(version);
    OpenWrite(path, version);
    uint32_t number = 0;
    for (uint32_t item = 0; item < 240; ++item) {  // ordinary blocks of 0..40 bytes and bulk blocks of 1..4 messages
      const uint32_t messages = item % 3 == 1 ? 1 + item % 4 : 0;
      Bytes d;
      for (uint32_t i = 0; i < messages; ++i) PutBytes(d, NumberedMessage(number++, (item * 7 + i) % 11, version == FileVersionCVR_Vu102));
      if (messages == 0) d = Pattern(item * 13 % 41, static_cast<uint8_t>(number++));
      const LogBlockHeader h = MakeHeader(messages ? CVR_ID_MULTI_QUIVOX_MSG : 0x20, 1, 0, item, 0);
      ASSERT_EQ(Write(log_.get(), h, d, messages), S_OK);
    }
    ASSERT_EQ(log_->Close(), S_OK);
    const Pass whole = pass(0);
    ASSERT_EQ(whole.result, logfile2::PassResult::kEnded);
    ASSERT_TRUE(whole.counts.progress == int64_t(std::filesystem::file_size(path)) && whole.counts.counted == number &&
                whole.records.size() == (number - 1) / 3);
    for (uint32_t piece : {26u, 27u, 29u, 32u, 33u, 41u, 64u, 100u, 4096u, 1u << 20}) {
      const Pass cut = pass(piece);
      EXPECT_TRUE(cut.result == whole.result && cut.records == whole.records && cut.counts.counted == whole.counts.counted &&
                  cut.counts.progress == whole.counts.progress) << "piece " << piece;
    }
    // A refused record ends both threads where it ends the pass through the
    // stream; so does a stop, after the third piece.
    Sink refusing, stopping;
    refusing.refuse = 20, stopping.stop = 3;
    const Pass refused = pass(64, refusing), whole_refused = pass(0, refusing), stopped = pass(64, stopping);
    EXPECT_TRUE(refused.result == logfile2::PassResult::kSinkFailed && refused.records == whole_refused.records &&
                refused.counts.counted == whole_refused.counts.counted && refused.records.size() == 20);
    EXPECT_TRUE(stopped.result == logfile2::PassResult::kStopped && stopped.counts.counted < whole.counts.counted);
  }
}

// A rebuild in "~" replaces the old index, which serves until then (while
// the box is open: index_question_test.cc). Another object holding the old
// file fails the deletion: Retry once it has let go installs the new index,
// Cancel keeps the old one.
TEST_F(IndexTest, RebuiltIndexIsInstalledOrAbandonedKeepingTheOldOneInUse) {
  const std::string path = dir_.File("re.log");
  ASSERT_TRUE(WriteLog(path, 300));
  for (int answer : {4 /* Retry */, 2 /* Cancel */}) {
    SCOPED_TRACE(answer);
    OpenRead(path);
    BuildIndex(path, 100, 300);
    // The holder keeps re.idx open once it finds it complete, which it may
    // not while the pass is still closing the file.
    ComPtr<ILogFile2> holder = New<ILogFile2>();
    ASSERT_TRUE(WaitUntil([&] {
      LONGLONG held = 0;
      holder->Close();
      return OpenLog(holder.get(), path, false) == S_OK && holder->GetIndexResolution(&held) == S_OK && held == 100;
    }));
    TakeError();
    boxes_.count = 0;
    boxes_.answer = answer;
    boxes_.on_box = [&] { if (answer == 4) holder->Close(); };
    ASSERT_EQ(log_->CreateIndex(10), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return boxes_.count.load() >= 1; }));
    EXPECT_EQ(std::pair(boxes_.caption, boxes_.type), std::pair(std::string("Indexing Error"), 0x45u)) << "error icon, Retry and Cancel";
    const LONGLONG expected = answer == 4 ? 10 : 100;
    ASSERT_TRUE(WaitUntil([&] {
      LONGLONG resolution = 0;
      return log_->GetIndexResolution(&resolution) == S_OK && resolution == expected && !FileExists(dir_.File("~re.idx"));
    }));
    EXPECT_EQ(IndexFields(dir_.File("re.idx")).at(0), uint64_t(expected));
    ExpectJumps({257});
    boxes_.on_box = nullptr;
    holder->Close();
    TakeError();
    ASSERT_EQ(log_->Close(), S_OK);
    std::filesystem::remove(dir_.File("re.idx"));
  }
}

}  // namespace
}  // namespace corvane::test
