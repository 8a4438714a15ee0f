// The bookmark methods of LogFile2: thin wrappers over BookmarkStore with
// the checks, texts and codes of the interface. They also take the object
// lock, because the reader, which delivers bookmarks, runs under it.
//
// Comments are held in the 8-bit code page (UTF-8 on Linux) and a
// bookmark's length counts those bytes, so that no character is cut; for
// single-byte text that is the number of characters, as stored files have
// always had it.
#include <algorithm>
#include <string>

#include "frame/error_catalogue.h"
#include "frame/strings.h"
#include "logfile2/log_file2.h"
#include "platform/text.h"

namespace corvane::logfile2 {
namespace {

using platform::CriticalSectionLock;


// A BSTR of the first `length` bytes of a comment. A cut that ends inside a
// multi-byte character (a bookmark block's length, a file written
// elsewhere) drops that character's partial bytes; bytes that are no text
// at all come out one code unit each.
BSTR CommentToBstr(const std::string& comment, uint32_t length) {
  std::string bytes = comment.substr(0, std::min<size_t>(length, comment.size()));
  for (int tries = 0; tries < 4 && !bytes.empty(); ++tries) {
    std::u16string wide;
    if (platform::NarrowToWide(bytes, &wide)) {
      return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                               static_cast<uint32_t>(wide.size()));
    }
    bytes.pop_back();
  }
  std::u16string wide(comment.begin(), comment.begin() + std::min<size_t>(length, comment.size()));
  for (char16_t& c : wide) c &= 0xFF;
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                           static_cast<uint32_t>(wide.size()));
}

}  // namespace

bool LogFile2Object::CommentToNarrow(BSTR comment, std::string* out) {
  out->clear();
  if (!comment) return true;  // a null comment is an empty one
  return platform::WideToNarrow(reinterpret_cast<const char16_t*>(comment), SysStringLen(comment),
                                out);
}

size_t LogFile2Object::ReaderCursor() const {
  const Bookmark* next = bookmarks_.NextToDeliver();
  return next ? static_cast<size_t>(next - bookmarks_.list().data()) : bookmarks_.size();
}

void LogFile2Object::SetReaderCursor(size_t position) {
  const auto& list = bookmarks_.list();
  // Message numbers strictly increase along the list, so positioning for a
  // bookmark's own message number stops exactly at it.
  (void)bookmarks_.PositionReader(position < list.size() ? bookmarks_.MessageNumberAt(position)
                                                         : INT64_MAX);
}

HRESULT LogFile2Object::InsertBookmark(LONGLONG i64MsgNo, BSTR bstrComment) {
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  if (!open_) return Raise(errors::kFileNotOpen);
  if (i64MsgNo > total_messages_) return Raise(errors::kMsgNoExceedsCount);
  if (i64MsgNo < 0) return Raise(errors::kInvalidMessageNumber);
  std::string comment;
  if (!CommentToNarrow(bstrComment, &comment)) return Raise(errors::kInvalidComment);

  // The reader keeps its place: the new bookmark is delivered when it lies
  // at or after the reader's next record, and the bookmarks between the
  // reader and the new one are not skipped.
  const size_t reader = ReaderCursor();
  const int64_t before = bookmarks_.PositionReader(i64MsgNo);  // the new one's position
  const size_t at = static_cast<size_t>(before);
  const bool behind_reader = at < reader || (at == reader && (reader_.owes_bookmark_move() ||
                                                              i64MsgNo - before < reader_.message_number()));
  const auto length = static_cast<uint32_t>(comment.size());
  bookmarks_.Insert(i64MsgNo, length, std::move(comment));
  SetReaderCursor(behind_reader ? reader + 1 : reader);
  AddMessages(1);
  return S_OK;
}

HRESULT LogFile2Object::GetBookmarkCount(LONGLONG* pi64BookmarkCount) {
  if (!pi64BookmarkCount) return Raise(errors::kNullGetBookmarkCount);
  CriticalSectionLock hold(lock_);
  *pi64BookmarkCount = static_cast<LONGLONG>(bookmarks_.size());
  return S_OK;
}

HRESULT LogFile2Object::BookmarkRead(BSTR* bstrComment) {
  if (!bstrComment) return Raise(errors::kNullBookmarkRead);
  CriticalSectionLock hold(lock_);
  const Bookmark* current = bookmarks_.Current();
  if (!current) return Raise(errors::kEndOfBookmarks);
  *bstrComment = CommentToBstr(current->comment, current->length);
  if (!*bstrComment) return Raise(errors::kOutOfMemory);
  bookmarks_.AdvanceCurrent();
  return S_OK;
}

HRESULT LogFile2Object::BookmarkDelete() {
  CriticalSectionLock hold(lock_);
  const Bookmark* current = bookmarks_.Current();
  if (!current) return Raise(errors::kBookmarkOutOfRange);
  // The reader's cursor moves to the follower with the delete; a move the
  // reader still owes for this (returned) bookmark is then already done.
  const bool under_reader = current == bookmarks_.NextToDeliver();
  (void)bookmarks_.DeleteCurrent();
  if (under_reader) reader_.CancelOwedBookmarkMove();
  AddMessages(-1);
  return S_OK;
}

HRESULT LogFile2Object::BookmarkJump(LONGLONG i64BookmarkNo) {
  CriticalSectionLock hold(lock_);
  if (!bookmarks_.Select(i64BookmarkNo)) return Raise(errors::kBookmarkOutOfRange);
  return S_OK;
}

HRESULT LogFile2Object::BookmarkEdit(BSTR bstrComment) {
  CriticalSectionLock hold(lock_);
  if (!bookmarks_.Current()) return Raise(errors::kBookmarkOutOfRange);
  std::string comment;
  if (!CommentToNarrow(bstrComment, &comment)) return Raise(errors::kInvalidComment);
  const auto length = static_cast<uint32_t>(comment.size());
  (void)bookmarks_.EditCurrent(length, std::move(comment));
  return S_OK;
}

HRESULT LogFile2Object::GetBookmarkBlockNumber(LONGLONG i64BookmarkNumber,
                                               LONGLONG* pi64BookmarkBlockNumber) {
  if (!pi64BookmarkBlockNumber) {
    return Raise(errors::kNullGetBookmarkBlockNumber);
  }
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  int64_t number = 0;
  if (!bookmarks_.MessageNumberOf(i64BookmarkNumber, &number)) {
    return Raise(errors::kBookmarkOutOfRange);
  }
  *pi64BookmarkBlockNumber = number;
  return S_OK;
}

HRESULT LogFile2Object::GetBookmarkIndexNumber(LONGLONG i64MsgNumber,
                                               LONGLONG* pi64BookmarkNumber) {
  if (!pi64BookmarkNumber) return Raise(errors::kNullGetBookmarkIndexNumber);
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  int64_t position = 0;
  switch (bookmarks_.BookmarkNumberOf(i64MsgNumber, &position)) {
    case BookmarkStore::IndexResult::kFound: *pi64BookmarkNumber = position; return S_OK;
    case BookmarkStore::IndexResult::kNotABookmark:
      return Raise(errors::kNotABookmark);
    default: return Raise(errors::kTotalCountExceeded);
  }
}

}  // namespace corvane::logfile2
