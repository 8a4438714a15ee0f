#include "logfile/block_reader.h"

#include <algorithm>

#include "stream/generations.h"
#include "stream/block_header.h"
#include "logfile/log_file_format.h"
#include "stream/cipher.h"
#include "stream/hex_text.h"
#include "stream/raw_record.h"

namespace corvane::logfile {
namespace {

using platform::SeekOrigin;

// Versions 2 and 4: the bytes as they are in the file.
class PlainReader final : public BlockReader {
 public:
  PlainReader(int version, platform::File* file) : BlockReader(version, file) {}

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
  DecipheringReader(int version, platform::File* file, const stream::CipherParameters* cipher)
      : BlockReader(version, file), cipher_(cipher) {}

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    *got = 0;
    if (n == 0) return Status::Ok();
    return stream::DecipherAllOrNothing(*cipher_, source_, kFileHeaderLength, dst, n, got);
  }

 private:
  const stream::CipherParameters* cipher_;
};

// Versions 5 and 6: pairs of hexadecimal digits.
class HexTextReader final : public BlockReader {
 public:
  HexTextReader(int version, platform::File* file) : BlockReader(version, file) {}

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    return stream::ReadHexText(source_, dst, n, got);
  }

  // The pending length counts decoded bytes, which take about three text
  // characters each: decode them and drop them.
  Status Skip(uint32_t n) override {
    uint8_t scratch[1024];
    while (n > 0) {
      uint32_t want = std::min<uint32_t>(n, sizeof scratch);
      uint32_t got = 0;
      Status st = Read(scratch, want, &got);
      if (!st.ok()) return st;
      if (got < want) break;  // the end of the text: nothing left to skip
      n -= got;
    }
    return Status::Ok();
  }
};

}  // namespace

std::unique_ptr<BlockReader> BlockReader::For(int version, platform::File* file,
                                              const stream::CipherParameters* cipher) {
  const stream::Generation& g = stream::GenerationOf(version);
  if (g.version != version || !stream::Handles(version, stream::kLogFileReads)) return nullptr;
  if (g.kind == stream::FileKind::kHexText) return std::make_unique<HexTextReader>(version, file);
  if (g.cipher != stream::CipherSet::kNone) {
    return std::make_unique<DecipheringReader>(version, file, cipher);
  }
  return std::make_unique<PlainReader>(version, file);
}

Status BlockReader::Skip(uint32_t n) { return source_.Seek(n, SeekOrigin::kCurrent, nullptr); }

Status BlockReader::Next(NextBlock* out) {
  *out = NextBlock{};
  return stream::FileBlockHeaderLength(version_) > 0 ? NextFramed(out) : NextRawRecord(out);
}

Status BlockReader::NextFramed(NextBlock* out) {
  const uint32_t length = stream::FileBlockHeaderLength(version_);
  int64_t start = 0;
  Status st = source_.Tell(&start);
  if (!st.ok()) return st;
  uint8_t raw[kMaxRawBlockHeaderLength] = {};
  uint32_t got = 0;
  st = Read(raw, length, &got);
  if (!st.ok()) return st;
  if (got > 0 && got < length) {
    // A header cut short is damage, not the end of the file; the reader
    // stays at its start, so every later call reports it again.
    (void)source_.Seek(start, SeekOrigin::kBegin, nullptr);
    return Status::Error(kErrHandleEof);
  }
  out->end_of_file = got == 0;
  out->header = stream::DecodeBlockHeader(version_, raw);
  out->pending_length = out->header.dwDataLength;
  return Status::Ok();
}

Status BlockReader::NextRawRecord(NextBlock* out) {
  int64_t start = 0;
  Status st = source_.Tell(&start);
  if (!st.ok()) return st;
  uint8_t ahead[stream::kRawRecordLookAhead] = {};
  uint32_t got = 0;
  st = Read(ahead, sizeof ahead, &got);
  if (!st.ok()) return st;
  if (got == 0) {
    out->end_of_file = true;
    return Status::Ok();
  }
  stream::RawRecordBlock record;
  if (!stream::DecodeRawRecord(ahead, got, &record)) {
    return Status::Error(kErrHandleEof);  // a record cut inside its head
  }
  out->header.wBlockID = record.block_id;
  out->header.byConnID = record.conn_id;
  out->header.byTimeStampMode = record.time_stamp_mode;
  out->header.qwTimeStamp = record.time_stamp;
  out->header.dwDataLength = record.data_length;
  out->pending_length = record.record_length;
  // The data read delivers the record from its first byte.
  return source_.Seek(start, SeekOrigin::kBegin, nullptr);
}

}  // namespace corvane::logfile
