#include "legacy/corvane_object.h"

#include <cstring>
#include <string>

#include "frame/error_catalogue.h"
#include "frame/strings.h"
#include "platform/clock.h"
#include "stream/block_header.h"
#include "stream/file_format.h"
#include "stream/version_detection.h"
#include "stream/open_mode.h"

namespace corvane::legacy {
namespace {

const frame::ErrorSource kSource{"CORVANE", &IID_ICorvane, &CLSID_Corvane};

constexpr uint32_t kInvalid32 = 0xFFFFFFFFu;

// The one generation this object reads and writes: V 01.00.
using stream::kShortBlockHeaderLength;
using stream::ShortBlockHeader;
constexpr uint32_t kFileHeaderSize = stream::GenerationOf(FileVersionCVR_V0100).header_length;

}  // namespace

CorvaneObject::CorvaneObject(IUnknown* outer) : ComObject(outer, kSource) {}

HRESULT CreateCorvane(IUnknown* outer, REFIID iid, void** out) {
  if (outer) return CLASS_E_NOAGGREGATION;
  return frame::CreateComObject<CorvaneObject>(nullptr, iid, out);
}

HRESULT CorvaneObject::Open(BSTR bstrFileName, EnumCVRFileAccessMode CVRFileAccessMode,
                            EnumCVRFileCreateMode CVRFileCreateMode) {
  if (!bstrFileName) return Raise(errors::kNullOpenParams);
  if (CVRFileAccessMode == CVRFileAccessModeWrite &&
      CVRFileCreateMode == CVRFileCreateModeExisting) {
    return Raise(errors::kIllegalAccessFlags);
  }

  bool writing = false;
  switch (CVRFileAccessMode) {
    case CVRFileAccessModeRead: break;
    case CVRFileAccessModeWrite: writing = true; break;
    default: return Raise(errors::kCreationFailedAccessMode);
  }
  platform::Disposition disposition = platform::Disposition::kOpenExisting;
  switch (CVRFileCreateMode) {
    case CVRFileCreateModeNew: disposition = platform::Disposition::kCreateNew; break;
    case CVRFileCreateModeAlways: disposition = platform::Disposition::kCreateAlways; break;
    case CVRFileCreateModeExisting: break;
    default: return Raise(errors::kCreationFailedCreateMode);
  }
  // Exclusive use.
  const platform::OpenOptions options =
      stream::OpenOptionsFor(writing, disposition, platform::kShareNone);

  std::string path;
  if (!frame::BstrToNarrow(bstrFileName, &path)) return Raise(errors::kCreationFailedName);
  if (CVRFileAccessMode == CVRFileAccessModeRead &&
      CVRFileCreateMode == CVRFileCreateModeAlways) {
    // The header of a replaced file cannot be written through a read-only
    // handle, so this open could only fail after emptying an existing log.
    // It is refused before the file is touched, with the code that failed
    // header write would give.
    return Raise(errors::kCreationFailedHeaderWrite);
  }

  platform::CriticalSectionLock hold(lock_);
  std::unique_ptr<platform::File> file;
  Status opened = platform::OpenFile(path, options, &file);
  // An object that held a file gives it up whatever the outcome; since the
  // file is held exclusively, reopening the same file therefore fails.
  writer_.Detach();
  file_.reset();
  data_pending_ = false;
  pending_length_ = 0;
  if (!opened.ok()) return Raise(errors::kCreationFailed);
  file_ = std::move(file);

  if (CVRFileCreateMode != CVRFileCreateModeExisting) {
    const auto header = stream::BuildV0100Header();
    uint32_t written = 0;
    if (!file_->Write(header.data(), kFileHeaderSize, &written).ok()) {
      file_.reset();
      return Raise(errors::kCreationFailedHeaderWrite);
    }
    if (writing) {
      sink_ = stream::FileByteSink(file_.get(), kFileHeaderSize);
      writer_.Attach(&sink_, nullptr);
    }
    return S_OK;
  }
  HRESULT hr = ExamineHeader();
  return FAILED(hr) ? Raise(errors::CreationFailed(hr)) : S_OK;
}

HRESULT CorvaneObject::ExamineHeader() {
  // The header ends at its first 0x1A (its line ends hold carriage returns).
  stream::FileByteSource source(file_.get());
  std::string text;
  if (!stream::ReadHeaderText(source, &text, false)) {
    file_.reset();
    return E_CVR_FILE_HEADER_INFO_READ_FAIL;
  }
  const auto header_length = static_cast<uint32_t>(text.size());
  if (!file_->Seek(header_length, platform::SeekOrigin::kBegin, nullptr).ok()) {
    file_.reset();
    return E_CVR_FILE_HEADER_INFO_READ_FAIL;
  }
  // "V 01.00" is the first tag tried, so it wins whenever it occurs.
  if (stream::MatchTags(text, stream::ReducedTagSet()) != FileVersionCVR_V0100) {
    return E_CVR_FILE_HEADER_INFO_WRONG_VERSION;  // the file stays open
  }
  return S_OK;
}

HRESULT CorvaneObject::Close() {
  platform::CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);
  // Blocks go straight to the file, so a close the system refuses (a lost
  // write-back) is a failed write of the blocks before it.
  const bool wrote = writer_.attached();
  const Status closed = file_->Close();
  writer_.Detach();
  file_.reset();
  data_pending_ = false;
  pending_length_ = 0;
  if (wrote && !closed.ok()) return Raise(errors::kDataWriteFailed);
  return S_OK;
}

HRESULT CorvaneObject::WriteBlock(USHORT wBlocID, BYTE byConnID, BYTE* pbyData,
                                  ULONG dwDataLength) {
  if (!pbyData) return Raise(errors::kNullWriteBlockParams);
  platform::CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);

  ShortBlockHeader header;
  header.block_id = wBlocID;
  header.conn_id = byConnID;
  header.time_ms = platform::TickCount();
  header.data_length = dwDataLength;
  uint8_t bytes[kShortBlockHeaderLength];
  stream::EncodeShortBlockHeader(header, bytes);

  // A block that cannot be written whole (a full disk) is taken back, so
  // that a retry does not put the block behind a part of itself, which
  // would read back as garbage. A file opened for reading takes no block:
  // nothing is attached to write it, which fails as a header write.
  bool header_failed = false;
  if (!writer_.Append(bytes, kShortBlockHeaderLength, pbyData, dwDataLength, &header_failed).ok()) {
    return Raise(header_failed ? errors::kHeaderWriteFailed : errors::kDataWriteFailed);
  }
  return S_OK;
}

bool CorvaneObject::SkipPendingData() {
  // Positions of this interface are 32-bit. A length of 2^31 or more only
  // comes from a damaged file and would move the position backwards as a
  // signed distance: it is a failed skip, like a target beyond 4 GiB.
  if (pending_length_ >= 0x80000000u) return false;
  int64_t position = 0;
  if (!file_->Seek(0, platform::SeekOrigin::kCurrent, &position).ok()) return false;
  const int64_t target = position + pending_length_;
  if (target > static_cast<int64_t>(kInvalid32)) return false;
  // Data that ends beyond the end of the file was cut off (a recorder that
  // died while writing it): that is damage, not the end of the log. The file
  // is held exclusively, so its size cannot grow meanwhile.
  int64_t size = 0;
  if (!file_->GetSize(&size).ok() || target > size) return false;
  if (!file_->Seek(target, platform::SeekOrigin::kBegin, nullptr).ok()) return false;
  // The data is behind us now: a later header read (after meeting the end of
  // the file or a damaged header) must not skip it a second time.
  data_pending_ = false;
  return true;
}

HRESULT CorvaneObject::ReadBlockHeader(USHORT* pwBlockID, BYTE* pbyConnID, ULONG* pdwTimeStamp,
                                       ULONG* pdwDataBlockLength, LONG* bEndOfFile) {
  if (!pwBlockID || !pbyConnID || !pdwTimeStamp || !pdwDataBlockLength || !bEndOfFile) {
    return Raise(errors::kNullReadBlockHeaderParams);
  }
  platform::CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);
  if (data_pending_ && !SkipPendingData()) {
    return Raise(errors::kDataSkipFailed);
  }

  uint8_t bytes[kShortBlockHeaderLength];
  uint32_t got = 0;
  if (!file_->Read(bytes, kShortBlockHeaderLength, &got).ok()) {
    return Raise(errors::kHeaderReadFailed);
  }
  if (got == 0) {
    *pwBlockID = 0;
    *pbyConnID = 0;
    *pdwTimeStamp = 0;
    *pdwDataBlockLength = 0;
    *bEndOfFile = 1;
    return S_OK;
  }
  if (got < kShortBlockHeaderLength) {
    // A header cut short is damage, not the end of the file.
    return Raise(errors::kHeaderReadFailed);
  }
  const ShortBlockHeader header = stream::DecodeShortBlockHeader(bytes);
  *pwBlockID = header.block_id;
  *pbyConnID = header.conn_id;
  *pdwTimeStamp = header.time_ms;
  *pdwDataBlockLength = header.data_length;
  *bEndOfFile = 0;
  data_pending_ = true;
  pending_length_ = header.data_length;
  return S_OK;
}

HRESULT CorvaneObject::ReadBlockData(BYTE* pbyData, ULONG dwDataLength) {
  if (!pbyData) return Raise(errors::kNullReadBlockDataParams);
  platform::CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);
  if (!data_pending_) return Raise(errors::kHeaderNotRead);
  if (dwDataLength != pending_length_) {
    return Raise(errors::kInvalidDataBlockSize);
  }
  uint32_t got = 0;
  if (!file_->Read(pbyData, dwDataLength, &got).ok() || got != dwDataLength) {
    return Raise(errors::kDataReadFailed);
  }
  data_pending_ = false;
  return S_OK;
}

HRESULT CorvaneObject::Flush() {
  platform::CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);
  if (!file_->Flush().ok()) return Raise(errors::kFileFlushFailed);
  return S_OK;
}

HRESULT CorvaneObject::GetFileSize(ULONG* pdwFileSize) {
  if (!pdwFileSize) return Raise(errors::kNullGetFileSizeParams);
  platform::CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);
  int64_t size = 0;
  if (!file_->GetSize(&size).ok()) {
    *pdwFileSize = kInvalid32;
    return Raise(errors::kFileSizeFailed);
  }
  *pdwFileSize = static_cast<uint32_t>(size);  // the low 32 bits of a larger size
  return S_OK;
}

HRESULT CorvaneObject::GetFilePointerPos(ULONG* pdwFilePointerPos) {
  if (!pdwFilePointerPos) {
    return Raise(errors::kNullGetFilePointerPosParams);
  }
  platform::CriticalSectionLock hold(lock_);
  if (!file_) return Raise(errors::kFileNotOpen);
  int64_t position = 0;
  if (!file_->Seek(0, platform::SeekOrigin::kCurrent, &position).ok() ||
      position >= static_cast<int64_t>(kInvalid32)) {
    *pdwFilePointerPos = kInvalid32;
    return Raise(errors::kFilePointerFailed);
  }
  *pdwFilePointerPos = static_cast<uint32_t>(position);
  return S_OK;
}

}  // namespace corvane::legacy
