// LogFile: reads the older log formats (V 01.00, e1.00, e1.01, raw message
// records and two hex-text dumps) block by block, and writes enciphered
// e1.01 logs through a disk buffer.
//
// The object drives its own file handle, held exclusively while open. Reads
// are not buffered; writes collect in the disk buffer (stream/write_buffer.h) and
// reach the file when it fills and at Close. Destroying an open object
// closes the file without writing what is still buffered.
//
// Caller buffers are never written past the size that comes with them:
// ReadBlockHeader delivers the natural 24-byte form when dwBlockHeaderLength
// is 24 or more, else the packed 16-byte form, cut to dwBlockHeaderLength
// when that is below 16. ReadBlockData with a dwDataLength below the pending
// length fails with E_CVR_BLOCK_DATA_READ_FAILED, reads nothing and leaves
// the data pending (the announced dwDataLength always suffices).
//
// Only a log this object created for writing takes blocks; WriteBlock on a
// file opened for reading fails at once instead of failing at every Close.
//
// Thread safety: objects may be called from any thread. One lock guards
// every member below (GUARDED_BY; the helpers that run under it say
// REQUIRES); the pointer and open-file checks come before it, so `open_` is
// atomic. Nothing runs on threads of the object's own.
#ifndef CORVANE_LOGFILE_LOG_FILE_H_
#define CORVANE_LOGFILE_LOG_FILE_H_

#include <corvane/corvane.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "frame/com_object.h"
#include "logfile/block_reader.h"
#include "logfile/log_file_format.h"
#include "platform/file.h"
#include "platform/sync.h"
#include "stream/byte_source.h"
#include "stream/write_buffer.h"
#include "stream/cipher_parameters.h"
#include "stream/time_base.h"

namespace corvane::logfile {

class LogFileObject final : public frame::ComObject<ILogFile> {
 public:
  explicit LogFileObject(IUnknown* outer);
  ~LogFileObject() override EXCLUDES(lock_);

  HRESULT STDMETHODCALLTYPE Open(BSTR bstrFileName, EnumFileAccessMode FileAccessMode,
                                 EnumFileVersion* pFileFormat) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetFilePointerPos(ULONGLONG* pqwFilePointerPos)
      override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE GetFileSize(ULONGLONG* pqwFileSize) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE ReadBlockHeader(BYTE* pbyStructBlockHeader, ULONG dwBlockHeaderLength,
                                            ULONG* pdwNumberOfBytesReturned,
                                            LONG* bEndOfFile) override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE ReadBlockData(BYTE* pbyData, ULONG dwDataLength)
      override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE Close() override EXCLUDES(lock_);
  HRESULT STDMETHODCALLTYPE WriteBlock(BYTE* pStructBlockHeader, ULONG dwHeaderLength,
                                       BYTE* pbyData, ULONG dwDataLength) override EXCLUDES(lock_);

 private:
  // Open after the argument checks, under the lock: opens the file and
  // writes or examines its header. Returns the code to report with "File
  // creation failed"; on failure nothing stays open and a file created by
  // this call is deleted.
  HRESULT OpenLocked(const std::string& path, EnumFileAccessMode mode,
                     EnumFileVersion* pFileFormat) REQUIRES(lock_);
  HRESULT StartWriting(EnumFileVersion version) REQUIRES(lock_);
  HRESULT StartReading(EnumFileVersion* pFileFormat) REQUIRES(lock_);
  void ResetFileState() REQUIRES(lock_);

  // Position and size as the system reports them (buffered bytes excluded).
  Status Position(int64_t* position) REQUIRES(lock_);
  Status Size(int64_t* size) REQUIRES(lock_);

  platform::CriticalSection lock_;
  std::atomic<bool> open_{false};
  std::unique_ptr<platform::File> file_ GUARDED_BY(lock_) PT_GUARDED_BY(lock_);
  stream::CipherParameters cipher_ GUARDED_BY(lock_);
  // Stamps of blocks written in mode 2 or 3: nanoseconds since Open or the
  // last mode-3 block.
  stream::TimeBase time_base_ GUARDED_BY(lock_);
  uint32_t pending_length_ GUARDED_BY(lock_) = 0;
  bool header_read_ GUARDED_BY(lock_) = false;
  EnumFileVersion version_ GUARDED_BY(lock_) = FileVersionUnknown;
  bool writable_ GUARDED_BY(lock_) = false;
  // The file's size when last asked (reading): 0 until the first header.
  int64_t known_size_ GUARDED_BY(lock_) = 0;
  std::unique_ptr<BlockReader> reader_ GUARDED_BY(lock_) PT_GUARDED_BY(lock_);
  stream::FileByteSink sink_ GUARDED_BY(lock_);
  stream::WriteBuffer buffer_ GUARDED_BY(lock_);
};

// Creation function for the object map (supports aggregation).
HRESULT CreateLogFile(IUnknown* outer, REFIID iid, void** out);

}  // namespace corvane::logfile

#endif  // CORVANE_LOGFILE_LOG_FILE_H_
