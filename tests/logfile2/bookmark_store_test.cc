// BookmarkStore: lookups by message number, the reader after a deletion, the
// bookmark file in every kind, damaged and missing files, failed saves (the
// cursors through ILogFile2 are in log_file2_bookmark_test).
#include "logfile2/bookmark_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "logfile2/bookmark_format.h"
#include "platform/file.h"
#include "stream/file_format.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace corvane::logfile2 {
namespace {

using Load = BookmarkStore::LoadResult;
using Index = BookmarkStore::IndexResult;
using Strings = std::vector<std::string>;

Strings Comments(const BookmarkStore& s) {
  Strings out;
  for (const Bookmark& b : s.list()) out.push_back(b.comment);
  return out;
}
std::vector<int64_t> MessageNumbers(const BookmarkStore& s) {
  std::vector<int64_t> out;
  for (int64_t i = 0, m = 0; s.MessageNumberOf(i, &m); ++i) out.push_back(m);
  return out;
}
std::string Next(const BookmarkStore& s) { return s.NextToDeliver() ? s.NextToDeliver()->comment : "<end>"; }
std::string Cur(const BookmarkStore& s) { return s.Current() ? s.Current()->comment : "<end>"; }
// Bookmarks before log messages 10, 10 and 20: message numbers 10, 11, 22.
void AddTenTenTwenty(BookmarkStore& s) {
  const std::pair<int64_t, const char*> items[] = {{10, "a"}, {10, "b"}, {20, "c"}};
  for (auto [n, c] : items) s.Append(n, 1, c);
}

TEST(BookmarkNumberingTest, LookupsByMessageNumber) {
  BookmarkStore s;
  AddTenTenTwenty(s);
  struct {
    int64_t m;
    int64_t before;    // PositionReader
    const char* next;  // the reader's bookmark after it
    Index found;
    int64_t number;  // BookmarkNumberOf
  } cases[] = {{0, 0, "a", Index::kNotABookmark, -1},  {10, 0, "a", Index::kFound, 0},
               {11, 1, "b", Index::kFound, 1},         {12, 2, "c", Index::kNotABookmark, -1},
               {22, 2, "c", Index::kFound, 2},         {23, 3, "<end>", Index::kBeyondLastBookmark, -1}};
  for (auto c : cases) {
    SCOPED_TRACE(c.m);
    EXPECT_EQ(s.PositionReader(c.m), c.before);
    EXPECT_EQ(Next(s), c.next);
    int64_t number = -1;
    EXPECT_EQ(s.BookmarkNumberOf(c.m, &number), c.found);
    EXPECT_EQ(number, c.number);
  }
  int64_t m = 0;
  EXPECT_FALSE(s.MessageNumberOf(3, &m));
  EXPECT_FALSE(s.MessageNumberOf(-1, &m));
}

TEST(BookmarkReaderTest, DeletingTheReadersBookmarkMovesTheReaderToTheFollower) {
  const int64_t at[] = {10, 11, 22, 23};  // message numbers of positions 0..3
  struct {
    int64_t deleted, reader_on;
    const char* next;
  } cases[] = {{1, 1, "c"}, {0, 1, "b"}, {2, 1, "b"}, {2, 2, "<end>"}, {0, 3, "<end>"}};
  for (auto c : cases) {
    SCOPED_TRACE(testing::Message() << c.deleted << " " << c.reader_on);
    BookmarkStore s;
    AddTenTenTwenty(s);
    s.PositionReader(at[c.reader_on]);
    ASSERT_TRUE(s.Select(c.deleted));
    ASSERT_TRUE(s.DeleteCurrent());
    EXPECT_EQ(Next(s), c.next);
  }
}

TEST(BookmarkBytesTest, DeliveredBytesArePaddedWithZerosOrCutToTheLength) {
  Bookmark longer{0, 6, "abc"};
  EXPECT_EQ(longer.DeliveredBytes(), std::string("abc\0\0\0", 6));
  EXPECT_EQ((Bookmark{0, 2, "abc"}.DeliveredBytes()), "ab");
  char out[6] = {'#', '#', '#', '#', '#', '#'};
  EXPECT_EQ(longer.CopyDelivered(reinterpret_cast<uint8_t*>(out), 5), 5u);
  EXPECT_EQ(std::string(out, 6), std::string("abc\0\0#", 6));
}

TEST(BookmarkPathTest, SameDirectoryAndBaseNameWithExtensionBmkAndAKindPerGeneration) {
  // The companion path rules are CompanionPath's; a "~" is nothing special here.
  EXPECT_EQ(BookmarkStore::PathFor("dir/~log.cvr"), "dir/~log.bmk");
  // Log generations 1 to 9.
  const EnumFileVersion kinds[] = {FileVersionBMK_Ve102, FileVersionBMK_V0102, FileVersionBMK_Ve102,
                                   FileVersionBMK_V0102, FileVersionBMK_V0102, FileVersionBMK_V0102,
                                   FileVersionBMK_Ve102, FileVersionBMK_V0102, FileVersionBMK_Vu102};
  for (int v = 1; v <= 9; ++v) {
    EXPECT_EQ(BookmarkStore::KindFor(static_cast<EnumFileVersion>(v)), kinds[v - 1]) << v;
  }
}

using TestDisk = test::FaultFileSystem;
using Bytes = std::vector<uint8_t>;

void PutRecord(Bytes& f, int64_t number, uint32_t length, const std::string& text,
               ByteOrder o = ByteOrder::kLittle) {
  uint8_t head[kBookmarkRecordHeadLength];
  EncodeBookmarkRecordHead(o, number, length, head);
  f.insert(f.end(), head, head + sizeof head);
  f.insert(f.end(), text.begin(), text.end());
}
// A kind-12 file (or the header of `kind`) announcing `count` records.
Bytes Announcing(uint32_t count, EnumFileVersion kind = FileVersionBMK_V0102) {
  Bytes f = stream::BuildHeader(kind);
  uint8_t b[4];
  Encode32(ByteOrder::kLittle, b, count);
  f.insert(f.end(), b, b + 4);
  return f;
}
// A kind-12 file announcing `count` records and holding "one" and "two".
Bytes TwoRecords(uint32_t count) {
  Bytes f = Announcing(count);
  PutRecord(f, 1, 3, "one");
  PutRecord(f, 2, 3, "two");
  return f;
}

class BookmarkFileTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  std::string log_ = dir_.File("trace.cvr");
  std::string bmk_ = dir_.File("trace.bmk");
};

// Count and records in the kind's byte order; the enciphered kind hides
// everything behind its header.
TEST_F(BookmarkFileTest, EachKindStoresCountAndRecordsInItsByteOrder) {
  const Bytes little = {2, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 3, 0, 0, 0};
  struct {
    EnumFileVersion log, kind;
    Bytes count_and_head;
  } cases[] = {{FileVersionCVR_V0102, FileVersionBMK_V0102, little},
               {FileVersionCVR_Vu102, FileVersionBMK_Vu102, {0, 0, 0, 2, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 3}},
               {FileVersionCVR_Ve102, FileVersionBMK_Ve102, little}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    BookmarkStore s;
    s.Append(0x0102030405060708, 3, "abc");
    s.Append(5, 0, "");
    ASSERT_TRUE(s.Save(log_, c.log).ok());
    Bytes want = stream::BuildHeader(c.kind);
    want.insert(want.end(), c.count_and_head.begin(), c.count_and_head.end());
    want.insert(want.end(), {'a', 'b', 'c'});
    PutRecord(want, 5, 0, "", BookmarkNumberOrder(c.kind));
    const Bytes file = test::ReadFileBytes(bmk_);
    if (c.kind != FileVersionBMK_Ve102) {
      EXPECT_EQ(file, want);
      continue;
    }
    ASSERT_EQ(file.size(), want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + 128, file.begin()));
    EXPECT_FALSE(std::equal(want.begin() + 128, want.end(), file.begin() + 128));
  }
}

TEST_F(BookmarkFileTest, SaveLoadRoundTripsInEveryKind) {
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93 \xE6\x97\xA5\xE6\x9C\xAC";
  for (EnumFileVersion log : {FileVersionCVR_V0102, FileVersionCVR_Vu102, FileVersionCVR_Ve102}) {
    BookmarkStore out;
    out.Append(0, static_cast<uint32_t>(utf8.size()), utf8);
    out.Append(0, 0, "");
    out.Append(7, 10, "block");  // a bookmark block whose length exceeds its text
    out.Append(int64_t{1} << 40, 1, "x");
    ASSERT_TRUE(out.Save(log_, log).ok()) << log;

    BookmarkStore in;
    in.Append(99, 1, "stale");
    ASSERT_TRUE(in.Select(0));
    uint32_t error = 99;
    ASSERT_EQ(in.Load(log_, &error), Load::kLoaded) << log;
    EXPECT_EQ(error, 0u);
    ASSERT_EQ(in.size(), out.size()) << log;
    for (size_t i = 0; i < in.size(); ++i) {
      EXPECT_EQ(in.list()[i].log_message_number, out.list()[i].log_message_number) << log;
      EXPECT_EQ(in.list()[i].length, out.list()[i].length) << log;
      EXPECT_EQ(in.list()[i].comment, out.list()[i].comment) << log;
    }
    EXPECT_EQ(Next(in), utf8);
    EXPECT_EQ(Cur(in), "<end>");  // nothing readable before a Select
  }
  EXPECT_TRUE(BookmarkStore::RemoveFile(log_).ok());
  EXPECT_FALSE(test::FileExists(bmk_));
}

TEST_F(BookmarkFileTest, DamagedFilesFailAndKeepTheRecordsBeforeTheDamage) {
  auto with = [](Bytes f, const Bytes& tail) {
    f.insert(f.end(), tail.begin(), tail.end());
    return f;
  };
  Bytes huge_length = TwoRecords(3);
  PutRecord(huge_length, 3, 0xFFFFFFF0u, "abc");
  Bytes log_header = Announcing(0, FileVersionCVR_V0102);
  struct {
    const char* name;
    Bytes bytes;
    Strings kept;
  } cases[] = {
      {"count above the records", TwoRecords(5), {"one", "two"}},
      {"count below the records", TwoRecords(1), {"one", "two"}},
      {"huge comment length", huge_length, {"one", "two"}},
      {"record cut inside its number", with(TwoRecords(3), {1, 2, 3}), {"one", "two"}},
      {"record cut inside its length", with(TwoRecords(3), {0, 0, 0, 0, 0, 0, 0, 0, 5, 0}), {"one", "two"}},
      {"no count", stream::BuildHeader(FileVersionBMK_V0102), {}},
      {"a log, not bookmarks", log_header, {}},
      {"empty file", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFileBytes(bmk_, c.bytes);
    BookmarkStore s;
    s.Append(0, 1, "stale");
    TestDisk disk;
    platform::ScopedFileSystemOverride use(&disk);
    uint32_t error = 0;
    EXPECT_EQ(s.Load(log_, &error), Load::kFailed);
    EXPECT_EQ(error, uint32_t{kErrInvalidData});
    EXPECT_EQ(Comments(s), c.kept);
    EXPECT_EQ(Next(s), c.kept.empty() ? "<end>" : c.kept[0]);
    EXPECT_LE(disk.largest_read, 1u << 20);  // nothing sized by a damaged field
  }
}

// A comment ends at its first zero byte and keeps its stored length. Log
// message numbers next to the 64-bit limit (a damaged file) saturate when
// the list position is added, so those bookmarks sort last.
TEST_F(BookmarkFileTest, CommentsEndAtAZeroAndNumbersAtTheLimitSaturate) {
  Bytes f = Announcing(3);
  PutRecord(f, 0, 5, std::string("ab\0cd", 5));
  PutRecord(f, INT64_MAX, 1, "b");
  PutRecord(f, INT64_MAX - 1, 1, "c");
  test::WriteFileBytes(bmk_, f);
  BookmarkStore s;
  ASSERT_EQ(s.Load(log_), Load::kLoaded);
  EXPECT_EQ(s.list()[0].comment, "ab");
  EXPECT_EQ(s.list()[0].length, 5u);
  EXPECT_EQ(MessageNumbers(s), (std::vector<int64_t>{0, INT64_MAX, INT64_MAX}));
  EXPECT_EQ(s.PositionReader(INT64_MAX - 5), 1);
  EXPECT_EQ(Next(s), "b");
  EXPECT_EQ(s.PositionReader(INT64_MAX), 1);
  int64_t number = -1;
  EXPECT_EQ(s.BookmarkNumberOf(INT64_MAX, &number), Index::kFound);
  EXPECT_EQ(number, 1);
  EXPECT_EQ(s.BookmarkNumberOf(7, &number), Index::kNotABookmark);
}

TEST_F(BookmarkFileTest, MissingOrUnopenableFileLeavesTheListUntouched) {
  BookmarkStore s;
  s.Append(0, 1, "kept");
  uint32_t error = 0;
  EXPECT_EQ(s.Load(log_, &error), Load::kNotFound);
  EXPECT_EQ(error, uint32_t{kErrFileNotFound});

  test::WriteFileBytes(bmk_, TwoRecords(2));
  std::unique_ptr<platform::File> holder;
  ASSERT_TRUE(platform::OpenFile(bmk_, {platform::kAccessWrite, platform::kShareNone,
                                        platform::Disposition::kOpenExisting, false}, &holder).ok());
  EXPECT_EQ(s.Load(log_, &error), Load::kFailed);
  EXPECT_EQ(error, uint32_t{kErrSharingViolation});
  EXPECT_EQ(Comments(s), (Strings{"kept"}));
}

TEST_F(BookmarkFileTest, FailedSaveLeavesNoFileAndReportsTheFullDisk) {
  // The disk ends inside the header, the count, a record head, a comment
  // and the zero padding of a comment shorter than its length.
  for (EnumFileVersion log : {FileVersionCVR_V0102, FileVersionCVR_Ve102}) {
    for (int64_t budget : {0, 130, 140, 146, 170}) {
      test::WriteFileBytes(bmk_, TwoRecords(2));  // an older file is replaced
      BookmarkStore s;
      s.Append(1, 3, "abc");
      s.Append(2, 40, "padded");
      TestDisk disk;
      disk.write_budget = budget;
      platform::ScopedFileSystemOverride use(&disk);
      EXPECT_EQ(s.Save(log_, log).code(), uint32_t{kErrDiskFull}) << log << " " << budget;
      EXPECT_FALSE(test::FileExists(bmk_)) << log << " " << budget;
    }
  }
}

TEST_F(BookmarkFileTest, SaveOntoADirectoryFailsAndRemovesNothing) {
  std::filesystem::create_directory(bmk_);
  BookmarkStore s;
  s.Append(0, 1, "a");
  EXPECT_FALSE(s.Save(log_, FileVersionCVR_V0102).ok());
  EXPECT_TRUE(std::filesystem::is_directory(bmk_));
}

}  // namespace
}  // namespace corvane::logfile2
