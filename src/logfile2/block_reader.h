// RecordReader: delivers a log as one sequence of records in message-number
// order: every block, every message of a bulk block as a record of its own,
// every raw message record, and the bookmarks at their places.
//
// Read state: the current message number (log message number of the next
// message to come from the file; bookmarks not counted; WriteBlock counts
// written messages with it too), the pending record (its kind and data
// length, data not yet read), the remaining messages of the bulk block being
// read and its header, and whether the bookmark under the bookmark store's
// reader cursor has been returned and is owed a move of that cursor.
//
// Message lengths: bulk messages are delivered with the size they occupy in
// the file (6 + payload, rounded up to a multiple of 4 outside generations
// 7 and 8); raw records (generations 4 and 6) with their own length. The
// header's dwDataLength is always exactly what ReadData delivers and what a
// skip moves over.
//
// Jump (a later addition) drives the same reader: it seeks the stream,
// sets the message number and the bulk state, and calls ReadHeader.
//
// Threads: none of its own. The LogFile2 object calls it only under its
// object lock, which also guards the stream and the bookmark store it uses.
#ifndef CORVANE_LOGFILE2_BLOCK_READER_H_
#define CORVANE_LOGFILE2_BLOCK_READER_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "frame/error_catalogue.h"
#include "logfile2/bookmark_store.h"
#include "platform/byte_order.h"
#include "stream/block_header.h"
#include "stream/log_file_stream.h"

namespace corvane::logfile2 {

// The reading steps return a Result: success, or the catalogue entry
// (frame/error_catalogue.h) that the object raises.
class RecordReader {
 public:
  RecordReader(stream::LogFileStream& log, BookmarkStore& bookmarks)
      : log_(log), source_(log), bookmarks_(bookmarks) {}
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // Forgets everything (at Open); `version` is the log's generation.
  void Reset(EnumFileVersion version);

  // The next record. At the end of the log *end_of_file is set and the
  // header is all zeros. A block header cut short at the end is damage
  // ("Block header read failed"); the reader stays at its start.
  Result ReadHeader(LogBlockHeader* header, bool* end_of_file) {
    *end_of_file = false;
    return TakeBlockAtHand(header) ? Result::Ok() : ReadRecordHeader(header, end_of_file);
  }
  // The pending record's data into dst[0..room). A room below the record's
  // data length fails with "Block data read failed" and keeps the record
  // pending, so that the caller can retry with a larger buffer.
  Result ReadData(uint8_t* dst, uint32_t room) {
    return TakeDataAtHand(dst, room) ? Result::Ok() : ReadPendingData(dst, room);
  }

  int64_t message_number() const { return message_number_; }
  void CountWrittenMessages(uint32_t n) { message_number_ += n; }

  // ---- Bookmark changes while reading (see BookmarkStore's cursors). ----
  // A bookmark record has been returned and its cursor move is still owed.
  bool owes_bookmark_move() const { return owe_bookmark_move_; }
  // The store moved its reader cursor off the returned bookmark itself
  // (delete or edit): the owed move is void. The pending data stays.
  void CancelOwedBookmarkMove() { owe_bookmark_move_ = false; }

  // ---- For Jump. ----
  void set_message_number(int64_t n) { message_number_ = n; }
  // No record pending, no bookmark owed, not inside a bulk block.
  void ClearPending();
  void set_remaining_sub_messages(uint32_t n) { remaining_sub_messages_ = n; }
  // Stands inside the bulk block whose header lies at `block_position`:
  // reads that header (its mode and stamp go to the block's messages), then
  // moves to the message head at `message_position`, with `remaining`
  // messages of the block, that one included, still to come. Nothing is
  // pending afterwards and the message number is not changed. Fails with
  // "Block header read failed" when no bulk block header lies there.
  Result EnterBulkBlockAt(int64_t block_position, int64_t message_position,
                              uint32_t remaining);
  // Moves over whole blocks towards message `target` (exclusive) the way
  // ReadHeader would, but in place in the stream's window (plain or
  // deciphered bytes) and without making up their headers: a jump reads
  // forward over up to resolution - 1 messages. Stops, leaving the rest to
  // ReadHeader, at anything else: a bulk block, a bookmark due before the
  // target, a block whose data reaches past the size last seen, the
  // window's end, and logs without block headers or written as hex text.
  // Nothing is pending afterwards.
  Result SkipBlocks(int64_t target);

  // ---- For the indexing pass over raw-record and hex-text logs. ----
  // Moves over the pending record's data (as the next ReadHeader would).
  Result SkipPending() { return FinishPrevious(); }
  uint32_t remaining_sub_messages() const { return remaining_sub_messages_; }
  // The last record read was a message of a bulk block.
  bool last_from_bulk() const { return last_from_bulk_; }

 private:
  // The hot path for small records, taken when it leads where
  // ReadRecordHeader would: nothing pending, no bookmark due here, not
  // inside a bulk block, and the next block's header at hand in the
  // stream's window (plain or deciphered), of a block that is not a bulk
  // block and whose data lies within the size last seen. Decodes it in
  // place and makes it the pending record; false (nothing changed)
  // otherwise.
  bool TakeBlockAtHand(LogBlockHeader* header) {
    if (pending_ || remaining_sub_messages_ != 0 || !blocks_in_place_) return false;
    const Bookmark* next = bookmarks_.NextToDeliver();
    if (next && next->log_message_number <= message_number_) return false;
    const uint8_t* bytes = nullptr;
    if (log_.BytesAhead(&bytes) < header_length_) return false;
    const stream::BlockExtent block = stream::PeekBlockExtent(block_order_, header_length_, bytes);
    const int64_t data_start = log_.position() + header_length_;
    if (block.block_id == CVR_ID_MULTI_QUIVOX_MSG || known_size_ - data_start < int64_t{block.data_length}) {
      return false;
    }
    *header = stream::DecodeBlockHeader(version_, bytes);
    log_.PassBytes(header_length_);
    data_start_ = data_start;
    data_length_ = block.data_length;
    ++message_number_;
    last_from_bulk_ = false;
    pending_ = true;
    return true;
  }
  // The pending record's data when the window holds it whole: copied out,
  // and the record done. False (nothing changed) otherwise.
  bool TakeDataAtHand(uint8_t* dst, uint32_t room) {
    const uint8_t* bytes = nullptr;
    if (!pending_ || pending_bookmark_ || room < data_length_ || log_.BytesAhead(&bytes) < data_length_) {
      return false;
    }
    if (data_length_ > 0) std::memcpy(dst, bytes, data_length_);  // no bytes: no pointer either
    log_.PassBytes(data_length_);
    pending_ = false;
    data_length_ = 0;
    return true;
  }
  Result ReadRecordHeader(LogBlockHeader* header, bool* end_of_file);
  Result ReadPendingData(uint8_t* dst, uint32_t room);
  Result FinishPrevious();
  Result ReadFileBlock(LogBlockHeader* header, bool* end_of_file);
  // Reads a message head without consuming it (the head is the data).
  Result ReadMessageHead(LogBlockHeader* header, bool* end_of_file);
  Result EnterBulkBlock(LogBlockHeader* header, bool* end_of_file);
  Result CheckDataFits();
  void ReturnBookmark(const Bookmark& bookmark, LogBlockHeader* header);

  stream::LogFileStream& log_;
  stream::StreamByteSource source_;  // log_ for the record decoder
  BookmarkStore& bookmarks_;
  EnumFileVersion version_ = FileVersionUnknown;
  // Facts of the generation, looked up once at Reset for the per-record path.
  bool raw_records_ = false;      // messages back to back, no block headers
  bool hex_text_ = false;         // data skipped by decoding
  bool own_length_ = false;       // bulk messages delivered unpadded
  uint32_t header_length_ = 0;    // of a file block header; 0: none
  bool blocks_in_place_ = false;  // block headers, decodable where they lie
  ByteOrder block_order_ = ByteOrder::kLittle;  // of its identifier and data length

  bool pending_ = false;            // a record was returned, its data not read
  bool pending_bookmark_ = false;   // ... and it is a bookmark
  bool owe_bookmark_move_ = false;  // the store's reader cursor still stands on it
  Bookmark bookmark_;               // the returned bookmark (a copy: it may be deleted)
  uint32_t data_length_ = 0;
  int64_t message_number_ = 0;
  uint32_t remaining_sub_messages_ = 0;
  bool last_from_bulk_ = false;
  LogBlockHeader bulk_header_{};
  int64_t data_start_ = 0;  // where the pending record's data begins
  int64_t known_size_ = 0;  // file size last asked; asked again when too small
};

}  // namespace corvane::logfile2

#endif  // CORVANE_LOGFILE2_BLOCK_READER_H_
