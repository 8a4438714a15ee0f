#include "logfile2/index_pass.h"

#include <cstdint>
#include <memory>
#include <new>

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

 private:
  const int64_t resolution_;
  MessageSink& sink_;
  int64_t since_record_ = 0;
  PassCounts counts_;
};

// The chunk walk over generations with block headers. An item is taken
// when all the bytes it needs lie in the chunk; its data may reach beyond
// (the next chunk starts behind it). The next chunk starts at the first
// item that did not fit. Chunks of the read buffer's size are looked at in
// place through the stream's ReadView (min(bytes left, size), as
// FillReadBuffer gives them, without asking the file's size each time and
// without copying them out of the read-ahead window).
PassResult WalkBlocks(stream::LogFileStream& log, const BlockLayout& layout, Counter& counter) {
  const uint32_t capacity = log.read_buffer_capacity();
  if (capacity < kLargestItem) return PassResult::kReadFailed;  // no read buffer
  const uint32_t h = layout.header_length;
  uint32_t remaining = 0;  // messages of the current bulk block still to come
  uint64_t bulk_position = 0;
  // Where the next chunk starts: the stream stands there (one position
  // query for the whole walk, one move per chunk).
  const int64_t first = log.GetPosition();
  if (first < 0) return PassResult::kReadFailed;
  auto base = static_cast<uint64_t>(first);
  for (;;) {
    uint32_t got = 0;
    const uint8_t* chunk = nullptr;  // in place where the stream can (no copy)
    if (!log.ReadView(capacity, &chunk, &got).ok()) return PassResult::kReadFailed;
    uint64_t offset = 0;  // may lie beyond the chunk after a long block
    while (offset < got) {  // every item needs bytes of the chunk
      const uint8_t* p = chunk + offset;
      const uint64_t at = base + offset;
      uint64_t size = 0;
      bool counted = false;
      if (remaining > 0) {
        if (offset + kRawRecordHeadLength > got) break;
        size = MessageSize(p, layout.padded_messages);
        counted = counter.Count(static_cast<int64_t>(at + size),
                                [&] { return IndexRecord{at, bulk_position, remaining}; });
        --remaining;
      } else {
        if (offset + h > got) break;
        const stream::BlockExtent block = stream::PeekBlockExtent(layout.header_order, h, p);
        if (block.block_id == CVR_ID_MULTI_QUIVOX_MSG) {
          if (offset + h + kBulkCountLength + kRawRecordHeadLength > got) break;
          const uint32_t count = Decode32(layout.count_order, p + h);
          // The reader refuses a bulk block without messages: nothing
          // behind it can be numbered.
          if (count == 0) return PassResult::kEnded;
          size = h + kBulkCountLength + MessageSize(p + h + kBulkCountLength, layout.padded_messages);
          counted = counter.Count(static_cast<int64_t>(at + size),
                                  [&] { return IndexRecord{at + h + kBulkCountLength, at, count}; });
          remaining = count - 1;
          bulk_position = at;
        } else {
          size = h + uint64_t{block.data_length};
          counted = counter.Count(static_cast<int64_t>(at + size),
                                  [&] { return IndexRecord{at + h, at, 0}; });
        }
      }
      if (!counted) return PassResult::kSinkFailed;
      offset += size;
    }
    base += offset;
    if (base > static_cast<uint64_t>(INT64_MAX) ||
        !log.Seek(static_cast<int64_t>(base), SeekOrigin::kBegin).ok()) {
      return PassResult::kReadFailed;
    }
    const bool stop = counter.Checkpoint();
    if (got < capacity) return PassResult::kEnded;
    if (stop) return PassResult::kStopped;
  }
}

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

PassResult RunIndexPass(stream::LogFileStream& log, EnumFileVersion version, int64_t resolution,
                        MessageSink& sink, PassCounts* counts) {
  Counter counter(resolution, sink);
  counter.Start(log.GetPosition());
  PassResult result = PassResult::kEnded;
  if (RawRecordVersion(version) || HexTextVersion(version)) {
    result = WalkRecords(log, version, counter);
  } else if (stream::FileBlockHeaderLength(version) != 0) {
    result = WalkBlocks(log, LayoutFor(version), counter);
  }
  *counts = counter.counts();
  return result;
}

}  // namespace corvane::logfile2
