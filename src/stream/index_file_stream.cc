#include "stream/index_file_stream.h"

#include <cstring>

#include "platform/file.h"
#include "stream/companion_path.h"

namespace corvane::stream {

using platform::Disposition;
using platform::SeekOrigin;

std::string IndexFileStream::IndexPathFor(const std::string& path) {
  // A path with "~" names the rebuild file itself.
  if (path.find('~') != std::string::npos) return path;
  return CompanionPath(path, "idx");
}

Status IndexFileStream::OpenIndex(const std::string& path, const platform::OpenOptions& options,
                                  int log_version, uint64_t resolution, uint32_t* last_error) {
  if ((options.access & platform::kAccessWrite) || options.disposition == Disposition::kOpenAlways ||
      options.disposition == Disposition::kTruncateExisting) {
    bool big = log_version == FileVersionCVR_Vu102 || log_version == FileVersionIDX_Vu102;
    set_version(big ? FileVersionIDX_Vu102 : FileVersionIDX_V0102);
  }
  path_ = IndexPathFor(path);
  Status st = Open(path_, options, version(), last_error);
  if (!st.ok()) return st;
  if (options.disposition == Disposition::kOpenExisting) {
    bool index = version() == FileVersionIDX_V0102 || version() == FileVersionIDX_Vu102;
    if (!index || index_sub_version() < 1) return Status::Error(kErrFileNotFound);
    st = ReadField(kIndexResolutionOffset, &resolution_);
    if (st.ok()) st = ReadField(kIndexRecordCountOffset, &record_count_);
    return st;
  }
  resolution_ = resolution;
  record_count_ = 0;
  uint8_t field[8];
  Encode64(field_order(), field, resolution_);
  st = WriteBuffered(field, sizeof field);
  if (!st.ok()) return st;
  Encode64(field_order(), field, record_count_);
  return WriteBuffered(field, sizeof field);
}

Status IndexFileStream::ReadIndexRecord(uint64_t message_number, IndexRecord* record) {
  *record = IndexRecord{};
  if (resolution_ == 0 || message_number < resolution_) return Status::Error(kErrInvalidParameter);
  uint64_t k = message_number / resolution_;
  const uint64_t first = uint64_t{header_length()} + kIndexFieldsLength;
  if (k - 1 > (INT64_MAX - first) / kIndexRecordLength) return Status::Error(kErrInvalidParameter);
  Status st = Seek(static_cast<int64_t>(first + kIndexRecordLength * (k - 1)), SeekOrigin::kBegin);
  if (!st.ok()) return st;
  uint8_t bytes[kIndexRecordLength];
  uint32_t got = 0;
  st = Read(bytes, sizeof bytes, &got);
  if (!st.ok()) return st;
  if (got < sizeof bytes) return Status::Error(kErrHandleEof);
  *record = DecodeIndexRecord(field_order(), bytes);
  return Status::Ok();
}

Status IndexFileStream::WriteIndexRecord(const IndexRecord& record) {
  uint8_t bytes[kIndexRecordLength];
  EncodeIndexRecord(field_order(), record, bytes);
  return WriteBuffered(bytes, sizeof bytes);
}

Status IndexFileStream::WriteRecordCount(uint64_t count) {
  Status st = Seek(header_length() + 8, SeekOrigin::kBegin);
  if (!st.ok()) return st;
  uint8_t field[8];
  Encode64(field_order(), field, count);
  uint32_t written = 0;
  st = Write(field, sizeof field, &written);
  if (st.ok()) record_count_ = count;
  return st;
}

Status IndexFileStream::ReadField(uint32_t offset, uint64_t* value) {
  *value = 0;
  const int64_t pos = GetPosition();
  if (pos < 0) return Status::Error(kErrInvalidHandle);
  // The field may have been rewritten through another handle (the indexing
  // thread writes the count when it completes): read it from the file.
  file().DropWindow();
  uint8_t field[8];
  uint32_t got = 0;
  Status st = Seek(offset, SeekOrigin::kBegin);
  if (st.ok()) st = Read(field, sizeof field, &got);
  if (st.ok() && got == sizeof field) *value = Decode64(field_order(), field);
  const Status back = Seek(pos, SeekOrigin::kBegin);
  return st.ok() ? back : st;
}

Status IndexFileStream::DeleteIndexFile() { return platform::RemoveFile(path_); }

}  // namespace corvane::stream
