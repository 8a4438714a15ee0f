// Reads a log record by record in message-number order, through LogFile2
// (every generation it opens), falling back to LogFile for a file that
// LogFile2 refuses.
//
// Besides what the interfaces hand out, the reader works out two things a
// record does not say about itself:
//  - whether it is a bookmark: its message number is one of the numbers that
//    GetBookmarkBlockNumber gives for the log's bookmarks;
//  - whether it came out of a bulk block. LogFile2 returns the messages of a
//    bulk block as single CVR_ID_QUIVOX_MSG records; their data follow each
//    other without a gap in the file, while every block starts behind a
//    block header (and a bulk block's first message also behind its 4-byte
//    count). Comparing GetFilePointerPos after each header with the end of
//    the previous record's data tells the three apart, for the generations
//    whose blocks carry headers. Any record other than a CVR_ID_QUIVOX_MSG
//    on connection 0xFF is a block of its own.
#ifndef CVRTOOL_LOG_READER_H_
#define CVRTOOL_LOG_READER_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <string>
#include <vector>

#include "com.h"

namespace cvrtool {

enum class BulkRole {
  kUnknown,  // a message without earlier position to compare with (after a
             // jump), or a format without block headers
  kNone,     // a block of its own
  kFirst,    // first message of a bulk block
  kNext,     // a further message of the same bulk block
};

struct Record {
  int64_t number = 0;  // message number: position in reading order, bookmarks counted
  LogBlockHeader header{};
  std::vector<uint8_t> data;  // filled when the caller asked for data
  bool is_bookmark = false;
  int64_t offset = -1;  // file position of the record's data; -1 for bookmarks
  BulkRole bulk = BulkRole::kUnknown;
};

class LogReader {
 public:
  // Opens `path` for reading; throws LibraryError with LogFile2's failure
  // when neither object opens it.
  explicit LogReader(const std::string& path);
  LogReader(const LogReader&) = delete;
  LogReader& operator=(const LogReader&) = delete;
  // Releases the object without Close: a reading command leaves the
  // bookmark file as it found it. Call Close() to store bookmark changes.
  ~LogReader() = default;

  const std::string& path() const { return path_; }
  int version() const { return version_; }
  // The LogFile2 object; null when the log was opened through LogFile.
  ILogFile2* log2() const { return log2_.get(); }
  const char* object_name() const { return log2_ ? "LogFile2" : "LogFile"; }

  int64_t FileSize();
  int64_t Position();

  // Reads the next record (and its data when `with_data`); false at the end
  // of the log. Throws LibraryError when the library reports damage.
  bool Next(Record* record, bool with_data);
  // Positions on message number `number` (LogFile2 only).
  void Jump(int64_t number);
  // Message number of the record that Next returns next.
  int64_t next_number() const { return number_; }
  // Start of the bytes not read yet: the end of the last record's data, or
  // -1 when unknown (after a jump, formats without block headers).
  int64_t read_end() const { return prev_end_; }

  // After Next returned false: a description of the bytes left behind the
  // last complete record (a block header cut short reads as the end of the
  // log), or "" when the log ends cleanly or that cannot be told.
  std::string TrailingDamage();

  // Bookmarks by list position: their message numbers (ascending).
  const std::vector<int64_t>& bookmark_numbers() const { return bookmark_numbers_; }
  void RefreshBookmarks();

  // Close with its result checked: stores the bookmarks beside the log.
  void Close();

 private:
  std::string path_;
  int version_ = 0;
  ComPtr<ILogFile2> log2_;
  ComPtr<ILogFile> log1_;
  int64_t number_ = 0;
  int64_t prev_end_ = -1;
  size_t next_bookmark_ = 0;  // index into bookmark_numbers_ for the next record
  std::vector<int64_t> bookmark_numbers_;
  bool closed_ = false;
};

}  // namespace cvrtool

#endif  // CVRTOOL_LOG_READER_H_
