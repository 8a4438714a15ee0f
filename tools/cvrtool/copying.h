// Copies records into a LogWriter as convert does: ids, connections, stamps
// and bookmarks as read, and the messages that came out of one bulk block
// back into one bulk block (laid out for the writer's generation).
#ifndef CVRTOOL_COPYING_H_
#define CVRTOOL_COPYING_H_

#include <cstdint>
#include <string>
#include <vector>

#include "args.h"

#include "log_reader.h"
#include "log_writer.h"

namespace cvrtool {

// IN and OUT must not be one file, nor share the index and bookmark files
// that lie beside a log under its name without extension.
void CheckDistinct(const std::string& in, const std::string& out);
// --to F as a generation LogFile2 writes; `fallback` when absent.
EnumFileVersion VersionOption(const Args& args, EnumFileVersion fallback);

class RecordCopier {
 public:
  // `regroup` false: every message of a bulk block becomes a block of its own.
  RecordCopier(LogWriter* out, bool regroup) : out_(out), regroup_(regroup) {}
  // Takes the record's data. Records of different `group`s (merge: the
  // input they came from) never share a bulk block.
  void Add(Record& r, int group = 0);
  // Writes the bulk block being gathered; before switching writers.
  void Flush();
  void SetWriter(LogWriter* out) {
    Flush();
    out_ = out;
  }
  int64_t bulk_blocks() const { return bulk_blocks_; }

 private:
  LogWriter* out_;
  bool regroup_;
  std::vector<std::vector<uint8_t>> messages_;
  uint8_t mode_ = 0;
  uint64_t stamp_ = 0;
  int group_ = 0;
  int64_t bulk_blocks_ = 0;
};

}  // namespace cvrtool

#endif  // CVRTOOL_COPYING_H_
