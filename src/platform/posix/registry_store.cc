// The registry functions on the library's own store file.
//
// Readers take no lock: a writer never changes the file in place but
// replaces it with rename(), so a reader sees either the old or the new
// text whole. Writers (of every process and thread) serialise their
// read-modify-write on an exclusive flock() of a sidecar file,
// "<store>.lock", so no write is lost.
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>

#include "platform/byte_order.h"
#include "platform/posix/errno_status.h"
#include "platform/posix/syscalls.h"
#include "platform/posix/mutex.h"
#include "platform/posix/registry_format.h"
#include "platform/registry.h"

namespace corvane::platform {
namespace {

std::string StorePath() {
  if (const char* env = std::getenv("CORVANE_REGISTRY"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    return std::string(xdg) + "/corvane/registry";
  }
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h) {
    home = h;
  } else if (const struct passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
    home = pw->pw_dir;
  }
  return home + "/.config/corvane/registry";
}

// The file a write replaces: a symbolic link is followed, not replaced.
std::string ResolvedStorePath() {
  std::string path = StorePath();
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  return path;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

Status MakeDirectories(const std::string& dir) {
  struct stat st;
  if (Sys().stat(dir.c_str(), &st) == 0) {
    return S_ISDIR(st.st_mode) ? Status::Ok() : Status::Error(kErrPathNotFound);
  }
  if (errno != ENOENT) return ErrnoStatus(errno, dir);
  if (dir != "/" && dir != ".") {
    Status s = MakeDirectories(ParentOf(dir));
    if (!s.ok()) return s;
  }
  if (Sys().mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return ErrnoStatus(errno, dir);
  return Status::Ok();
}

// Reads the whole of an open file.
Status ReadAll(int fd, std::string* text) {
  char buf[8192];
  for (;;) {
    ssize_t n = RetryOnEintr([&] { return Sys().read(fd, buf, sizeof buf); });
    if (n < 0) return ErrnoStatus(errno);
    if (n == 0) return Status::Ok();
    text->append(buf, static_cast<size_t>(n));
  }
}

Status ReadText(const std::string& path, std::string* text) {
  text->clear();
  int fd = RetryOnEintr([&] { return Sys().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0); });
  if (fd < 0) {
    // No store yet: no keys.
    return errno == ENOENT ? Status::Ok() : ErrnoStatus(errno, path);
  }
  Status s = ReadAll(fd, text);
  Sys().close(fd);
  return s;
}

// What stat() tells of a version of the store file.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  timespec mtime{}, ctime{};

  static FileStamp Of(const struct stat& st) {
    return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  }
  bool operator==(const FileStamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

// File times come from a clock that may lag the real one by a tick, so a
// file changed within this long before it was read may change again
// without its stamp showing it.
constexpr time_t kStampSettleSeconds = 2;

// The store as readers see it. Every error object and every new stream asks
// the store, and the store rarely changes, so the last parsed version is
// kept with the stamp of the file it came from. A call whose stat() finds
// that same stamp uses it as it is. Writers replace the file with rename(),
// which gives it a new inode; an edit in place changes its size or times.
// The stamp is trusted only once the file was older than the settle time
// when it was read, so two edits within one clock tick are not missed
// either. Otherwise the file is read, and parsed again only when its text
// differs.
Status LoadDocument(const std::string& path, std::shared_ptr<const RegistryDocument>* doc) {
  // Never destroyed: error objects may still be raised from other
  // objects' destructors at exit.
  struct Cache {
    Mutex mutex;
    std::string path GUARDED_BY(mutex);
    std::string text GUARDED_BY(mutex);
    FileStamp stamp GUARDED_BY(mutex);
    bool stamp_settled GUARDED_BY(mutex) = false;
    std::shared_ptr<const RegistryDocument> doc GUARDED_BY(mutex);
  };
  static Cache* cache = new Cache;

  struct stat st;
  if (Sys().stat(path.c_str(), &st) == 0) {
    MutexLock hold(cache->mutex);
    if (cache->doc && cache->stamp_settled && path == cache->path &&
        cache->stamp == FileStamp::Of(st)) {
      *doc = cache->doc;
      return Status::Ok();
    }
  } else if (errno == ENOENT) {
    // No store yet: no keys.
    static const auto* empty = new std::shared_ptr<const RegistryDocument>(
        std::make_shared<const RegistryDocument>());
    *doc = *empty;
    return Status::Ok();
  }

  std::string text;
  FileStamp stamp;
  bool settled = false;
  int fd = RetryOnEintr([&] { return Sys().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0); });
  if (fd < 0) {
    // No store yet: no keys.
    if (errno != ENOENT) return ErrnoStatus(errno, path);
  } else {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    Status s = Sys().fstat(fd, &st) == 0 ? ReadAll(fd, &text) : ErrnoStatus(errno);
    Sys().close(fd);
    if (!s.ok()) return s;
    stamp = FileStamp::Of(st);
    settled = st.st_mtim.tv_sec + kStampSettleSeconds < now.tv_sec &&
              st.st_ctim.tv_sec + kStampSettleSeconds < now.tv_sec;
  }
  MutexLock hold(cache->mutex);
  if (!cache->doc || path != cache->path || text != cache->text) {
    cache->doc = std::make_shared<const RegistryDocument>(RegistryDocument::Parse(text));
    cache->path = path;
    cache->text = std::move(text);
  }
  cache->stamp = stamp;
  cache->stamp_settled = settled;
  *doc = cache->doc;
  return Status::Ok();
}

Status WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = RetryOnEintr([&] { return Sys().write(fd, text.data() + done, text.size() - done); });
    if (n < 0) return ErrnoStatus(errno);
    if (n == 0) return Status::Error(kErrDiskFull);
    done += static_cast<size_t>(n);
  }
  return Status::Ok();
}

// Writes the new text beside the store and puts it in place in one step.
Status ReplaceDocument(const std::string& path, const RegistryDocument& doc) {
  const std::string temp = path + ".tmp";
  int fd = RetryOnEintr(
      [&] { return Sys().open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); });
  if (fd < 0) return ErrnoStatus(errno, temp);
  struct stat st;
  if (Sys().stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  Status s = WriteAll(fd, doc.Serialize());
  if (s.ok() && RetryOnEintr([&] { return Sys().fsync(fd); }) != 0) s = ErrnoStatus(errno);
  Sys().close(fd);
  if (s.ok() && Sys().rename(temp.c_str(), path.c_str()) != 0) s = ErrnoStatus(errno, path);
  if (!s.ok()) Sys().unlink(temp.c_str());
  return s;
}

// Runs `change` on the current content under the writers' lock and stores
// the result when `change` reports a modification.
Status Modify(const std::function<Status(RegistryDocument*, bool* changed)>& change) {
  const std::string path = ResolvedStorePath();
  Status s = MakeDirectories(ParentOf(path));
  if (!s.ok()) return s;
  const std::string lock_path = path + ".lock";
  int lock = RetryOnEintr(
      [&] { return Sys().open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); });
  if (lock < 0) return ErrnoStatus(errno, lock_path);
  if (RetryOnEintr([&] { return Sys().flock(lock, LOCK_EX); }) != 0) {
    s = ErrnoStatus(errno);
  } else {
    std::string text;
    RegistryDocument doc;
    bool changed = false;
    s = ReadText(path, &text);
    if (s.ok()) {
      doc = RegistryDocument::Parse(text);
      s = change(&doc, &changed);
    }
    if (s.ok() && changed) s = ReplaceDocument(path, doc);
  }
  Sys().close(lock);  // releases the flock
  return s;
}

const char* HiveName(Hive hive) {
  return hive == Hive::kClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER";
}

// The full path of a key, hive first; kErrInvalidParameter for a path with
// an empty component or a character that cannot stand in a section line.
Status FullKey(Hive hive, const std::string& key, std::string* full) {
  size_t begin = key.find_first_not_of('\\');
  size_t end = key.find_last_not_of('\\');
  *full = HiveName(hive);
  if (begin == std::string::npos) return Status::Ok();  // the hive itself
  const std::string trimmed = key.substr(begin, end - begin + 1);
  if (trimmed.find("\\\\") != std::string::npos) return Status::Error(kErrInvalidParameter);
  for (char c : trimmed) {
    if (static_cast<unsigned char>(c) < 0x20) return Status::Error(kErrInvalidParameter);
  }
  *full += "\\" + trimmed;
  return Status::Ok();
}

// The stored value `name` under `key`, or kErrFileNotFound. *value points
// into *doc, which keeps the loaded document alive for the caller.
Status FindValue(Hive hive, const std::string& key, const std::string& name,
                 std::shared_ptr<const RegistryDocument>* doc, const RegistryValue** value) {
  std::string full;
  Status s = FullKey(hive, key, &full);
  if (!s.ok()) return s;
  s = LoadDocument(StorePath(), doc);
  if (!s.ok()) return s;
  *value = (*doc)->FindValue(full, name);
  return *value ? Status::Ok() : Status::Error(kErrFileNotFound);
}

Status SetValue(Hive hive, const std::string& key, RegistryValue value) {
  std::string full;
  Status s = FullKey(hive, key, &full);
  if (!s.ok()) return s;
  return Modify([&](RegistryDocument* doc, bool* changed) {
    *changed = doc->SetValue(full, value);
    return Status::Ok();
  });
}

}  // namespace

namespace registry {

Status CreateKey(Hive hive, const std::string& key, bool* created) {
  if (created) *created = false;
  std::string full;
  Status s = FullKey(hive, key, &full);
  if (!s.ok()) return s;
  // Most calls meet an existing key: check without the writers' lock first.
  std::shared_ptr<const RegistryDocument> doc;
  if (LoadDocument(StorePath(), &doc).ok() && doc->KeyExists(full)) return Status::Ok();
  return Modify([&](RegistryDocument* d, bool* changed) {
    *changed = d->CreateKey(full);
    if (created) *created = *changed;
    return Status::Ok();
  });
}

bool KeyExists(Hive hive, const std::string& key) {
  std::string full;
  std::shared_ptr<const RegistryDocument> doc;
  return FullKey(hive, key, &full).ok() && LoadDocument(StorePath(), &doc).ok() &&
         doc->KeyExists(full);
}

Status SetString(Hive hive, const std::string& key, const std::string& name,
                 const std::string& value) {
  return SetValue(hive, key, RegistryValue{name, kRegString, value});
}

Status SetDword(Hive hive, const std::string& key, const std::string& name, uint32_t value) {
  uint8_t bytes[4];
  EncodeLE32(bytes, value);
  return SetValue(hive, key,
                  RegistryValue{name, kRegDword, std::string(reinterpret_cast<char*>(bytes), 4)});
}

Status QueryValue(Hive hive, const std::string& key, const std::string& name, void* data,
                  uint32_t* size, uint32_t* type) {
  if (!size && data) return Status::Error(kErrInvalidParameter);
  std::shared_ptr<const RegistryDocument> doc;
  const RegistryValue* value = nullptr;
  Status s = FindValue(hive, key, name, &doc, &value);
  if (!s.ok()) return s;
  // Strings come with their terminating zero, as the ANSI registry
  // functions return them.
  std::string bytes = value->data;
  if (value->type == kRegString) bytes.push_back('\0');
  if (type) *type = value->type;
  if (!size) return Status::Ok();
  const uint32_t room = *size;
  *size = static_cast<uint32_t>(bytes.size());
  if (!data) return Status::Ok();  // a question for the size only
  if (bytes.size() > room) return Status::Error(kErrMoreData);
  std::memcpy(data, bytes.data(), bytes.size());
  return Status::Ok();
}

Status QueryString(Hive hive, const std::string& key, const std::string& name,
                   std::string* value) {
  std::shared_ptr<const RegistryDocument> doc;
  const RegistryValue* v = nullptr;
  Status s = FindValue(hive, key, name, &doc, &v);
  if (!s.ok()) return s;
  if (v->type != kRegString) return Status::Error(kErrInvalidData);
  *value = v->data;
  return Status::Ok();
}

Status DeleteTree(Hive hive, const std::string& key) {
  std::string full;
  Status s = FullKey(hive, key, &full);
  if (!s.ok()) return s;
  // Refuse to wipe a whole hive.
  if (full == HiveName(hive)) return Status::Error(kErrInvalidParameter);
  return Modify([&](RegistryDocument* doc, bool* changed) {
    *changed = doc->DeleteTree(full);
    return *changed ? Status::Ok() : Status::Error(kErrFileNotFound);
  });
}

Status DeleteValue(Hive hive, const std::string& key, const std::string& name) {
  std::string full;
  Status s = FullKey(hive, key, &full);
  if (!s.ok()) return s;
  return Modify([&](RegistryDocument* doc, bool* changed) {
    *changed = doc->DeleteValue(full, name);
    return *changed ? Status::Ok() : Status::Error(kErrFileNotFound);
  });
}

}  // namespace registry
}  // namespace corvane::platform
