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
// It reaches its object only through IndexHost. Without any lock it writes
// the indexing progress and indexed message count (published per chunk or
// record), reads the stop flag, and clears the requested resolution when
// stopped. The host takes its object lock for the three calls that change
// the object's index: publishing a completed first pass (index-complete
// flag, total message count with the bookmarks, the object's index stream),
// and, around the replacement of the index file by a rebuilt one, letting
// go of the index stream and installing the new file. The questions asked
// while the file is replaced come between those calls, so calls on the
// object go on while a box waits for its answer (a Jump then reads forward
// from the start of the log). The object joins the thread without holding
// its lock, so all this can always finish.
//
// Failures are reported in message boxes (platform::ShowMessageBox), since
// no caller waits for the thread: a full disk asks Retry or Cancel, any
// other system error shows its text. A box nobody answers counts as Cancel,
// and no retry is made once the stop flag is set, so the thread never spins.
#ifndef CORVANE_LOGFILE2_INDEX_BUILDER_H_
#define CORVANE_LOGFILE2_INDEX_BUILDER_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <memory>
#include <string>

#include "logfile2/index_pass.h"
#include "platform/status.h"
#include "stream/index_file_stream.h"
#include "stream/log_file_stream.h"

namespace corvane::logfile2 {

// What CreateIndex hands to the thread (taken under the object lock).
inline constexpr uint32_t kMinIndexBuffer = 64 * 1024;
// The largest piece each thread of a split pass reads at a time.
inline constexpr uint32_t kMaxSplitPiece = 1u << 20;

struct IndexJob {
  std::string log_path;
  EnumFileVersion log_version = FileVersionUnknown;  // chooses the index's byte order
  int64_t resolution = 0;
  bool rebuild = false;  // a complete index is in use
};

// The index file of a log, and the file a complete index is rebuilt in.
std::string IndexPathOf(const std::string& log_path);
std::string RebuildPathOf(const std::string& log_path);

// What the indexing thread may see and change of its object.
class IndexHost {
 public:
  virtual bool StopRequested() const = 0;
  // Published without a lock: the messages counted so far, and the log
  // position the pass has reached.
  virtual void SetIndexed(int64_t messages) = 0;
  virtual void SetProgress(int64_t position) = 0;
  // A stopped pass: no progress and no resolution requested any more.
  virtual void ForgetRequest() = 0;
  // Under the object lock: the first pass over the log is complete, with
  // `messages` messages, in the file `index_path`. Fails when the object
  // cannot open that file (the pass then reports it).
  virtual Status PublishFirstPass(const std::string& index_path, int64_t messages) = 0;
  // Under the object lock: the object's index stream lets go of its file,
  // which is about to be replaced.
  virtual void ReleaseIndex() = 0;
  // Under the object lock: opens `index_path` as the object's index again,
  // the rebuilt file (`rebuilt`) or the old one after a failed replacement;
  // without a usable file the object has no complete index any more, and
  // the failure to open it is returned for the pass to report.
  virtual Status InstallIndex(const std::string& index_path, bool rebuilt) = 0;

 protected:
  ~IndexHost() = default;
};

class IndexBuilder final : private MessageSink {
 public:
  IndexBuilder(IndexHost& host, IndexJob job);
  IndexBuilder(const IndexBuilder&) = delete;
  IndexBuilder& operator=(const IndexBuilder&) = delete;

  void Run();

 private:
  bool Record(const stream::IndexRecord& record) override;
  bool Checkpoint(int64_t counted, int64_t progress) override;

  bool OpenTarget();
  bool OpenLog();
  // Two more handles of the log for a pass on two threads, where the pass
  // can split its reading; null otherwise or when they cannot be opened
  // (the pass then reads through the stream).
  std::unique_ptr<SplitReading> SplitLogReading();
  // Flushes the target and writes its record count; false after a failure
  // that was reported.
  bool FinishTarget();
  // Puts the rebuilt file in the index file's place and installs it.
  void InstallRebuild();
  // Removes the index file and renames the rebuilt one to it, asking Retry
  // or Cancel after each failure; false when cancelled or stopped.
  bool ReplaceIndexFile();
  // Asks "Indexing Error" Retry or Cancel; false for Cancel and whenever
  // the stop flag is set, before or after the answer.
  bool AskRetryUnlessStopped(const std::string& text);
  // Closes both files and deletes the target.
  void Discard();
  void Stopped();
  // Whether a failed write is to be repeated (a full disk and the answer
  // Retry); any other error has been shown.
  bool RetryAfter(Status st);
  bool stop_requested() const { return host_.StopRequested(); }

  IndexHost& host_;
  const IndexJob job_;
  const std::string index_path_;
  const std::string target_path_;
  stream::LogFileStream log_;
  stream::IndexFileStream target_;
  PassCounts counts_;
};

}  // namespace corvane::logfile2

#endif  // CORVANE_LOGFILE2_INDEX_BUILDER_H_
