// Files through the Win32 file API. The system enforces share modes and
// reports its own error codes, which are the library's codes.
#include "platform/file.h"

#include <windows.h>

#include <utility>

#include "platform/win32/last_error.h"

namespace corvane::platform {
namespace {

using win32::LastErrorStatus;
using win32::WriteErrorStatus;

class Win32File final : public File {
 public:
  Win32File(HANDLE handle, uint32_t access) : handle_(handle), access_(access) {}
  ~Win32File() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  Status Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return Status::Error(kErrInvalidHandle);
    const BOOL ok = CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    return ok ? Status::Ok() : LastErrorStatus();
  }

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    *got = 0;
    char none;  // ReadFile wants a buffer even for 0 bytes
    DWORD done = 0;
    if (!ReadFile(handle_, dst ? dst : &none, n, &done, nullptr)) return LastErrorStatus();
    *got = done;
    return Status::Ok();
  }

  Status Write(const void* src, uint32_t n, uint32_t* written) override {
    *written = 0;
    char none = 0;
    DWORD done = 0;
    BOOL ok = WriteFile(handle_, src ? src : &none, n, &done, nullptr);
    *written = done;
    if (!ok) return WriteErrorStatus();
    // A synchronous write either completes or fails; a short count without
    // an error can only mean that the disk filled up.
    if (done < n) return Status::Error(kErrDiskFull);
    return Status::Ok();
  }

  Status Seek(int64_t distance, SeekOrigin origin, int64_t* new_pos) override {
    LARGE_INTEGER move;
    move.QuadPart = distance;
    LARGE_INTEGER pos;
    if (!SetFilePointerEx(handle_, move, &pos, static_cast<DWORD>(origin))) {
      return LastErrorStatus();
    }
    if (new_pos) *new_pos = pos.QuadPart;
    return Status::Ok();
  }

  Status GetSize(int64_t* size) override {
    LARGE_INTEGER n;
    if (!GetFileSizeEx(handle_, &n)) return LastErrorStatus();
    *size = n.QuadPart;
    return Status::Ok();
  }

  Status Flush() override {
    return FlushFileBuffers(handle_) ? Status::Ok() : WriteErrorStatus();
  }

  Status SetEndOfFile() override {
    // Windows refuses this without write access with ERROR_ACCESS_DENIED;
    // Wine answers ERROR_INVALID_PARAMETER. Give the Windows answer on both.
    if (!(access_ & kAccessWrite)) return Status::Error(kErrAccessDenied);
    return ::SetEndOfFile(handle_) ? Status::Ok() : WriteErrorStatus();
  }

 private:
  HANDLE handle_;
  uint32_t access_;
};

class Win32FileSystem final : public FileSystem {
 public:
  Status Open(const std::string& path, const OpenOptions& options, std::unique_ptr<File>* out,
              uint32_t* last_error) override {
    out->reset();
    if (last_error) *last_error = 0;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (options.write_through) flags |= FILE_FLAG_WRITE_THROUGH;
    HANDLE h = CreateFileA(path.c_str(), options.access, options.share, nullptr,
                           static_cast<DWORD>(options.disposition), flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastErrorStatus();
    // CREATE_ALWAYS and OPEN_ALWAYS leave ERROR_ALREADY_EXISTS behind when
    // the file existed; other dispositions leave nothing meaningful.
    DWORD code = GetLastError();
    if (last_error && code == ERROR_ALREADY_EXISTS &&
        (options.disposition == Disposition::kCreateAlways ||
         options.disposition == Disposition::kOpenAlways)) {
      *last_error = kErrAlreadyExists;
    }
    *out = std::make_unique<Win32File>(h, options.access);
    return Status::Ok();
  }

  Status Remove(const std::string& path) override {
    return DeleteFileA(path.c_str()) ? Status::Ok() : LastErrorStatus();
  }

  Status Rename(const std::string& from, const std::string& to, bool replace) override {
    DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING : 0;
    return MoveFileExA(from.c_str(), to.c_str(), flags) ? Status::Ok() : LastErrorStatus();
  }

  Status BytesPerSector(const std::string& path, uint32_t* bytes) override {
    *bytes = 0;
    std::string root = RootOf(path);
    DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, clusters = 0;
    if (!GetDiskFreeSpaceA(root.empty() ? nullptr : root.c_str(), &sectors_per_cluster,
                           &bytes_per_sector, &free_clusters, &clusters)) {
      return LastErrorStatus();
    }
    *bytes = bytes_per_sector;
    return Status::Ok();
  }

 private:
  static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

  // The root directory of the disk that holds `path`: "C:\" for a name with
  // a drive, "\\server\share\" for a UNC name, empty (the current
  // directory's disk) for every other name.
  static std::string RootOf(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2) + "\\";
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
      // Skip the server and share components.
      size_t pos = 2;
      for (int component = 0; component < 2; ++component) {
        while (pos < path.size() && !IsSeparator(path[pos])) ++pos;
        if (component == 0) ++pos;
      }
      std::string root = path.substr(0, pos);
      return root + "\\";
    }
    return std::string();
  }
};

}  // namespace

FileSystem* FileSystem::Real() {
  // Never destroyed: files may be opened during static destruction.
  static FileSystem* real = new Win32FileSystem();
  return real;
}

uint32_t MaxPathLength() { return MAX_PATH - 1; }

}  // namespace corvane::platform
