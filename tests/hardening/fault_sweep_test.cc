// The fault sweep: every operation of the table runs once clean, counting
// its calls, then once per call with that call failing, for each kind of
// fault: through the platform's FileSystem (every platform: I/O error, full
// disk, short write, access denied) and, on POSIX, through the system-call
// table, where EINTR and short transfers must not show at all (results and
// every byte of every file as in the clean run) and EIO and ENOSPC are
// faults. After each run, with the faults off:
// - every failed method gave a documented code (E_CVR_*, E_FAIL) and a text;
// - the log reads back as a prefix of what was written, and whole when
//   every block got in and Close succeeded; an operation that only reads
//   leaves it as it was;
// - each companion (.bmk, .idx) is the old one, the clean run's or absent,
//   is never written in place, and a failed Open leaves it as it was; no
//   staging file ("~" name) is left, unless its own removal failed;
// - when every method succeeded, what the body saw (blocks, bookmarks, the
//   block after a Jump) is what the clean run saw;
// - no success after the close() of a written file failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "logfile2/log_file2_test_util.h"
#include "support/fault_file_system.h"
#ifndef _WIN32
#include <cerrno>

#include "platform/posix/syscalls.h"
#endif

namespace corvane::test {
namespace {

constexpr uint32_t kBlocks = 40, kMarks = 4, kMaxRuns = 150;  // runs per operation, layer, family and fault: a stride above
using Files = std::map<std::string, Bytes>;

Files Snapshot(const std::string& dir, Files f = {}) {
  for (const auto& e : std::filesystem::directory_iterator(dir)) f[e.path().filename().string()] = ReadFileBytes(e.path().string());
  return f;
}
const Bytes* Find(const Files& f, const std::string& name) { return f.count(name) ? &f.at(name) : nullptr; }
bool Same(const Bytes* a, const Bytes* b) { return a == b || (a && b && *a == *b); }
std::string Join(const std::vector<std::string>& v) { std::string s = "["; for (const auto& e : v) s += (s.size() > 1 ? ", " : "") + e; return s + "]"; }

#ifndef _WIN32
// The system-call layer's faults: the fail_at-th call (while armed) meets
// `hit`. EINTR only where the call may be interrupted; a short transfer
// only for reads and writes of more than a byte.
enum class Sys { kNone, kEintr, kShort, kEio, kEnospc };
const char* Name(Sys s) { return s == Sys::kEintr ? "EINTR" : s == Sys::kShort ? "short transfer" : s == Sys::kEio ? "EIO" : "ENOSPC"; }
struct SysState {
  std::mutex mu;
  bool armed = false, lost_close = false;
  uint64_t calls = 0, fail_at = 0, injected = 0;
  Sys hit = Sys::kNone;
  const char* what = "";  // the call that met the fault
  std::set<int> written;
  std::set<std::string> opened_for_writing;
} g_sys;

Sys Meet(const char* call, bool interruptible, bool transfer) {
  std::lock_guard<std::mutex> hold(g_sys.mu);
  const bool meets = g_sys.armed && ++g_sys.calls == g_sys.fail_at && (g_sys.hit != Sys::kEintr || interruptible) && (g_sys.hit != Sys::kShort || transfer);
  return meets ? (g_sys.what = call, ++g_sys.injected, g_sys.hit) : Sys::kNone;
}
int Errno(Sys s) { return s == Sys::kEintr ? EINTR : s == Sys::kEio ? EIO : ENOSPC; }
const platform::SyscallTable& Real() { return platform::SystemCalls(); }
template <class R, class Fn> R Plain(const char* name, bool intr, Fn call) { const Sys s = Meet(name, intr, false); return s == Sys::kNone ? call() : (errno = Errno(s), R(-1)); }
// A read or write: a short transfer moves half the bytes.
template <class Fn> ssize_t Transfer(const char* name, size_t n, Fn f) { const Sys s = Meet(name, true, n > 1); return s == Sys::kNone ? f(n) : s == Sys::kShort ? f(n / 2) : (errno = Errno(s), -1); }

const platform::SyscallTable* FaultyCalls() {
  static const platform::SyscallTable table = [] {
    platform::SyscallTable t = Real();
    t.open = [](const char* p, int f, mode_t m) {
      const int fd = Plain<int>("open", true, [&] { return Real().open(p, f, m); });
      if (std::lock_guard<std::mutex> hold(g_sys.mu); fd >= 0 && g_sys.armed && (f & O_ACCMODE) != O_RDONLY) g_sys.opened_for_writing.insert(p);
      return fd;
    };
    t.read = [](int fd, void* b, size_t n) { return Transfer("read", n, [&](size_t m) { return Real().read(fd, b, m); }); };
    t.pread = [](int fd, void* b, size_t n, off_t o) { return Transfer("read", n, [&](size_t m) { return Real().pread(fd, b, m, o); }); };
    t.write = [](int fd, const void* b, size_t n) {
      const ssize_t r = Transfer("write", n, [&](size_t m) { return Real().write(fd, b, m); });
      if (std::lock_guard<std::mutex> hold(g_sys.mu); r > 0) g_sys.written.insert(fd);
      return r;
    };
    // The descriptor is gone whatever close() says; an error other than
    // EINTR means that written data may not have reached the file.
    t.close = [](int fd) {
      const Sys s = Meet("close", true, false);
      const int r = Real().close(fd);
      if (std::lock_guard<std::mutex> hold(g_sys.mu); g_sys.written.erase(fd) && s != Sys::kNone && s != Sys::kEintr) g_sys.lost_close = true;
      return s == Sys::kNone ? r : (errno = Errno(s), -1);
    };
    t.lseek = [](int fd, off_t o, int w) { return Plain<off_t>("lseek", false, [&] { return Real().lseek(fd, o, w); }); };
    t.fstat = [](int fd, struct stat* st) { return Plain<int>("fstat", false, [&] { return Real().fstat(fd, st); }); };
    t.stat = [](const char* p, struct stat* st) { return Plain<int>("stat", false, [&] { return Real().stat(p, st); }); };
    t.lstat = [](const char* p, struct stat* st) { return Plain<int>("lstat", false, [&] { return Real().lstat(p, st); }); };
    t.ftruncate = [](int fd, off_t n) { return Plain<int>("ftruncate", true, [&] { return Real().ftruncate(fd, n); }); };
    t.fsync = [](int fd) { return Plain<int>("fsync", true, [&] { return Real().fsync(fd); }); };
    t.rename = [](const char* a, const char* b) { return Plain<int>("rename", false, [&] { return Real().rename(a, b); }); };
    t.rename_noreplace = [](const char* a, const char* b) { return Plain<int>("rename_noreplace", false, [&] { return Real().rename_noreplace(a, b); }); };
    t.unlink = [](const char* p) { return Plain<int>("unlink", false, [&] { return Real().unlink(p); }); };
    t.flock = [](int fd, int op) { return Plain<int>("flock", true, [&] { return Real().flock(fd, op); }); };
    t.fcntl_lock = [](int fd, int c, struct flock* l) { return Plain<int>("fcntl_lock", true, [&] { return Real().fcntl_lock(fd, c, l); }); };
    t.fcntl_flags = [](int fd, int c, int f) { return Plain<int>("fcntl_flags", false, [&] { return Real().fcntl_flags(fd, c, f); }); };
    t.mkdir = [](const char* p, mode_t m) { return Plain<int>("mkdir", false, [&] { return Real().mkdir(p, m); }); };
    return t;
  }();
  return &table;
}
#endif

// The indexing thread's boxes are answered Cancel (OK for an OK-only box).
std::atomic<int> g_boxes{0};
int STDMETHODCALLTYPE CountBox(const char*, const char*, unsigned type, void*) { return ++g_boxes, (type & 0xF) == 0 ? 1 : 2; }

// One run of an operation's body: what its methods answered and what it
// saw; then what it left: the files, the names of those opened for writing,
// whether a written file's close failed or a removal failed (a staging file
// may then stay), and the calls, FileSystem's by family, then the system's.
struct Trial {
  std::string dir, path;
  FaultFileSystem* fs = nullptr;
  Files before, after;
  bool ok = true, open_failed = false, whole = true, closed = false, lost_close = false, removal_failed = false;
  std::vector<std::string> seen, problems;
  std::vector<uint64_t> results, calls;
  std::set<std::string> written;

  // Faults start here: the setup before it ran clean.
  void Arm() {
    before = Snapshot(dir), fs->armed = true;
#ifndef _WIN32
    std::lock_guard<std::mutex> hold(g_sys.mu);
    g_sys.armed = true, g_sys.what = "none";
#endif
  }
  bool Step(HRESULT hr, const std::string& what, std::string text = "?") {
    const uint32_t code = static_cast<uint32_t>(hr);
    if (results.push_back(code), SUCCEEDED(hr)) return true;
    if (ok = false, text == "?") text = TakeError().description;
    if (text.empty() || text[0] == ';' || !(hr == E_FAIL || (code >= 0x80043000u && code <= 0x8004301Cu)))
      problems.push_back(what + " failed with " + Description("", "", hr).substr(2) + " and text \"" + text + "\"");
    return false;
  }
  bool Open(HRESULT hr) { return open_failed = !Step(hr, "Open"), !open_failed; }
  void Close(HRESULT hr) { closed = Step(hr, "Close"); }
};

template <class Log> void WriteBlocks(Trial& r, Log* log) {
  // A failed block is taken back whole, so one retry may follow.
  auto twice = [&](auto write, const std::string& what) { return r.Step(write(), what) || r.Step(write(), what + " again"); };
  for (uint32_t i = 0; i < kBlocks && r.whole; ++i) {
    r.whole = twice([&] { return WriteNumbered(log, i); }, "WriteBlock");
    if constexpr (kIsLogFile2<Log>)
      if (const std::string c = "mark " + std::to_string(i); r.whole && i % 10 == 9)
        r.whole = twice([&] { return Write(log, MakeHeader(CVR_ID_BOOKMARK, 0, 0, 0, 0), Bytes(c.begin(), c.end())); }, "bookmark block");
  }
}
template <class Log> void WriteOp(Trial& r, EnumFileVersion v, ULONG buffer) {
  auto log = New<Log>();
  if constexpr (kIsLogFile2<Log>) log->SetDiskBufferSize(buffer);
  if (r.Arm(); r.Open(OpenLog(log.get(), r.path, true, v))) WriteBlocks(r, log.get()), r.Close(log->Close());
}
// A log of kBlocks blocks with four bookmarks (one behind every tenth
// block) and, if asked, an index at resolution 10; made without faults.
void Fixture(Trial& r, EnumFileVersion v, bool index) {
  auto log = New<ILogFile2>();
  EXPECT_EQ(OpenLog(log.get(), r.path, true, v), S_OK);
  WriteBlocks(r, log.get());
  EXPECT_EQ(log->Close(), S_OK);
  if (!index) return;
  EXPECT_TRUE(OpenLog(log.get(), r.path, false) == S_OK && log->CreateIndex(10) == S_OK);
  LONGLONG n = 0;
  EXPECT_TRUE(WaitUntil([&] { return log->GetIndexedRecCount(&n) == S_OK && n == kBlocks + kMarks; }, 10000)) << n;
  EXPECT_EQ(log->Close(), S_OK);
}
// The fixture's log opened in a new object with the faults on; `body` runs
// on it, then Close.
template <class Fn> void ViewOp(Trial& r, EnumFileVersion v, bool index, Fn body) {
  Fixture(r, v, index);
  auto log = New<ILogFile2>();
  if (r.Arm(); r.Open(OpenLog(log.get(), r.path, false))) body(log.get()), r.Close(log->Close());
}
// Starts a pass and waits, bounded, for its end: the count of a whole
// pass, a box, or a counter that fails.
void IndexOp(Trial& r, bool rebuild) {
  Fixture(r, FileVersionCVR_V0102, rebuild);
  auto log = New<ILogFile2>();
  EXPECT_EQ(OpenLog(log.get(), r.path, false), S_OK);
  g_boxes = 0, r.Arm();
  const LONGLONG resolution = rebuild ? 20 : 10;  // the old index serves until the new one is in
  if (r.Step(log->CreateIndex(resolution), "CreateIndex")) {
    LONGLONG n = 0, progress = 0, res = 0, last = -1, still = 0, done = false;  // still: polls without a change
    WaitUntil([&] {
      HRESULT a = log->GetIndexedRecCount(&n), b = log->GetIndexingProgress(&progress), c = log->GetIndexResolution(&res);
      done = g_boxes > 0 || (a == S_OK && c == S_OK && n == kBlocks + kMarks && res == resolution) || FAILED(a) || FAILED(b) || FAILED(c);
      still = progress * 1000 + n == last ? still + 1 : 0, last = progress * 1000 + n;
      return done || still > 2000;  // a loaded machine may take a while to sync and rename
    }, 10000);
    if (TakeError(); !done) r.problems.push_back("the pass stopped without its index, a box or a failing call (count " + std::to_string(n) +
                                                 ", resolution " + std::to_string(res) + ", progress " + std::to_string(progress) + ")");
    r.ok = r.ok && g_boxes == 0, r.seen.push_back("indexed " + std::to_string(n));  // a box: the thread reported the fault
  }
  r.Close(log->Close());
}

struct Op { std::string name; std::function<void(Trial&)> body; bool writes = true; Kind reader = Kind::kLogFile2; };

std::vector<Op> Operations() {
  std::vector<Op> ops;
  const std::pair<const char*, EnumFileVersion> gens[] = {
      {"1.02", FileVersionCVR_V0102}, {"e1.02", FileVersionCVR_Ve102}, {"u1.02", FileVersionCVR_Vu102}, {"e1.01", FileVersionCVR_Ve101}};
  for (const auto& [name, v] : gens) {
    ops.push_back({std::string("write ") + name, [v = v](Trial& r) { WriteOp<ILogFile2>(r, v, v == FileVersionCVR_Ve101 ? 512 : 65536); }});
    ops.push_back({std::string("open and read ") + name, [v = v](Trial& r) { ViewOp(r, v, false, [&](ILogFile2* log) {
      std::vector<std::string> marks;
      const ReadBack rb = ReadNumbered(log, &marks);
      if (FAILED(rb.failure)) r.Step(rb.failure, "reading", rb.description);
      r.seen.push_back(std::to_string(rb.blocks) + (rb.clean_end ? " blocks, end" : " blocks") + (rb.mismatch ? ", " + rb.where : ""));
      r.seen.insert(r.seen.end(), marks.begin(), marks.end());
    }); }, false});
  }
  ops.push_back({"write with LogFile", [](Trial& r) { WriteOp<ILogFile>(r, FileVersionCVR_Ve101, 0); }, true, Kind::kLogFile});
  ops.push_back({"write with Corvane", [](Trial& r) { WriteOp<ICorvane>(r, FileVersionCVR_V0100, 0); }, true, Kind::kCorvane});
  ops.push_back({"Close of a buffered 1.02 log", [](Trial& r) {
    auto log = New<ILogFile2>();
    EXPECT_EQ(OpenLog(log.get(), r.path, true), S_OK);
    WriteBlocks(r, log.get()), r.Arm(), r.Close(log->Close());
  }});
  ops.push_back({"create-always over a log with companions", [](Trial& r) { Fixture(r, FileVersionCVR_V0102, true), WriteOp<ILogFile2>(r, FileVersionCVR_Vu102, 65536); }});
  ops.push_back({"build an index", [](Trial& r) { IndexOp(r, false); }, false});
  ops.push_back({"rebuild an index", [](Trial& r) { IndexOp(r, true); }, false});
  ops.push_back({"load, add, edit and delete bookmarks, Close", [](Trial& r) { ViewOp(r, FileVersionCVR_V0102, true, [&](ILogFile2* log) {
    r.Step(log->InsertBookmark(5, Bstr("new").get()), "InsertBookmark");
    r.Step(log->BookmarkJump(0), "BookmarkJump") && r.Step(log->BookmarkEdit(Bstr("edited").get()), "BookmarkEdit");
    r.Step(log->BookmarkJump(2), "BookmarkJump") && r.Step(log->BookmarkDelete(), "BookmarkDelete");
  }); }, false});
  ops.push_back({"Jump", [](Trial& r) { ViewOp(r, FileVersionCVR_V0102, true, [&](ILogFile2* log) {
    Record rec;
    bool eof = false;
    if (r.Step(log->Jump(25), "Jump") && r.Step(ReadRecord(log, &rec, &eof), "reading after Jump"))
      r.seen.push_back(std::to_string(rec.header.wBlockID) + " " + std::to_string(rec.data.size()) + (eof ? " end" : ""));
  }); }, false});
  return ops;
}

struct FaultSweep {
  unsigned long long runs = 0, injected = 0;
  std::vector<std::string> problems;

  // Runs `op` with the faults `setup` chooses, then reads the log back.
  template <class Setup> Trial Once(const Op& op, Setup setup) {
    TempDir dir;
    FaultFileSystem fs;
    Trial r;
    r.dir = dir.path(), r.path = dir.File("sweep.log"), r.fs = &fs, fs.armed = false, setup(fs);
    std::set<std::string> paths;
    {
      platform::ScopedFileSystemOverride use(&fs);
#ifndef _WIN32
      platform::SetSyscalls(FaultyCalls());
#endif
      op.body(r);
#ifndef _WIN32
      platform::SetSyscalls(nullptr);
      std::lock_guard<std::mutex> hold(g_sys.mu);
      r.calls.push_back(g_sys.calls), injected += g_sys.injected, r.lost_close = g_sys.lost_close, paths.swap(g_sys.opened_for_writing);
      r.removal_failed = g_sys.injected > 0 && std::string(g_sys.what) == "unlink";
      g_sys.armed = g_sys.lost_close = false, g_sys.calls = g_sys.injected = 0, g_sys.written.clear();
#endif
    }
    for (int c = 0; c <= static_cast<int>(Call::kAny); ++c) r.calls.insert(r.calls.begin() + c, fs.calls(static_cast<Call>(c)));
    paths.insert(fs.opened_for_writing.begin(), fs.opened_for_writing.end());
    for (const std::string& path : paths) r.written.insert(path.substr(path.find_last_of("/\\") + 1));  // each run has a directory of its own
    ++runs, injected += fs.injected, r.lost_close = r.lost_close || fs.lost_close;
    r.removal_failed = r.removal_failed || (fs.injected > 0 && fs.family == Call::kRemove);
    r.after = Snapshot(dir.path());
    std::vector<std::string> marks;
    const ReadBack rb = op.reader == Kind::kLogFile    ? ReadLog<ILogFile>(r.path)
                        : op.reader == Kind::kCorvane ? ReadLog<ICorvane>(r.path) : ReadLog<ILogFile2>(r.path, &marks);
    if (rb.mismatch || rb.blocks > kBlocks) r.problems.push_back("the log is no prefix of what was written: " + rb.where);
    if (op.writes && r.whole && r.closed && !rb.whole(kBlocks))
      r.problems.push_back("every block and Close succeeded, but " + std::to_string(rb.blocks) + " blocks read back: " + rb.description);
    if (!op.writes && !Same(Find(r.before, "sweep.log"), Find(r.after, "sweep.log"))) r.problems.push_back("the log changed");
    if (r.ok && r.lost_close) r.problems.push_back("every method succeeded after the close of a written file failed");
    for (const auto& [name, bytes] : r.after) if (name[0] == '~' && !r.removal_failed) r.problems.push_back("staging file " + name + " left");
    r.seen.insert(r.seen.begin(), marks.begin(), marks.end());
    return r;
  }

  // The checks against the clean run; `transparent`: the fault must not show.
  void Compare(const Op& op, const Trial& clean, const Trial& res, bool transparent, const std::string& where) {
    std::vector<std::string> found = res.problems;
    for (const char* name : {"sweep.bmk", "sweep.idx"}) {
      const Bytes *now = Find(res.after, name), *old = Find(res.before, name), *was = Find(clean.after, name);
      auto size = [](const Bytes* b) { return std::to_string(b ? b->size() : 0); };
      if (now && !Same(now, old) && !Same(now, was))
        found.push_back(std::string(name) + " is neither the old file, the clean run's nor absent (" + size(now) + " bytes; old " + size(old) + ", clean " + size(was) + ")");
      if (res.open_failed && !Same(now, old)) found.push_back(std::string("a failed Open changed ") + name);
      if (res.written.count(name) && !clean.written.count(name)) found.push_back(std::string("written in place: ") + name);
    }
    if (res.ok && res.seen != clean.seen) found.push_back("every method succeeded, but it saw " + Join(res.seen) + " instead of " + Join(clean.seen));
    if (transparent && res.results != clean.results) found.push_back("the methods' results differ from the clean run");
    if (transparent && op.reader == Kind::kLogFile2 && res.after != clean.after) found.push_back("the files differ from the clean run");
    for (const std::string& f : found) problems.push_back(op.name + " | " + where + ": " + f);
  }

  void Sweep(const Op& op) {
    const Trial clean = Once(op, [](FaultFileSystem&) {});
    for (const std::string& p : clean.problems) problems.push_back(op.name + " | clean run: " + p);
    if (!clean.ok) return problems.push_back(op.name + " | the clean run failed");
    auto stride = [](uint64_t n) { return (n + kMaxRuns - 1) / kMaxRuns; };
    // A short write only for writes, access denied only for opening, renaming and removing.
    for (int c = 0; c < static_cast<int>(Call::kAny); ++c) {
      const Call family = static_cast<Call>(c);
      for (Fault fault : {Fault::kIo, Fault::kDiskFull, Fault::kShortWrite, Fault::kDenied})
        for (uint64_t at = 1, n = clean.calls[c]; at <= n; at += stride(n))
          if ((fault != Fault::kShortWrite || family == Call::kWrite) &&
              (fault != Fault::kDenied || family == Call::kOpen || family == Call::kRename || family == Call::kRemove))
            Compare(op, clean, Once(op, [&](FaultFileSystem& fs) { fs.family = family, fs.fail_at = at, fs.fault = fault; }), false,
                    std::string("FileSystem ") + Name(family) + " call " + std::to_string(at) + ", " + Name(fault));
    }
#ifndef _WIN32
    for (Sys hit : {Sys::kEintr, Sys::kShort, Sys::kEio, Sys::kEnospc})
      for (uint64_t at = 1, n = clean.calls.back(); at <= n; at += stride(n)) {
        const Trial res = Once(op, [&](FaultFileSystem&) { g_sys.fail_at = at, g_sys.hit = hit; });
        Compare(op, clean, res, hit == Sys::kEintr || hit == Sys::kShort, std::string("system call ") + std::to_string(at) + " (" + g_sys.what + "), " + Name(hit));
      }
    g_sys.fail_at = 0;
#endif
  }
};

TEST(FaultSweepTest, EveryCallOfEveryOperationFailsInTurnAndNothingIsLostOrDamaged) {
  CorvaneSetMessageBoxHandler(&CountBox, nullptr);
  FaultSweep sweep;
  const std::vector<Op> ops = Operations();
  for (const Op& op : ops) sweep.Sweep(op);
  CorvaneSetMessageBoxHandler(nullptr, nullptr);
  std::printf("fault sweep: %zu operations, %llu runs, %llu faults injected, %zu problems\n", ops.size(), sweep.runs, sweep.injected, sweep.problems.size());
  for (const std::string& p : sweep.problems) ADD_FAILURE() << p;
}

}  // namespace
}  // namespace corvane::test
