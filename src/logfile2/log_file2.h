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
// Threads: objects may be called from any thread. One re-entrant object
// lock (`lock_`) guards the streams, the bookmark store, the reader, the
// time base and the file name. The pointer and open checks come before it,
// so `open_` is atomic. The counters that the indexing thread shares with
// the methods (progress, indexed and total message counts, the
// index-complete and stop flags, the resolution) are atomics read without
// the lock; every read-modify-write of them runs under the object lock
// (the indexing thread's own counters have no other writer while it runs).
//
// The indexing thread (index_builder.h) is started by CreateIndex and
// stopped (stop flag, then join) by CreateIndex, Close and the destructor,
// which hold `indexing_control_` for that but never the object lock, so
// that the thread can always finish: it takes the object lock itself, only
// to publish a completed first pass and to install a rebuilt index.
// Lock order: `indexing_control_` before `lock_`.
#ifndef CORVANE_LOGFILE2_LOG_FILE2_H_
#define CORVANE_LOGFILE2_LOG_FILE2_H_

#include <corvane/corvane.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "frame/com_object.h"
#include "logfile2/block_reader.h"
#include "logfile2/bookmark_store.h"
#include "platform/sync.h"
#include "stream/index_file_stream.h"
#include "stream/log_file_stream.h"
#include "stream/time_base.h"

namespace corvane::logfile2 {

class LogFile2Object final : public frame::ComObject<ILogFile2> {
 public:
  explicit LogFile2Object(IUnknown* outer);
  ~LogFile2Object() override;

  HRESULT STDMETHODCALLTYPE Open(BSTR bstrFileName, EnumFileAccessMode FileAccessMode,
                                 EnumFileVersion* pFileFormat, LONG bFullFlush) override;
  HRESULT STDMETHODCALLTYPE GetFilePointerPos(LONGLONG* pi64FilePointerPos) override;
  HRESULT STDMETHODCALLTYPE GetFileSize(LONGLONG* pi64FileSize) override;
  HRESULT STDMETHODCALLTYPE ReadBlockHeader(BYTE* pbyStructBlockHeader, ULONG dwBlockHeaderLength,
                                            ULONG* pdwNumberOfBytesReturned,
                                            LONG* bEndOfFile) override;
  HRESULT STDMETHODCALLTYPE ReadBlockData(BYTE* pbyData, ULONG dwDataLength) override;
  HRESULT STDMETHODCALLTYPE Close() override;
  HRESULT STDMETHODCALLTYPE WriteBlock(BYTE* pStructBlockHeader, ULONG dwHeaderLength,
                                       BYTE* pbyData, ULONG dwDataLength,
                                       ULONG dwBulkBlockMsgCount) override;
  HRESULT STDMETHODCALLTYPE InsertBookmark(LONGLONG i64MsgNo, BSTR bstrComment) override;
  HRESULT STDMETHODCALLTYPE Jump(LONGLONG i64MsgNo) override;
  HRESULT STDMETHODCALLTYPE GetIndexedRecCount(LONGLONG* pi64RecCount) override;
  HRESULT STDMETHODCALLTYPE CreateIndex(LONGLONG i64IndexRes) override;
  HRESULT STDMETHODCALLTYPE GetDiskSectorSize(ULONG* dwBytesPerSector) override;
  HRESULT STDMETHODCALLTYPE GetIndexingProgress(LONGLONG* pi64FilePointerPos) override;
  HRESULT STDMETHODCALLTYPE GetBookmarkCount(LONGLONG* pi64BookmarkCount) override;
  HRESULT STDMETHODCALLTYPE BookmarkRead(BSTR* bstrComment) override;
  HRESULT STDMETHODCALLTYPE BookmarkDelete() override;
  HRESULT STDMETHODCALLTYPE BookmarkJump(LONGLONG i64BookmarkNo) override;
  HRESULT STDMETHODCALLTYPE BookmarkEdit(BSTR bstrComment) override;
  HRESULT STDMETHODCALLTYPE GetBookmarkBlockNumber(LONGLONG i64BookmarkNumber,
                                                   LONGLONG* pi64BookmarkBlockNumber) override;
  HRESULT STDMETHODCALLTYPE SetDiskBufferSize(ULONG dwDiskBufferSize) override;
  HRESULT STDMETHODCALLTYPE FlushLogfile() override;
  HRESULT STDMETHODCALLTYPE GetIndexResolution(LONGLONG* i64IndexRes) override;
  HRESULT STDMETHODCALLTYPE GetDiskBufferSize(ULONG* pdwDiskBufferSize) override;
  HRESULT STDMETHODCALLTYPE GetBookmarkIndexNumber(LONGLONG i64MsgNumber,
                                                   LONGLONG* pi64BookmarkNumber) override;

 private:
  // Open after the checks of its arguments and modes, under the lock.
  // Returns the code to report with "File creation failed"; on failure
  // nothing stays open and a log file created by this call is deleted.
  HRESULT OpenLog(EnumFileAccessMode mode, EnumFileVersion* pFileFormat, bool full_flush);
  // The companion-file rules of the two write modes; S_OK or a raised error.
  HRESULT ClearCompanionsForCreateNew();
  HRESULT ClearCompanionsForCreateAlways();
  // Loads the bookmarks and opens a complete index of a log opened for
  // reading; sets the counts.
  void OpenCompanionsForReading();
  // Every counter, flag and the read state back to zero (at Open).
  void ResetState();
  // Stops a running indexing thread and waits for it (without the object
  // lock; the caller holds `indexing_control_`).
  void StopIndexing();
  // Reads the index record at or before log message `target` and stands the
  // reader there (Jump); the message number becomes the record's.
  ReadResult PositionAtIndexEntry(int64_t target);

  // The reader's bookmark cursor as a list position (size() at the end),
  // and setting it to one.
  size_t ReaderCursor() const;
  void SetReaderCursor(size_t position);
  // Changes the total message count. Every writer of the count holds the
  // object lock (the indexing thread too, when it publishes a completed
  // pass), so a plain load and store suffice (no locked read-modify-write
  // on the recording path); readers without the lock see either value.
  void AddMessages(int64_t n) {
    total_messages_.store(total_messages_.load(std::memory_order_relaxed) + n,
                          std::memory_order_relaxed);
  }
  // A comment for the store: its 8-bit form; false when not convertible.
  static bool CommentToNarrow(BSTR comment, std::string* out);

  platform::CriticalSection lock_;
  std::atomic<bool> open_{false};
  std::string path_;
  bool writing_ = false;
  stream::LogFileStream log_;
  stream::IndexFileStream index_;
  BookmarkStore bookmarks_;
  RecordReader reader_{log_, bookmarks_};
  stream::TimeBase time_base_;
  // The bookmark file could not be read at Open: it is not removed at Close
  // merely because no bookmark is known.
  bool bookmark_load_failed_ = false;

  // Shared with the indexing thread.
  friend class IndexBuilder;
  platform::CriticalSection indexing_control_;  // starting and joining the thread
  std::atomic<int64_t> requested_resolution_{0};
  std::atomic<int64_t> index_resolution_{0};
  std::atomic<int64_t> indexing_progress_{0};
  std::atomic<int64_t> total_messages_{0};
  std::atomic<int64_t> indexed_messages_{0};
  std::atomic<bool> index_complete_{false};
  std::atomic<bool> stop_indexing_{false};
  platform::Thread indexing_thread_;
};

// Creation function for the object map (supports aggregation).
HRESULT CreateLogFile2(IUnknown* outer, REFIID iid, void** out);

}  // namespace corvane::logfile2

#endif  // CORVANE_LOGFILE2_LOG_FILE2_H_
