// LogFile2::WriteBlock: stamps a block, encodes its header in the byte
// order of the log's generation and hands header and data to the log
// stream's disk buffer. Bookmark blocks become bookmarks instead.
#include <cstring>

#include "frame/error_catalogue.h"
#include "logfile2/logfile2_format.h"
#include "stream/block_header.h"
#include "logfile2/log_file2.h"

namespace corvane::logfile2 {
namespace {

using platform::CriticalSectionLock;

// Bytes of a bookmark block's comment: up to its zero terminator, never
// beyond the data length the header gives.
size_t CommentLength(const uint8_t* data, uint32_t limit) {
  const void* zero = std::memchr(data, 0, limit);
  return zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : limit;
}

}  // namespace

HRESULT LogFile2Object::WriteBlock(BYTE* pStructBlockHeader, ULONG /*dwHeaderLength*/,
                                   BYTE* pbyData, ULONG /*dwDataLength*/,
                                   ULONG dwBulkBlockMsgCount) {
  if (!pbyData || !pStructBlockHeader) {
    return Raise(errors::kLogFileNullWriteBlockParams);
  }
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  if (!open_) return Raise(errors::kFileNotOpen);
  // Only a log opened for writing takes blocks. A log opened for reading
  // would keep them in its disk buffer for a Close that can never write
  // them (and so never succeeds), and a bookmark block would land out of
  // order behind the bookmarks loaded with it.
  if (!writing_) return Raise(errors::kHeaderWriteFailed);

  // Only the header's data length counts; the parameters are not consulted.
  LogBlockHeader header = stream::ReadNaturalHeader(pStructBlockHeader);
  if (header.wBlockID == CVR_ID_BOOKMARK) {
    const auto* text = reinterpret_cast<const char*>(pbyData);
    bookmarks_.Append(reader_.message_number(), header.dwDataLength,
                      std::string(text, CommentLength(pbyData, header.dwDataLength)));
    AddMessages(1);
    return S_OK;
  }

  const bool bulk = header.wBlockID == CVR_ID_MULTI_QUIVOX_MSG;
  if (bulk && (dwBulkBlockMsgCount == 0 || header.dwDataLength > UINT32_MAX - kBulkCountLength)) {
    // Readers treat a bulk block without messages as damage: never write one.
    return Raise(errors::kInvalidBulkCount);
  }
  if (header.byTimeStampMode == kStampNow || header.byTimeStampMode == kStampNowAndRestart) {
    header.qwTimeStamp = time_base_.Stamp(header.byTimeStampMode == kStampNowAndRestart);
  }
  const int version = log_.version();
  uint8_t raw[kBlockHeaderLength + kBulkCountLength];
  uint32_t raw_length = kBlockHeaderLength;
  if (bulk) {
    header.dwDataLength += kBulkCountLength;
    Encode32(BulkCountOrder(version), raw + kBlockHeaderLength, dwBulkBlockMsgCount);
    raw_length += kBulkCountLength;
  }
  stream::EncodeBlockHeader(version, header, raw);
  const uint32_t data_length = bulk ? header.dwDataLength - kBulkCountLength : header.dwDataLength;

  // The stream takes a failed block back whole (nothing of it stays in the
  // file or the buffer), so a retry after a full disk writes it once.
  bool header_failed = false;
  Status st = log_.WriteRecord(raw, raw_length, pbyData, data_length, &header_failed);
  if (!st.ok()) {
    if (st.IsDiskFull()) return Raise(errors::kInsufficientDiskSpace);
    if (header_failed) return Raise(errors::kHeaderWriteFailed);
    return Raise(errors::kDataWriteFailed);
  }
  const uint32_t messages = bulk ? dwBulkBlockMsgCount : 1;
  reader_.CountWrittenMessages(messages);
  AddMessages(messages);
  return S_OK;
}

}  // namespace corvane::logfile2
