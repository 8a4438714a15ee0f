// The readers beneath LogFile: one small unit per way of reading bytes
// (plain, deciphering, hex text), picked by the file version, and the
// decoding of the next block header on top of it.
//
// A reader works on the object's file handle and keeps no data between
// calls; the object's lock is held around every call. Not thread-safe.
#ifndef CORVANE_LOGFILE_BLOCK_READER_H_
#define CORVANE_LOGFILE_BLOCK_READER_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "logfile/log_file_format.h"
#include "platform/file.h"
#include "platform/status.h"
#include "stream/block_header.h"
#include "stream/byte_source.h"
#include "stream/cipher_parameters.h"
#include "stream/deciphered_window.h"
#include "stream/read_ahead_file.h"

namespace corvane::logfile {

// What the next block header read found.
struct NextBlock {
  LogBlockHeader header{};
  // File bytes (decoded bytes for hex text) that the block's data read will
  // deliver: dwDataLength, or the record length for made-up headers.
  uint32_t pending_length = 0;
  bool end_of_file = false;
};

// A reader is the source of decoded bytes that the record decoder
// (stream/record_decoder.h) reads.
class BlockReader : public stream::ByteSource {
 public:
  // The reader of `version` (1 to 6) on `file`, whose pointer stands at
  // `position`; null for any other version. From then on the reader keeps
  // the position (Tell) and the file's own pointer is its business. `cipher`
  // must outlive the reader; it is used by versions 1 and 3.
  static std::unique_ptr<BlockReader> For(int version, platform::File* file, int64_t position,
                                          const stream::CipherParameters* cipher);

  ~BlockReader() override = default;
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // Reads n bytes at the file pointer; *got tells how many arrived (fewer at
  // the end of the file). A deciphering read that finds fewer than n bytes
  // delivers none of them but reports how many there were.
  Status Read(void* dst, uint32_t n, uint32_t* got) override = 0;
  // The plain or deciphered bytes at the position that the reader already
  // holds in memory; hex text is never read in place.
  uint32_t BytesAhead(const uint8_t** data) const final {
    if (!in_place_) return 0;
    return deciphered_ ? deciphered_->BytesAhead(source_.position(), data) : source_.BytesAhead(data);
  }
  Status Seek(int64_t distance, platform::SeekOrigin origin, int64_t* new_pos) override {
    return source_.Seek(distance, origin, new_pos);
  }
  void PassBytes(uint32_t n) override { source_.PassBytes(n); }
  // The reader's position, as Tell gives it, without the call.
  int64_t position() const { return source_.position(); }

  // Moves past n data bytes that the caller did not read. Hex text is
  // skipped by decoding, so that the skip lands on the next block.
  virtual Status Skip(uint32_t n);

  // Decodes the next block header. A failed read fails; the end of the file
  // is a success with end_of_file set (header then decoded from zeros). A
  // header cut short at the end fails with kErrHandleEof and leaves the
  // position at its start.
  Status Next(NextBlock* out);

  // The common case of Next, inline: the next block header lies whole among
  // the bytes at hand, and its data, no longer than kMaxBlockDataLength,
  // ends by `known_size` (the file's size last seen). Decodes the header in
  // place, moves past it and returns true; the data length is what the
  // data read delivers. Anything else returns false with nothing changed,
  // and Next decides it: the end of the file, a header cut short, a block
  // reaching further, raw records and hex text.
  bool TakeBlockAtHand(int64_t known_size, LogBlockHeader* header) {
    const uint8_t* bytes = nullptr;
    if (header_length_ == 0 || BytesAhead(&bytes) < header_length_) return false;
    const stream::BlockExtent block = stream::PeekBlockExtent(block_order_, header_length_, bytes);
    const int64_t data_start = source_.position() + header_length_;
    if (block.data_length > kMaxBlockDataLength || known_size - data_start < int64_t{block.data_length}) {
      return false;
    }
    *header = stream::DecodeBlockHeader(version_, bytes);
    source_.PassBytes(header_length_);
    return true;
  }
  // n data bytes into dst when they are all at hand; false (nothing read)
  // otherwise. (Hex text has nothing at hand; its empty data reads alike
  // either way.)
  bool TakeDataAtHand(void* dst, uint32_t n) {
    const uint8_t* bytes = nullptr;
    if (BytesAhead(&bytes) < n) return false;
    if (n > 0) std::memcpy(dst, bytes, n);  // no bytes at hand: no pointer either
    source_.PassBytes(n);
    return true;
  }

 protected:
  // `deciphered` holds the deciphered bytes of an enciphered log (owned by
  // the subclass); null for plain bytes.
  BlockReader(int version, platform::File* file, int64_t position,
              const stream::DecipheredWindow* deciphered = nullptr);

  const int version_;
  // Reads through a read-ahead window: a block header and its data cost no
  // system call of their own. The logical position is the reader's.
  stream::ReadAheadFile source_;

 private:
  // Facts of the generation for the inline paths, looked up once.
  const stream::DecipheredWindow* const deciphered_;
  bool in_place_ = false;        // not hex text
  uint32_t header_length_ = 0;   // of a file block header; 0: raw records
  ByteOrder block_order_ = ByteOrder::kBig;
};

}  // namespace corvane::logfile

#endif  // CORVANE_LOGFILE_BLOCK_READER_H_
