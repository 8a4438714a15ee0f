#include "log_writer.h"

#include "bstr.h"
#include "names.h"

namespace cvrtool {

std::vector<uint8_t> MakeMessage(uint8_t media, uint8_t receiver, uint8_t sender,
                                 uint8_t resource, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> m = {media,
                            receiver,
                            sender,
                            resource,
                            static_cast<uint8_t>(payload.size() >> 8),
                            static_cast<uint8_t>(payload.size() & 0xFF)};
  m.insert(m.end(), payload.begin(), payload.end());
  return m;
}

size_t MessageLength(const uint8_t* data, size_t size) {
  if (size < kMessageHeadLength) return size;
  const size_t announced = kMessageHeadLength + (static_cast<size_t>(data[4]) << 8 | data[5]);
  return announced < size ? announced : size;
}

LogWriter::LogWriter(const std::string& path, EnumFileVersion version)
    : path_(path), version_(version), log_(CreateLogFile2()) {
  const Bstr name = Bstr::FromFileName(path);
  EnumFileVersion v = version;
  Check(log_->Open(name.get(), FileAccessModeWriteCreateAlways, &v, FALSE),
        "cannot create " + path + " as " + FileVersionName(version));
}

void LogWriter::Write(uint16_t id, uint8_t conn, uint8_t mode, uint64_t stamp,
                      const uint8_t* data, uint32_t size) {
  LogBlockHeader h{};
  h.wBlockID = id;
  h.byConnID = conn;
  h.byTimeStampMode = mode;
  h.qwTimeStamp = stamp;
  h.dwDataLength = size;
  BYTE scratch = 0;
  BYTE* bytes = size ? const_cast<BYTE*>(data) : &scratch;
  const HRESULT hr = log_->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, bytes, size, 0);
  if (FAILED(hr)) Check(hr, "writing block " + std::to_string(blocks_) + " to " + path_);
  ++blocks_;
  ++messages_;
}

void LogWriter::WriteBulk(uint8_t conn, uint8_t mode, uint64_t stamp,
                          const std::vector<std::vector<uint8_t>>& messages) {
  std::vector<uint8_t> data;
  for (const auto& m : messages) {
    const size_t length = MessageLength(m.data(), m.size());
    data.insert(data.end(), m.begin(), m.begin() + static_cast<ptrdiff_t>(length));
    if (BulkMessagesPadded(version_)) data.resize((data.size() + 3) & ~size_t{3}, 0);
  }
  LogBlockHeader h{};
  h.wBlockID = CVR_ID_MULTI_QUIVOX_MSG;
  h.byConnID = conn;
  h.byTimeStampMode = mode;
  h.qwTimeStamp = stamp;
  h.dwDataLength = static_cast<ULONG>(data.size());
  BYTE scratch = 0;
  const HRESULT hr = log_->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h,
                                      data.empty() ? &scratch : data.data(), h.dwDataLength,
                                      static_cast<ULONG>(messages.size()));
  if (FAILED(hr)) Check(hr, "writing bulk block " + std::to_string(blocks_) + " to " + path_);
  ++blocks_;
  messages_ += static_cast<int64_t>(messages.size());
}

void LogWriter::WriteBookmark(const std::string& comment) {
  // The library takes the comment up to its terminating zero and stores the
  // header's length with it.
  std::vector<uint8_t> text(comment.begin(), comment.end());
  text.push_back(0);
  LogBlockHeader h{};
  h.wBlockID = CVR_ID_BOOKMARK;
  h.dwDataLength = static_cast<ULONG>(comment.size());
  Check(log_->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, text.data(), h.dwDataLength, 0),
        "writing a bookmark to " + path_);
  ++bookmarks_;
}

int64_t LogWriter::FileSize() {
  LONGLONG size = 0;
  Check(log_->GetFileSize(&size), "GetFileSize");
  return size;
}

void LogWriter::Close() { Check(log_->Close(), "closing " + path_); }

}  // namespace cvrtool
