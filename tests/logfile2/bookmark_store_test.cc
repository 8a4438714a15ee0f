// BookmarkStore files: bytes of every kind, damaged and missing files, failed
// saves. Lookups and cursors are driven through ILogFile2 in
// log_file2_bookmark_test; save/load round trips are a property of
// fuzz/bookmark_store_fuzz.cc.
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
using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

Strings Comments(const BookmarkStore& s) {
  Strings out;
  for (const Bookmark& b : s.list()) out.push_back(b.comment);
  return out;
}
std::string Next(const BookmarkStore& s) { return s.NextToDeliver() ? s.NextToDeliver()->comment : "<end>"; }

void PutRecord(Bytes& f, int64_t number, uint32_t length, const std::string& text,
               ByteOrder o = ByteOrder::kLittle) {
  uint8_t head[kBookmarkRecordHeadLength];
  EncodeBookmarkRecordHead(o, number, length, head);
  f.insert(f.end(), head, head + sizeof head);
  f.insert(f.end(), text.begin(), text.end());
}
// A file of `kind` announcing `count` records.
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
    s.Append(0x0102030405060709, 0, "");
    ASSERT_TRUE(s.Save(log_, c.log).ok());
    Bytes want = stream::BuildHeader(c.kind);
    want.insert(want.end(), c.count_and_head.begin(), c.count_and_head.end());
    want.insert(want.end(), {'a', 'b', 'c'});
    PutRecord(want, 0x0102030405060709, 0, "", BookmarkNumberOrder(c.kind));
    const Bytes file = test::ReadFileBytes(bmk_);
    if (c.kind != FileVersionBMK_Ve102) {
      EXPECT_EQ(file, want);
      continue;
    }
    ASSERT_EQ(file.size(), want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + 128, file.begin()));
    EXPECT_FALSE(std::equal(want.begin() + 128, want.end(), file.begin() + 128));
    BookmarkStore in;
    ASSERT_EQ(in.Load(log_), Load::kLoaded);
    EXPECT_EQ(Comments(in), (Strings{"abc", ""}));
  }
}

// A damaged file fails with "invalid data", keeps the records before the
// damage and reads nothing sized by a damaged field.
TEST_F(BookmarkFileTest, DamagedFilesFailAndKeepTheRecordsBeforeTheDamage) {
  Bytes huge_length = TwoRecords(3);
  PutRecord(huge_length, 3, 0xFFFFFFF0u, "abc");
  Bytes cut = TwoRecords(3);
  cut.insert(cut.end(), {1, 2, 3});
  Bytes falling = TwoRecords(3);
  PutRecord(falling, 1, 1, "x");  // behind a bookmark at message 2
  Bytes negative = Announcing(1);
  PutRecord(negative, -1, 1, "x");
  struct {
    const char* name;
    Bytes bytes;
    Strings kept;
  } cases[] = {
      {"count above the records", TwoRecords(5), {"one", "two"}},
      {"huge comment length", huge_length, {"one", "two"}},
      {"record cut inside its number", cut, {"one", "two"}},
      {"numbers out of order", falling, {"one", "two"}},
      {"negative number", negative, {}},
      {"a log, not bookmarks", Announcing(0, FileVersionCVR_V0102), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFileBytes(bmk_, c.bytes);
    BookmarkStore s;
    s.Append(0, 1, "stale");
    test::FaultFileSystem disk;
    platform::ScopedFileSystemOverride use(&disk);
    uint32_t error = 0;
    EXPECT_EQ(s.Load(log_, &error), Load::kFailed);
    EXPECT_EQ(error, uint32_t{kErrInvalidData});
    EXPECT_EQ(Comments(s), c.kept);
    EXPECT_EQ(Next(s), c.kept.empty() ? "<end>" : c.kept[0]);
    EXPECT_LE(disk.largest_read, 1u << 20);
  }
}

// A comment ends at its first zero byte and keeps its stored length. Numbers
// next to the 64-bit limit (a damaged file) saturate when the list position
// is added, so those bookmarks sort last (once an overflow).
TEST_F(BookmarkFileTest, CommentsEndAtAZeroAndNumbersAtTheLimitSaturate) {
  Bytes f = Announcing(3);
  PutRecord(f, 0, 5, std::string("ab\0cd", 5));
  PutRecord(f, INT64_MAX - 1, 1, "b");
  PutRecord(f, INT64_MAX, 1, "c");
  test::WriteFileBytes(bmk_, f);
  BookmarkStore s;
  ASSERT_EQ(s.Load(log_), Load::kLoaded);
  EXPECT_EQ(s.list()[0].comment, "ab");
  EXPECT_EQ(s.list()[0].length, 5u);
  std::vector<int64_t> numbers;
  for (int64_t i = 0, m = 0; s.MessageNumberOf(i, &m); ++i) numbers.push_back(m);
  EXPECT_EQ(numbers, (std::vector<int64_t>{0, INT64_MAX, INT64_MAX}));
  EXPECT_EQ(s.PositionReader(INT64_MAX - 5), 1);
  EXPECT_EQ(Next(s), "b");
  EXPECT_EQ(s.PositionReader(INT64_MAX), 1);
  int64_t number = -1;
  EXPECT_EQ(s.BookmarkNumberOf(INT64_MAX, &number), BookmarkStore::IndexResult::kFound);
  EXPECT_EQ(number, 1);
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

// The disk ends inside the header, a record head, and the zero padding of a
// comment shorter than its length: the old file stays as it was and no
// staging file is left (a save with no old file leaves none at all: see the
// full-disk suite). A file someone holds, or a directory in its place,
// fails the save and nothing is written.
TEST_F(BookmarkFileTest, FailedSaveKeepsTheOldFile) {
  const std::string staging = dir_.File("~trace.bmk");
  for (EnumFileVersion log : {FileVersionCVR_V0102, FileVersionCVR_Ve102}) {
    for (int64_t budget : {0, 140, 170}) {
      test::WriteFileBytes(bmk_, TwoRecords(2));
      BookmarkStore s;
      s.Append(1, 3, "abc");
      s.Append(2, 40, "padded");
      test::FaultFileSystem disk;
      disk.write_budget = budget;
      platform::ScopedFileSystemOverride use(&disk);
      EXPECT_EQ(s.Save(log_, log).code(), uint32_t{kErrDiskFull}) << log << " " << budget;
      EXPECT_EQ(test::ReadFileBytes(bmk_), TwoRecords(2)) << log << " " << budget;
      EXPECT_FALSE(test::FileExists(staging)) << log << " " << budget;
    }
  }

  test::WriteFileBytes(bmk_, TwoRecords(2));
  BookmarkStore s;
  s.Append(0, 1, "a");
  {
    std::unique_ptr<platform::File> holder;
    ASSERT_TRUE(platform::OpenFile(bmk_, {platform::kAccessRead, platform::kShareRead,
                                          platform::Disposition::kOpenExisting, false}, &holder).ok());
    EXPECT_EQ(s.Save(log_, FileVersionCVR_V0102).code(), uint32_t{kErrSharingViolation});
    EXPECT_FALSE(test::FileExists(staging));
  }
  EXPECT_EQ(test::ReadFileBytes(bmk_), TwoRecords(2));

  std::filesystem::remove(bmk_);
  std::filesystem::create_directory(bmk_);
  EXPECT_FALSE(s.Save(log_, FileVersionCVR_V0102).ok());
  EXPECT_TRUE(std::filesystem::is_directory(bmk_));
  EXPECT_FALSE(test::FileExists(staging));
}

// A directory whose entries may not change takes no staging file: an
// existing bookmark file is written in place, and without one the save fails
// with access denied.
TEST_F(BookmarkFileTest, SaveInADirectoryThatTakesNoNewFileWritesInPlace) {
  BookmarkStore s;
  s.Append(3, 5, "fixed");
  test::FaultFileSystem disk;
  disk.fixed_directory = true;
  {
    platform::ScopedFileSystemOverride use(&disk);
    EXPECT_EQ(s.Save(log_, FileVersionCVR_V0102).code(), uint32_t{kErrAccessDenied});
  }
  EXPECT_FALSE(test::FileExists(bmk_));

  test::WriteFileBytes(bmk_, TwoRecords(2));
  {
    platform::ScopedFileSystemOverride use(&disk);
    ASSERT_TRUE(s.Save(log_, FileVersionCVR_V0102).ok());
  }
  BookmarkStore again;
  uint32_t error = 0;
  EXPECT_EQ(again.Load(log_, &error), Load::kLoaded);
  EXPECT_EQ(Comments(again), (Strings{"fixed"}));
}

}  // namespace
}  // namespace corvane::logfile2
