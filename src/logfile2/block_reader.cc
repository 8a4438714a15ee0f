#include "logfile2/block_reader.h"

#include <algorithm>
#include <cstring>

#include "logfile2/logfile2_format.h"
#include "stream/block_header.h"
#include "stream/generations.h"
#include "stream/raw_record.h"
#include "stream/record_decoder.h"

namespace corvane::logfile2 {
namespace {

using platform::SeekOrigin;

}  // namespace

void RecordReader::Reset(EnumFileVersion version) {
  version_ = version;
  raw_records_ = RawRecordVersion(version);
  hex_text_ = HexTextVersion(version);
  own_length_ = raw_records_ || UnpaddedMessages(version);
  header_length_ = stream::FileBlockHeaderLength(version);
  blocks_in_place_ = header_length_ != 0 && !raw_records_;
  block_order_ = stream::GenerationOf(version).block_order;
  ClearPending();
  message_number_ = 0;
  bulk_header_ = LogBlockHeader{};
  known_size_ = 0;
}

void RecordReader::ClearPending() {
  pending_ = false;
  pending_bookmark_ = false;
  owe_bookmark_move_ = false;
  bookmark_ = Bookmark();
  data_length_ = 0;
  remaining_sub_messages_ = 0;
  last_from_bulk_ = false;
}

Result RecordReader::ReadRecordHeader(LogBlockHeader* header, bool* end_of_file) {
  *header = LogBlockHeader{};
  Result r = FinishPrevious();
  if (!r.ok()) return r;

  // A cursor left behind the reader (bookmarks changed meanwhile) would
  // block every later bookmark: move it up to the reader's place.
  const Bookmark* next = bookmarks_.NextToDeliver();
  while (next && next->log_message_number < message_number_) {
    bookmarks_.AdvanceReader();
    next = bookmarks_.NextToDeliver();
  }
  if (next && next->log_message_number == message_number_) {
    ReturnBookmark(*next, header);
    return Result::Ok();
  }

  const bool from_file = remaining_sub_messages_ == 0;
  if (from_file) {
    r = ReadFileBlock(header, end_of_file);
  } else {
    r = ReadMessageHead(header, end_of_file);
    if (r.ok() && !*end_of_file) {
      header->byTimeStampMode = bulk_header_.byTimeStampMode;
      header->qwTimeStamp = bulk_header_.qwTimeStamp;
      --remaining_sub_messages_;
    }
  }
  if (!r.ok() || *end_of_file) return r;
  last_from_bulk_ = !from_file;
  data_length_ = header->dwDataLength;
  ++message_number_;
  r = CheckDataFits();
  if (!r.ok()) return r;
  pending_ = true;
  if (from_file && !raw_records_ && header->wBlockID == CVR_ID_MULTI_QUIVOX_MSG) {
    return EnterBulkBlock(header, end_of_file);
  }
  return Result::Ok();
}

Result RecordReader::SkipBlocks(int64_t target) {
  if (!blocks_in_place_ || remaining_sub_messages_ > 0) return Result::Ok();
  Result r = FinishPrevious();
  if (!r.ok()) return r;
  const Bookmark* next = bookmarks_.NextToDeliver();
  if (next && next->log_message_number < target) return Result::Ok();
  const uint8_t* bytes = nullptr;
  const uint64_t ahead = log_.BytesAhead(&bytes);
  const int64_t start = log_.position();
  if (start < 0 || known_size_ < start) return Result::Ok();
  // The same bound as CheckDataFits: every block's data lies within the
  // size last seen.
  const auto room = static_cast<uint64_t>(known_size_ - start);
  const uint32_t h = header_length_;
  uint64_t offset = 0;
  while (message_number_ < target && offset + h <= ahead) {
    const stream::BlockExtent block = stream::PeekBlockExtent(block_order_, h, bytes + offset);
    if (block.block_id == CVR_ID_MULTI_QUIVOX_MSG) break;
    const uint64_t end = offset + h + block.data_length;
    if (end > room) break;
    offset = end;
    ++message_number_;
  }
  if (offset == 0) return Result::Ok();
  last_from_bulk_ = false;
  return log_.Seek(start + static_cast<int64_t>(offset), SeekOrigin::kBegin).ok() ? Result::Ok()
                                                                                 : errors::kHeaderReadFailed;
}

Result RecordReader::FinishPrevious() {
  if (!pending_) return Result::Ok();
  const bool bookmark = pending_bookmark_;
  const bool owed = owe_bookmark_move_;
  const uint32_t length = data_length_;
  pending_ = pending_bookmark_ = owe_bookmark_move_ = false;
  data_length_ = 0;
  if (bookmark) {
    if (owed) bookmarks_.AdvanceReader();
    return Result::Ok();
  }
  if (length == 0) return Result::Ok();
  if (hex_text_) {
    return stream::SkipHexText(source_, length).ok() ? Result::Ok() : Result(errors::kHeaderReadFailed);
  }
  return log_.Seek(length, SeekOrigin::kCurrent).ok() ? Result::Ok() : errors::kHeaderReadFailed;
}

Result RecordReader::ReadFileBlock(LogBlockHeader* header, bool* end_of_file) {
  if (raw_records_) return ReadMessageHead(header, end_of_file);
  if (header_length_ == 0) return errors::kHeaderReadFailed;
  LogBlockHeader decoded;
  stream::RecordStart found;
  if (!stream::ReadBlockHeaderAt(source_, version_, &decoded, &found).ok()) return errors::kHeaderReadFailed;
  // A header cut short (a recorder that died, a file copied in part) is
  // damage, not the end of the log.
  if (found == stream::RecordStart::kCut) return errors::kHeaderReadFailed;
  *end_of_file = found == stream::RecordStart::kEnd;
  if (!*end_of_file) *header = decoded;
  return Result::Ok();
}

Result RecordReader::ReadMessageHead(LogBlockHeader* header, bool* end_of_file) {
  stream::RawRecordBlock record;
  stream::RecordStart found;
  if (!stream::ReadRawRecordAt(source_, &record, &found).ok()) return errors::kHeaderReadFailed;
  if (found == stream::RecordStart::kCut) return errors::kHeaderReadFailed;
  if (found == stream::RecordStart::kEnd) {
    *end_of_file = true;
    return Result::Ok();
  }
  header->wBlockID = record.block_id;
  header->byConnID = record.conn_id;
  header->byTimeStampMode = record.time_stamp_mode;
  header->qwTimeStamp = record.time_stamp;
  // Raw records lie back to back; bulk messages occupy a padded size
  // outside generations 7 and 8.
  header->dwDataLength = own_length_ ? record.record_length : record.data_length;
  return Result::Ok();
}

Result RecordReader::EnterBulkBlock(LogBlockHeader* header, bool* end_of_file) {
  // The block is not delivered itself: its first message is.
  pending_ = false;
  uint8_t raw[kBulkCountLength];
  uint32_t got = 0;
  if (!log_.Read(raw, sizeof raw, &got).ok()) return errors::kHeaderReadFailed;
  const uint32_t count = got == sizeof raw ? Decode32(BulkCountOrder(version_), raw) : 0;
  // A block without messages would wrap the remaining count around.
  if (count == 0) return errors::kCorruptFile;
  bulk_header_ = *header;
  Result r = ReadMessageHead(header, end_of_file);
  if (!r.ok()) return r;
  if (*end_of_file) {
    *end_of_file = false;
    return errors::kCorruptFile;  // the count promised a message the file lacks
  }
  header->byTimeStampMode = bulk_header_.byTimeStampMode;
  header->qwTimeStamp = bulk_header_.qwTimeStamp;
  data_length_ = header->dwDataLength;
  remaining_sub_messages_ = count - 1;
  last_from_bulk_ = true;
  r = CheckDataFits();
  if (!r.ok()) return r;
  pending_ = true;
  return Result::Ok();
}

Result RecordReader::EnterBulkBlockAt(int64_t block_position, int64_t message_position,
                                          uint32_t remaining) {
  ClearPending();
  if (!log_.Seek(block_position, SeekOrigin::kBegin).ok()) return errors::kHeaderReadFailed;
  LogBlockHeader header;
  bool end_of_file = false;
  Result r = ReadFileBlock(&header, &end_of_file);
  if (!r.ok()) return r;
  if (end_of_file || header.wBlockID != CVR_ID_MULTI_QUIVOX_MSG) return errors::kHeaderReadFailed;
  if (!log_.Seek(message_position, SeekOrigin::kBegin).ok()) return errors::kHeaderReadFailed;
  bulk_header_ = header;
  remaining_sub_messages_ = remaining;
  return Result::Ok();
}

Result RecordReader::CheckDataFits() {
  const int64_t position = log_.position();
  data_start_ = position;
  if (position >= 0 && known_size_ - position >= int64_t{data_length_}) return Result::Ok();
  // The log may have grown since the size was last asked (it may still be
  // being recorded).
  known_size_ = log_.GetSize();
  if (position < 0 || known_size_ < 0 || known_size_ - position < int64_t{data_length_}) {
    pending_ = false;
    return errors::kLengthPastEnd;
  }
  return Result::Ok();
}

void RecordReader::ReturnBookmark(const Bookmark& bookmark, LogBlockHeader* header) {
  header->wBlockID = CVR_ID_BOOKMARK;
  header->byConnID = kRecordConnId;
  header->dwDataLength = bookmark.length;
  // The text only: a length beyond it is delivered as zeros, without memory
  // of its size.
  bookmark_ = bookmark;
  data_length_ = bookmark.length;
  pending_ = pending_bookmark_ = owe_bookmark_move_ = true;
}

Result RecordReader::ReadPendingData(uint8_t* dst, uint32_t room) {
  if (!pending_) return errors::kHeaderNotRead;
  if (room < data_length_) return errors::kDataReadFailed;
  if (pending_bookmark_) {
    bookmark_.CopyDelivered(dst, data_length_);
    if (owe_bookmark_move_) bookmarks_.AdvanceReader();
  } else {
    uint32_t got = 0;
    if (!log_.Read(dst, data_length_, &got).ok() || got != data_length_) {
      // Back to the record's start: it stays pending as it was.
      (void)log_.Seek(data_start_, SeekOrigin::kBegin);
      return errors::kDataReadFailed;
    }
  }
  if (pending_bookmark_) bookmark_ = Bookmark();
  pending_ = pending_bookmark_ = owe_bookmark_move_ = false;
  data_length_ = 0;
  return Result::Ok();
}

}  // namespace corvane::logfile2
