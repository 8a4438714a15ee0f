#include "logfile/block_reader.h"

#include <algorithm>

#include "stream/generations.h"
#include "stream/block_header.h"
#include "logfile/log_file_format.h"
#include "stream/deciphered_window.h"
#include "stream/hex_text.h"
#include "stream/raw_record.h"
#include "stream/record_decoder.h"

namespace corvane::logfile {
namespace {

using platform::SeekOrigin;

// Versions 2 and 4: the bytes as they are in the file.
class PlainReader final : public BlockReader {
 public:
  PlainReader(int version, platform::File* file, int64_t position)
      : BlockReader(version, file, position) {}

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    auto* out = static_cast<uint8_t*>(dst);
    *got = 0;
    while (*got < n) {
      uint32_t g = 0;
      Status st = source_.Read(out + *got, n - *got, &g);
      if (!st.ok()) return st;
      if (g == 0) break;
      *got += g;
    }
    return Status::Ok();
  }
};

// Versions 1 and 3: enciphered behind the 60-byte header. All or nothing:
// a request that runs past the end of the file delivers no bytes.
class DecipheringReader final : public BlockReader {
 public:
  DecipheringReader(int version, platform::File* file, int64_t position,
                    const stream::CipherParameters* cipher)
      : BlockReader(version, file, position, &window_) {
    prepared_ = window_.Prepare(*cipher, kFileHeaderLength);
  }

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    *got = 0;
    if (n == 0) return Status::Ok();
    if (!prepared_.ok()) return prepared_;
    return window_.ReadAllOrNothing(source_, dst, n, got);
  }

 private:
  stream::DecipheredWindow window_;
  Status prepared_;
};

// Versions 5 and 6: pairs of hexadecimal digits.
class HexTextReader final : public BlockReader {
 public:
  HexTextReader(int version, platform::File* file, int64_t position)
      : BlockReader(version, file, position) {}

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    return stream::ReadHexText(source_, dst, n, got);
  }

  // The pending length counts decoded bytes, which take about three text
  // characters each: decode them and drop them.
  Status Skip(uint32_t n) override { return stream::SkipHexText(*this, n); }
};

}  // namespace

BlockReader::BlockReader(int version, platform::File* file, int64_t position,
                         const stream::DecipheredWindow* deciphered)
    : version_(version), deciphered_(deciphered) {
  source_.Borrow(file, position);
  const stream::Generation& g = stream::GenerationOf(version);
  in_place_ = g.kind != stream::FileKind::kHexText;
  header_length_ = in_place_ ? g.block_header_length : 0;
  block_order_ = g.block_order;
}

std::unique_ptr<BlockReader> BlockReader::For(int version, platform::File* file, int64_t position,
                                              const stream::CipherParameters* cipher) {
  const stream::Generation& g = stream::GenerationOf(version);
  if (g.version != version || !stream::Handles(version, stream::kLogFileReads)) return nullptr;
  if (g.kind == stream::FileKind::kHexText) return std::make_unique<HexTextReader>(version, file, position);
  if (g.cipher != stream::CipherSet::kNone) {
    return std::make_unique<DecipheringReader>(version, file, position, cipher);
  }
  return std::make_unique<PlainReader>(version, file, position);
}

Status BlockReader::Skip(uint32_t n) { return source_.Seek(n, SeekOrigin::kCurrent, nullptr); }

Status BlockReader::Next(NextBlock* out) {
  *out = NextBlock{};
  stream::RecordStart found = stream::RecordStart::kEnd;
  if (stream::FileBlockHeaderLength(version_) > 0) {
    Status st = stream::ReadBlockHeaderAt(*this, version_, &out->header, &found);
    if (!st.ok()) return st;
    // A header cut short is damage; the reader stays at its start, so every
    // later call reports it again.
    if (found == stream::RecordStart::kCut) return Status::Error(kErrHandleEof);
    out->end_of_file = found == stream::RecordStart::kEnd;  // header then from zeros
    out->pending_length = out->header.dwDataLength;
    return Status::Ok();
  }
  stream::RawRecordBlock record;
  Status st = stream::ReadRawRecordAt(*this, &record, &found);
  if (!st.ok()) return st;
  if (found == stream::RecordStart::kCut) {
    // A record cut inside its head lies at the end of the file; the reader
    // stands behind it, so the next call finds the end of the log.
    (void)source_.Seek(0, SeekOrigin::kEnd, nullptr);
    return Status::Error(kErrHandleEof);
  }
  out->end_of_file = found == stream::RecordStart::kEnd;
  if (out->end_of_file) return Status::Ok();
  out->header.wBlockID = record.block_id;
  out->header.byConnID = record.conn_id;
  out->header.byTimeStampMode = record.time_stamp_mode;
  out->header.qwTimeStamp = record.time_stamp;
  out->header.dwDataLength = record.data_length;
  // The data read delivers the record from its first byte.
  out->pending_length = record.record_length;
  return Status::Ok();
}

}  // namespace corvane::logfile
