#include "logfile/log_file.h"

#include <utility>

#include "frame/error_catalogue.h"
#include "frame/strings.h"
#include "stream/open_mode.h"
#include "stream/block_header.h"
#include "stream/file_format.h"
#include "stream/settings.h"
#include "stream/version_detection.h"

namespace corvane::logfile {
namespace {

using platform::CriticalSectionLock;
using platform::SeekOrigin;

const frame::ErrorSource kSource{"LOGFILE", &IID_ILogFile, &CLSID_LogFile};


}  // namespace

LogFileObject::LogFileObject(IUnknown* outer) : ComObject(outer, kSource) {}

// Closes the file without writing what is still buffered.
LogFileObject::~LogFileObject() = default;

HRESULT CreateLogFile(IUnknown* outer, REFIID iid, void** out) {
  return frame::CreateComObject<LogFileObject>(outer, iid, out);
}

void LogFileObject::ResetFileState() {
  reader_.reset();
  buffer_.Detach();
  file_.reset();
  open_ = false;
  writable_ = false;
  header_read_ = false;
  pending_length_ = 0;
  known_size_ = 0;
}

HRESULT LogFileObject::Open(BSTR bstrFileName, EnumFileAccessMode FileAccessMode,
                            EnumFileVersion* pFileFormat) {
  if (!bstrFileName || !pFileFormat) {
    return Raise(errors::kNullOpenParams);
  }
  if (open_) return Raise(errors::kFileAlreadyOpen);
  // The lock is taken before the disk buffer is replaced: another thread may
  // be opening, writing or closing through this object at the same time.
  CriticalSectionLock hold(lock_);
  if (open_) return Raise(errors::kFileAlreadyOpen);

  // A stored size of 0 (a key without the value) would leave no room for any
  // byte; LogFileDiskBufferSize() takes the 128-byte default instead.
  if (!buffer_.Allocate(stream::LogFileDiskBufferSize())) {
    return Raise(errors::kBufferTooLarge);
  }
  std::string path;
  if (!frame::BstrToNarrow(bstrFileName, &path)) return Raise(errors::kCreationFailedName);
  switch (FileAccessMode) {
    case FileAccessModeReadOnly: break;
    case FileAccessModeWriteCreateNew:
    case FileAccessModeWriteCreateAlways:
      if (const int v = stream::CallerVersion(pFileFormat);
          stream::GenerationOf(v).version != v || !stream::Handles(v, stream::kLogFileWrites)) {
        return Raise(errors::kCreationFailedFileFormat);
      }
      break;
    default: return Raise(errors::kCreationFailedAccessMode);
  }

  time_base_.Restart();
  HRESULT hr = OpenLocked(path, FileAccessMode, pFileFormat);
  return FAILED(hr) ? Raise(errors::CreationFailed(hr)) : S_OK;
}

HRESULT LogFileObject::OpenLocked(const std::string& path, EnumFileAccessMode mode,
                                  EnumFileVersion* pFileFormat) {
  const bool writing = mode != FileAccessModeReadOnly;
  const platform::OpenOptions options = stream::OpenOptionsFor(mode, platform::kShareNone);
  if (!platform::OpenFile(path, options, &file_).ok()) {
    file_.reset();
    return E_CVR_FILE_CREATION_FAILS;
  }
  HRESULT hr = writing ? StartWriting(*pFileFormat) : StartReading(pFileFormat);
  if (FAILED(hr)) {
    ResetFileState();
    if (writing) (void)platform::RemoveFile(path);
    return hr;
  }
  open_ = true;
  return S_OK;
}

HRESULT LogFileObject::StartWriting(EnumFileVersion version) {
  version_ = version;
  const auto header = stream::BuildE101Header(stream::E101Form::kLogFile);
  uint32_t written = 0;
  Status st = file_->Write(header.data(), kFileHeaderLength, &written);
  if (!st.ok()) return st.IsDiskFull() ? E_CVR_DISK_FULL : E_CVR_FILE_HEADER_INFO_WRITE_FAIL;
  if (written != kFileHeaderLength) return E_CVR_DISK_FULL;
  // Without its key the log could not be enciphered; refuse it now rather
  // than at the first flush.
  if (!cipher_.Load(version).ok()) return E_CVR_FILE_CREATION_FAILS;
  sink_ = stream::FileByteSink(file_.get(), kFileHeaderLength);
  buffer_.Attach(&sink_, &cipher_);
  writable_ = true;
  return S_OK;
}

HRESULT LogFileObject::StartReading(EnumFileVersion* pFileFormat) {
  stream::FileByteSource source(file_.get());
  version_ = stream::DetectVersion(source, stream::TagSet::kReduced).version;
  *pFileFormat = version_;
  const stream::Generation& g = stream::GenerationOf(version_);
  if (g.version != version_ || !stream::Handles(version_, stream::kLogFileReads)) {
    return E_CVR_FILE_HEADER_INFO_WRONG_VERSION;
  }
  if (g.cipher != stream::CipherSet::kNone && !cipher_.Load(version_).ok()) {
    return E_CVR_FILE_HEADER_INFO_READ_FAIL;
  }
  // Files without a header of their own start their blocks at byte 0.
  if (g.header_length > 0 && !file_->Seek(g.header_length, SeekOrigin::kBegin, nullptr).ok()) {
    return E_CVR_FILE_HEADER_INFO_READ_FAIL;
  }
  reader_ = BlockReader::For(version_, file_.get(), g.header_length, &cipher_);
  return S_OK;
}

Status LogFileObject::Position(int64_t* position) {
  // While reading, the reader keeps the position (it reads ahead).
  if (reader_) {
    *position = reader_->position();
    return Status::Ok();
  }
  return file_->Seek(0, SeekOrigin::kCurrent, position);
}

Status LogFileObject::Size(int64_t* size) { return file_->GetSize(size); }

HRESULT LogFileObject::GetFilePointerPos(ULONGLONG* pqwFilePointerPos) {
  if (!pqwFilePointerPos) return Raise(errors::kLogFileNullGetFilePointerPos);
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);
  int64_t position = 0;
  if (!Position(&position).ok()) {
    *pqwFilePointerPos = ~0ull;
    return Raise(errors::kFilePointerFailed);
  }
  *pqwFilePointerPos = static_cast<uint64_t>(position);
  return S_OK;
}

HRESULT LogFileObject::GetFileSize(ULONGLONG* pqwFileSize) {
  if (!pqwFileSize) return Raise(errors::kNullGetFileSizeParams);
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);
  int64_t size = 0;
  if (!Size(&size).ok()) {
    *pqwFileSize = ~0ull;
    return Raise(errors::kFileSizeFailed);
  }
  *pqwFileSize = static_cast<uint64_t>(size);
  return S_OK;
}

HRESULT LogFileObject::ReadBlockHeader(BYTE* pbyStructBlockHeader, ULONG dwBlockHeaderLength,
                                       ULONG* pdwNumberOfBytesReturned, LONG* bEndOfFile) {
  if (!pbyStructBlockHeader || !pdwNumberOfBytesReturned || !bEndOfFile) {
    return Raise(errors::kLogFileNullReadBlockHeaderParams);
  }
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);
  *bEndOfFile = 0;
  *pdwNumberOfBytesReturned = 0;
  if (!reader_) return Raise(errors::kHeaderReadFailed);

  if (header_read_) {
    if (!reader_->Skip(pending_length_).ok()) {
      return Raise(errors::kDataSkipFailed);
    }
    // Skipped once: a header read that fails now must not skip it again.
    header_read_ = false;
    pending_length_ = 0;
  }

  // The common case needs neither the file's size nor the full decoder.
  if (LogBlockHeader header; reader_->TakeBlockAtHand(known_size_, &header)) {
    pending_length_ = header.dwDataLength;
    header_read_ = true;
    stream::DeliverHeader(header, pbyStructBlockHeader, dwBlockHeaderLength);
    *pdwNumberOfBytesReturned = dwBlockHeaderLength;
    return S_OK;
  }

  NextBlock next;
  if (!reader_->Next(&next).ok()) return Raise(errors::kHeaderReadFailed);
  if (next.end_of_file) *bEndOfFile = 1;

  int64_t position = 0;
  if (!Position(&position).ok()) return Raise(errors::kHeaderReadFailed);
  // Logs only grow: the file's size is asked again (a system call) only
  // when a block seems to reach past the end known so far.
  auto rest = [position](int64_t size) { return size > position ? static_cast<uint64_t>(size - position) : 0; };
  if (next.pending_length > rest(known_size_) && !Size(&known_size_).ok()) {
    return Raise(errors::kHeaderReadFailed);
  }
  if (next.pending_length > rest(known_size_) || next.header.dwDataLength > kMaxBlockDataLength) {
    return Raise(errors::kLengthPastEnd);
  }

  pending_length_ = next.pending_length;
  header_read_ = true;
  stream::DeliverHeader(next.header, pbyStructBlockHeader, dwBlockHeaderLength);
  *pdwNumberOfBytesReturned = dwBlockHeaderLength;
  return S_OK;
}

HRESULT LogFileObject::ReadBlockData(BYTE* pbyData, ULONG dwDataLength) {
  if (!pbyData) return Raise(errors::kNullReadBlockDataParams);
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);
  if (!header_read_) return Raise(errors::kHeaderNotRead);
  // The caller's buffer holds dwDataLength bytes. The announced length is
  // never below what the read delivers, so callers passing it always get
  // the data; a smaller buffer gets nothing, and the data stays pending.
  if (dwDataLength < pending_length_) return Raise(errors::kDataReadFailed);
  if (!reader_->TakeDataAtHand(pbyData, pending_length_)) {
    uint32_t got = 0;
    if (!reader_->Read(pbyData, pending_length_, &got).ok() || got != pending_length_) {
      return Raise(errors::kDataReadFailed);
    }
  }
  header_read_ = false;
  return S_OK;
}

HRESULT LogFileObject::Close() {
  CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);
  if (buffer_.broken()) {
    // A failed flush could not be undone; what the file holds past the last
    // good flush is unknown, so nothing more is written to it.
    ResetFileState();
    buffer_.Release();
    return Raise(errors::kFlushFailed);
  }
  if (buffer_.fill() > 0) {
    Status st = buffer_.Flush();
    if (!st.ok()) {
      if (st.IsDiskFull()) return Raise(errors::kOutOfDiskSpace);
      return Raise(errors::kFlushFailed);
    }
  }
  // The system may report a lost write-back only when the file is closed.
  const bool wrote = writable_;
  const Status closed = file_->Close();
  ResetFileState();
  buffer_.Release();
  if (wrote && !closed.ok()) return Raise(errors::kFlushFailed);
  return S_OK;
}

HRESULT LogFileObject::WriteBlock(BYTE* pStructBlockHeader, ULONG /*dwHeaderLength*/,
                                  BYTE* pbyData, ULONG /*dwDataLength*/) {
  if (!pbyData || !pStructBlockHeader) {
    return Raise(errors::kLogFileNullWriteBlockParams);
  }
  if (!open_) return Raise(errors::kFileNotOpen);
  CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);

  LogBlockHeader header = stream::ReadNaturalHeader(pStructBlockHeader);
  if (header.byTimeStampMode == 2 || header.byTimeStampMode == 3) {
    header.qwTimeStamp = time_base_.Stamp(header.byTimeStampMode == 3);
  }
  uint8_t raw[kLongBlockHeaderLength];
  stream::EncodeBlockHeader(FileVersionCVR_Ve101, header, raw);

  // Only a log this object created takes blocks; anything else fails as a
  // plain write failure, without a system error.
  if (!writable_ || version_ != FileVersionCVR_Ve101 || buffer_.broken()) {
    return Raise(errors::kHeaderWriteFailed);
  }
  // A failed block is taken back whole (write_buffer.h), so a retry after a
  // full disk writes it once.
  bool header_failed = false;
  Status st = buffer_.Append(raw, kLongBlockHeaderLength, pbyData, header.dwDataLength,
                             &header_failed);
  if (!st.ok()) {
    if (header_failed) {
      return Raise(st.IsDiskFull() ? errors::kHeaderWriteDiskFull : errors::kHeaderWriteFailed);
    }
    return Raise(st.IsDiskFull() ? errors::kDataWriteDiskFull : errors::kDataWriteFailed);
  }
  return S_OK;
}

}  // namespace corvane::logfile
