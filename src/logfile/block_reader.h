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
#include <memory>

#include "platform/file.h"
#include "platform/status.h"
#include "stream/byte_source.h"
#include "stream/cipher_parameters.h"
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

 protected:
  BlockReader(int version, platform::File* file, int64_t position) : version_(version) {
    source_.Borrow(file, position);
  }

  const int version_;
  // Reads through a read-ahead window: a block header and its data cost no
  // system call of their own. The logical position is the reader's.
  stream::ReadAheadFile source_;

};

}  // namespace corvane::logfile

#endif  // CORVANE_LOGFILE_BLOCK_READER_H_
