// BookmarkStore: numbering, both cursors, the bookmark file in every kind,
// damaged and missing files, failed saves.
#include "logfile2/bookmark_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "logfile2/bookmark_format.h"
#include "platform/byte_order.h"
#include "platform/file.h"
#include "stream/file_format.h"
#include "support/temp_dir.h"

namespace corvane::logfile2 {
namespace {

using Load = BookmarkStore::LoadResult;
using Index = BookmarkStore::IndexResult;

std::vector<std::string> Comments(const BookmarkStore& s) {
  std::vector<std::string> out;
  for (const Bookmark& b : s.list()) out.push_back(b.comment);
  return out;
}

std::vector<int64_t> MessageNumbers(const BookmarkStore& s) {
  std::vector<int64_t> out;
  int64_t m = 0;
  for (int64_t i = 0; s.MessageNumberOf(i, &m); ++i) out.push_back(m);
  return out;
}

void Add(BookmarkStore& s, int64_t message_number, const std::string& comment) {
  s.Insert(message_number, static_cast<uint32_t>(comment.size()), comment);
}

// Bookmarks before log messages 10, 10 and 20: message numbers 10, 11, 22.
void AddTenTenTwenty(BookmarkStore& s) {
  s.Append(10, 1, "a");
  s.Append(10, 1, "b");
  s.Append(20, 1, "c");
}

// ---- Numbering ----

TEST(BookmarkNumberingTest, InsertOnATenMessageLogNumbersTheBookmarkAndShiftsTheRest) {
  BookmarkStore s;
  Add(s, 5, "A");
  EXPECT_EQ(MessageNumbers(s), (std::vector<int64_t>{5}));
  int64_t b = -1;
  EXPECT_EQ(s.BookmarkNumberOf(5, &b), Index::kFound);
  EXPECT_EQ(b, 0);
  // Reading from the start: log messages 0 to 4, then the bookmark; log
  // message 5 is message number 6 (one bookmark before it).
  EXPECT_EQ(s.PositionReader(0), 0);
  ASSERT_NE(s.NextToDeliver(), nullptr);
  EXPECT_EQ(s.NextToDeliver()->log_message_number, 5);
  EXPECT_EQ(s.PositionReader(6), 1);
  EXPECT_EQ(s.NextToDeliver(), nullptr);
}

TEST(BookmarkNumberingTest, SecondInsertAtTheSameNumberGoesBefore) {
  BookmarkStore s;
  Add(s, 5, "A");
  Add(s, 5, "B");
  EXPECT_EQ(Comments(s), (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(MessageNumbers(s), (std::vector<int64_t>{5, 6}));
  EXPECT_EQ(s.list()[0].log_message_number, 5);
  EXPECT_EQ(s.list()[1].log_message_number, 5);

  Add(s, 12, "end");  // the total count (10 log messages, 2 bookmarks): after everything
  EXPECT_EQ(s.list()[2].log_message_number, 10);
}

TEST(BookmarkNumberingTest, PositionReaderStopsAtTheFirstBookmarkAtOrAfterTheNumber) {
  BookmarkStore s;
  AddTenTenTwenty(s);
  EXPECT_EQ(MessageNumbers(s), (std::vector<int64_t>{10, 11, 22}));
  struct {
    int64_t message_number;
    int64_t before;
    const char* next;  // null: the end
  } cases[] = {{0, 0, "a"}, {10, 0, "a"}, {11, 1, "b"}, {12, 2, "c"}, {22, 2, "c"}, {23, 3, nullptr}};
  for (auto c : cases) {
    EXPECT_EQ(s.PositionReader(c.message_number), c.before) << c.message_number;
    const Bookmark* next = s.NextToDeliver();
    if (c.next) {
      ASSERT_NE(next, nullptr) << c.message_number;
      EXPECT_EQ(next->comment, c.next);
    } else {
      EXPECT_EQ(next, nullptr) << c.message_number;
    }
  }
}

TEST(BookmarkNumberingTest, BookmarkNumberOfTellsBetweenBookmarksFromBeyondTheLast) {
  BookmarkStore s;
  AddTenTenTwenty(s);
  struct {
    int64_t message_number;
    Index result;
    int64_t bookmark_number;
  } cases[] = {{10, Index::kFound, 0},        {11, Index::kFound, 1},
               {22, Index::kFound, 2},        {5, Index::kNotABookmark, -1},
               {12, Index::kNotABookmark, -1}, {23, Index::kBeyondLastBookmark, -1}};
  for (auto c : cases) {
    int64_t b = -1;
    EXPECT_EQ(s.BookmarkNumberOf(c.message_number, &b), c.result) << c.message_number;
    EXPECT_EQ(b, c.bookmark_number) << c.message_number;
  }
  int64_t m = 0;
  EXPECT_FALSE(s.MessageNumberOf(3, &m));
  EXPECT_FALSE(s.MessageNumberOf(-1, &m));
}

// ---- The current bookmark ----

TEST(BookmarkCurrentTest, SelectThenReadWalksToTheEnd) {
  BookmarkStore s;
  EXPECT_EQ(s.Current(), nullptr);  // a new store stands at the end
  EXPECT_TRUE(s.Select(0));         // position 0 of an empty list
  EXPECT_FALSE(s.Select(1));
  s.Append(0, 1, "a");
  s.Append(0, 1, "b");
  ASSERT_TRUE(s.Select(0));
  std::vector<std::string> read;
  for (const Bookmark* b; (b = s.Current()) != nullptr; s.AdvanceCurrent()) read.push_back(b->comment);
  EXPECT_EQ(read, (std::vector<std::string>{"a", "b"}));
  for (int64_t bad : {int64_t{2}, int64_t{-1}}) {
    ASSERT_TRUE(s.Select(1));
    EXPECT_FALSE(s.Select(bad)) << bad;
    EXPECT_EQ(s.Current(), nullptr) << bad;
  }
}

TEST(BookmarkCurrentTest, DeleteMakesTheFollowerCurrentAndFailsAtTheEnd) {
  BookmarkStore s;
  AddTenTenTwenty(s);
  ASSERT_TRUE(s.Select(1));
  EXPECT_TRUE(s.DeleteCurrent());
  EXPECT_EQ(Comments(s), (std::vector<std::string>{"a", "c"}));
  ASSERT_NE(s.Current(), nullptr);
  EXPECT_EQ(s.Current()->comment, "c");
  EXPECT_EQ(MessageNumbers(s), (std::vector<int64_t>{10, 21}));
  EXPECT_TRUE(s.DeleteCurrent());
  EXPECT_FALSE(s.DeleteCurrent());
  EXPECT_EQ(s.size(), 1u);
}

TEST(BookmarkCurrentTest, EditKeepsPlaceAndNumberAndMovesOn) {
  BookmarkStore s;
  AddTenTenTwenty(s);
  ASSERT_TRUE(s.Select(1));
  EXPECT_TRUE(s.EditCurrent(4, "edit"));
  EXPECT_EQ(Comments(s), (std::vector<std::string>{"a", "edit", "c"}));
  EXPECT_EQ(s.list()[1].length, 4u);
  EXPECT_EQ(MessageNumbers(s), (std::vector<int64_t>{10, 11, 22}));
  EXPECT_EQ(s.Current()->comment, "c");
  s.AdvanceCurrent();
  EXPECT_FALSE(s.EditCurrent(1, "x"));
}

// ---- The reader's cursor through changes ----

TEST(BookmarkReaderTest, DeletingTheNextToDeliverMovesTheReaderToTheFollower) {
  struct {
    int64_t deleted;
    int64_t reader_on;  // position of the reader's bookmark before the delete
    const char* next;   // the reader's bookmark after it (null: the end)
  } cases[] = {{1, 1, "c"}, {0, 1, "b"}, {2, 1, "b"}, {2, 2, nullptr}, {0, 3, nullptr}};
  for (auto c : cases) {
    BookmarkStore s;
    AddTenTenTwenty(s);
    const int64_t reader_at[] = {10, 11, 22, 23};  // message numbers of positions 0..3
    s.PositionReader(reader_at[c.reader_on]);
    ASSERT_TRUE(s.Select(c.deleted));
    ASSERT_TRUE(s.DeleteCurrent());
    const Bookmark* next = s.NextToDeliver();
    if (c.next) {
      ASSERT_NE(next, nullptr) << c.deleted << " " << c.reader_on;
      EXPECT_EQ(next->comment, c.next) << c.deleted << " " << c.reader_on;
    } else {
      EXPECT_EQ(next, nullptr) << c.deleted << " " << c.reader_on;
    }
  }
}

TEST(BookmarkReaderTest, EditingTheNextToDeliverKeepsItToBeDeliveredWithTheNewComment) {
  BookmarkStore s;
  AddTenTenTwenty(s);
  s.PositionReader(11);
  ASSERT_TRUE(s.Select(1));
  ASSERT_TRUE(s.EditCurrent(3, "new"));
  ASSERT_NE(s.NextToDeliver(), nullptr);
  EXPECT_EQ(s.NextToDeliver()->comment, "new");
  s.AdvanceReader();
  EXPECT_EQ(s.NextToDeliver()->comment, "c");
}

TEST(BookmarkReaderTest, InsertLeavesTheReaderOnTheBookmarkItStoppedAt) {
  BookmarkStore s;
  AddTenTenTwenty(s);
  ASSERT_TRUE(s.Select(2));
  Add(s, 11, "new");  // before "b"
  EXPECT_EQ(Comments(s), (std::vector<std::string>{"a", "new", "b", "c"}));
  ASSERT_NE(s.NextToDeliver(), nullptr);
  EXPECT_EQ(s.NextToDeliver()->comment, "b");
  EXPECT_EQ(s.Current()->comment, "c");  // the current bookmark keeps its bookmark too

  Add(s, 100, "last");
  EXPECT_EQ(s.NextToDeliver(), nullptr);
  EXPECT_EQ(s.Current()->comment, "c");
}

TEST(BookmarkReaderTest, AppendMovesNoCursor) {
  BookmarkStore s;
  s.Append(0, 1, "a");
  ASSERT_TRUE(s.Select(0));
  s.PositionReader(5);  // at the end
  s.Append(3, 1, "b");
  EXPECT_EQ(s.NextToDeliver(), nullptr);
  EXPECT_EQ(s.Current()->comment, "a");
}

// ---- Delivered bytes ----

TEST(BookmarkBytesTest, DeliveredBytesArePaddedWithZerosOrCutToTheLength) {
  Bookmark longer{0, 6, "abc"};
  EXPECT_EQ(longer.DeliveredBytes(), std::string("abc\0\0\0", 6));
  Bookmark shorter{0, 2, "abc"};
  EXPECT_EQ(shorter.DeliveredBytes(), "ab");

  uint8_t out[8];
  std::fill(std::begin(out), std::end(out), uint8_t{0xEE});
  EXPECT_EQ(longer.CopyDelivered(out, 5), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 6), std::string("abc\0\0\xEE", 6));
}

// ---- Paths and kinds ----

TEST(BookmarkPathTest, ExtensionBecomesBmk) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"dir/log.cvr", "dir/log.bmk"},         {"dir/log", "dir/log.bmk"},
      {"dir.v2/log", "dir.v2/log.bmk"},       {"C:\\d.v2\\log.cvr", "C:\\d.v2\\log.bmk"},
      {"dir/.hidden", "dir/.hidden.bmk"},     {"dir/~log.cvr", "dir/~log.bmk"},
  };
  for (auto c : cases) EXPECT_EQ(BookmarkStore::PathFor(c.in), c.out) << c.in;
}

TEST(BookmarkPathTest, KindFollowsTheLogGeneration) {
  struct {
    EnumFileVersion log;
    EnumFileVersion kind;
  } cases[] = {{FileVersionCVR_Ve101, FileVersionBMK_Ve102}, {FileVersionCVR_V0100, FileVersionBMK_V0102},
               {FileVersionCVR_Ve100, FileVersionBMK_Ve102}, {FileVersionFerrow, FileVersionBMK_V0102},
               {FileVersionCvrConvHex, FileVersionBMK_V0102}, {FileVersionVantrelHex, FileVersionBMK_V0102},
               {FileVersionCVR_Ve102, FileVersionBMK_Ve102}, {FileVersionCVR_V0102, FileVersionBMK_V0102},
               {FileVersionCVR_Vu102, FileVersionBMK_Vu102}};
  for (auto c : cases) EXPECT_EQ(BookmarkStore::KindFor(c.log), c.kind) << c.log;
}

// ---- The bookmark file ----

// A file system over the real one whose writes stop after a budget of bytes
// (a full disk) and which notes the largest read asked of it.
class TestDisk : public platform::FileSystem {
 public:
  int64_t write_budget = -1;  // -1: unlimited
  uint32_t largest_read = 0;

  Status Open(const std::string& path, const platform::OpenOptions& options,
              std::unique_ptr<platform::File>* out, uint32_t* last_error) override {
    std::unique_ptr<platform::File> inner;
    Status st = real_->Open(path, options, &inner, last_error);
    if (st.ok()) *out = std::make_unique<Watched>(std::move(inner), this);
    return st;
  }
  Status Remove(const std::string& path) override { return real_->Remove(path); }
  Status Rename(const std::string& a, const std::string& b, bool r) override {
    return real_->Rename(a, b, r);
  }
  Status BytesPerSector(const std::string& p, uint32_t* b) override { return real_->BytesPerSector(p, b); }

 private:
  class Watched : public platform::File {
   public:
    Watched(std::unique_ptr<platform::File> f, TestDisk* disk) : f_(std::move(f)), disk_(disk) {}
    Status Read(void* d, uint32_t n, uint32_t* got) override {
      disk_->largest_read = std::max(disk_->largest_read, n);
      return f_->Read(d, n, got);
    }
    Status Write(const void* s, uint32_t n, uint32_t* written) override {
      int64_t& budget = disk_->write_budget;
      uint32_t allow = budget < 0 ? n : static_cast<uint32_t>(std::min<int64_t>(n, budget));
      Status st = f_->Write(s, allow, written);
      if (budget >= 0) budget -= *written;
      return st.ok() && allow < n ? Status::Error(kErrDiskFull) : st;
    }
    Status Seek(int64_t d, platform::SeekOrigin o, int64_t* p) override { return f_->Seek(d, o, p); }
    Status GetSize(int64_t* s) override { return f_->GetSize(s); }
    Status Flush() override { return f_->Flush(); }
    Status SetEndOfFile() override { return f_->SetEndOfFile(); }

   private:
    std::unique_ptr<platform::File> f_;
    TestDisk* disk_;
  };
  platform::FileSystem* real_ = platform::FileSystem::Real();
};

class BookmarkFileTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  std::string log_ = dir_.File("trace.cvr");
  std::string bmk_ = dir_.File("trace.bmk");

  static std::vector<uint8_t> Header(EnumFileVersion kind) { return stream::BuildHeader(kind); }
  static void PutCount(std::vector<uint8_t>& f, ByteOrder o, uint32_t count) {
    uint8_t b[4];
    Encode32(o, b, count);
    f.insert(f.end(), b, b + 4);
  }
  static void PutRecord(std::vector<uint8_t>& f, ByteOrder o, int64_t number, uint32_t length,
                        const std::string& bytes) {
    uint8_t head[kBookmarkRecordHeadLength];
    EncodeBookmarkRecordHead(o, number, length, head);
    f.insert(f.end(), head, head + sizeof head);
    f.insert(f.end(), bytes.begin(), bytes.end());
  }
  // A kind-12 file with `count` in its count field and the records "one"
  // (before log message 1) and "two" (before 2).
  static std::vector<uint8_t> TwoRecords(uint32_t count) {
    std::vector<uint8_t> f = Header(FileVersionBMK_V0102);
    PutCount(f, ByteOrder::kLittle, count);
    PutRecord(f, ByteOrder::kLittle, 1, 3, "one");
    PutRecord(f, ByteOrder::kLittle, 2, 3, "two");
    return f;
  }
};

TEST_F(BookmarkFileTest, PlainKindsStoreCountAndRecordsInTheirByteOrder) {
  struct {
    EnumFileVersion log;
    EnumFileVersion kind;
    std::vector<uint8_t> count_and_first_head;
  } cases[] = {
      {FileVersionCVR_V0102, FileVersionBMK_V0102,
       {2, 0, 0, 0, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 3, 0, 0, 0}},
      {FileVersionCVR_Vu102, FileVersionBMK_Vu102,
       {0, 0, 0, 2, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0, 0, 0, 3}},
  };
  for (const auto& c : cases) {
    BookmarkStore s;
    s.Append(0x0102030405060708, 3, "abc");
    s.Append(0x0102030405060708, 0, "");
    ASSERT_TRUE(s.Save(log_, c.log).ok());
    std::vector<uint8_t> want = Header(c.kind);
    want.insert(want.end(), c.count_and_first_head.begin(), c.count_and_first_head.end());
    want.insert(want.end(), {'a', 'b', 'c'});
    PutRecord(want, stream::NumberOrder(c.kind), 0x0102030405060708, 0, "");
    EXPECT_EQ(test::ReadFileBytes(bmk_), want) << c.kind;
  }
}

TEST_F(BookmarkFileTest, EncipheredKindHidesCountAndRecords) {
  BookmarkStore s;
  s.Append(1, 5, "hello");
  ASSERT_TRUE(s.Save(log_, FileVersionCVR_Ve102).ok());
  std::vector<uint8_t> bytes = test::ReadFileBytes(bmk_);
  std::vector<uint8_t> plain = Header(FileVersionBMK_Ve102);
  PutCount(plain, ByteOrder::kLittle, 1);
  PutRecord(plain, ByteOrder::kLittle, 1, 5, "hello");
  ASSERT_EQ(bytes.size(), plain.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 128, bytes.begin()));
  EXPECT_FALSE(std::equal(plain.begin() + 128, plain.end(), bytes.begin() + 128));
}

TEST_F(BookmarkFileTest, SaveThenLoadRoundTripsInEveryKind) {
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93 \xE6\x97\xA5\xE6\x9C\xAC";
  for (EnumFileVersion log : {FileVersionCVR_V0102, FileVersionCVR_Vu102, FileVersionCVR_Ve102}) {
    BookmarkStore out;
    out.Append(0, static_cast<uint32_t>(utf8.size()), utf8);
    out.Append(0, 0, "");
    out.Append(7, 10, "block");  // a bookmark block whose length exceeds its text
    out.Append(INT64_C(1) << 40, 1, "x");
    ASSERT_TRUE(out.Save(log_, log).ok()) << log;

    BookmarkStore in;
    in.Append(99, 1, "stale");
    uint32_t error = 99;
    ASSERT_EQ(in.Load(log_, &error), Load::kLoaded) << log;
    EXPECT_EQ(error, 0u);
    ASSERT_EQ(in.size(), out.size()) << log;
    for (size_t i = 0; i < in.size(); ++i) {
      EXPECT_EQ(in.list()[i].log_message_number, out.list()[i].log_message_number) << log;
      EXPECT_EQ(in.list()[i].length, out.list()[i].length) << log;
      EXPECT_EQ(in.list()[i].comment, out.list()[i].comment) << log;
    }
    EXPECT_EQ(in.NextToDeliver(), &in.list()[0]);
    EXPECT_EQ(in.Current(), nullptr);  // BookmarkRead needs a BookmarkJump first
  }
}

TEST_F(BookmarkFileTest, LoadLeavesTheCurrentBookmarkAtTheEnd) {
  BookmarkStore s;
  s.Append(0, 1, "a");
  ASSERT_TRUE(s.Save(log_, FileVersionCVR_V0102).ok());
  ASSERT_TRUE(s.Select(0));
  ASSERT_EQ(s.Load(log_), Load::kLoaded);
  EXPECT_EQ(s.Current(), nullptr);
  ASSERT_TRUE(s.Select(0));
  ASSERT_EQ(s.Load(dir_.File("none.cvr")), Load::kNotFound);
  EXPECT_EQ(s.Current(), nullptr);
}

TEST_F(BookmarkFileTest, DamagedFilesFailAndKeepTheRecordsBeforeTheDamage) {
  auto huge_length = [] {
    std::vector<uint8_t> f = TwoRecords(3);
    PutRecord(f, ByteOrder::kLittle, 3, 0xFFFFFFF0u, "abc");
    return f;
  };
  auto cut_in_number = [] {
    std::vector<uint8_t> f = TwoRecords(3);
    f.insert(f.end(), {1, 2, 3});
    return f;
  };
  auto cut_in_length = [] {
    std::vector<uint8_t> f = TwoRecords(3);
    f.insert(f.end(), {0, 0, 0, 0, 0, 0, 0, 0, 5, 0});
    return f;
  };
  auto no_count = [] { return Header(FileVersionBMK_V0102); };
  auto not_bookmarks = [] {
    std::vector<uint8_t> f = stream::BuildHeader(FileVersionCVR_V0102);
    PutCount(f, ByteOrder::kLittle, 0);
    return f;
  };
  struct {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<std::string> kept;
  } cases[] = {
      {"count above the records", TwoRecords(5), {"one", "two"}},
      {"count below the records", TwoRecords(1), {"one", "two"}},
      {"huge comment length", huge_length(), {"one", "two"}},
      {"record cut inside its number", cut_in_number(), {"one", "two"}},
      {"record cut inside its length", cut_in_length(), {"one", "two"}},
      {"no count", no_count(), {}},
      {"log header", not_bookmarks(), {}},
      {"empty file", {}, {}},
  };
  for (const auto& c : cases) {
    test::WriteFileBytes(bmk_, c.bytes);
    BookmarkStore s;
    s.Append(0, 1, "stale");
    uint32_t error = 0;
    TestDisk disk;
    platform::ScopedFileSystemOverride use(&disk);
    EXPECT_EQ(s.Load(log_, &error), Load::kFailed) << c.name;
    EXPECT_LE(disk.largest_read, 1u << 20) << c.name;  // nothing sized by a damaged field
    EXPECT_EQ(error, uint32_t{kErrInvalidData}) << c.name;
    EXPECT_EQ(Comments(s), c.kept) << c.name;
    EXPECT_EQ(s.NextToDeliver(), s.empty() ? nullptr : &s.list()[0]) << c.name;
  }
}

TEST_F(BookmarkFileTest, CommentIsCutAtItsFirstZeroByteAndKeepsItsLength) {
  std::vector<uint8_t> f = Header(FileVersionBMK_V0102);
  PutCount(f, ByteOrder::kLittle, 1);
  PutRecord(f, ByteOrder::kLittle, 4, 5, std::string("ab\0cd", 5));
  test::WriteFileBytes(bmk_, f);
  BookmarkStore s;
  ASSERT_EQ(s.Load(log_), Load::kLoaded);
  EXPECT_EQ(s.list()[0].comment, "ab");
  EXPECT_EQ(s.list()[0].DeliveredBytes(), std::string("ab\0\0\0", 5));
}

TEST_F(BookmarkFileTest, MissingOrUnopenableFileLeavesTheListUntouched) {
  BookmarkStore s;
  s.Append(0, 1, "kept");
  uint32_t error = 0;
  EXPECT_EQ(s.Load(log_, &error), Load::kNotFound);
  EXPECT_EQ(error, uint32_t{kErrFileNotFound});
  EXPECT_EQ(Comments(s), (std::vector<std::string>{"kept"}));

  test::WriteFileBytes(bmk_, TwoRecords(2));
  std::unique_ptr<platform::File> holder;
  ASSERT_TRUE(platform::OpenFile(bmk_, {platform::kAccessWrite, platform::kShareNone,
                                        platform::Disposition::kOpenExisting, false},
                                 &holder)
                  .ok());
  EXPECT_EQ(s.Load(log_, &error), Load::kFailed);
  EXPECT_EQ(error, uint32_t{kErrSharingViolation});
  EXPECT_EQ(Comments(s), (std::vector<std::string>{"kept"}));
}

TEST_F(BookmarkFileTest, FailedSaveLeavesNoFileAndReportsTheDiskFull) {
  // Budgets that end the disk inside the header, the count, a record head,
  // a comment and its zero padding.
  for (EnumFileVersion log : {FileVersionCVR_V0102, FileVersionCVR_Ve102}) {
    for (int64_t budget : {0, 130, 140, 146, 170}) {
      test::WriteFileBytes(bmk_, TwoRecords(2));  // an older file is replaced
      BookmarkStore s;
      s.Append(1, 3, "abc");
      s.Append(2, 40, "padded");
      TestDisk disk;
      disk.write_budget = budget;
      platform::ScopedFileSystemOverride use(&disk);
      Status st = s.Save(log_, log);
      EXPECT_EQ(st.code(), uint32_t{kErrDiskFull}) << log << " " << budget;
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

TEST_F(BookmarkFileTest, RemoveFileDeletesTheBookmarkFile) {
  BookmarkStore s;
  s.Append(0, 1, "a");
  ASSERT_TRUE(s.Save(log_, FileVersionCVR_V0102).ok());
  EXPECT_TRUE(BookmarkStore::RemoveFile(log_).ok());
  EXPECT_FALSE(test::FileExists(bmk_));
  EXPECT_EQ(BookmarkStore::RemoveFile(log_).code(), uint32_t{kErrFileNotFound});
}

}  // namespace
}  // namespace corvane::logfile2
