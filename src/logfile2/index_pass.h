// The indexing pass: walks a log from its first block to its end and hands
// every log message, in file order, to a MessageSink together with the
// index record that would describe it.
//
// Log message numbers count what the record reader delivers: an ordinary
// block is one message, a bulk block as many as its count says, a raw
// record one. The records carry the positions the reader works with, so
// that Jump can seek to them:
//
//   ordinary block:  message position = its data, block position = its header
//   bulk message:    message position = its head, block position = the
//                    bulk block's header, to block end = messages left,
//                    this one included
//   raw record:      both positions = the start of the record
//
// Generations with block headers (16 bytes: 1, 7, 8, 9; 12 bytes: 2, 3) are
// walked in chunks without interpreting data: the stream's read buffer, or
// for plain logs pieces that two threads read and walk in turns, so that
// the system's copying runs beside the walk;
// bulk messages occupy 6 + payload bytes in 7 and 8 and that size rounded
// up to a multiple of 4 elsewhere, as the reader has it. Raw-record and
// hex-text logs (4, 5, 6) are walked record by record through a
// RecordReader of the pass's own, so that their positions (text offsets
// for hex text) are exactly those the reader seeks to and reports.
//
// Threads: runs on the indexing thread (and a second one of its own for a
// split pass), on streams of its own; touches nothing shared except
// through the sink.
#ifndef CORVANE_LOGFILE2_INDEX_PASS_H_
#define CORVANE_LOGFILE2_INDEX_PASS_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <memory>

#include "platform/file.h"
#include "stream/index_format.h"
#include "stream/log_file_stream.h"

namespace corvane::logfile2 {

// Where the pass delivers its results (the indexing thread's target file
// and the object's counters).
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // The record of a message whose number is a positive multiple of the
  // resolution. False ends the pass (it could not be written).
  virtual bool Record(const stream::IndexRecord& record) = 0;
  // Called between chunks or records with the messages counted so far and
  // the log position behind the last of them; true when the pass is to
  // stop.
  virtual bool Checkpoint(int64_t counted, int64_t progress) = 0;
};

enum class PassResult {
  kEnded,       // the end of the log, or a record the reader would refuse
  kStopped,     // the sink asked to stop
  kSinkFailed,  // the sink refused a record
  kReadFailed,  // the log could not be read
};

// What a pass counted: messages, and the log position behind the last.
struct PassCounts {
  int64_t counted = 0;
  int64_t progress = 0;
};

// Two more handles of a plain log for a pass on two threads, and the size
// of the pieces each thread reads at a time.
struct SplitReading {
  std::unique_ptr<platform::File> files[2];
  uint32_t piece_size = 0;
};

// Whether the pass over `log` can read the file itself, on two threads: a
// plain log with block headers, whose bytes are the file's.
bool CanSplitReading(stream::LogFileStream& log);

// Walks `log` (open for reading, standing at its first block) by its
// generation, applying the counting rule with `resolution` (1 or more):
// before the message whose number is a multiple of it (from resolution on)
// the sink gets that message's record. A generation without messages the
// library can number ends at once. *counts holds the final counts, also
// after a stop or failure.
//
// The bytes come through the stream in chunks of its read buffer or, with
// `split` (CanSplitReading; pieces of at least 26 bytes), through its
// handles on two threads, which take turns to walk; the sink is then called
// from both, never at once. The pass ends with the first chunk or piece
// that is short, as at the end of the file.
PassResult RunIndexPass(stream::LogFileStream& log, EnumFileVersion version, int64_t resolution,
                        MessageSink& sink, PassCounts* counts, SplitReading* split = nullptr);

}  // namespace corvane::logfile2

#endif  // CORVANE_LOGFILE2_INDEX_PASS_H_
