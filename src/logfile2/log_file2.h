// LogFile2: fast recording and viewing of large logs of generation 1.02
// (plain, enciphered, big-endian), e1.01 and the older formats it reads.
//
// The object owns the log stream (a write-behind disk buffer, the cipher of
// the enciphered generations), the index stream of a complete index file
// found at Open, the bookmark store (bookmarks in memory from Open to
// Close, kept in the "bmk" file beside the log) and the record reader.
// Destroying an open object closes its files without writing the disk
// buffer or the bookmarks.
//
// Only a log opened for writing takes blocks: WriteBlock on a log opened for
// reading fails at once, bookmark blocks included (InsertBookmark adds
// bookmarks to such a log).
//
// File names are held as 8-bit text of any length up to the platform's
// path limit; longer names are refused as a failed create.
//
// Threads: objects may be called from any thread. One object lock (`lock_`)
// guards the streams, the bookmark store, the reader, the time base and the
// file name; the members say so (GUARDED_BY), and a method that holds the
// lock calls helpers that require it (REQUIRES) rather than entering again,
// so that clang's thread-safety analysis checks every access. The pointer
// and open checks come before the lock, so `open_` is atomic. The counters
// that the indexing thread shares with the methods (progress, indexed and
// total message counts, the index-complete and stop flags, the resolution)
// are atomics read without the lock; every read-modify-write of them runs
// under the object lock (the indexing thread's own counters have no other
// writer while it runs).
//
// The indexing thread (index_builder.h) is started by CreateIndex and
// stopped (stop flag, then join) by CreateIndex, Close and the destructor,
// which hold `indexing_control_` for that but never the object lock, so
// that the thread can always finish. The thread reaches the object only
// through IndexHost, which the object implements: it takes the object lock
// only to publish a completed first pass and to let go of and install the
// index stream around a rebuild, and never while it shows a message box.
// Lock order: `indexing_control_` before `lock_`.
#ifndef CORVANE_LOGFILE2_LOG_FILE2_H_
#define CORVANE_LOGFILE2_LOG_FILE2_H_

#include <corvane/corvane.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/com_object.h"
#include "logfile2/block_reader.h"
#include "logfile2/bookmark_store.h"
#include "logfile2/index_builder.h"
#include "platform/sync.h"
#include "stream/index_file_stream.h"
#include "stream/log_file_stream.h"
#include "stream/time_base.h"

namespace corvane::logfile2 {

class LogFile2Object final : public frame::ComObject<ILogFile2>, private IndexHost {
 public:
  explicit LogFile2Object(IUnknown* outer);
  ~LogFile2Object() override EXCLUDES(lock_);

  HRESULT STDMETHODCALLTYPE Open(BSTR bstrFileName, EnumFileAccessMode FileAccessMode,
                                 EnumFileVersion* pFileFormat, LONG bFullFlush)
      override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetFilePointerPos(LONGLONG* pi64FilePointerPos)
      override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetFileSize(LONGLONG* pi64FileSize) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE ReadBlockHeader(BYTE* pbyStructBlockHeader, ULONG dwBlockHeaderLength,
                                            ULONG* pdwNumberOfBytesReturned,
                                            LONG* bEndOfFile) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE ReadBlockData(BYTE* pbyData, ULONG dwDataLength)
      override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE Close() override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE WriteBlock(BYTE* pStructBlockHeader, ULONG dwHeaderLength,
                                       BYTE* pbyData, ULONG dwDataLength,
                                       ULONG dwBulkBlockMsgCount) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE InsertBookmark(LONGLONG i64MsgNo, BSTR bstrComment)
      override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE Jump(LONGLONG i64MsgNo) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetIndexedRecCount(LONGLONG* pi64RecCount) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE CreateIndex(LONGLONG i64IndexRes) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetDiskSectorSize(ULONG* dwBytesPerSector) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetIndexingProgress(LONGLONG* pi64FilePointerPos)
      override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetBookmarkCount(LONGLONG* pi64BookmarkCount) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE BookmarkRead(BSTR* bstrComment) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE BookmarkDelete() override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE BookmarkJump(LONGLONG i64BookmarkNo) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE BookmarkEdit(BSTR bstrComment) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetBookmarkBlockNumber(LONGLONG i64BookmarkNumber,
                                                   LONGLONG* pi64BookmarkBlockNumber)
      override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE SetDiskBufferSize(ULONG dwDiskBufferSize) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE FlushLogfile() override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetIndexResolution(LONGLONG* i64IndexRes) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetDiskBufferSize(ULONG* pdwDiskBufferSize) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetBookmarkIndexNumber(LONGLONG i64MsgNumber,
                                                   LONGLONG* pi64BookmarkNumber)
      override EXCLUDES(lock_);

 private:
  // Open after the checks of its arguments and modes, under the lock.
  // Returns the code to report with "File creation failed"; on failure
  // nothing stays open and a log file created by this call is deleted.
  HRESULT OpenLog(EnumFileAccessMode mode, EnumFileVersion* pFileFormat, bool full_flush)
      REQUIRES(lock_);
  // The companion-file rules of the two write modes; S_OK or a raised error.
  HRESULT ClearCompanionsForCreateNew() REQUIRES(lock_);
  HRESULT MoveCompanionsAside() REQUIRES(lock_);
  // After the open proper of create-always: the companions moved aside are
  // removed once the log was replaced, else put back.
  void SettleCompanions(bool log_replaced) REQUIRES(lock_);
  // Loads the bookmarks and opens a complete index of a log opened for
  // reading; sets the counts. Fails (E_CVR_FILE_ALREADY_OPEN for a bookmark
  // file held elsewhere, else E_CVR_FILE_CREATION_FAILS) when a companion
  // exists but cannot be read; the caller then closes the log.
  HRESULT OpenCompanionsForReading() REQUIRES(lock_);
  // Every counter, flag and the read state back to zero (at Open).
  void ResetState() REQUIRES(lock_);
  // Stops a running indexing thread and waits for it (without the object
  // lock; the caller holds `indexing_control_`).
  void StopIndexing() REQUIRES(indexing_control_) EXCLUDES(lock_);
  // Reads the index record at or before log message `target` and stands the
  // reader there (Jump); the message number becomes the record's.
  Result PositionAtIndexEntry(int64_t target) REQUIRES(lock_);

  // The reader's bookmark cursor as a list position (size() at the end),
  // and setting it to one.
  size_t ReaderCursor() const REQUIRES(lock_);
  void SetReaderCursor(size_t position) REQUIRES(lock_);
  // Changes the total message count. Every writer of the count holds the
  // object lock (the indexing thread too, when it publishes a completed
  // pass), so a plain load and store suffice (no locked read-modify-write
  // on the recording path); readers without the lock see either value.
  void AddMessages(int64_t n) REQUIRES(lock_) {
    total_messages_.store(total_messages_.load(std::memory_order_relaxed) + n,
                          std::memory_order_relaxed);
  }
  // A comment for the store: its 8-bit form; false when not convertible.
  static bool CommentToNarrow(BSTR comment, std::string* out);

  // IndexHost, for the indexing thread.
  bool StopRequested() const override { return stop_indexing_.load(); }
  void SetIndexed(int64_t messages) override {
    indexed_messages_.store(messages, std::memory_order_relaxed);
  }
  void SetProgress(int64_t position) override {
    indexing_progress_.store(position, std::memory_order_relaxed);
  }
  void ForgetRequest() override;
  Status PublishFirstPass(const std::string& index_path, int64_t messages) override EXCLUDES(lock_);
  void ReleaseIndex() override EXCLUDES(lock_);
  Status InstallIndex(const std::string& index_path, bool rebuilt) override EXCLUDES(lock_);

  // Starting and joining the indexing thread.
  platform::CriticalSection indexing_control_ ACQUIRED_BEFORE(lock_);
  platform::CriticalSection lock_;
  std::atomic<bool> open_{false};
  std::string path_ GUARDED_BY(lock_);
  bool writing_ GUARDED_BY(lock_) = false;
  std::vector<std::string> moved_aside_ GUARDED_BY(lock_);  // companions, during Open
  stream::LogFileStream log_ GUARDED_BY(lock_);
  stream::IndexFileStream index_ GUARDED_BY(lock_);
  BookmarkStore bookmarks_ GUARDED_BY(lock_);
  RecordReader reader_ GUARDED_BY(lock_){log_, bookmarks_};
  stream::TimeBase time_base_ GUARDED_BY(lock_);
  // The bookmark file could not be read at Open: it is not removed at Close
  // merely because no bookmark is known.
  bool bookmark_load_failed_ GUARDED_BY(lock_) = false;

  // Shared with the indexing thread.
  std::atomic<int64_t> requested_resolution_{0};
  std::atomic<int64_t> index_resolution_{0};
  std::atomic<int64_t> indexing_progress_{0};
  std::atomic<int64_t> total_messages_{0};
  std::atomic<int64_t> indexed_messages_{0};
  std::atomic<bool> index_complete_{false};
  std::atomic<bool> stop_indexing_{false};
  platform::Thread indexing_thread_ GUARDED_BY(indexing_control_);
};

// Creation function for the object map (supports aggregation).
HRESULT CreateLogFile2(IUnknown* outer, REFIID iid, void** out);

}  // namespace corvane::logfile2

#endif  // CORVANE_LOGFILE2_LOG_FILE2_H_
