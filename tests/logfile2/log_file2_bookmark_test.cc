// LogFile2 bookmarks through ILogFile2: numbering, the current bookmark,
// bookmarks among the records while reading (also when they change under
// the reader), comments of several bytes per character.
#include <gtest/gtest.h>

#include "logfile2/log_file2_test_util.h"

namespace corvane::test {
namespace {

class BookmarkTest : public LogFile2Test {
 protected:
  // Record ids in reading order; bookmarks as "<comment>".
  std::vector<std::string> Sequence(size_t limit = 1000) {
    std::vector<std::string> out;
    for (const Record& r : ReadAll(log_.get(), limit)) {
      out.push_back(r.header.wBlockID == CVR_ID_BOOKMARK
                        ? "<" + std::string(r.data.begin(), r.data.end()) + ">"
                        : std::to_string(r.header.wBlockID));
    }
    return out;
  }
  std::string Next() {
    std::vector<std::string> one = Sequence(1);
    return one.empty() ? "end" : one[0];
  }
  std::string ReadComment() {
    Bstr text;
    HRESULT hr = log_->BookmarkRead(text.out());
    return hr == S_OK ? text.utf8() : "failed";
  }
  LONGLONG Number(HRESULT (STDMETHODCALLTYPE ILogFile2::*method)(LONGLONG, LONGLONG*), LONGLONG arg) {
    LONGLONG out = -1;
    EXPECT_EQ((log_.get()->*method)(arg, &out), S_OK);
    return out;
  }
};

using V = std::vector<std::string>;
constexpr char kEndOfList[] = "End of Bookmark list reached";

TEST_F(BookmarkTest, InsertedBookmarksAreNumberedAmongTheMessagesAndReadInPlace) {
  const std::string path = WriteLog("ten.log", 10, true);
  ASSERT_EQ(log_->InsertBookmark(5, Bstr("A").get()), S_OK);
  EXPECT_EQ(BookmarkCount(), 1);
  EXPECT_EQ(Number(&ILogFile2::GetBookmarkBlockNumber, 0), 5);
  EXPECT_EQ(Number(&ILogFile2::GetBookmarkIndexNumber, 5), 0);
  ASSERT_EQ(log_->InsertBookmark(5, Bstr("B").get()), S_OK);  // before A
  EXPECT_EQ(Number(&ILogFile2::GetBookmarkBlockNumber, 0), 5);
  EXPECT_EQ(Number(&ILogFile2::GetBookmarkBlockNumber, 1), 6);
  ASSERT_EQ(log_->InsertBookmark(12, Bstr("C").get()), S_OK);  // after everything
  EXPECT_CVR_ERROR(log_->InsertBookmark(14, nullptr), E_CVR_MSG_COUNT_EXCEEDED,
                   "MsgNo exceeds record count", kTag);
  EXPECT_CVR_ERROR(log_->InsertBookmark(-1, nullptr), E_CVR_INVALID_PARAM,
                   "Invalid message number parameter value", kTag);
  LONGLONG out = 0;
  EXPECT_CVR_ERROR(log_->GetBookmarkIndexNumber(7, &out), E_CVR_MSG_NOT_BOOKMARK,
                   "Requested Message Number was not a Bookmark", kTag);
  EXPECT_CVR_ERROR(log_->GetBookmarkIndexNumber(13, &out), E_CVR_MSG_COUNT_EXCEEDED,
                   "Total Message Count Exceeded", kTag);
  EXPECT_CVR_ERROR(log_->GetBookmarkBlockNumber(3, &out), E_CVR_MSG_COUNT_EXCEEDED,
                   "BookmarkNo out of range", kTag);
  ASSERT_EQ(log_->Close(), S_OK);

  OpenRead(path);
  EXPECT_EQ(Sequence(), (V{"0", "1", "2", "3", "4", "<B>", "<A>", "5", "6", "7", "8", "9", "<C>"}));
  ASSERT_EQ(log_->Close(), S_OK);
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
  EXPECT_CVR_ERROR(log_->BookmarkJump(3), E_CVR_MSG_COUNT_EXCEEDED, "BookmarkNo out of range", kTag);
  EXPECT_CVR_ERROR(log_->BookmarkDelete(), E_CVR_MSG_COUNT_EXCEEDED, "BookmarkNo out of range", kTag);
  EXPECT_CVR_ERROR(log_->BookmarkEdit(nullptr), E_CVR_MSG_COUNT_EXCEEDED, "BookmarkNo out of range", kTag);

  ASSERT_EQ(log_->BookmarkJump(0), S_OK);
  ASSERT_EQ(log_->BookmarkEdit(Bstr("THREE").get()), S_OK);  // the next one becomes current
  EXPECT_EQ(ReadComment(), "two");
  ASSERT_EQ(log_->BookmarkJump(1), S_OK);
  ASSERT_EQ(log_->BookmarkDelete(), S_OK);  // "one" becomes current
  EXPECT_EQ(ReadComment(), "one");
  EXPECT_EQ(Number(&ILogFile2::GetBookmarkBlockNumber, 1), 4);
  EXPECT_CVR_ERROR(log_->InsertBookmark(6, nullptr), E_CVR_MSG_COUNT_EXCEEDED,
                   "MsgNo exceeds record count", kTag);  // 3 messages + 2 bookmarks
  ASSERT_EQ(log_->Close(), S_OK);

  OpenRead(path);
  EXPECT_CVR_ERROR(log_->BookmarkRead(Bstr().out()), E_CVR_MSG_COUNT_EXCEEDED, kEndOfList, kTag);
  ASSERT_EQ(log_->BookmarkJump(0), S_OK);
  EXPECT_EQ(ReadComment(), "THREE");
  EXPECT_EQ(Sequence(), (V{"0", "1", "2", "<THREE>", "<one>"}));
  ASSERT_EQ(log_->Close(), S_OK);
}

TEST_F(BookmarkTest, TheReaderKeepsItsPlaceWhenBookmarksChangeUnderIt) {
  // 0 1 <X> <Y> 2 3, with a complete index so that the object knows the
  // log's message count while reading.
  const std::string path = dir_.File("under.log");
  auto make = [&] {
    WriteLog("under.log", 4, true);
    for (const char* c : {"Y", "X"}) ASSERT_EQ(log_->InsertBookmark(2, Bstr(c).get()), S_OK);
    ASSERT_EQ(log_->Close(), S_OK);
    Craft("under.idx", IndexFile(10, 4));
  };
  make();

  struct Case {
    const char* what;
    int read_before;  // records read before the change
    std::function<void()> change;
    V rest;
  };
  auto delete_x = [&] {
    ASSERT_EQ(log_->BookmarkJump(0), S_OK);
    ASSERT_EQ(log_->BookmarkDelete(), S_OK);
  };
  auto edit_x = [&] {
    ASSERT_EQ(log_->BookmarkJump(0), S_OK);
    ASSERT_EQ(log_->BookmarkEdit(Bstr("x2").get()), S_OK);
  };
  auto insert = [&](LONGLONG at, const char* text) {
    return [&, at, text] { ASSERT_EQ(log_->InsertBookmark(at, Bstr(text).get()), S_OK); };
  };
  const Case cases[] = {
      {"delete the bookmark about to come", 2, delete_x, {"<Y>", "2", "3"}},
      {"delete the bookmark just returned", 3, delete_x, {"<Y>", "2", "3"}},
      {"edit the bookmark about to come", 2, edit_x, {"<x2>", "<Y>", "2", "3"}},
      {"edit the bookmark just returned", 3, edit_x, {"<Y>", "2", "3"}},
      {"insert behind the reader", 3, insert(1, "B"), {"<Y>", "2", "3"}},
      {"insert ahead of the reader", 3, insert(5, "C"), {"<Y>", "2", "<C>", "3"}},
      {"insert at the reader's place", 2, insert(2, "W"), {"<W>", "<X>", "<Y>", "2", "3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenRead(path);
    // The header of the last record read before the change stays pending.
    for (int i = 0; i + 1 < c.read_before; ++i) Next();
    LogBlockHeader h;
    LONG eof = 0;
    ASSERT_EQ(NextHeader(log_.get(), &h, &eof), S_OK);
    c.change();
    EXPECT_EQ(Sequence(), c.rest);
    // Close writes the change back; restore the files for the next case.
    ASSERT_EQ(log_->Close(), S_OK);
    make();
  }
}

TEST_F(BookmarkTest, CommentLengthsCountTheBytesHeldSoNoCharacterIsCut) {
  const std::string path = WriteLog("text.log", 1, true);
  const std::string wide = "gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC";  // "grüße €"
  ASSERT_EQ(log_->InsertBookmark(0, Bstr("AB").get()), S_OK);
  ASSERT_EQ(log_->InsertBookmark(2, Bstr(wide).get()), S_OK);
  ASSERT_EQ(log_->Close(), S_OK);

  // Single-byte text is stored as ever: length 2, then the two bytes.
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
  ASSERT_EQ(log_->Close(), S_OK);
#ifdef _WIN32
  (void)held;  // the ANSI code page may not hold these characters
#else
  EXPECT_EQ(held, wide);
  EXPECT_EQ(records[2].header.dwDataLength, wide.size());
  EXPECT_EQ(std::string(records[2].data.begin(), records[2].data.end()), wide);
#endif
}

}  // namespace
}  // namespace corvane::test
