#include "logfile2/bookmark_store.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "logfile2/bookmark_format.h"
#include "platform/file.h"
#include "stream/companion_path.h"

namespace corvane::logfile2 {

using platform::Disposition;
using platform::SeekOrigin;

std::string Bookmark::DeliveredBytes() const {
  std::string bytes = comment.substr(0, length);
  bytes.resize(length, '\0');
  return bytes;
}

uint32_t Bookmark::CopyDelivered(uint8_t* dst, uint32_t capacity) const {
  const uint32_t n = std::min(length, capacity);
  const uint32_t text = static_cast<uint32_t>(std::min<size_t>(n, comment.size()));
  std::memcpy(dst, comment.data(), text);
  std::memset(dst + text, 0, n - text);
  return n;
}

BookmarkStore::BookmarkStore() = default;
BookmarkStore::~BookmarkStore() = default;

void BookmarkStore::Clear() {
  list_.clear();
  current_ = 0;
  reader_ = 0;
  changed_ = false;
}

// ---- Reading order ----

int64_t BookmarkStore::PositionReader(int64_t message_number) {
  size_t i = 0;
  while (i < list_.size() && MessageNumberAt(i) < message_number) {
    ++i;
  }
  reader_ = i;
  return static_cast<int64_t>(i);
}

void BookmarkStore::AdvanceReader() {
  if (reader_ < list_.size()) ++reader_;
}

// ---- Changes ----

void BookmarkStore::Insert(int64_t message_number, uint32_t length, std::string comment) {
  const size_t at = static_cast<size_t>(PositionReader(message_number));
  list_.insert(list_.begin() + static_cast<ptrdiff_t>(at),
               Bookmark{message_number - static_cast<int64_t>(at), length, std::move(comment)});
  // Both cursors keep their bookmark (or the end): the reader stays on the
  // bookmark it stopped at, which now follows the new one.
  ++reader_;
  if (current_ >= at) ++current_;
  changed_ = true;
}

void BookmarkStore::Append(int64_t log_message_number, uint32_t length, std::string comment) {
  const size_t end = list_.size();
  list_.push_back(Bookmark{log_message_number, length, std::move(comment)});
  // A cursor at the end stays at the end.
  if (reader_ == end) reader_ = list_.size();
  if (current_ == end) current_ = list_.size();
  changed_ = true;
}

// ---- The current bookmark ----

bool BookmarkStore::Select(int64_t bookmark_number) {
  if (bookmark_number >= 0 && static_cast<uint64_t>(bookmark_number) < list_.size()) {
    current_ = static_cast<size_t>(bookmark_number);
    return true;
  }
  current_ = list_.size();
  return bookmark_number == 0 && list_.empty();
}

const Bookmark* BookmarkStore::Current() const {
  return current_ < list_.size() ? &list_[current_] : nullptr;
}

void BookmarkStore::AdvanceCurrent() {
  if (current_ < list_.size()) ++current_;
}

bool BookmarkStore::DeleteCurrent() {
  if (current_ >= list_.size()) return false;
  list_.erase(list_.begin() + static_cast<ptrdiff_t>(current_));
  // The current index now names the follower. The reader keeps its
  // bookmark if that lay behind, or moves to the follower if it was this one.
  if (reader_ > current_) --reader_;
  changed_ = true;
  return true;
}

bool BookmarkStore::EditCurrent(uint32_t length, std::string comment) {
  if (current_ >= list_.size()) return false;
  list_[current_].length = length;
  list_[current_].comment = std::move(comment);
  ++current_;
  changed_ = true;
  return true;
}

// ---- Lookups ----

bool BookmarkStore::MessageNumberOf(int64_t bookmark_number, int64_t* message_number) const {
  if (bookmark_number < 0 || static_cast<uint64_t>(bookmark_number) >= list_.size()) return false;
  *message_number = MessageNumberAt(static_cast<size_t>(bookmark_number));
  return true;
}

int64_t BookmarkStore::MessageNumberAt(size_t position) const {
  int64_t sum = 0;
  if (__builtin_add_overflow(list_[position].log_message_number, static_cast<int64_t>(position),
                             &sum)) {
    return INT64_MAX;
  }
  return sum;
}

BookmarkStore::IndexResult BookmarkStore::BookmarkNumberOf(int64_t message_number,
                                                           int64_t* bookmark_number) const {
  for (size_t i = 0; i < list_.size(); ++i) {
    const int64_t m = MessageNumberAt(i);
    if (m == message_number) {
      *bookmark_number = static_cast<int64_t>(i);
      return IndexResult::kFound;
    }
    if (m > message_number) return IndexResult::kNotABookmark;
  }
  return IndexResult::kBeyondLastBookmark;
}

// ---- The bookmark file ----

std::string BookmarkStore::PathFor(const std::string& log_path) {
  return stream::CompanionPath(log_path, "bmk");
}

EnumFileVersion BookmarkStore::KindFor(EnumFileVersion log_version) {
  switch (log_version) {
    case FileVersionCVR_Ve101:
    case FileVersionCVR_Ve100:
    case FileVersionCVR_Ve102:
      return FileVersionBMK_Ve102;
    case FileVersionCVR_Vu102:
      return FileVersionBMK_Vu102;
    default:
      return FileVersionBMK_V0102;
  }
}

BookmarkStore::LoadResult BookmarkStore::Load(const std::string& log_path, uint32_t* error) {
  uint32_t code = 0;
  current_ = list_.size();
  const platform::OpenOptions options{platform::kAccessRead, platform::kShareRead,
                                      Disposition::kOpenExisting, false};
  Status st = file_.Open(PathFor(log_path), options, FileVersionUnknown, &code);
  if (!st.ok()) {
    (void)file_.Close();  // a file whose key cannot be loaded stays open
    if (error) *error = st.code();
    return st.IsNotFound() ? LoadResult::kNotFound : LoadResult::kUnreadable;
  }

  // The file is there: it replaces the list, whatever it turns out to hold.
  list_.clear();
  changed_ = false;
  count_in_file_ = 0;
  LoadResult result = LoadResult::kFailed;
  code = kErrInvalidData;
  if (IsBookmarkVersion(file_.version())) {
    const ByteOrder order = BookmarkNumberOrder(file_.version());
    uint8_t field[kBookmarkCountLength];
    uint32_t got = 0;
    st = file_.Seek(kBookmarkCountOffset, SeekOrigin::kBegin);
    if (st.ok()) st = file_.Read(field, sizeof field, &got);
    if (!st.ok()) {
      result = LoadResult::kUnreadable;
      code = st.code();
    } else if (got == sizeof field) {
      count_in_file_ = Decode32(order, field);
      result = ReadRecords(order, &code);
      if (result == LoadResult::kLoaded && list_.size() != count_in_file_) {
        result = LoadResult::kFailed;
        code = kErrInvalidData;
      }
    }
  } else if (file_.GetSize() < 0) {
    // The header could not even be read to tell the kind.
    result = LoadResult::kUnreadable;
    code = kErrIoDevice;
  }
  (void)file_.Close();
  reader_ = 0;
  current_ = list_.size();
  if (error) *error = result == LoadResult::kLoaded ? 0 : code;
  return result;
}

BookmarkStore::LoadResult BookmarkStore::ReadRecords(ByteOrder order, uint32_t* error) {
  *error = kErrInvalidData;
  const int64_t size = file_.GetSize();
  Status st = size < 0 ? Status::Error(kErrIoDevice)
                       : file_.Seek(kBookmarkRecordsOffset, SeekOrigin::kBegin);
  for (; st.ok();) {
    uint8_t head[kBookmarkRecordHeadLength];
    uint32_t got = 0;
    st = file_.Read(head, kBookmarkNumberLength, &got);
    if (st.ok() && got == 0) return LoadResult::kLoaded;
    if (st.ok() && got < kBookmarkNumberLength) return LoadResult::kFailed;  // cut in its number
    if (st.ok()) st = file_.Read(head + kBookmarkNumberLength, kBookmarkLengthLength, &got);
    if (!st.ok()) break;
    if (got < kBookmarkLengthLength) return LoadResult::kFailed;
    const int64_t number = static_cast<int64_t>(Decode64(order, head));
    const uint32_t length = Decode32(order, head + kBookmarkNumberLength);
    // Log message numbers are never negative and never fall along the list;
    // the numbering of messages and bookmarks, and Jump, rely on that.
    if (number < 0 || (!list_.empty() && number < list_.back().log_message_number)) {
      return LoadResult::kFailed;
    }

    // A length beyond the end of the file cannot be a comment: stop before
    // allocating for it.
    const int64_t start = file_.GetPosition();
    if (start < 0) {
      st = Status::Error(kErrIoDevice);
      break;
    }
    if (length > size - start) return LoadResult::kFailed;
    std::string comment;
    try {
      comment.resize(length);
    } catch (const std::exception&) {  // no memory, or beyond a 32-bit string's reach
      *error = kErrNotEnoughMemory;
      return LoadResult::kFailed;
    }
    st = file_.Read(comment.data(), length, &got);
    if (!st.ok()) break;
    if (got < length) return LoadResult::kFailed;
    comment.resize(std::min<size_t>(comment.find('\0'), comment.size()));
    list_.push_back(Bookmark{number, length, std::move(comment)});
  }
  *error = st.code();
  return LoadResult::kUnreadable;
}

Status BookmarkStore::Save(const std::string& log_path, EnumFileVersion log_version) {
  const std::string path = PathFor(log_path);
  const std::string staging = stream::StagingPath(path);
  const EnumFileVersion kind = KindFor(log_version);
  // A file that someone holds, or that may not be written, fails the save
  // before anything is written, with the code an open of it gives.
  {
    std::unique_ptr<platform::File> probe;
    const Status held = platform::OpenFile(
        path, {platform::kAccessWrite, platform::kShareNone, Disposition::kOpenExisting, false},
        &probe);
    if (!held.ok() && held.code() != kErrFileNotFound) return held;
  }
  // The new list is written whole beside the old file and then renamed over
  // it: a save that fails (a full disk) leaves the old file as it was.
  Status st = WriteFile(staging, kind);
  if (st.ok()) {
    st = platform::RenameFile(staging, path, true);
    if (!st.ok()) (void)platform::RemoveFile(staging);
  }
  if (st.ok()) changed_ = false;
  return st;
}

// Creates `path` (the staging file) and writes the whole list into it; a
// failed write or close removes what it created, so no partial file is left.
Status BookmarkStore::WriteFile(const std::string& path, EnumFileVersion kind) {
  const platform::OpenOptions options{platform::kAccessWrite, platform::kShareNone,
                                      Disposition::kCreateAlways, false};
  // The stream writes the header of the kind when it creates the file.
  Status st = file_.Open(path, options, kind);
  if (st.ok()) st = WriteAll(kind);
  if (st.ok()) st = file_.FlushBuffer();
  // On the disk before it is renamed over the old file: a crash must leave
  // the old list or the new one, never a name on an empty file.
  if (st.ok()) st = file_.SyncToDisk();
  const bool created = file_.is_open();
  file_.DiscardBuffer();
  const Status closed = file_.Close();
  if (st.ok()) st = closed;
  if (!st.ok() && created) (void)platform::RemoveFile(path);
  return st;
}

Status BookmarkStore::WriteAll(EnumFileVersion kind) {
  if (list_.size() > UINT32_MAX) return Status::Error(kErrInvalidParameter);
  const ByteOrder order = BookmarkNumberOrder(kind);
  Status st = file_.Seek(kBookmarkCountOffset, SeekOrigin::kBegin);
  if (!st.ok()) return st;
  uint8_t field[kBookmarkCountLength];
  Encode32(order, field, static_cast<uint32_t>(list_.size()));
  st = file_.WriteBuffered(field, sizeof field);
  for (size_t i = 0; st.ok() && i < list_.size(); ++i) {
    uint8_t head[kBookmarkRecordHeadLength];
    EncodeBookmarkRecordHead(order, list_[i].log_message_number, list_[i].length, head);
    st = file_.WriteBuffered(head, sizeof head);
    if (st.ok()) st = WriteComment(list_[i]);
  }
  return st;
}

// The `length` bytes of DeliveredBytes(), without building them: the text
// and then zeros, so that a length beyond the text (a bookmark block) never
// reads past it nor needs memory of its size.
Status BookmarkStore::WriteComment(const Bookmark& b) {
  const uint32_t text = static_cast<uint32_t>(std::min<size_t>(b.length, b.comment.size()));
  Status st = text > 0 ? file_.WriteBuffered(b.comment.data(), text) : Status::Ok();
  static constexpr uint8_t kZeros[4096] = {};
  for (uint32_t left = b.length - text; st.ok() && left > 0;) {
    const uint32_t n = std::min<uint32_t>(left, sizeof kZeros);
    st = file_.WriteBuffered(kZeros, n);
    left -= n;
  }
  return st;
}

Status BookmarkStore::RemoveFile(const std::string& log_path) {
  return platform::RemoveFile(PathFor(log_path));
}

}  // namespace corvane::logfile2
