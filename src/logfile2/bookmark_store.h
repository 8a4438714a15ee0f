// BookmarkStore: the bookmarks of one log, in memory while the log is open,
// and the bookmark file beside the log ("bmk") that keeps them from one
// opening to the next.
//
// Numbering. Bookmarks are kept in message-number order. A bookmark stores
// the log message number before which it stands; the bookmark at list
// position i (0-based) has message number log_message_number + i. Among
// bookmarks with the same log message number the list order is the order of
// their message numbers.
//
// Two cursors walk the list, both may stand at its end:
//   - the current bookmark: BookmarkRead/Edit/Delete, set by BookmarkJump;
//   - the next bookmark to deliver: the reader's cursor (the first bookmark
//     not yet returned in reading order), set by PositionReader, Insert and
//     Load, moved by AdvanceReader.
// Deleting the bookmark a cursor stands on moves that cursor to the bookmark
// that followed; inserting or deleting before a cursor keeps it on the same
// bookmark. Editing keeps the bookmark in its place: the current bookmark
// moves on (BookmarkEdit), while the reader's cursor stays on it, so that a
// bookmark not yet delivered is delivered with its new comment rather than
// skipped. A reader that has returned a bookmark's header and is about to
// move past it should compare NextToDeliver() with Current() before a
// DeleteCurrent: after the delete its cursor already stands on the follower.
//
// Comments are held as 8-bit text (the system code page: UTF-8 on Linux).
// A bookmark's length is the number of comment bytes stored and delivered;
// comment bytes beyond the held text (a length larger than the text, as a
// bookmark block or a damaged file may give) are delivered as zero bytes,
// never read from elsewhere.
//
// Thread safety: none. The owner serialises calls (the reader runs under the
// object lock; the bookmark methods take no lock, as callers that change
// bookmarks while another thread reads serialise themselves).
#ifndef CORVANE_LOGFILE2_BOOKMARK_STORE_H_
#define CORVANE_LOGFILE2_BOOKMARK_STORE_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "platform/status.h"
#include "stream/log_file_stream.h"

namespace corvane::logfile2 {

struct Bookmark {
  int64_t log_message_number = 0;
  uint32_t length = 0;
  std::string comment;

  // Exactly `length` bytes: the comment, zero-padded or cut to the length.
  std::string DeliveredBytes() const;
  // The first min(length, capacity) of those bytes into `dst`, without
  // building them in memory first; returns how many were copied.
  uint32_t CopyDelivered(uint8_t* dst, uint32_t capacity) const;
};

class BookmarkStore {
 public:
  enum class LoadResult {
    kLoaded,    // the file existed and every record it announced was read
    kNotFound,    // there is no bookmark file (the list is untouched)
    kFailed,      // it is damaged; the records before the damage stay in the list
    kUnreadable,  // it exists but could not be opened or read (held, denied, an I/O error)
  };
  enum class IndexResult { kFound, kNotABookmark, kBeyondLastBookmark };

  BookmarkStore();
  ~BookmarkStore();
  BookmarkStore(const BookmarkStore&) = delete;
  BookmarkStore& operator=(const BookmarkStore&) = delete;

  size_t size() const { return list_.size(); }
  bool empty() const { return list_.empty(); }
  // True when the list differs from the one last loaded or saved (or, for a
  // new list, holds anything added since Clear).
  bool changed() const { return changed_; }
  const std::vector<Bookmark>& list() const { return list_; }
  // Empties the list; both cursors stand at the (empty) end.
  void Clear();

  // ---- Reading order (the reader and Jump) ----
  // Sets the reader's cursor on the first bookmark whose message number is
  // `message_number` or more (or the end) and returns the number of
  // bookmarks before it.
  int64_t PositionReader(int64_t message_number);
  // The next bookmark to deliver, or null at the end.
  const Bookmark* NextToDeliver() const {
    return reader_ < list_.size() ? &list_[reader_] : nullptr;
  }
  void AdvanceReader();

  // ---- Changes ----
  // Inserts a bookmark with message number `message_number` (>= 0) before
  // the bookmark that has it now; that one and all later ones move up by
  // one. The reader's cursor is positioned as by PositionReader and stays on
  // the bookmark it stopped at.
  void Insert(int64_t message_number, uint32_t length, std::string comment);
  // Appends at the end (bookmark blocks while recording); no cursor moves.
  void Append(int64_t log_message_number, uint32_t length, std::string comment);

  // ---- The current bookmark ----
  // Makes the bookmark at `bookmark_number` current. False, with the cursor
  // at the end, when there is none; position 0 of an empty list succeeds.
  bool Select(int64_t bookmark_number);
  // The current bookmark, or null at the end.
  const Bookmark* Current() const;
  // Moves the current bookmark on (after BookmarkRead).
  void AdvanceCurrent();
  // Removes the current bookmark; the one that followed becomes current.
  // False at the end.
  bool DeleteCurrent();
  // Replaces the current bookmark's comment and length, keeping its place
  // and log message number; the one that followed becomes current. False at
  // the end.
  bool EditCurrent(uint32_t length, std::string comment);

  // ---- Lookups ----
  // Message number of the bookmark at list position `position` (< size()):
  // its log message number plus the position. A damaged bookmark file may
  // store numbers close to the 64-bit limit; a sum beyond it saturates at
  // INT64_MAX instead of overflowing, so that bookmark is never reached.
  int64_t MessageNumberAt(size_t position) const;
  // Message number of the bookmark at `bookmark_number`; false when none.
  bool MessageNumberOf(int64_t bookmark_number, int64_t* message_number) const;
  // List position of the bookmark with `message_number`.
  IndexResult BookmarkNumberOf(int64_t message_number, int64_t* bookmark_number) const;

  // ---- The bookmark file ----
  // The bookmark file's path for a log path: same directory and base name,
  // extension "bmk".
  static std::string PathFor(const std::string& log_path);
  // The bookmark file kind for a log generation (13 enciphered, 14
  // big-endian, else 12).
  static EnumFileVersion KindFor(EnumFileVersion log_version);

  // Loads the bookmark file of `log_path` (read access, sharing read). A file
  // that opens replaces the list, also when it turns out damaged (kFailed,
  // with the records read before the damage); the reader's cursor then
  // stands on the first bookmark. After every load the current bookmark
  // stands at the end of the list. The loader trusts no number in the file:
  // a comment length beyond the end of the file, a truncated record or a
  // file of another kind is damage, and nothing is allocated for a count.
  // A file that cannot be opened (other than a missing one) or whose read
  // fails is kUnreadable, never damage: saving over it would lose bookmarks
  // that are still on the disk. *error (may be null) receives the system
  // error of a failed open or read, kErrInvalidData for a damaged file, 0
  // on kLoaded.
  LoadResult Load(const std::string& log_path, uint32_t* error = nullptr);
  // Writes every bookmark to the bookmark file of `log_path` in the kind for
  // `log_version` (no sharing, replacing an existing file); each record
  // carries exactly `length` comment bytes (DeliveredBytes). The list is
  // written under a staging name, flushed to the disk and renamed over the
  // old file, so a failed save (or a crash) leaves the old file untouched
  // and no partial file. A directory that refuses the staging file or the
  // rename fails the save: rewriting the old file in place could destroy
  // it. The error carries the system code: 112 for a full disk, 32 when
  // someone holds the file (then nothing is written).
  Status Save(const std::string& log_path, EnumFileVersion log_version);
  // Deletes the bookmark file of `log_path`.
  static Status RemoveFile(const std::string& log_path);

 private:
  // Reads the records behind the count.
  LoadResult ReadRecords(ByteOrder order, uint32_t* error);
  Status WriteFile(const std::string& path, EnumFileVersion kind);
  Status WriteAll(EnumFileVersion kind);
  Status WriteComment(const Bookmark& b);

  stream::LogFileStream file_;  // open only inside Load and Save
  std::vector<Bookmark> list_;
  size_t current_ = 0;  // == list_.size() at the end
  size_t reader_ = 0;   // == list_.size() at the end
  bool changed_ = false;
  uint32_t count_in_file_ = 0;
};

}  // namespace corvane::logfile2

#endif  // CORVANE_LOGFILE2_BOOKMARK_STORE_H_
