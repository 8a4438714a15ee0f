// Corvane: unbuffered, block-by-block access to one legacy "V 01.00" block
// file at a time.
//
// Every call goes straight to the file; nothing is buffered, so every byte
// that WriteBlock reported as written has reached the operating system. The
// file is held exclusively while open.
//
// Thread safety: the class is registered for both threading models, so one
// object may be called from several threads at once. One object lock guards
// the file and the read state; each method takes it after checking its
// pointer arguments and holds it to the end, so calls on one object run one
// after the other.
#ifndef CORVANE_LEGACY_CORVANE_OBJECT_H_
#define CORVANE_LEGACY_CORVANE_OBJECT_H_

#include <corvane/corvane.h>

#include <memory>

#include "frame/com_object.h"
#include "platform/file.h"
#include "platform/sync.h"
#include "stream/byte_source.h"
#include "stream/write_buffer.h"

namespace corvane::legacy {

class CorvaneObject final : public frame::ComObject<ICorvane> {
 public:
  explicit CorvaneObject(IUnknown* outer);

  HRESULT STDMETHODCALLTYPE Open(BSTR bstrFileName, EnumCVRFileAccessMode CVRFileAccessMode,
                                 EnumCVRFileCreateMode CVRFileCreateMode) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE Close() override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE WriteBlock(USHORT wBlocID, BYTE byConnID, BYTE* pbyData,
                                       ULONG dwDataLength) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE ReadBlockHeader(USHORT* pwBlockID, BYTE* pbyConnID,
                                            ULONG* pdwTimeStamp, ULONG* pdwDataBlockLength,
                                            LONG* bEndOfFile) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE ReadBlockData(BYTE* pbyData, ULONG dwDataLength)
      override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE Flush() override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetFileSize(ULONG* pdwFileSize) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetFilePointerPos(ULONG* pdwFilePointerPos) override EXCLUDES(lock_);

 private:
  // Checks the header of a file just opened and leaves the position directly
  // after its first 0x1A byte. Fails with E_CVR_FILE_HEADER_INFO_READ_FAIL or
  // E_CVR_FILE_HEADER_INFO_WRONG_VERSION.
  HRESULT ExamineHeader() REQUIRES(lock_);
  // Skips the data of a block whose header was read and whose data was not.
  bool SkipPendingData() REQUIRES(lock_);

  platform::CriticalSection lock_;
  std::unique_ptr<platform::File> file_ GUARDED_BY(lock_) PT_GUARDED_BY(lock_);
  // Blocks are written straight through (no buffer); the writer takes back
  // a block that cannot be written whole. Attached only to a file opened for
  // writing.
  stream::FileByteSink sink_ GUARDED_BY(lock_);
  stream::WriteBuffer writer_ GUARDED_BY(lock_);
  // A block header was read and its data has been neither read nor skipped.
  bool data_pending_ GUARDED_BY(lock_) = false;
  uint32_t pending_length_ GUARDED_BY(lock_) = 0;
};

// Creation function for the object map (refuses aggregation).
HRESULT CreateCorvane(IUnknown* outer, REFIID iid, void** out);

}  // namespace corvane::legacy

#endif  // CORVANE_LEGACY_CORVANE_OBJECT_H_
