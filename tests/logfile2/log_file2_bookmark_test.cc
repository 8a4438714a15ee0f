// LogFile2 bookmarks through ILogFile2: numbering among the messages, the
// current bookmark, persistence and comments of several bytes per character.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "logfile2/log_file2_test_util.h"

namespace corvane::test {
namespace {

class BookmarkTest : public LogFile2Test {
 protected:
  // Record ids in reading order; bookmarks as "<comment>".
  std::vector<std::string> Sequence(size_t limit = 1000) {
    std::vector<std::string> out;
    for (const Record& r : ReadAll(log_.get(), limit)) {
      out.push_back(r.header.wBlockID == CVR_ID_BOOKMARK ? "<" + std::string(r.data.begin(), r.data.end()) + ">"
                                                         : std::to_string(r.header.wBlockID));
    }
    return out;
  }
  std::string ReadComment() {
    Bstr text;
    return log_->BookmarkRead(text.out()) == S_OK ? text.utf8() : "failed";
  }
  LONGLONG BlockNumber(LONGLONG bookmark) {
    LONGLONG out = -1;
    EXPECT_EQ(log_->GetBookmarkBlockNumber(bookmark, &out), S_OK);
    return out;
  }
};

using V = std::vector<std::string>;
constexpr char kEndOfList[] = "End of Bookmark list reached";
constexpr char kOutOfRange[] = "BookmarkNo out of range";

TEST_F(BookmarkTest, InsertedBookmarksAreNumberedAmongTheMessagesAndReadInPlace) {
  const std::string path = WriteLog("ten.log", 10, true);
  ASSERT_EQ(log_->InsertBookmark(5, Bstr("A").get()), S_OK);
  LONGLONG out = -1;
  EXPECT_EQ(log_->GetBookmarkIndexNumber(5, &out), S_OK);
  EXPECT_EQ(out, 0);
  ASSERT_EQ(log_->InsertBookmark(5, Bstr("B").get()), S_OK);  // before A
  EXPECT_EQ(BlockNumber(0), 5);
  EXPECT_EQ(BlockNumber(1), 6);
  ASSERT_EQ(log_->InsertBookmark(12, Bstr("C").get()), S_OK);  // after everything
  EXPECT_EQ(BookmarkCount(), 3);
  EXPECT_CVR_ERROR(log_->InsertBookmark(14, nullptr), E_CVR_MSG_COUNT_EXCEEDED, "MsgNo exceeds record count", kTag);
  EXPECT_CVR_ERROR(log_->InsertBookmark(-1, nullptr), E_CVR_INVALID_PARAM, "Invalid message number parameter value",
                   kTag);
  EXPECT_CVR_ERROR(log_->GetBookmarkIndexNumber(7, &out), E_CVR_MSG_NOT_BOOKMARK,
                   "Requested Message Number was not a Bookmark", kTag);
  EXPECT_CVR_ERROR(log_->GetBookmarkIndexNumber(13, &out), E_CVR_MSG_COUNT_EXCEEDED, "Total Message Count Exceeded",
                   kTag);
  EXPECT_CVR_ERROR(log_->GetBookmarkBlockNumber(3, &out), E_CVR_MSG_COUNT_EXCEEDED, kOutOfRange, kTag);
  ASSERT_EQ(log_->Close(), S_OK);
  EXPECT_EQ(BookmarkCount(), 0) << "Close empties the list";

  // Bookmarks that are only read leave their file untouched (a log on
  // read-only media must still close).
  const std::string bmk = dir_.File("ten.bmk");
  const std::filesystem::file_time_type old(
      std::chrono::floor<std::chrono::seconds>(std::filesystem::last_write_time(bmk).time_since_epoch()) -
      std::chrono::hours(24));
  std::filesystem::last_write_time(bmk, old);
  OpenRead(path);
  EXPECT_EQ(Sequence(), (V{"0", "1", "2", "3", "4", "<B>", "<A>", "5", "6", "7", "8", "9", "<C>"}));
  ASSERT_EQ(log_->Close(), S_OK);
  EXPECT_TRUE(std::filesystem::last_write_time(bmk) == old);
}

TEST_F(BookmarkTest, TheCurrentBookmarkIsSelectedReadEditedAndDeleted) {
  const std::string path = WriteLog("cur.log", 3, true);
  for (const char* c : {"one", "two", "three"}) ASSERT_EQ(log_->InsertBookmark(3, Bstr(c).get()), S_OK);
  // Inserted at the same number, each before the last: three, two, one.
  EXPECT_CVR_ERROR(log_->BookmarkRead(Bstr().out()), E_CVR_MSG_COUNT_EXCEEDED, kEndOfList, kTag);
  ASSERT_EQ(log_->BookmarkJump(1), S_OK);
  EXPECT_EQ(ReadComment(), "two");
  EXPECT_EQ(ReadComment(), "one");
  EXPECT_CVR_ERROR(log_->BookmarkRead(Bstr().out()), E_CVR_MSG_COUNT_EXCEEDED, kEndOfList, kTag);
  EXPECT_CVR_ERROR(log_->BookmarkJump(3), E_CVR_MSG_COUNT_EXCEEDED, kOutOfRange, kTag);
  EXPECT_CVR_ERROR(log_->BookmarkDelete(), E_CVR_MSG_COUNT_EXCEEDED, kOutOfRange, kTag);
  EXPECT_CVR_ERROR(log_->BookmarkEdit(nullptr), E_CVR_MSG_COUNT_EXCEEDED, kOutOfRange, kTag);

  ASSERT_EQ(log_->BookmarkJump(0), S_OK);
  ASSERT_EQ(log_->BookmarkEdit(Bstr("THREE").get()), S_OK);  // the next one becomes current
  EXPECT_EQ(ReadComment(), "two");
  ASSERT_EQ(log_->BookmarkJump(1), S_OK);
  ASSERT_EQ(log_->BookmarkDelete(), S_OK);  // "one" becomes current
  EXPECT_EQ(ReadComment(), "one");
  EXPECT_EQ(BlockNumber(1), 4);
  EXPECT_CVR_ERROR(log_->InsertBookmark(6, nullptr), E_CVR_MSG_COUNT_EXCEEDED, "MsgNo exceeds record count",
                   kTag);  // 3 messages + 2 bookmarks
  ASSERT_EQ(log_->Close(), S_OK);

  OpenRead(path);
  EXPECT_CVR_ERROR(log_->BookmarkRead(Bstr().out()), E_CVR_MSG_COUNT_EXCEEDED, kEndOfList, kTag);
  ASSERT_EQ(log_->BookmarkJump(0), S_OK);
  EXPECT_EQ(ReadComment(), "THREE");
  EXPECT_EQ(Sequence(), (V{"0", "1", "2", "<THREE>", "<one>"}));
}

// The stored length counts the bytes of the comment, so no character is cut.
TEST_F(BookmarkTest, CommentLengthsCountTheBytesHeldSoNoCharacterIsCut) {
  const std::string path = WriteLog("text.log", 1, true);
  const std::string wide = "gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC";  // "grüße €"
  ASSERT_EQ(log_->InsertBookmark(0, Bstr("AB").get()), S_OK);
  ASSERT_EQ(log_->InsertBookmark(2, Bstr(wide).get()), S_OK);
  ASSERT_EQ(log_->Close(), S_OK);

  // Single-byte text is stored as ever: number 0, length 2, the two bytes.
  Bytes bmk = ReadFileBytes(dir_.File("text.bmk"));
  ASSERT_GE(bmk.size(), 128u + 4 + 14);
  EXPECT_EQ(Bytes(bmk.begin() + 128, bmk.begin() + 146),
            (Bytes{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'A', 'B'}));

  OpenRead(path);
  ASSERT_EQ(log_->BookmarkJump(0), S_OK);
  EXPECT_EQ(ReadComment(), "AB");
  std::string held = ReadComment();
  std::vector<Record> records = ReadAll(log_.get());
  ASSERT_EQ(records.size(), 3u);
#ifdef _WIN32
  (void)held;  // the ANSI code page may not hold these characters
#else
  EXPECT_EQ(held, wide);
  EXPECT_EQ(std::string(records[2].data.begin(), records[2].data.end()), wide);
#endif
}

}  // namespace
}  // namespace corvane::test
