// BookmarkStore files: bytes of every kind and damaged files. Lookups and
// cursors are driven through ILogFile2 in log_file2_test.cc, saves
// that fail on a full disk in tests/hardening/disk_full_test.cc; save/load
// round trips and numbers at the 64-bit limit are properties of the
// bookmark_store fuzz target (fuzz/targets.cc).
#include "logfile2/bookmark_store.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "logfile2/bookmark_format.h"
#include "platform/file.h"
#include "stream/file_format.h"
#include "support/fault_file_system.h"
#include "support/log_bytes.h"
#include "support/temp_dir.h"

namespace corvane::logfile2 {
namespace {

using Load = BookmarkStore::LoadResult;
using Strings = std::vector<std::string>;
using test::Bytes;

Strings Comments(const BookmarkStore& s) {
  Strings out;
  for (const Bookmark& b : s.list()) out.push_back(b.comment);
  return out;
}

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
  test::PutLE(f, count, 4);
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
  struct { EnumFileVersion log, kind; Bytes count_and_head; } cases[] = {
      {FileVersionCVR_V0102, FileVersionBMK_V0102, little}, {FileVersionCVR_Ve102, FileVersionBMK_Ve102, little},
      {FileVersionCVR_Vu102, FileVersionBMK_Vu102, {0, 0, 0, 2, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 3}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    BookmarkStore s;
    s.Append(0x0102030405060708, 3, "abc");
    s.Append(0x0102030405060709, 0, "");
    ASSERT_TRUE(s.Save(log_, c.log).ok());
    Bytes want = stream::BuildHeader(c.kind);
    test::PutBytes(want, c.count_and_head);
    test::PutText(want, "abc");
    PutRecord(want, 0x0102030405060709, 0, "", BookmarkNumberOrder(c.kind));
    const Bytes file = test::ReadFileBytes(bmk_);
    if (c.kind != FileVersionBMK_Ve102) { EXPECT_EQ(file, want); continue; }
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
  struct { const char* name; Bytes bytes; Strings kept; } cases[] = {
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
    EXPECT_EQ(error, uint32_t{kErrInvalidData}) << "invalid data";
    EXPECT_EQ(Comments(s), c.kept);
    EXPECT_EQ(s.NextToDeliver() ? s.NextToDeliver()->comment : "<end>", c.kept.empty() ? "<end>" : c.kept[0]);
    EXPECT_LE(disk.largest_read, 1u << 20);
  }
}

}  // namespace
}  // namespace corvane::logfile2
