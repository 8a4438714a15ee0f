#include "logfile2/index_pass.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "stream/block_header.h"
#include "logfile2/block_reader.h"
#include "logfile2/bookmark_store.h"
#include "logfile2/logfile2_format.h"
#include "platform/byte_order.h"
#include "stream/raw_record.h"

namespace corvane::logfile2 {
namespace {

using platform::SeekOrigin;
using stream::IndexRecord;
using stream::kRawRecordHeadLength;

// How the block headers of a generation look to the chunk walk (from its
// row of the generation table).
struct BlockLayout {
  uint32_t header_length;   // 16 or 12
  ByteOrder header_order;   // of the identifier and the data length
  ByteOrder count_order;    // of a bulk block's message count
  bool padded_messages;     // bulk messages occupy a multiple of 4 bytes
};

BlockLayout LayoutFor(EnumFileVersion version) {
  const stream::Generation& g = GenerationOf(version);
  return {g.block_header_length, g.block_order, g.count_order, g.padded_messages};
}

// The largest item the chunk walk must see whole: a bulk block header with
// its count and its first message head.
constexpr uint32_t kLargestItem = kBlockHeaderLength + kBulkCountLength + kRawRecordHeadLength;
static_assert(stream::LogFileStream::kMinReadBuffer >= kLargestItem,
              "every chunk must hold the largest item, or the walk cannot progress");

// Bytes a bulk message occupies, from its head.
uint64_t MessageSize(const uint8_t* head, bool padded) {
  const uint64_t size = kRawRecordHeadLength + DecodeBE16(head + 4);
  return padded ? (size + 3) & ~uint64_t{3} : size;
}

// The counting rule, applied to every message in file order: first the
// record, when the messages since the last one reach the resolution; then
// the counts move over the message. Kept in locals, published at
// checkpoints, so that a message costs no memory traffic shared with other
// threads.
class Counter {
 public:
  Counter(int64_t resolution, MessageSink& sink) : resolution_(resolution), sink_(sink) {}

  // `make` builds the message's record; it is called only when one is due.
  template <class MakeRecord>
  bool Count(int64_t end, MakeRecord make) {
    if (since_record_ == resolution_) {
      if (!sink_.Record(make())) return false;
      since_record_ = 0;
    }
    ++since_record_;
    ++counts_.counted;
    counts_.progress = end;
    return true;
  }
  void Start(int64_t position) { counts_.progress = position; }
  bool Checkpoint() { return sink_.Checkpoint(counts_.counted, counts_.progress); }
  const PassCounts& counts() const { return counts_; }

  // The chunk walk keeps the counts in registers while it walks a chunk:
  // it takes them out here and puts them back before the checkpoint.
  struct Hot {
    int64_t due;      // messages until the next one gets a record
    int64_t counted;
  };
  Hot TakeHot() const { return {resolution_ - since_record_, counts_.counted}; }
  void PutHot(const Hot& hot, int64_t progress) {
    since_record_ = resolution_ - hot.due;
    counts_.counted = hot.counted;
    counts_.progress = progress;
  }
  // The counting rule on the counts taken out: `make` builds the message's
  // record, called only when one is due.
  template <class MakeRecord>
  bool Count(Hot& hot, MakeRecord make) {
    if (hot.due == 0) {
      if (!sink_.Record(make())) return false;
      hot.due = resolution_;
    }
    --hot.due;
    ++hot.counted;
    return true;
  }

 private:
  const int64_t resolution_;
  MessageSink& sink_;
  int64_t since_record_ = 0;
  PassCounts counts_;
};

// A run of the log's bytes for the chunk walk.
struct Chunk {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  uint64_t base = 0;  // log position of data[0]
  bool last = false;  // nothing follows it: the walk ends with it
};

// What the walk carries from one chunk to the next, besides the counts.
struct WalkState {
  uint32_t remaining = 0;  // messages of the current bulk block still to come
  uint64_t bulk_position = 0;
};

enum class ChunkResult { kWalked, kEnded, kSinkFailed };

// Walks one chunk of a generation with block headers. An item is taken
// when all the bytes it needs lie in the chunk; its data may reach beyond.
// *resume is where the next chunk must start: the first item that did not
// fit, back inside the chunk or beyond it. The header's size and byte order
// are constants here: the loop over ordinary blocks is what indexing a log
// of small blocks costs.
template <uint32_t kHeader, ByteOrder kOrder>
ChunkResult WalkChunk(const Chunk& chunk, const BlockLayout& layout, WalkState& state,
                      Counter& counter, uint64_t* resume) {
  constexpr uint32_t h = kHeader;
  const uint8_t* const data = chunk.data;
  const uint64_t got = chunk.size;
  // In locals while the chunk is walked: the sink's calls could reach any
  // memory, so members would be stored and loaded again around each item.
  Counter::Hot hot = counter.TakeHot();
  uint32_t remaining = state.remaining;
  uint64_t bulk_position = state.bulk_position;
  ChunkResult result = ChunkResult::kWalked;
  uint64_t offset = 0;  // may lie beyond the chunk after a long block
  for (;;) {
    // Ordinary blocks, the most common item: the header, the countdown to
    // the next record, the step over the data.
    while (remaining == 0 && offset + h <= got) {
      const uint8_t* p = data + offset;
      const stream::BlockExtent block = stream::PeekBlockExtent(kOrder, h, p);
      if (block.block_id == CVR_ID_MULTI_QUIVOX_MSG) break;
      if (!counter.Count(hot, [&] { return IndexRecord{chunk.base + offset + h, chunk.base + offset, 0}; })) {
        result = ChunkResult::kSinkFailed;
        break;
      }
      offset += h + uint64_t{block.data_length};
    }
    if (result != ChunkResult::kWalked || offset >= got) break;
    // A bulk block's header or one of its messages, when all the bytes it
    // needs are there.
    const uint8_t* p = data + offset;
    const uint64_t at = chunk.base + offset;
    IndexRecord record;
    uint64_t size = 0;
    if (remaining > 0) {
      if (offset + kRawRecordHeadLength > got) break;
      size = MessageSize(p, layout.padded_messages);
      record = {at, bulk_position, remaining};
      --remaining;
    } else {
      if (offset + h + kBulkCountLength + kRawRecordHeadLength > got) break;
      const uint32_t messages = Decode32(layout.count_order, p + h);
      // The reader refuses a bulk block without messages: nothing behind
      // it can be numbered.
      if (messages == 0) {
        result = ChunkResult::kEnded;
        break;
      }
      size = h + kBulkCountLength + MessageSize(p + h + kBulkCountLength, layout.padded_messages);
      record = {at + h + kBulkCountLength, at, messages};
      remaining = messages - 1;
      bulk_position = at;
    }
    if (!counter.Count(hot, [&] { return record; })) {
      result = ChunkResult::kSinkFailed;
      break;
    }
    offset += size;
  }
  state.remaining = remaining;
  state.bulk_position = bulk_position;
  *resume = chunk.base + offset;
  counter.PutHot(hot, static_cast<int64_t>(*resume));
  return result;
}

using ChunkWalker = ChunkResult (*)(const Chunk&, const BlockLayout&, WalkState&, Counter&,
                                    uint64_t*);

ChunkWalker WalkerFor(const BlockLayout& layout) {
  const bool big = layout.header_order == ByteOrder::kBig;
  if (layout.header_length == 12) {
    return big ? &WalkChunk<12, ByteOrder::kBig> : &WalkChunk<12, ByteOrder::kLittle>;
  }
  return big ? &WalkChunk<16, ByteOrder::kBig> : &WalkChunk<16, ByteOrder::kLittle>;
}

// After a chunk: the end of the pass, or a stop, or the next chunk.
std::optional<PassResult> AfterChunk(ChunkResult walked, const Chunk& chunk, uint64_t resume,
                                     Counter& counter) {
  if (walked == ChunkResult::kEnded) return PassResult::kEnded;
  if (walked == ChunkResult::kSinkFailed) return PassResult::kSinkFailed;
  if (resume > static_cast<uint64_t>(INT64_MAX)) return PassResult::kReadFailed;
  const bool stop = counter.Checkpoint();
  if (chunk.last) return PassResult::kEnded;
  if (stop) return PassResult::kStopped;
  return std::nullopt;
}

// The chunk walk through the stream: chunks of the read buffer's size
// (deciphered where the log is enciphered), one position move each, looked
// at in place where the stream can (ReadView), without asking the file's
// size. A chunk shorter than the buffer is the end of the file.
PassResult WalkStreamChunks(stream::LogFileStream& log, uint64_t first, ChunkWalker walk,
                            const BlockLayout& layout, Counter& counter) {
  const uint32_t capacity = log.read_buffer_capacity();
  if (capacity < kLargestItem) return PassResult::kReadFailed;  // no read buffer
  WalkState state;
  for (uint64_t at = first;;) {
    Chunk chunk;
    uint32_t got = 0;
    if (!log.Seek(static_cast<int64_t>(at), SeekOrigin::kBegin).ok() ||
        !log.ReadView(capacity, &chunk.data, &got).ok()) {
      return PassResult::kReadFailed;
    }
    chunk.size = got;
    chunk.base = at;
    chunk.last = got < capacity;
    const ChunkResult walked = walk(chunk, layout, state, counter, &at);
    if (auto end = AfterChunk(walked, chunk, at, counter)) return *end;
  }
}

// The chunk walk on two threads, each reading its pieces of the log through
// a handle of its own and walking them while they are in its cache; they
// take turns. While one walks a piece, the other reads the piece behind it,
// so the system's copying overlaps the walk, and no byte crosses from one
// processor's cache to the other's (a walk over bytes another processor has
// just written waits for every cache line). The turn passes with the walk's
// state, the position to resume at and, when a piece's end cut an item, the
// item's first bytes, which go before the next piece.
//
// A piece is read before its turn, one piece behind the piece the other
// thread walks next: the pieces follow each other while blocks are shorter
// than a piece. A turn whose piece does not hold the place where the walk
// resumes (behind a long block) reads the right one itself. A piece shorter
// than the others is the end of the file.
class TwoThreadWalk {
 public:
  TwoThreadWalk(SplitReading& reading, ChunkWalker walk, const BlockLayout& layout,
                Counter& counter)
      : reading_(reading), walk_(walk), layout_(layout), counter_(counter) {}

  // Nullopt when the second thread or the memory cannot be had.
  std::optional<PassResult> Run(uint64_t first) {
    const uint32_t piece = reading_.piece_size;
    const uint64_t stride = uint64_t{kLeadIn} + piece;
    memory_.reset(new (std::nothrow) uint8_t[stride * 2]);
    if (!memory_ || !reading_.files[0] || !reading_.files[1]) return std::nullopt;
    baton_.resume = first;
    platform::Thread second;
    if (!second.Start([this, first, piece] { Walker(1, first + piece); })) return std::nullopt;
    Walker(0, first);
    second.Join();
    return baton_.result;
  }

 private:
  static constexpr uint32_t kLeadIn = 32;
  static_assert(kLeadIn >= kLargestItem, "a cut item must fit before the next piece");

  // Handed from turn to turn; touched only by the thread whose turn it is.
  struct Baton {
    uint64_t resume = 0;       // where the walk goes on
    uint32_t cut = 0;          // bytes of a cut item, from resume on
    uint8_t cut_bytes[kLeadIn] = {};
    WalkState state;
    std::optional<PassResult> result;  // set: the pass is over
  };

  struct Piece {
    uint8_t* data = nullptr;
    uint64_t start = 0;
    uint32_t size = 0;
    Status status;
  };

  void Read(int worker, uint64_t start, Piece* piece) {
    const uint32_t want = reading_.piece_size;
    piece->start = start;
    piece->size = 0;
    piece->status = Status::Ok();
    // A read that delivers nothing is the end of the file; a short one
    // before it (a signal) is followed by another.
    while (piece->size < want && start <= static_cast<uint64_t>(INT64_MAX)) {
      uint32_t got = 0;
      piece->status = reading_.files[worker]->ReadAt(static_cast<int64_t>(start + piece->size),
                                                     piece->data + piece->size,
                                                     want - piece->size, &got);
      if (!piece->status.ok() || got == 0) break;
      piece->size += got;
    }
  }

  // Worker 0 has the even turns, worker 1 the odd ones.
  void Walker(int worker, uint64_t guess) {
    Piece piece;
    piece.data = memory_.get() + (uint64_t{kLeadIn} + reading_.piece_size) * worker + kLeadIn;
    for (uint32_t turn = static_cast<uint32_t>(worker);; turn += 2) {
      Read(worker, guess, &piece);
      for (uint32_t t = turns_.value(); t != turn; t = turns_.value()) turns_.WaitPast(t);
      if (baton_.result) {  // over: the other thread ends at its turn
        turns_.Advance();
        return;
      }
      if (!Holds(piece, baton_)) Read(worker, baton_.resume + baton_.cut, &piece);
      WalkTurn(piece);
      // The next turn's piece starts behind this one, unless a block
      // reaches past it; this thread's next piece follows that one.
      const uint64_t end = piece.start + piece.size;
      const uint64_t next = baton_.resume < end + reading_.piece_size ? end : baton_.resume;
      guess = next + reading_.piece_size;
      const bool over = baton_.result.has_value();
      turns_.Advance();
      if (over) return;
    }
  }

  // Whether `piece` goes on where the last turn stopped: right behind the
  // cut item, or around the position to resume at (a short piece: the end
  // of the file, also when the position lies behind it).
  bool Holds(const Piece& piece, const Baton& b) const {
    if (b.cut > 0) return piece.start == b.resume + b.cut;
    return piece.start <= b.resume &&
           (b.resume < piece.start + piece.size || piece.size < reading_.piece_size);
  }

  // Walks this turn's piece from where the last turn stopped.
  void WalkTurn(const Piece& piece) {
    Baton& b = baton_;
    if (!piece.status.ok()) {
      b.result = PassResult::kReadFailed;
      return;
    }
    const uint64_t end = piece.start + piece.size;
    Chunk chunk;
    chunk.last = piece.size < reading_.piece_size;
    chunk.base = b.resume;
    if (b.cut > 0) {  // the cut item goes before the piece
      std::memcpy(piece.data - b.cut, b.cut_bytes, b.cut);
      chunk.data = piece.data - b.cut;
      chunk.size = b.cut + piece.size;
    } else {  // resume lies in the piece (or behind the end of a short one)
      const uint64_t into = std::min(b.resume, end) - piece.start;
      chunk.data = piece.data + into;
      chunk.size = static_cast<uint32_t>(piece.size - into);
    }
    uint64_t resume = 0;
    const ChunkResult walked = walk_(chunk, layout_, b.state, counter_, &resume);
    b.result = AfterChunk(walked, chunk, resume, counter_);
    if (b.result) return;
    b.resume = resume;
    b.cut = 0;
    if (resume < end) {  // an item cut by the piece's end: fewer bytes than the largest
      b.cut = static_cast<uint32_t>(end - resume);
      std::memcpy(b.cut_bytes, piece.data + (resume - piece.start), b.cut);
    }
  }

  SplitReading& reading_;
  const ChunkWalker walk_;
  const BlockLayout& layout_;
  Counter& counter_;
  std::unique_ptr<uint8_t[]> memory_;
  Baton baton_;
  platform::StepCounter turns_;  // turns walked; the baton is the next turn's
};

// The record walk over raw-record and hex-text logs, through a reader of
// its own (no bookmarks): every position is one the log's reader uses.
PassResult WalkRecords(stream::LogFileStream& log, EnumFileVersion version, Counter& counter) {
  BookmarkStore no_bookmarks;
  RecordReader reader(log, no_bookmarks);
  reader.Reset(version);
  int64_t bulk_position = 0;
  for (;;) {
    const int64_t start = log.GetPosition();
    const uint32_t before = reader.remaining_sub_messages();
    LogBlockHeader header;
    bool end_of_file = false;
    Result r = reader.ReadHeader(&header, &end_of_file);
    // A damaged record ends the pass: the reader cannot go past it either.
    if (start < 0 || !r.ok() || end_of_file) return PassResult::kEnded;
    const int64_t data = log.GetPosition();
    IndexRecord record;
    if (before > 0) {
      record = {static_cast<uint64_t>(start), static_cast<uint64_t>(bulk_position), before};
    } else if (reader.last_from_bulk()) {
      bulk_position = start;
      record = {static_cast<uint64_t>(data), static_cast<uint64_t>(start),
                reader.remaining_sub_messages() + 1};
    } else {
      record = {static_cast<uint64_t>(data), static_cast<uint64_t>(start), 0};
    }
    if (!reader.SkipPending().ok()) return PassResult::kReadFailed;
    const int64_t end = log.GetPosition();
    if (data < 0 || end < 0) return PassResult::kReadFailed;
    if (!counter.Count(end, [&] { return record; })) return PassResult::kSinkFailed;
    if (counter.Checkpoint()) return PassResult::kStopped;
  }
}

}  // namespace

bool CanSplitReading(stream::LogFileStream& log) {
  const EnumFileVersion version = log.version();
  return log.plain_reads() && stream::FileBlockHeaderLength(version) != 0 &&
         !RawRecordVersion(version) && !HexTextVersion(version);
}

PassResult RunIndexPass(stream::LogFileStream& log, EnumFileVersion version, int64_t resolution,
                        MessageSink& sink, PassCounts* counts, SplitReading* split) {
  Counter counter(resolution, sink);
  const int64_t first = log.GetPosition();
  counter.Start(first);
  PassResult result = PassResult::kEnded;
  if (RawRecordVersion(version) || HexTextVersion(version)) {
    result = WalkRecords(log, version, counter);
  } else if (stream::FileBlockHeaderLength(version) != 0) {
    const BlockLayout layout = LayoutFor(version);
    const ChunkWalker walk = WalkerFor(layout);
    std::optional<PassResult> split_result;
    if (first < 0) {
      split_result = PassResult::kReadFailed;
    } else if (split && split->piece_size >= kLargestItem) {
      // Pieces shorter than the largest item could cut one without end.
      split_result = TwoThreadWalk(*split, walk, layout, counter).Run(static_cast<uint64_t>(first));
    }
    result = split_result ? *split_result
                          : WalkStreamChunks(log, static_cast<uint64_t>(first), walk, layout, counter);
  }
  *counts = counter.counts();
  return result;
}

}  // namespace corvane::logfile2
