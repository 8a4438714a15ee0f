#include "stream/log_file_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "stream/cipher.h"
#include "stream/file_format.h"
#include "stream/hex_text.h"
#include "stream/settings.h"
#include "stream/version_detection.h"

namespace corvane::stream {

using platform::SeekOrigin;

LogFileStream::LogFileStream() {
  StreamSettings settings = ReadStreamSettings();
  disk_buffer_size_ = settings.disk_buffer_size;
  indexing_buffer_size_ = settings.indexing_buffer_size;
  uint32_t room = std::clamp(indexing_buffer_size_, kMinReadBuffer, kMaxReadBuffer);
  read_buffer_.reset(new (std::nothrow) uint8_t[room]);
  read_buffer_capacity_ = read_buffer_ ? room : 0;
}

LogFileStream::~LogFileStream() = default;

Status LogFileStream::Open(const std::string& path, const platform::OpenOptions& options,
                           int version, uint32_t* last_error) {
  // The earlier file is let go first, so that the same file can be opened
  // again on this stream without meeting its own share mode.
  (void)file_.Close();
  plain_reads_ = false;
  std::unique_ptr<platform::File> handle;
  deciphered_.Reset();
  uint32_t code = 0;
  Status st = path.size() > platform::MaxPathLength()
                  ? Status::Error(kErrFilenameTooLong)
                  : platform::OpenFile(path, options, &handle, &code);
  if (!st.ok()) code = st.code();
  if (last_error) *last_error = code;
  if (!st.ok()) return st;
  file_.Attach(std::move(handle));

  index_sub_version_ = 0;
  bool reading = (options.access & platform::kAccessRead) != 0;
  int64_t size = 0;
  // A file whose size or header cannot be read is an I/O failure, never an
  // empty file or one of unknown kind.
  st = file_.GetSize(&size);
  if (!st.ok()) return st;
  // A number that names no generation is kept as unknown (an enum cannot
  // hold every number).
  const bool known = version >= 0 && version <= kLastFileVersion;
  version_ = reading && size > 0 ? DetectVersion()
             : known             ? static_cast<EnumFileVersion>(version)
                                 : FileVersionUnknown;
  if (reading && size > 0 && !detect_failure_.ok()) return detect_failure_;
  enciphered_ = IsEnciphered(version_);
  if (enciphered_) {
    // Before anything is written: a file must not be started with a key
    // other than the one configured.
    st = cipher_.Load(version_);
    if (st.ok()) st = deciphered_.Prepare(cipher_, GenerationOf(version_).header_length);
    if (!st.ok()) return st;
    disk_buffer_size_ = std::max<uint32_t>(RoundUpTo128(disk_buffer_size_), 128);
  } else {
    (void)cipher_.Load(version_);  // changes nothing for versions without a set
  }
  if (!buffer_.Allocate(disk_buffer_size_)) return Status::Error(kErrNotEnoughMemory);
  buffer_.Attach(&file_, enciphered_ ? &cipher_ : nullptr);
  header_length_ = GenerationOf(version_).header_length;
  plain_reads_ = !enciphered_ && GenerationOf(version_).kind != FileKind::kHexText;
  if (!reading) return WriteHeader();
  return Status::Ok();
}

Status LogFileStream::Close() {
  plain_reads_ = false;
  DropDecipheredWindow();
  return file_.Close();
}

EnumFileVersion LogFileStream::DetectVersion() {
  platform::CriticalSectionLock hold(lock_);
  Detection d = stream::DetectVersion(file_, TagSet::kFull);
  index_sub_version_ = d.index_sub_version;
  detect_failure_ = d.failure;
  return d.version;
}

Status LogFileStream::WriteHeader() {
  std::vector<uint8_t> header = BuildHeader(version_);
  if (header.empty()) return Status::Error(kErrInvalidParameter);
  uint32_t written = 0;
  return Write(header.data(), static_cast<uint32_t>(header.size()), &written);
}

Status LogFileStream::Seek(int64_t distance, SeekOrigin origin) {
  return file_.Seek(distance, origin, nullptr);
}

int64_t LogFileStream::GetPosition() {
  platform::CriticalSectionLock hold(lock_);
  int64_t pos = 0;
  return file_.Tell(&pos).ok() ? pos : -1;
}

int64_t LogFileStream::GetSize() {
  int64_t size = 0;
  return file_.GetSize(&size).ok() ? size : -1;
}

Status LogFileStream::ReadDecoded(void* dst, uint32_t n, uint32_t* delivered) {
  if (!dst || !delivered) return Status::Error(kErrInvalidParameter);
  *delivered = 0;
  if (!file_.is_open()) return Status::Error(kErrInvalidHandle);
  if (GenerationOf(version_).kind == FileKind::kHexText) {
    return ReadHexText(file_, dst, n, delivered);
  }
  if (enciphered_) return deciphered_.Read(file_, dst, n, delivered);
  return file_.Read(dst, n, delivered);
}

Status LogFileStream::Write(const void* src, uint32_t n, uint32_t* written) {
  *written = 0;
  DropDecipheredWindow();
  if (!src) return Status::Error(kErrInvalidParameter);
  Status st = file_.Write(src, n, written);
  if (st.ok() && *written == n) return Status::Ok();
  // Back to where the write began, so that a later write replaces the
  // partial data instead of following it.
  if (*written > 0) (void)file_.Seek(-static_cast<int64_t>(*written), SeekOrigin::kCurrent, nullptr);
  return st.ok() ? Status::Error(kErrDiskFull) : st;
}

Status LogFileStream::WriteBuffered(const void* src, uint32_t n) {
  DropDecipheredWindow();
  if (!src) return Status::Error(kErrInvalidParameter);
  return buffer_.Append(src, n, nullptr, 0);
}

Status LogFileStream::SyncToDisk() { return file_.Flush(); }

Status LogFileStream::ReadView(uint32_t n, const uint8_t** data, uint32_t* delivered) {
  *data = nullptr;
  *delivered = 0;
  n = std::min(n, read_buffer_capacity_);
  if (plain_reads_ && n <= file_.window_capacity()) return file_.View(n, data, delivered);
  if (!read_buffer_) return Status::Error(kErrNotEnoughMemory);
  *data = read_buffer_.get();
  return Read(read_buffer_.get(), n, delivered);
}

Status LogFileStream::FillReadBuffer(uint32_t* delivered) {
  *delivered = 0;
  int64_t pos = GetPosition();
  int64_t size = GetSize();
  if (pos < 0 || size < 0) return Status::Error(kErrInvalidHandle);
  int64_t left = std::max<int64_t>(size - pos, 0);
  uint32_t want = static_cast<uint32_t>(std::min<int64_t>(left, read_buffer_capacity_));
  if (want == 0) return Status::Ok();
  return Read(read_buffer_.get(), want, delivered);
}

}  // namespace corvane::stream
