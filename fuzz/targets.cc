// The fuzz targets, one function each, and their table. Each comment says
// what the input holds and which properties the target checks; a violated
// property stops the run (CORVANE_FUZZ_CHECK) and libFuzzer keeps the input.
// The checks' own code (the models included) gives no coverage feedback
// (coverage-ignore.txt).
#include <sanitizer/asan_interface.h>

#include <optional>
#include <type_traits>
#include <utility>

#include "harness.h"
#include "logfile2/bookmark_store.h"
#include "logfile2/index_pass.h"
#include "stream/cipher.h"
#include "stream/file_format.h"
#include "stream/hex_text.h"
#include "stream/key_source.h"
#include "stream/log_file_stream.h"
#include "stream/raw_record.h"
#include "stream/version_detection.h"

namespace corvane::fuzz {
namespace {

using namespace stream;
using platform::SeekOrigin;
constexpr uint8_t kGuard = 0xEE;

// A source over a copy of `bytes` with its pointer at `from`.
std::unique_ptr<MemorySource> SourceAt(std::span<const uint8_t> bytes, uint64_t from) {
  auto source = std::make_unique<MemorySource>(Bytes(bytes.begin(), bytes.end()));
  source->set_pos(static_cast<int64_t>(from));
  return source;
}

// ---- raw_record: the bytes ahead of a raw message record (the reader hands
// over at most 20). A record cut inside its head is refused (the block left
// untouched); otherwise the length is the payload length plus the head, the
// announced length is that rounded up to four, and only a whole, long enough
// record of a stamped kind with the stamped resource gets a stamp.
void RawRecord(const uint8_t* data, size_t size) {
  const auto got = static_cast<uint32_t>(std::min<size_t>(size, kRawRecordLookAhead)); RawRecordBlock block;
  block.data_length = 0xDEADBEEF;
  const bool ok = DecodeRawRecord(data, got, &block);
  CORVANE_FUZZ_CHECK(ok == (got >= kRawRecordHeadLength) && (ok || block.data_length == 0xDEADBEEF));
  if (!ok) return;
  const uint32_t length = DecodeBE16(data + 4) + 6u;
  CORVANE_FUZZ_CHECK(block.record_length == length && block.data_length % 4 == 0 && block.data_length >= length &&
                     block.data_length < length + 4 && block.block_id == kRawRecordBlockId && block.conn_id == kRawRecordConnId);
  const bool stamped = got == kRawRecordLookAhead && length >= kRawRecordLookAhead && data[3] == kStampedResource && IsStampedKind(data[kMessageKindOffset]);
  const int64_t ticks = stamped ? static_cast<int64_t>(DecodeBE64(data + kTickStampOffset)) : 0;
  CORVANE_FUZZ_CHECK(block.time_stamp_mode == (stamped ? 1 : 0) && block.time_stamp == (stamped ? TicksToNanoseconds(ticks) : 0));
}

// ---- key_file: the text of a key file. A refused file leaves the key
// untouched and says why; an accepted one holds two sets that the cipher
// accepts; parsing is deterministic; and the same text configured as the key
// file (CORVANE_KEY_FILE) gives the same key to the cipher parameters of
// every enciphered version. Only a file too large to be read is refused
// there after parsing.
void KeyFile(const uint8_t* data, size_t size) {
  KeyMaterial marker;
  for (auto& set : marker.sets) set.fill(0xA5);
  KeyMaterial key = marker, again = marker, loaded = marker;
  std::string_view text(reinterpret_cast<const char*>(data), size); std::string message;
  const Status st = ParseKeyFile(text, &key, &message);
  CORVANE_FUZZ_CHECK(st.ok() || (st.code() == kErrInvalidData && !message.empty() && key.sets == marker.sets));
  if (!st.ok()) return;
  for (const auto& set : key.sets) CORVANE_FUZZ_CHECK(ParametersFromKey(set).Validate().ok());
  CORVANE_FUZZ_CHECK(ParseKeyFile(text, &again, nullptr).ok() && again.sets == key.sets);
  setenv(kKeyFileEnvironment, PutScratchFile("key.txt", {data, size}).c_str(), 1);
  const Status load = LoadKeyMaterial(&loaded, nullptr);
  for (int version : {1, 3, 7, 13, 16}) {
    CipherParameters p;
    CORVANE_FUZZ_CHECK(p.Load(version).ok() == load.ok() && (!load.ok() || p == ParametersFromKey(key.sets[static_cast<int>(*KeySetFor(version))])));
  }
  unsetenv(kKeyFileEnvironment);
  CORVANE_FUZZ_CHECK(load.ok() == (size <= kMaxKeyFileSize) && (!load.ok() || loaded.sets == key.sets));
}

// ---- version_detection: a file's content; both tag sets run over it from
// a pointer in the middle. The pointer is where it was, the version is in
// range (the reduced set never yields a 1.02 kind), the two sets agree on the
// versions they share, the answer is the same on a second run, and a source
// that fails part way gives an answer or unknown.
void VersionDetection(const uint8_t* data, size_t size) {
  auto shared = [](EnumFileVersion v) { return v >= FileVersionCVR_Ve101 && v <= FileVersionCVR_Ve100; };
  const auto start = static_cast<int64_t>(size / 2);
  auto source = SourceAt({data, size}, start), failing = SourceAt({data, size}, 0);
  const auto full = DetectVersion(*source, TagSet::kFull);
  CORVANE_FUZZ_CHECK(source->pos() == start);
  const auto reduced = DetectVersion(*source, TagSet::kReduced);
  CORVANE_FUZZ_CHECK(source->pos() == start && full.version >= FileVersionUnknown && full.version <= FileVersionINF_Vu102 &&
                     reduced.version >= FileVersionUnknown && reduced.version <= FileVersionVantrelHex && reduced.index_sub_version == 0);
  CORVANE_FUZZ_CHECK(!(shared(full.version) || shared(reduced.version)) || full.version == reduced.version);
  const auto again = DetectVersion(*source, TagSet::kFull);
  CORVANE_FUZZ_CHECK(again.version == full.version && again.index_sub_version == full.index_sub_version);
  failing->fail_reads_at = static_cast<int64_t>(size / 3);
  const auto broken = DetectVersion(*failing, TagSet::kFull);
  CORVANE_FUZZ_CHECK(broken.version >= FileVersionUnknown && broken.version <= FileVersionINF_Vu102 && failing->pos() == 0);
}

// ---- hex_text: part 0 is the text, part 1 a list of reads (start offset,
// byte count) and the piece sizes of the decoder. ReadHexText delivers
// exactly what a straightforward pairing of adjacent digits from the start
// offset gives, no more than asked, and leaves the pointer behind the
// character that completed its last byte (or at the end of the text); the
// decoder gives the same bytes whatever the pieces it is fed in.
void CheckHexRead(std::span<const uint8_t> text, size_t from, uint32_t n) {
  Bytes want, out(n + 1, kGuard);
  int previous = -1; size_t end = from;
  while (want.size() < n && end < text.size()) {
    const uint8_t c = text[end++];
    const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d >= 0 && previous >= 0) want.push_back(static_cast<uint8_t>(previous * 16 + d));
    previous = d;
  }
  auto source = SourceAt(text, from); uint32_t delivered = 0;
  CORVANE_FUZZ_CHECK(ReadHexText(*source, out.data(), n, &delivered).ok() && delivered == want.size() && out[n] == kGuard &&
                     std::equal(want.begin(), want.end(), out.begin()) && source->pos() == static_cast<int64_t>(end));
}

void HexText(const uint8_t* data, size_t size) {
  auto parts = SplitInput(data, size, 2);
  const std::span<const uint8_t> text = parts[0]; Controls c{parts[1]};
  if (c.empty()) CheckHexRead(text, 0, static_cast<uint32_t>(text.size())), CheckHexRead(text, text.size() / 2, 12);
  for (int i = 0; i < 16 && !c.empty(); ++i) {
    const size_t from = text.empty() ? 0 : c.U16() % (text.size() + 2);
    CheckHexRead(text, from, c.U16() % 6000);
  }
  Bytes whole(text.size()), joined; size_t used = 0;
  HexDecoder one, pieces;
  whole.resize(one.Decode(text.data(), text.size(), whole.data(), whole.size(), &used));
  for (size_t at = 0, piece = 0; at < text.size(); at += piece) {
    piece = std::min<size_t>(1 + c.Byte() % 64, text.size() - at);
    uint8_t out[64]; size_t consumed = 0;
    const size_t made = pieces.Decode(text.data() + at, piece, out, sizeof out, &consumed);
    CORVANE_FUZZ_CHECK(consumed == piece && made <= piece);
    joined.insert(joined.end(), out, out + made);
  }
  CORVANE_FUZZ_CHECK(joined == whole);
}

// ---- cipher: part 0 is the bytes of a file, part 1 the parameters and a
// list of reads: [set] [14 parameter bytes] [header length] then (offset,
// count) pairs. Set 0 is the built-in shared set, 1 the e1.00 set, 2 a set
// made from the parameter bytes (block size 2 to 128, taps folded into
// range). Enciphering and deciphering in place agree with a step-by-step
// model of the cipher (slow and obvious; the library works on many blocks
// side by side), deciphering undoes enciphering, the sink form writes what
// the in-place form makes, and both reading forms deliver the model's plain
// bytes at every offset behind the header with the pointer where they
// promise to leave it.

// The model of one block, held in a ring: one step moves every byte to the
// front by one, which here moves the ring's start instead. Logical byte i is
// at b[(start + i) % len]. A step makes a byte from the feedback, the front
// byte and the taps (a tap beyond the block reads the zero padding); the
// front byte falls off and the made byte goes to the end. Enciphering
// whitens, then steps; deciphering undoes the steps, then the whitening.
void BlockModel(const CipherParameters& p, uint8_t* b, uint32_t len, bool decipher) {
  uint32_t start = 0;
  auto at = [&](uint32_t i) -> uint8_t& { return b[(start + i) % len]; };
  auto feed = [&] {
    uint8_t t = static_cast<uint8_t>(p.feedback) ^ at(0);
    for (int tap : p.taps) t ^= static_cast<uint32_t>(tap) < len ? at(static_cast<uint32_t>(tap)) : 0;
    return t;
  };
  for (uint32_t i = 0; !decipher && i < len; ++i) b[i] ^= static_cast<uint8_t>(p.whitening);
  for (uint32_t step = 0; step < len; ++step) {
    if (!decipher) {  // the slot of the old front byte is the new end
      at(0) = feed(), start = (start + 1) % len;
      continue;
    }
    // Undo one step: the end byte was made from the byte that fell off the
    // front and the taps of the block before the move.
    start = (start + len - 1) % len;
    const uint8_t t = std::exchange(at(0), 0);
    at(0) = t ^ feed();
  }
  for (uint32_t i = 0; decipher && i < len; ++i) b[i] ^= static_cast<uint8_t>(p.whitening);
}

Bytes OnGrid(const CipherParameters& p, std::span<const uint8_t> in, bool decipher) {
  Bytes data(in.begin(), in.end());
  const auto block = static_cast<size_t>(p.block_size);
  for (size_t at = 0; at < data.size(); at += block) BlockModel(p, data.data() + at, static_cast<uint32_t>(std::min(block, data.size() - at)), decipher);
  return data;
}

void CheckCipherRead(const CipherParameters& p, std::span<const uint8_t> file, uint32_t header,
                     const Bytes& plain, uint64_t offset, uint32_t n, bool all_or_nothing) {
  auto source = SourceAt(file, offset);
  Bytes out(n + 1, kGuard); uint32_t delivered = 0;
  const Status st = all_or_nothing ? DecipherAllOrNothing(p, *source, header, out.data(), n, &delivered)
                                   : Decipher(p, *source, header, out.data(), n, &delivered);
  CORVANE_FUZZ_CHECK(out[n] == kGuard);
  // Inside the header the grid is extended backwards; a block that would
  // start before the file cannot be read, which is a failed move, no more.
  if (offset < header && !st.ok()) return;
  CORVANE_FUZZ_CHECK(st.ok());
  const uint64_t exist = offset < file.size() ? file.size() - offset : 0;
  const bool whole = !all_or_nothing || exist >= n;
  CORVANE_FUZZ_CHECK(delivered == (whole ? std::min<uint64_t>(n, exist) : exist));
  if (whole && (n > 0 || !all_or_nothing)) CORVANE_FUZZ_CHECK(source->pos() == static_cast<int64_t>(offset + n));
  for (uint32_t i = 0; whole && offset >= header && i < delivered; ++i) CORVANE_FUZZ_CHECK(out[i] == plain[offset - header + i]);
}

void Cipher(const uint8_t* data, size_t size) {
  auto parts = SplitInput(data, size, 2);
  const std::span<const uint8_t> file = parts[0]; Controls c{parts[1]};
  const uint8_t set = c.Byte() % 3;
  uint8_t raw[14]; CipherParameters p;
  for (uint8_t& b : raw) b = c.Byte();
  if (set < 2) p = ParametersFromKey(DefaultKeyMaterial().sets[set == 0 ? 1 : 0]);
  if (set == 2) {
    p.whitening = raw[0], p.feedback = raw[1], p.pass_count = 1 + raw[2] % 4, p.block_size = 2 << (raw[13] % 7);
    for (int i = 0; i < CipherParameters::kTapCount; ++i) p.taps[i] = 1 + raw[3 + i] % (p.block_size - 1);
  }
  CORVANE_FUZZ_CHECK(p.Validate().ok());

  Bytes lib(file.begin(), file.end()), undone = lib;
  CORVANE_FUZZ_CHECK(EncipherInPlace(p, lib.data(), lib.size()).ok() && lib == OnGrid(p, file, false));
  CORVANE_FUZZ_CHECK(DecipherInPlace(p, lib.data(), lib.size()).ok() && std::equal(lib.begin(), lib.end(), file.begin(), file.end()));
  CORVANE_FUZZ_CHECK(DecipherInPlace(p, undone.data(), undone.size()).ok() && undone == OnGrid(p, file, true));

  static constexpr uint32_t kHeaders[] = {0, 60, 128, 7}; const uint32_t header = kHeaders[c.Byte() % 4];
  const size_t body = file.size() > header ? file.size() - header : 0;
  const Bytes plain = OnGrid(p, file.last(body), true);
  if (c.empty()) CheckCipherRead(p, file, header, plain, header, static_cast<uint32_t>(body), false),
        CheckCipherRead(p, file, header, plain, header + body / 3, 16, true);
  for (int i = 0; i < 16 && !c.empty(); ++i) {
    const bool all_or_nothing = c.Byte() & 1; const uint64_t offset = c.U16() % (file.size() + 200);
    CheckCipherRead(p, file, header, plain, offset, c.U16() % 20000, all_or_nothing);
  }
}

// ---- log_file_stream: part 0 is a file the stream opens for reading (its
// version detected: plain, enciphered and hex-text files all come through),
// part 1 a list of steps, [op] then its operands: op % 6 == 0 seek from the
// start (u32), 1 from the pointer (i32), 2 from the end (i32), 3 read (u16
// count), 4 FillReadBuffer, 5 read a large count (u32, at most 1 MiB). No
// read delivers more than asked or writes past the buffer; plain files
// deliver exactly the file's bytes; enciphered reads leave the pointer at
// the start plus the count; hex reads never move it backwards; the size and
// position queries agree with the moves.
//
// Every read goes into one buffer of the largest count, of which only the
// first n + 1 bytes (the count and a guard) are addressable: the address
// sanitizer sees a write past them as it would past an allocation of that
// size. A fresh allocation per read cost an mmap, page faults and an munmap
// for every large count, nine tenths of the run. The bytes are left
// uninitialised apart from the guard.
uint8_t* StreamReadBuffer(uint32_t n) {
  static constexpr size_t kCapacity = size_t{1} << 20;  // the largest count + 1
  static uint8_t* const buffer = new uint8_t[kCapacity];
  ASAN_UNPOISON_MEMORY_REGION(buffer, size_t{n} + 1);
  ASAN_POISON_MEMORY_REGION(buffer + n + 1, kCapacity - n - 1);
  return buffer;
}

void CheckStreamRead(stream::LogFileStream& s, std::span<const uint8_t> file, uint32_t n) {
  const int64_t before = s.GetPosition(), size = static_cast<int64_t>(file.size());
  uint8_t* const out = StreamReadBuffer(n); uint32_t delivered = 0;
  out[n] = kGuard;
  const Status st = s.Read(out, n, &delivered); const int64_t after = s.GetPosition();
  CORVANE_FUZZ_CHECK(out[n] == kGuard && delivered <= n);
  if (s.version() == FileVersionCvrConvHex || s.version() == FileVersionVantrelHex) {
    CORVANE_FUZZ_CHECK(!st.ok() || after >= before);
  } else if (s.enciphered()) {
    CORVANE_FUZZ_CHECK(!st.ok() || after == before + n);
  } else {
    CORVANE_FUZZ_CHECK(st.ok() && delivered == std::min<int64_t>(n, before < size ? size - before : 0) && after == before + delivered &&
                       std::equal(out, out + delivered, file.begin() + before));
  }
}

void LogFileStream(const uint8_t* data, size_t size) {
  auto parts = SplitInput(data, size, 2);
  const std::span<const uint8_t> file = parts[0]; const std::string path = PutScratchFile("stream.cvr", file);
  // One stream per process: its construction reads the settings store, and
  // Open starts from scratch for every file.
  static stream::LogFileStream& s = *new stream::LogFileStream();
  if (!s.Open(path, {platform::kAccessRead, platform::kShareRead}, FileVersionUnknown).ok()) return;
  CORVANE_FUZZ_CHECK(s.GetSize() == static_cast<int64_t>(file.size()));
  Controls c{parts[1]};
  // Without steps: everything behind the header, in pieces of a block
  // header and data.
  (void)(c.empty() && s.Seek(s.header_length(), SeekOrigin::kBegin).ok());
  for (int i = 0; c.empty() && i < 64 && s.GetPosition() < static_cast<int64_t>(file.size()); ++i) CheckStreamRead(s, file, 16), CheckStreamRead(s, file, 100);
  for (int step = 0; step < 32 && !c.empty(); ++step) {
    uint32_t delivered = 0;
    auto seek_to = [](int64_t to) { return s.Seek(to, SeekOrigin::kBegin).ok() && s.GetPosition() == to; };
    switch (c.Byte() % 6) {
      case 0: CORVANE_FUZZ_CHECK(seek_to(c.U32() % (file.size() + 300))); break;
      case 1: (void)s.Seek(static_cast<int32_t>(c.U32()), SeekOrigin::kCurrent); break;
      case 2: (void)s.Seek(static_cast<int32_t>(c.U32()), SeekOrigin::kEnd); break;
      case 3: CheckStreamRead(s, file, c.U16()); break;
      case 4: CORVANE_FUZZ_CHECK(((void)s.FillReadBuffer(&delivered), delivered <= s.read_buffer_capacity())); break;
      case 5: CheckStreamRead(s, file, c.U32() % (1u << 20)); break;
    }
    CORVANE_FUZZ_CHECK(s.GetPosition() >= 0);
  }
  (void)s.Close();
}

// ---- Reading records through ILogFile or ILogFile2. Per record a control
// byte `how`: how % 4 == 0 reads the data with the announced length, 1 first
// with a buffer one byte short (ILogFile: an empty one), which must fail
// untouched and keep the data pending, 2 leaves it for the next header read
// to skip, 3 reads it with a larger buffer; how / 4 % 3 picks the header
// buffer length (24, 16, then 7 or 5). Caller buffers are never written
// past their length, and every header read that succeeds before the end
// moves forward: a log of n bytes yields at most `budget` records.
template <class Log>
class RecordReader {
 public:
  static constexpr bool kLogFile = std::is_same_v<Log, ILogFile>;

  RecordReader(Log* log, size_t file_size) : log_(log), file_size_(file_size) { Restart(); }

  // Reads up to `limit` records; false at the end or after too many errors.
  bool Read(size_t limit, Controls& c, bool plain) {
    static constexpr ULONG kHeaderLengths[] = {24, 16, kLogFile ? 7u : 5u};
    for (size_t i = 0; i < limit; ++i) {
      const uint8_t how = plain ? 0 : c.Byte(); const ULONG header_length = kHeaderLengths[how / 4 % 3];
      uint8_t header[32]; std::fill(std::begin(header), std::end(header), kGuard);
      ULONG returned = 0; LONG eof = 0;
      // A corrupt header is passed over; the reader goes on behind it.
      const HRESULT hr = log_->ReadBlockHeader(header, header_length, &returned, &eof);
      if (FAILED(hr) && ++failures_ > (kLogFile ? 2 : 8)) return false;
      if (FAILED(hr)) continue;
      CORVANE_FUZZ_CHECK(header[header_length] == kGuard && (!kLogFile || returned == header_length));
      if (eof) return false;
      CORVANE_FUZZ_CHECK(++records_ <= budget_);
      if (header_length < 16) continue;
      uint32_t length = 0; std::memcpy(&length, header + (header_length == 24 ? 16 : 12), sizeof length);
      if (length > file_size_ + (kLogFile ? 4 : 4096)) continue;  // the reader refuses those itself
      Bytes data(size_t{length} + 64, kGuard);
      if (how % 4 == 1 && length > 0) CORVANE_FUZZ_CHECK(FAILED(log_->ReadBlockData(data.data(), kLogFile ? 0 : length - 1)) && data[0] == kGuard);
      if (how % 4 != 2) (void)log_->ReadBlockData(data.data(), length + (how % 4 == 3 ? 64 : 0));
      if (!kLogFile || how % 4 != 3) CORVANE_FUZZ_CHECK(data[length] == kGuard);
    }
    return true;
  }

  // After a move of the reader the records from here on get a new budget:
  // one per six bytes of the log (a raw record head) plus the bookmarks.
  void Restart() {
    LONGLONG bookmarks = 0;
    if constexpr (!kLogFile) (void)log_->GetBookmarkCount(&bookmarks);
    records_ = failures_ = 0;
    budget_ = file_size_ / 6 + (kLogFile ? 1 : static_cast<size_t>(std::max<LONGLONG>(bookmarks, 0)) + 8);
  }

 private:
  Log* log_; size_t file_size_, records_ = 0, budget_ = 0, failures_ = 0;
};

// Writes `log` as the scratch file `name` and opens it for reading through
// a new ILogFile or ILogFile2; null when Open fails. The version is one the
// interface reads.
template <class Log>
ComPtr<Log> OpenForReading(const std::string& name, std::span<const uint8_t> log) {
  constexpr bool kLogFile = std::is_same_v<Log, ILogFile>;
  auto p = Create<Log>(kLogFile ? CLSID_LogFile : CLSID_LogFile2, kLogFile ? IID_ILogFile : IID_ILogFile2);
  CORVANE_FUZZ_CHECK(p);
  Bstr path(PutScratchFile(name, log)); EnumFileVersion version = FileVersionUnknown;
  if (FAILED([&] { if constexpr (kLogFile) return p->Open(path.get(), FileAccessModeReadOnly, &version);
                   else return p->Open(path.get(), FileAccessModeReadOnly, &version, 0); }())) return {};
  CORVANE_FUZZ_CHECK(version >= FileVersionCVR_Ve101 && version <= (kLogFile ? FileVersionVantrelHex : FileVersionCVR_Vu102));
  return p;
}

// ---- log_file: part 0 is the file that ILogFile opens (the reduced tag
// set: V 01.00, e1.00, e1.01, raw records, both hex dumps), part 1 the `how`
// bytes of RecordReader. The size query gives the file's size.
void LogFile(const uint8_t* data, size_t size) {
  auto parts = SplitInput(data, size, 2);
  auto log = OpenForReading<ILogFile>("old.log", parts[0]);
  if (!log) return;
  Controls c{parts[1]};
  RecordReader<ILogFile>(log.get(), parts[0].size()).Read(SIZE_MAX, c, false);
  ULONGLONG position = 0, file_size = 0; (void)log->GetFilePointerPos(&position);
  CORVANE_FUZZ_CHECK(SUCCEEDED(log->GetFileSize(&file_size)) && file_size == parts[0].size() && SUCCEEDED(log->Close()));
}

// ---- log_file2: part 0 is the log (every generation ILogFile2 reads),
// part 1 the bookmark file beside it (none when empty), part 2 steps that
// mix record reads with the bookmark methods, [op] then operands: op % 8 ==
// 0 reads up to 1 + b % 32 records (RecordReader), 1 BookmarkJump(b) and
// BookmarkRead, 2 GetBookmarkBlockNumber(b) and GetBookmarkIndexNumber(u16),
// 3 InsertBookmark(u16, comment of b % 8 bytes), 4 BookmarkEdit(comment),
// 5 BookmarkDelete, 6 Jump(u16), 7 the position, size and count queries.
// Without part 2 every record is read with its data.
void LogFile2(const uint8_t* data, size_t size) {
  auto parts = SplitInput(data, size, 3);
  PutScratchFile("reader.idx", {}, false);
  PutScratchFile("reader.bmk", parts[1], !parts[1].empty());
  auto log = OpenForReading<ILogFile2>("reader.cvr", parts[0]);
  if (!log) return;
  RecordReader<ILogFile2> reader(log.get(), parts[0].size()); Controls c{parts[2]};
  auto comment = [&c] {
    std::string text(c.Byte() % 8, ' ');
    for (char& ch : text) ch = static_cast<char>(0x20 + c.Byte() % 0x5F);
    return Bstr(text);
  };
  while (c.empty() && reader.Read(64, c, true)) continue;
  for (int step = 0; step < 48 && !c.empty(); ++step) {
    LONGLONG value = 0; Bstr text;
    switch (c.Byte() % 8) {
      case 0: (void)reader.Read(1 + c.Byte() % 32, c, false); break;
      case 1: if (SUCCEEDED(log->BookmarkJump(c.Byte()))) (void)log->BookmarkRead(text.out()); break;
      case 2: (void)log->GetBookmarkBlockNumber(static_cast<int8_t>(c.Byte()), &value), (void)log->GetBookmarkIndexNumber(c.U16(), &value);
        break;
      case 3: value = c.U16(); if (SUCCEEDED(log->InsertBookmark(value, comment().get()))) reader.Restart(); break;
      case 4: (void)log->BookmarkEdit(comment().get()); break;
      case 5: (void)log->BookmarkDelete(); break;
      case 6: if (SUCCEEDED(log->Jump(c.U16()))) reader.Restart(); break;
      case 7: (void)log->GetFilePointerPos(&value), (void)log->GetFileSize(&value), (void)log->GetIndexedRecCount(&value);
        CORVANE_FUZZ_CHECK(((void)log->GetBookmarkCount(&value), value >= 0));
        break;
    }
  }
  (void)log->Close();
}

// ---- index_jump: part 0 is the log, part 1 the index file beside it, part
// 2 the bookmark file (none when empty), part 3 a list of jumps: [u32
// target] [b], Jump(target % (indexed count + 3)), then b % 8 records read
// with their data. Without part 3: sixteen jumps spread over the indexed
// count and one to its last message, each followed by two reads. Open takes
// a complete index of sub-version 1 or later and believes its resolution
// and count, so a damaged index may name any place, count and resolution;
// Jump fails with an error or leaves the reader where ReadBlockHeader works
// on, and caller buffers are never written past their length.
void IndexJump(const uint8_t* data, size_t size) {
  auto parts = SplitInput(data, size, 4);
  PutScratchFile("jump.idx", parts[1]);
  PutScratchFile("jump.bmk", parts[2], !parts[2].empty());
  auto log = OpenForReading<ILogFile2>("jump.cvr", parts[0]);
  if (!log) return;
  LONGLONG count = 0, resolution = 0;
  CORVANE_FUZZ_CHECK(SUCCEEDED(log->GetIndexedRecCount(&count)));
  (void)log->GetIndexResolution(&resolution);
  const uint64_t span = static_cast<uint64_t>(std::max<LONGLONG>(count, 0)) + 3;
  RecordReader<ILogFile2> reader(log.get(), parts[0].size()); Controls none{}, c{parts[3]};
  auto jump = [&](uint64_t target, int records) {
    if (SUCCEEDED(log->Jump(static_cast<LONGLONG>(target)))) reader.Restart(), (void)reader.Read(records, none, true);
  };
  for (uint64_t i = 0; c.empty() && i <= 16; ++i) jump(i < 16 ? (span - 3) / 16 * i : span - 4, 2);
  for (int step = 0; step < 24 && !c.empty(); ++step) {
    const uint64_t target = c.U32() % span;  // read before the count
    jump(target, c.Byte() % 8);
  }
  (void)log->Close();
}

// ---- index_pass: part 0 is a log, part 1 controls: [resolution] [piece].
// The indexing pass over the stream's chunks ends, and where the
// log is plain with block headers, the pass on two threads (pieces from the
// largest item, 26 bytes, up to 281) gives the same result, records and
// counts wherever the pieces cut the items.
void IndexPass(const uint8_t* data, size_t size) {
  struct Sink final : logfile2::MessageSink {
    std::vector<IndexRecord> records;
    bool Record(const IndexRecord& r) override { return records.push_back(r), records.size() < 100000; }
    bool Checkpoint(int64_t, int64_t) override { return false; }
  };
  auto parts = SplitInput(data, size, 2);
  const std::string path = PutScratchFile("pass.cvr", parts[0]);
  Controls c{parts[1]};
  const int64_t resolution = 1 + c.Byte() % 7;
  platform::OpenOptions read;
  read.share = platform::kShareRead;
  auto pass = [&](uint32_t piece, Sink& sink, logfile2::PassCounts* counts) {
    stream::LogFileStream log;
    if (!log.Open(path, read, FileVersionUnknown).ok() || !log.Seek(log.header_length(), SeekOrigin::kBegin).ok()) {
      return std::optional<logfile2::PassResult>();
    }
    logfile2::SplitReading split;
    split.piece_size = piece;
    for (auto& file : split.files) {
      if (piece != 0 && (!logfile2::CanSplitReading(log) || !platform::OpenFile(path, read, &file).ok())) {
        return std::optional<logfile2::PassResult>();
      }
    }
    return std::optional(logfile2::RunIndexPass(log, log.version(), resolution, sink, counts, piece ? &split : nullptr));
  };
  Sink whole;
  logfile2::PassCounts whole_counts;
  const auto result = pass(0, whole, &whole_counts);
  if (!result) return;
  CORVANE_FUZZ_CHECK(*result != logfile2::PassResult::kStopped && whole_counts.counted >= 0);
  Sink cut;
  logfile2::PassCounts counts;
  const auto again = pass(26 + c.Byte(), cut, &counts);
  CORVANE_FUZZ_CHECK(!again || (*again == *result && cut.records == whole.records && counts.counted == whole_counts.counted &&
                                counts.progress == whole_counts.progress));
}

// ---- bookmark_store: part 0 is a bookmark file (any kind: plain,
// enciphered, big-endian), part 1 steps on the loaded list, [op] then
// operands: op % 8 == 0 PositionReader(i64), 1 Insert(i64, comment), 2
// Select(i16), 3 AdvanceCurrent and AdvanceReader, 4 EditCurrent(comment),
// 5 DeleteCurrent, 6 MessageNumberOf(i16), 7 BookmarkNumberOf(i64); a last
// byte saves the list as the bookmarks of a log of generation 8, 7 or 9.
// Load never crashes, hangs or allocates for a count it has not read; the
// cursors stay within the list; a list saved and loaded again comes back the
// same (numbers, lengths and delivered bytes), in every kind.
void BookmarkStore(const uint8_t* data, size_t size) {
  using logfile2::Bookmark;
  using Store = logfile2::BookmarkStore;
  auto parts = SplitInput(data, size, 2);
  PutScratchFile("marks.bmk", parts[0]);
  Store s, copy, again; uint32_t error = 0;
  const auto result = s.Load(ScratchPath("marks.cvr"), &error);
  CORVANE_FUZZ_CHECK(result != Store::LoadResult::kNotFound && s.Current() == nullptr && (result == Store::LoadResult::kLoaded) == (error == 0));
  size_t comment_bytes = 0;
  for (const Bookmark& b : s.list()) comment_bytes += b.comment.size();
  CORVANE_FUZZ_CHECK(comment_bytes <= parts[0].size());
  auto within = [&s](const Bookmark* b) { return !b || (b >= s.list().data() && b < s.list().data() + s.size()); };
  CORVANE_FUZZ_CHECK(within(s.NextToDeliver()));

  Controls c{parts[1]}; uint32_t length = 0;
  auto comment = [&c, &length] {
    std::string text(c.Byte() % 12, ' ');
    for (char& ch : text) ch = static_cast<char>(1 + c.Byte() % 255);  // no zero byte
    length = static_cast<uint32_t>(text.size()) + c.Byte() % 3;       // may be padded
    return text;
  };
  for (int step = 0; step < 32 && !c.empty(); ++step) {
    const size_t before = s.size(); const bool had = s.Current() != nullptr;
    int64_t number = 0; int16_t which = 0; std::string text;
    switch (c.Byte() % 8) {
      case 0: CORVANE_FUZZ_CHECK((number = s.PositionReader(static_cast<int64_t>(c.U64()))) >= 0 && static_cast<size_t>(number) <= s.size());
        break;
      case 1:  // the number not negative; the comment read after it
        number = static_cast<int64_t>(c.U64() >> 1), text = comment();
        s.Insert(number, length, std::move(text));
        CORVANE_FUZZ_CHECK(s.size() == before + 1);
        break;
      case 2: (void)s.Select(static_cast<int16_t>(c.U16())); break;
      case 3: s.AdvanceCurrent(), s.AdvanceReader(); break;
      case 4: text = comment(); CORVANE_FUZZ_CHECK(s.EditCurrent(length, std::move(text)) == had); break;
      case 5: CORVANE_FUZZ_CHECK(s.DeleteCurrent() == had && s.size() == before - (had ? 1 : 0)); break;
      case 6:
        which = static_cast<int16_t>(c.U16());
        CORVANE_FUZZ_CHECK(s.MessageNumberOf(which, &number) == (which >= 0 && static_cast<size_t>(which) < s.size()));
        break;
      case 7: (void)s.BookmarkNumberOf(static_cast<int64_t>(c.U64()), &number); break;
    }
    CORVANE_FUZZ_CHECK(within(s.Current()) && within(s.NextToDeliver()));
  }

  // Saved by a store of its own (Save writes the file of "saved.cvr").
  static constexpr EnumFileVersion kLogs[] = {FileVersionCVR_V0102, FileVersionCVR_Ve102, FileVersionCVR_Vu102};
  for (const Bookmark& b : s.list()) copy.Append(b.log_message_number, b.length, b.comment);
  if (!copy.Save(ScratchPath("saved.cvr"), kLogs[c.Byte() % 3]).ok()) return;  // e.g. a comment too long to write
  const auto loaded = again.Load(ScratchPath("saved.cvr"), &error);
  CORVANE_FUZZ_CHECK(loaded != Store::LoadResult::kFailed && (s.empty() || (loaded == Store::LoadResult::kLoaded && again.size() == s.size())));
  auto same = [](const Bookmark& a, const Bookmark& b) {
    return a.log_message_number == b.log_message_number && a.length == b.length && a.DeliveredBytes() == b.DeliveredBytes();
  };
  CORVANE_FUZZ_CHECK(std::equal(s.list().begin(), s.list().end(), again.list().begin(), same));
}

// ---- corvane: part 0 is the V 01.00 file ICorvane reads, part 1 chooses
// per block whether its data is read (announced length), read with a wrong
// length (must fail without writing) first, or left for the next header read
// to skip. Every header read that succeeds before the end consumes twelve
// bytes, so a file of n bytes yields at most n / 12 blocks.
void Corvane(const uint8_t* data, size_t size) {
  auto parts = SplitInput(data, size, 2); const size_t file_size = parts[0].size();
  Bstr name(PutScratchFile("legacy.cvr", parts[0]));
  auto log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  CORVANE_FUZZ_CHECK(log);
  if (FAILED(log->Open(name.get(), CVRFileAccessModeRead, CVRFileCreateModeExisting))) return;
  Controls c{parts[1]}; size_t blocks = 0;
  for (int failures = 0; failures < 3;) {
    USHORT id = 0; BYTE conn = 0; LONG eof = 0; ULONG stamp = 0, length = 0;
    // A failed header read counts (++failures is never 0) and the next one goes on.
    if (FAILED(log->ReadBlockHeader(&id, &conn, &stamp, &length, &eof)) && ++failures) continue;
    if (eof) break;
    CORVANE_FUZZ_CHECK(++blocks <= file_size / 12);
    const uint8_t how = c.Byte() % 3;
    if (how == 2 || length > file_size) continue;
    Bytes buffer(size_t{length} + 2, kGuard);
    if (how == 1) CORVANE_FUZZ_CHECK(FAILED(log->ReadBlockData(buffer.data(), length + 1)) && buffer[0] == kGuard);
    (void)log->ReadBlockData(buffer.data(), length);
    CORVANE_FUZZ_CHECK(buffer[length] == kGuard);
  }
  ULONG value = 0; (void)log->GetFilePointerPos(&value);
  CORVANE_FUZZ_CHECK(SUCCEEDED(log->GetFileSize(&value)) && value == file_size && SUCCEEDED(log->Close()));
}

}  // namespace

TargetFn FindTarget(std::string_view name) {
  static constexpr std::pair<std::string_view, TargetFn> kTargets[] = {
      {"raw_record", RawRecord}, {"key_file", KeyFile}, {"version_detection", VersionDetection}, {"hex_text", HexText},
      {"cipher", Cipher}, {"log_file_stream", LogFileStream}, {"log_file", LogFile}, {"log_file2", LogFile2},
      {"bookmark_store", BookmarkStore}, {"index_jump", IndexJump}, {"index_pass", IndexPass}, {"corvane", Corvane}};
  for (const auto& [n, run] : kTargets) if (name == n) return run;
  std::fprintf(stderr, "no fuzz target %.*s\n", static_cast<int>(name.size()), name.data()), std::abort();
}

}  // namespace corvane::fuzz
