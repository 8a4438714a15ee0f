// IndexFileStream: the stream of an index file (versions 10 and 11; see
// index_format.h for the fields behind the header).
//
// Which file: a path containing "~" (the rebuild file) is used as given;
// any other path keeps its directory and base name and takes the extension
// "idx". Version 11 (big-endian fields) serves logs of version 9, version 10
// all others.
//
// Threads: as LogFileStream; the indexing thread and the LogFile2 object
// each use their own instance.
#ifndef CORVANE_STREAM_INDEX_FILE_STREAM_H_
#define CORVANE_STREAM_INDEX_FILE_STREAM_H_

#include <cstdint>
#include <string>

#include "platform/byte_order.h"
#include "stream/index_format.h"
#include "stream/log_file_stream.h"

namespace corvane::stream {

class IndexFileStream : public LogFileStream {
 public:
  // Index records are read one at a time at random places: a page each.
  IndexFileStream() { file().set_first_fill(4096); }
  ~IndexFileStream() override = default;

  // The index file's path for a log (or index) path.
  static std::string IndexPathFor(const std::string& path);

  // Opens the index file of `path`. With write access, or kOpenAlways or
  // kTruncateExisting, the stream's version becomes 11 for a log of version
  // 9 (or 11) and 10 otherwise. With kOpenExisting the resolution and record
  // count are read from the file; a file that is no index of sub-version 1
  // or later (an outdated or foreign file) fails with kErrFileNotFound, like
  // a missing one, so that the caller rebuilds it (the file stays open).
  // Any other disposition starts a new index: `resolution` and a count of 0
  // are written behind the header through the disk buffer.
  Status OpenIndex(const std::string& path, const platform::OpenOptions& options,
                   int log_version, uint64_t resolution, uint32_t* last_error = nullptr);

  // Reads the record for `message_number`: record k = message_number /
  // resolution describes message k x resolution and lies at header + 16 +
  // 24 (k - 1). Fails with kErrInvalidParameter while the resolution is 0 or
  // for a message number below it (there is no record 0 before the first
  // multiple), and with kErrHandleEof when the record is not (yet) complete
  // in the file; *record is zeroed then.
  Status ReadIndexRecord(uint64_t message_number, IndexRecord* record);
  // Appends a record through the disk buffer (the indexing pass).
  Status WriteIndexRecord(const IndexRecord& record);
  // Writes the indexed record count field with one unbuffered write; the
  // file pointer is left behind the field.
  Status WriteRecordCount(uint64_t count);
  Status DeleteIndexFile();

  const std::string& path() const { return path_; }
  uint64_t resolution() const { return resolution_; }
  uint64_t record_count() const { return record_count_; }
  ByteOrder field_order() const {
    return version() == FileVersionIDX_Vu102 ? ByteOrder::kBig : ByteOrder::kLittle;
  }

 private:
  // A header field as the file holds it now (another handle may have
  // rewritten it), 0 in a file too short to hold it; a failed read fails.
  // The file pointer is kept.
  Status ReadField(uint32_t offset, uint64_t* value);

  std::string path_;
  uint64_t resolution_ = 0;
  uint64_t record_count_ = 0;
};

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_INDEX_FILE_STREAM_H_
