// Writes a log through LogFile2: ordinary blocks, bulk blocks and bookmark
// blocks, in any generation that LogFile2 writes.
//
// Message layout (inside bulk blocks and in CVR_ID_QUIVOX_MSG blocks):
//
//   +-------+----------+--------+----------+----------------+-----------+
//   | media | receiver | sender | resource | payload length | payload   |
//   | 1     | 1        | 1      | 1        | 2, big-endian  | length    |
//   +-------+----------+--------+----------+----------------+-----------+
//
// Inside a bulk block each message occupies a multiple of 4 bytes (zero
// padding) except in generations 7 and 8, where messages follow each other
// without padding; readers rely on that to find the next message head.
#ifndef CVRTOOL_LOG_WRITER_H_
#define CVRTOOL_LOG_WRITER_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <string>
#include <vector>

#include "com.h"

namespace cvrtool {

constexpr size_t kMessageHeadLength = 6;

// Head and payload as one message.
std::vector<uint8_t> MakeMessage(uint8_t media, uint8_t receiver, uint8_t sender,
                                 uint8_t resource, const std::vector<uint8_t>& payload);
// The length a message's head announces (head included), bounded by `size`.
size_t MessageLength(const uint8_t* data, size_t size);

class LogWriter {
 public:
  // Creates `path` (replacing it and its index and bookmark files).
  LogWriter(const std::string& path, EnumFileVersion version);
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  EnumFileVersion version() const { return version_; }

  void Write(uint16_t id, uint8_t conn, uint8_t mode, uint64_t stamp, const uint8_t* data,
             uint32_t size);
  // One CVR_ID_MULTI_QUIVOX_MSG block of `messages` (each head and payload;
  // padding beyond the announced length is dropped and laid out again for
  // this generation).
  void WriteBulk(uint8_t conn, uint8_t mode, uint64_t stamp,
                 const std::vector<std::vector<uint8_t>>& messages);
  // A CVR_ID_BOOKMARK block: a bookmark before the next message written.
  void WriteBookmark(const std::string& comment);
  // Writes out the buffer and stores the bookmarks; checked.
  void Close();

  int64_t messages() const { return messages_; }
  int64_t blocks() const { return blocks_; }
  int64_t bookmarks() const { return bookmarks_; }
  int64_t FileSize();

 private:
  std::string path_;
  EnumFileVersion version_;
  ComPtr<ILogFile2> log_;
  int64_t messages_ = 0, blocks_ = 0, bookmarks_ = 0;
};

}  // namespace cvrtool

#endif  // CVRTOOL_LOG_WRITER_H_
