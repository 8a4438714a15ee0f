// LogFile2 Open and Close through ILogFile2: checks and their texts, the
// companion files of the write modes (held by another process:
// tests/hardening/process_test.cc) and an index found at Open. The disk
// buffer setting and buffered sizes: tests/stream and tests/logfile.
#include <gtest/gtest.h>

#include <functional>

#include "logfile2/log_file2_test_util.h"

namespace corvane::test {
namespace {

using OpenTest = LogFile2Test;

TEST_F(OpenTest, RefusalsComeInOrderWithTheirTextsAndLeaveNoFileBehind) {
  const std::string existing = WriteLog("existing.log", 2);
  const Bytes before = ReadFileBytes(existing);
  Craft("unknown.log", Pattern(300, 0x20));
  struct Case {
    const char* what;
    std::string name;
    int mode;
    EnumFileVersion version;
    HRESULT code;
  };
  const Case cases[] = {
      {"mode 0", "new0.log", 0, FileVersionCVR_V0102, E_CVR_INVALID_FILE_ACCESS_MODE},
      {"generation 2 not writable", "v2.log", 3, FileVersionCVR_V0100, E_CVR_INVALID_FILE_FORMAT_PARAM},
      {"missing file", "missing.log", 1, FileVersionUnknown, E_CVR_FILE_CREATION_FAILS},
      {"create-new on an existing log", "existing.log", 2, FileVersionCVR_V0102, E_CVR_FILE_CREATION_FAILS},
      {"no known generation", "unknown.log", 1, FileVersionUnknown, E_CVR_FILE_HEADER_INFO_WRONG_VERSION},
      {"name too long", std::string(40000, 'n'), 3, FileVersionCVR_V0102, E_CVR_FILE_CREATION_FAILS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EnumFileVersion v = c.version;
    EXPECT_CVR_ERROR(OpenLog(log_.get(), dir_.File(c.name), static_cast<EnumFileAccessMode>(c.mode), &v), c.code,
                     "File creation failed", kTag);
  }
  EXPECT_FALSE(FileExists(dir_.File("new0.log")));
  EXPECT_FALSE(FileExists(dir_.File("v2.log")));
  EXPECT_EQ(ReadFileBytes(existing), before);

  EnumFileVersion v = FileVersionCVR_V0102;
  EXPECT_CVR_ERROR(log_->Open(nullptr, FileAccessModeReadOnly, &v, 0), E_POINTER,
                   "One ore more Open method parameters are NULL", kTag);
  EXPECT_EQ(OpenRead(existing), FileVersionCVR_V0102);
  EXPECT_CVR_ERROR(OpenLog(log_.get(), dir_.File("other.log"), FileAccessModeWriteCreateAlways, &v),
                   E_CVR_FILE_ALREADY_OPEN, "File is already open", kTag);
  EXPECT_EQ(ReadAll(log_.get()).size(), 2u) << "the open file is untouched";
  EXPECT_CVR_ERROR(Write(log_.get(), MakeHeader(9, 0, 0, 0, 0), {9}), E_CVR_BLOCK_HEADER_WRITE_FAILED,
                   "Block header write failed", kTag);
  EXPECT_EQ(log_->Close(), S_OK);
  EXPECT_CVR_ERROR(log_->Close(), E_CVR_FILE_NOT_OPEN, "File not open", kTag);
  EXPECT_EQ(log_->FlushLogfile(), S_OK);
}

// Create-new refuses a log whose bookmark (when readable) or index file
// exists, keeping nothing open or loaded; create-always removes both.
TEST_F(OpenTest, CompanionsStopCreateNewAndAreRemovedByCreateAlways) {
  auto bookmarks = [&](const std::string& name, uint32_t announced) {  // holding one record
    Bytes bmk = Header102("Binary Log Bookmark File", "BMK V 01.02");
    PutLE(bmk, announced, 4);
    PutLE(bmk, 0, 8);
    PutLE(bmk, 2, 4);
    PutText(bmk, "hi");
    Craft(name, bmk);
  };
  bookmarks("a.bmk", 1);
  EnumFileVersion v = FileVersionCVR_V0102;
  EXPECT_CVR_ERROR(OpenLog(log_.get(), dir_.File("a.log"), FileAccessModeWriteCreateNew, &v),
                   E_CVR_FILE_CREATION_FAILS, "Bookmark file already exists", kTag);
  EXPECT_FALSE(FileExists(dir_.File("a.log")));
  EXPECT_EQ(BookmarkCount(), 0) << "the existence test's bookmarks are dropped";

  bookmarks("b.bmk", 2);  // damaged: does not count
  Craft("b.idx", IndexFile(10, 0));
  EXPECT_CVR_ERROR(OpenLog(log_.get(), dir_.File("b.log"), FileAccessModeWriteCreateNew, &v),
                   E_CVR_FILE_CREATION_FAILS, "Index file already exists", kTag);
  EXPECT_EQ(BookmarkCount(), 0);
  EXPECT_FALSE(FileExists(dir_.File("b.log")));
  ComPtr<ILogFile2> other = NewLogFile2();
  EXPECT_EQ(OpenLog(other.get(), dir_.File("b.log"), FileAccessModeWriteCreateAlways, &v), S_OK)
      << "the index file is no longer held";
  EXPECT_FALSE(FileExists(dir_.File("b.idx")));
  EXPECT_FALSE(FileExists(dir_.File("b.bmk")));
  EXPECT_EQ(other->Close(), S_OK);

  bookmarks("c.bmk", 2);
  EXPECT_EQ(OpenLog(log_.get(), dir_.File("c.log"), FileAccessModeWriteCreateNew, &v), S_OK);
  EXPECT_EQ(BookmarkCount(), 0) << "a new log starts without bookmarks";
  EXPECT_EQ(log_->Close(), S_OK);
}

// A complete index gives the counts (bookmarks included); one without a
// sub-version is outdated and gives none.
// An index counts as complete when its count is set; a count still 0 over a
// log that holds blocks is a first pass that never finished (or is still
// running in another process), and an outdated sub-version is rebuilt.
TEST_F(OpenTest, ACompleteIndexGivesTheCountsAndAnOutdatedOrUnfinishedOneDoesNot) {
  const struct {
    const char* name;
    uint32_t blocks;
    uint64_t count;
    const char* sub;
    bool complete;
  } cases[] = {
      {"complete", 3, 250, ".001", true},
      {"outdated", 3, 250, "", false},
      {"unfinished", 3, 0, ".001", false},
      {"complete, empty log", 0, 0, ".001", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = "idx" + std::to_string(n++);
    const std::string path = WriteLog(name + ".log", c.blocks);
    Craft(name + ".idx", IndexFile(100, c.count, c.sub));
    OpenRead(path);
    // Only a complete index makes its count the total that bounds the bookmarks.
    const LONGLONG bookmark = c.count > 0 ? 250 : 0;
    EXPECT_EQ(log_->InsertBookmark(bookmark, Bstr("one").get()),
              c.complete || bookmark == 0 ? S_OK : HRESULT{E_CVR_MSG_COUNT_EXCEEDED});
    LONGLONG count = 0, resolution = 0;
    EXPECT_EQ(log_->GetIndexedRecCount(&count), S_OK);
    EXPECT_EQ(log_->GetIndexResolution(&resolution), S_OK);
    EXPECT_EQ(count, c.complete ? static_cast<LONGLONG>(c.count) + 1 : 0);
    EXPECT_EQ(resolution, c.complete ? 100 : 0);
    ASSERT_EQ(log_->Close(), S_OK);
    TakeError();
  }
}

TEST_F(OpenTest, NullPointersAndClosedObjectsGetTheirOwnTexts) {
  LONGLONG n = 0;
  ULONG u = 0;
  BYTE b[32] = {};
  LONG eof = 0;
  BSTR s = nullptr;
  struct Call {
    const char* what;
    std::function<HRESULT()> call;
    const char* text;
  };
  const Call calls[] = {
      {"GetFileSize", [&] { return log_->GetFileSize(nullptr); }, "One ore more GetFileSize method parameters are NULL"},
      {"GetFilePointerPos", [&] { return log_->GetFilePointerPos(nullptr); }, "NULL pointer passed"},
      {"GetDiskBufferSize", [&] { return log_->GetDiskBufferSize(nullptr); }, "GetDiskBufferSize, NULL pointer passed"},
      {"GetIndexedRecCount", [&] { return log_->GetIndexedRecCount(nullptr); }, "GetIndexedRecCount, Null pointer passed"},
      {"GetIndexResolution", [&] { return log_->GetIndexResolution(nullptr); }, "GetIndexResolution, NULL pointer passed"},
      {"GetBookmarkCount", [&] { return log_->GetBookmarkCount(nullptr); }, "GetBookmarkCount, NULL pointer passed"},
      {"BookmarkRead", [&] { return log_->BookmarkRead(nullptr); }, "BookmarkRead, NULL pointer passed"},
      {"GetBookmarkBlockNumber", [&] { return log_->GetBookmarkBlockNumber(0, nullptr); }, "GetBookmarkBlockNumber, NULL pointer passed"},
      {"GetBookmarkIndexNumber", [&] { return log_->GetBookmarkIndexNumber(0, nullptr); }, "GetBookmarkIndexNumber, NULL pointer passed"},
      {"ReadBlockHeader", [&] { return log_->ReadBlockHeader(b, 24, nullptr, &eof); }, "One or more NULL pointers passed"},
      {"ReadBlockData", [&] { return log_->ReadBlockData(nullptr, 4); }, "One ore more ReadBlockData method parameters are NULL"},
      {"WriteBlock", [&] { return log_->WriteBlock(b, 24, nullptr, 0, 0); }, "One or more WriteBlock method parameters are NULL"},
  };
  for (const Call& c : calls) {
    SCOPED_TRACE(c.what);
    EXPECT_CVR_ERROR(c.call(), E_POINTER, c.text, kTag);
  }
  EXPECT_CVR_ERROR(log_->ReadBlockData(b, 4), E_CVR_FILE_NOT_OPEN, "File not open", kTag);
  // Without a file: counts, settings and the bookmark list still answer.
  EXPECT_EQ(log_->GetIndexedRecCount(&n), S_OK);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(log_->GetBookmarkCount(&n), S_OK);
  EXPECT_EQ(log_->GetDiskBufferSize(&u), S_OK);
  EXPECT_CVR_ERROR(log_->BookmarkRead(&s), E_CVR_MSG_COUNT_EXCEEDED, "End of Bookmark list reached", kTag);
}

}  // namespace
}  // namespace corvane::test
