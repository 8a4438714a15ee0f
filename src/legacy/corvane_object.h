// Corvane: unbuffered, block-by-block access to one legacy "V 01.00" block
// file at a time.
//
// Every call goes straight to the file; nothing is buffered, so every byte
// that WriteBlock reported as written has reached the operating system. The
// file is held exclusively while open.
//
// Thread safety: the object takes no lock. A client that shares one object
// between threads makes one call at a time; distinct objects may be used from
// different threads at once.
#ifndef CORVANE_LEGACY_CORVANE_OBJECT_H_
#define CORVANE_LEGACY_CORVANE_OBJECT_H_

#include <corvane/corvane.h>

#include <memory>

#include "frame/com_object.h"
#include "platform/file.h"

namespace corvane::legacy {

class CorvaneObject final : public frame::ComObject<ICorvane> {
 public:
  explicit CorvaneObject(IUnknown* outer);

  HRESULT STDMETHODCALLTYPE Open(BSTR bstrFileName, EnumCVRFileAccessMode CVRFileAccessMode,
                                 EnumCVRFileCreateMode CVRFileCreateMode) override;
  HRESULT STDMETHODCALLTYPE Close() override;
  HRESULT STDMETHODCALLTYPE WriteBlock(USHORT wBlocID, BYTE byConnID, BYTE* pbyData,
                                       ULONG dwDataLength) override;
  HRESULT STDMETHODCALLTYPE ReadBlockHeader(USHORT* pwBlockID, BYTE* pbyConnID,
                                            ULONG* pdwTimeStamp, ULONG* pdwDataBlockLength,
                                            LONG* bEndOfFile) override;
  HRESULT STDMETHODCALLTYPE ReadBlockData(BYTE* pbyData, ULONG dwDataLength) override;
  HRESULT STDMETHODCALLTYPE Flush() override;
  HRESULT STDMETHODCALLTYPE GetFileSize(ULONG* pdwFileSize) override;
  HRESULT STDMETHODCALLTYPE GetFilePointerPos(ULONG* pdwFilePointerPos) override;

 private:
  // Checks the header of a file just opened and leaves the position directly
  // after its first 0x1A byte. Fails with E_CVR_FILE_HEADER_INFO_READ_FAIL or
  // E_CVR_FILE_HEADER_INFO_WRONG_VERSION.
  HRESULT ExamineHeader();
  // Skips the data of a block whose header was read and whose data was not.
  bool SkipPendingData();

  std::unique_ptr<platform::File> file_;
  // A block header was read and its data has been neither read nor skipped.
  bool data_pending_ = false;
  uint32_t pending_length_ = 0;
};

// Creation function for the object map (refuses aggregation).
HRESULT CreateCorvane(IUnknown* outer, REFIID iid, void** out);

}  // namespace corvane::legacy

#endif  // CORVANE_LEGACY_CORVANE_OBJECT_H_
