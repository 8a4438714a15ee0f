// IndexBuilder: the indexing thread of a LogFile2 object. It reads the log
// through a LogFileStream of its own (read access, sharing read), counts its
// messages (index_pass.h) and writes an index file through an
// IndexFileStream of its own:
//
//   - no complete index in use: the index file beside the log ("x.idx"),
//     which the object already has open for Jump during the pass;
//   - a complete index in use: the rebuild file ("~x.idx"), which replaces
//     the index file once complete.
//
// Records go through the target's disk buffer, at least kMinIndexBuffer
// bytes whatever "Disk Buffer Size" says, so that the index reaches the
// file in pieces rather than one write per record.
//
// Threads and locks. Run is the body of the thread; one builder per thread.
// Without any lock it writes the object's indexing progress and indexed
// message count (published per chunk or record), reads the stop flag, and
// clears the requested resolution when stopped. Under the object lock, and
// only there, it publishes a completed first pass (index-complete flag,
// total message count with the bookmarks, the object's index stream) and
// installs a rebuilt index (closes the object's index stream, replaces the
// file, opens it again). The object joins the thread without holding its
// lock, so this can always finish.
//
// Failures are reported in message boxes (platform::ShowMessageBox), since
// no caller waits for the thread: a full disk asks Retry or Cancel, any
// other system error shows its text. A box nobody answers counts as Cancel,
// and no retry is made once the stop flag is set, so the thread never spins.
#ifndef CORVANE_LOGFILE2_INDEX_BUILDER_H_
#define CORVANE_LOGFILE2_INDEX_BUILDER_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <string>

#include "logfile2/index_pass.h"
#include "platform/status.h"
#include "stream/index_file_stream.h"
#include "stream/log_file_stream.h"

namespace corvane::logfile2 {

class LogFile2Object;

// What CreateIndex hands to the thread (taken under the object lock).
inline constexpr uint32_t kMinIndexBuffer = 64 * 1024;

struct IndexJob {
  std::string log_path;
  EnumFileVersion log_version = FileVersionUnknown;  // chooses the index's byte order
  int64_t resolution = 0;
  bool rebuild = false;  // a complete index is in use
};

// The index file of a log, and the file a complete index is rebuilt in.
std::string IndexPathOf(const std::string& log_path);
std::string RebuildPathOf(const std::string& log_path);

class IndexBuilder final : private MessageSink {
 public:
  IndexBuilder(LogFile2Object& owner, IndexJob job);
  IndexBuilder(const IndexBuilder&) = delete;
  IndexBuilder& operator=(const IndexBuilder&) = delete;

  void Run();

 private:
  bool Record(const stream::IndexRecord& record) override;
  bool Checkpoint(int64_t counted, int64_t progress) override;

  bool OpenTarget();
  bool OpenLog();
  Status WriteRecord(const stream::IndexRecord& record);
  // Flushes the target and writes its record count; false after a failure
  // that was reported.
  bool FinishTarget();
  void PublishFirstPass();
  void InstallRebuild();
  // Under the object lock: the rebuilt file could not be put in place.
  void AbandonInstallation();
  // Closes both files and deletes the target.
  void Discard();
  void Stopped();
  // Whether a failed write is to be repeated (a full disk and the answer
  // Retry); any other error has been shown.
  bool RetryAfter(Status st);
  bool stop_requested() const;

  LogFile2Object& owner_;
  const IndexJob job_;
  const std::string index_path_;
  const std::string target_path_;
  stream::LogFileStream log_;
  stream::IndexFileStream target_;
  PassCounts counts_;
};

}  // namespace corvane::logfile2

#endif  // CORVANE_LOGFILE2_INDEX_BUILDER_H_
