// LogFile2::Jump: positions the reader so that the next ReadBlockHeader
// returns the record with a given message number (bookmarks counted), with
// one index record read and a walk forward over at most resolution - 1
// messages (in place in the read-ahead window where the log is plain).
//
// Jump holds the object lock throughout: the reader, the index stream and
// the bookmark cursor must not change under it (another reader, or the
// indexing thread installing a rebuilt index).
#include <algorithm>

#include "frame/error_catalogue.h"
#include "logfile2/log_file2.h"
#include "stream/index_format.h"

namespace corvane::logfile2 {
namespace {

using platform::CriticalSectionLock;
using platform::SeekOrigin;

}  // namespace

HRESULT LogFile2Object::Jump(LONGLONG i64MsgNo) {
  if (!open_) return Raise(errors::kFileNotOpen);
  if (i64MsgNo < 0) {
    return Raise(errors::kInvalidMessageNumber);
  }
  CriticalSectionLock hold(lock_);
  if (!open_) return Raise(errors::kFileNotOpen);
  const int64_t count = index_complete_ ? total_messages_.load() : indexed_messages_.load();
  if (i64MsgNo >= count) return Raise(errors::kMsgNoExceedsCount);

  // The bookmarks before the place; the next one to deliver stands at or
  // after it, so the read forward below never returns a bookmark.
  const int64_t bookmarks_before = bookmarks_.PositionReader(i64MsgNo);
  reader_.ClearPending();
  const int64_t target = i64MsgNo - bookmarks_before;
  Result r = PositionAtIndexEntry(target);
  // Each header read moves over one log message; its data is skipped by
  // the next read. The end of the log before the target means the index
  // promised more than the file holds.
  while (r.ok() && reader_.message_number() < target) {
    r = reader_.SkipBlocks(target);
    if (!r.ok() || reader_.message_number() >= target) break;
    LogBlockHeader header;
    bool end_of_file = false;
    r = reader_.ReadHeader(&header, &end_of_file);
    if (r.ok() && end_of_file) r = errors::kJumpReadFailed;
  }
  if (!r.ok()) return Raise(errors::kJumpReadFailed);
  return S_OK;
}

Result LogFile2Object::PositionAtIndexEntry(int64_t target) {
  const auto resolution = static_cast<int64_t>(index_.is_open() ? index_.resolution() : 0);
  int64_t entry = resolution > 0 ? target / resolution * resolution : 0;
  stream::IndexRecord record;
  if (entry > 0 && !index_.ReadIndexRecord(static_cast<uint64_t>(entry), &record).ok()) {
    // The record is not in the file yet (a running pass still holds it in
    // its buffer) or cannot be read: the last complete record before it, or
    // the first block, serves too, with a longer read forward.
    const int64_t first = int64_t{index_.header_length()} + stream::kIndexFieldsLength;
    const int64_t size = index_.GetSize();
    const int64_t complete = size > first ? (size - first) / stream::kIndexRecordLength : 0;
    entry = std::min(entry / resolution - 1, complete) * resolution;
    if (entry > 0 && !index_.ReadIndexRecord(static_cast<uint64_t>(entry), &record).ok()) {
      entry = 0;
    }
  }
  reader_.set_message_number(entry);
  if (entry <= 0) {
    return log_.Seek(log_.header_length(), SeekOrigin::kBegin).ok() ? Result::Ok() : errors::kJumpReadFailed;
  }
  if (record.block_position > static_cast<uint64_t>(INT64_MAX) ||
      record.message_position > static_cast<uint64_t>(INT64_MAX)) {
    return errors::kJumpReadFailed;
  }
  const auto block = static_cast<int64_t>(record.block_position);
  if (record.messages_to_block_end == 0) {
    return log_.Seek(block, SeekOrigin::kBegin).ok() ? Result::Ok() : errors::kJumpReadFailed;
  }
  // Inside a bulk block: its header gives the messages their stamp.
  Result r = reader_.EnterBulkBlockAt(block, static_cast<int64_t>(record.message_position),
                                          record.messages_to_block_end);
  return r.ok() ? Result::Ok() : errors::kJumpReadFailed;
}

}  // namespace corvane::logfile2
