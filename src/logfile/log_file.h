// LogFile: reads the older log formats block by block and writes enciphered
// e1.01 logs.
#ifndef CORVANE_LOGFILE_LOG_FILE_H_
#define CORVANE_LOGFILE_LOG_FILE_H_

#include <corvane/corvane.h>

#include "frame/com_object.h"

namespace corvane::logfile {

class LogFileObject final : public frame::ComObject<ILogFile> {
 public:
  explicit LogFileObject(IUnknown* outer);

  HRESULT STDMETHODCALLTYPE Open(BSTR bstrFileName, EnumFileAccessMode FileAccessMode,
                                 EnumFileVersion* pFileFormat) override;
  HRESULT STDMETHODCALLTYPE GetFilePointerPos(ULONGLONG* pqwFilePointerPos) override;
  HRESULT STDMETHODCALLTYPE GetFileSize(ULONGLONG* pqwFileSize) override;
  HRESULT STDMETHODCALLTYPE ReadBlockHeader(BYTE* pbyStructBlockHeader, ULONG dwBlockHeaderLength,
                                            ULONG* pdwNumberOfBytesReturned,
                                            LONG* bEndOfFile) override;
  HRESULT STDMETHODCALLTYPE ReadBlockData(BYTE* pbyData, ULONG dwDataLength) override;
  HRESULT STDMETHODCALLTYPE Close() override;
  HRESULT STDMETHODCALLTYPE WriteBlock(BYTE* pStructBlockHeader, ULONG dwHeaderLength,
                                       BYTE* pbyData, ULONG dwDataLength) override;
};

// Creation function for the object map (supports aggregation).
HRESULT CreateLogFile(IUnknown* outer, REFIID iid, void** out);

}  // namespace corvane::logfile

#endif  // CORVANE_LOGFILE_LOG_FILE_H_
