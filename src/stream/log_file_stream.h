// LogFileStream: the file beneath the LogFile2 component (its log and its
// bookmark file), and the base of IndexFileStream.
//
// It hides four things from its owner: detecting the version when a file
// is opened for reading, writing the file header when one is created, a
// write-behind disk buffer sized by the "Disk Buffer Size" setting, and the
// cipher of the enciphered versions (1, 3, 7, 13, 16), applied on every Read
// and on every write of the disk buffer. Reads go through a read-ahead
// window (read_ahead_file.h) that keeps every result of unbuffered reads.
//
// Results: every operation that can fail returns a Status carrying the
// Windows system error code (Status::ok() is the old "true"); code 112 is a
// full disk. Operations on a closed stream fail with kErrInvalidHandle,
// null buffers with kErrInvalidParameter.
//
// Positions are those of the file: bytes still in the disk buffer are not
// counted by GetPosition or GetSize.
//
// Buffering: WriteBuffered and WriteRecord go through the disk buffer
// (write_buffer.h), which takes a failed write back as it describes there.
// Enciphered streams always buffer (the size rounded up to a multiple of
// 128, at least 128) and write whole cipher blocks, except that FlushBuffer
// writes only the bytes buffered, so that a log ends with its last, possibly
// short, cipher block; call FlushBuffer of an enciphered stream only to end
// the file. DiscardBuffer drops the buffered bytes.
//
// Settings are read once, at construction; set_disk_buffer_size changes the
// configured size, which the next Open uses.
//
// Threads: not thread-safe. The owner serialises its calls under its own
// lock; only GetPosition and DetectVersion take the stream's (re-entrant)
// lock, so that a position query from another thread sees a consistent
// pointer.
#ifndef CORVANE_STREAM_LOG_FILE_STREAM_H_
#define CORVANE_STREAM_LOG_FILE_STREAM_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/status.h"
#include "platform/sync.h"
#include "stream/byte_source.h"
#include "stream/deciphered_window.h"
#include "stream/cipher_parameters.h"
#include "stream/read_ahead_file.h"
#include "stream/write_buffer.h"

namespace corvane::stream {

class LogFileStream {
 public:
  // Bounds of the read buffer that FillReadBuffer fills: the indexing pass
  // needs room for its largest item (26 bytes), and a huge setting must not
  // reserve gigabytes per object.
  static constexpr uint32_t kMinReadBuffer = 32;
  static constexpr uint32_t kMaxReadBuffer = 64u << 20;

  LogFileStream();  // reads the settings; closed, version 0
  virtual ~LogFileStream();
  LogFileStream(const LogFileStream&) = delete;
  LogFileStream& operator=(const LogFileStream&) = delete;

  // Creates or opens `path` (any earlier file is closed first, whatever the
  // outcome). *last_error (may be null) receives the system's code in every
  // case; after a successful open of an existing file with kOpenAlways or
  // kCreateAlways that is 183. With read access and a non-empty file the
  // version is detected, otherwise it is `version`. Then the disk buffer is
  // allocated and, without read access, the header written. A path longer
  // than platform::MaxPathLength() fails with kErrFilenameTooLong. A failed
  // header write, a size or header that cannot be read (the system's code),
  // or an enciphered version whose key cannot be loaded, fails with the
  // file left open.
  Status Open(const std::string& path, const platform::OpenOptions& options, int version,
              uint32_t* last_error = nullptr);
  // Closes the file; flushes nothing, keeps version, buffers and settings.
  // A failed close of a file that was written may mean lost bytes: writers
  // check the status, readers may ignore it.
  Status Close();
  bool is_open() const { return file_.is_open(); }

  // Detects the version of the open file (the file pointer is kept) and
  // stores the index sub-version.
  EnumFileVersion DetectVersion();
  // Writes the version's header at the file pointer, unbuffered and plain.
  // kErrInvalidParameter for a version without a header writer.
  Status WriteHeader();

  Status Seek(int64_t distance, platform::SeekOrigin origin);
  int64_t GetPosition();  // -1 on failure
  // The file pointer without the stream's lock, for the owner that
  // serialises every other call anyway (the reader's hot path).
  int64_t position() const { return file_.position(); }
  int64_t GetSize();      // -1 on failure

  // Reads n bytes at the file pointer: hex text decoded (versions 5, 6),
  // enciphered versions deciphered, others plain. *delivered may be short
  // at the end of the file.
  Status Read(void* dst, uint32_t n, uint32_t* delivered) {
    if (plain_reads_ && dst && delivered) return file_.Read(dst, n, delivered);
    return ReadDecoded(dst, n, delivered);
  }
  // Reads up to n bytes (at most the read buffer's capacity) like Read, but
  // hands out a pointer instead of copying where it can: into the
  // read-ahead window for plain versions, else into the read buffer. The
  // bytes stay valid until the next call on the stream.
  Status ReadView(uint32_t n, const uint8_t** data, uint32_t* delivered);
  // For reading in place: the log's bytes at the pointer that are already
  // at hand, as Read would deliver them: the read-ahead window of a plain
  // log (see ReadAheadFile::BytesAhead), the whole deciphered blocks of an
  // enciphered one (see DecipheredWindow::BytesAhead); none for hex text.
  // *data points at them until the next call that reads, writes or seeks.
  uint32_t BytesAhead(const uint8_t** data) const {
    if (plain_reads_) return file_.BytesAhead(data);
    return enciphered_ ? deciphered_.BytesAhead(file_.position(), data) : 0;
  }
  // Moves the pointer over n of the bytes BytesAhead gave.
  void PassBytes(uint32_t n) { file_.PassBytes(n); }
  // Writes at the file pointer, unbuffered. A short write moves the pointer
  // back to where it began and fails (kErrDiskFull when the system gave no
  // other code).
  Status Write(const void* src, uint32_t n, uint32_t* written);
  // Appends n bytes through the disk buffer, as one unit.
  Status WriteBuffered(const void* src, uint32_t n);
  // Appends one record (a head and its data, as a block header and its
  // data) through the disk buffer as a unit: a failed record leaves nothing
  // of itself in the file or the buffer, so a retry, or the final flush,
  // never leaves part of a record in the log. Appends only: the file
  // pointer must stand at the end of the written data, as it does while a
  // log is recorded. *head_failed (may be null) tells whether the failure
  // came while the head was being written.
  Status WriteRecord(const void* head, uint32_t head_length, const void* data,
                     uint32_t data_length, bool* head_failed = nullptr) {
    DropDecipheredWindow();
    if (!head || !data) {
      if (head_failed) *head_failed = false;
      return Status::Error(kErrInvalidParameter);
    }
    return buffer_.Append(head, head_length, data, data_length, head_failed);
  }
  // Writes out the buffered bytes; the count becomes 0 on success.
  Status FlushBuffer() {
    DropDecipheredWindow();
    return buffer_.Flush();
  }
  void DiscardBuffer() { buffer_.Discard(); }
  // Asks the system to write its own buffers to the disk.
  Status SyncToDisk();

  // Reads min(bytes left in the file, read buffer size) through Read into
  // the read buffer.
  Status FillReadBuffer(uint32_t* delivered);
  const uint8_t* read_buffer() const { return read_buffer_.get(); }
  uint32_t read_buffer_capacity() const { return read_buffer_capacity_; }

  EnumFileVersion version() const { return version_; }
  uint32_t header_length() const { return header_length_; }
  bool enciphered() const { return enciphered_; }
  // Open, and reads deliver the file's bytes as they are (neither hex
  // text nor enciphered).
  bool plain_reads() const { return plain_reads_; }
  int32_t index_sub_version() const { return index_sub_version_; }
  const CipherParameters& cipher() const { return cipher_; }

  uint32_t disk_buffer_size() const { return disk_buffer_size_; }
  void set_disk_buffer_size(uint32_t size) { disk_buffer_size_ = size; }
  uint32_t disk_buffer_capacity() const { return buffer_.capacity(); }
  uint32_t buffered_bytes() const { return buffer_.fill(); }
  uint32_t indexing_buffer_size() const { return indexing_buffer_size_; }

 protected:
  ReadAheadFile& file() { return file_; }
  void set_version(EnumFileVersion v) { version_ = v; }

 private:
  Status ReadDecoded(void* dst, uint32_t n, uint32_t* delivered);
  void DropDecipheredWindow() { deciphered_.Drop(); }

  ReadAheadFile file_;
  bool plain_reads_ = false;  // open, neither hex text nor enciphered
  uint32_t disk_buffer_size_ = 0;
  uint32_t indexing_buffer_size_ = 0;
  WriteBuffer buffer_;
  std::unique_ptr<uint8_t[]> read_buffer_;
  uint32_t read_buffer_capacity_ = 0;
  uint32_t header_length_ = 0;
  bool enciphered_ = false;
  EnumFileVersion version_ = FileVersionUnknown;
  int32_t index_sub_version_ = 0;
  Status detect_failure_;  // of the last DetectVersion
  CipherParameters cipher_;
  // Enciphered versions: consecutive reads served from deciphered bytes.
  DecipheredWindow deciphered_;
  platform::CriticalSection lock_;
};

// The stream as a ByteSource of decoded bytes, for the record decoder.
// Asking the position moves nothing (and takes no lock).
class StreamByteSource final : public ByteSource {
 public:
  explicit StreamByteSource(LogFileStream& log) : log_(log) {}
  Status Read(void* dst, uint32_t n, uint32_t* got) override { return log_.Read(dst, n, got); }
  uint32_t BytesAhead(const uint8_t** data) const override { return log_.BytesAhead(data); }
  void PassBytes(uint32_t n) override { log_.PassBytes(n); }
  Status Seek(int64_t distance, platform::SeekOrigin origin, int64_t* new_pos) override {
    if (distance != 0 || origin != platform::SeekOrigin::kCurrent) {
      Status st = log_.Seek(distance, origin);
      if (!st.ok()) return st;
    }
    if (!new_pos) return Status::Ok();
    *new_pos = log_.position();
    return *new_pos < 0 ? Status::Error(kErrInvalidHandle) : Status::Ok();
  }

 private:
  LogFileStream& log_;
};

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_LOG_FILE_STREAM_H_
