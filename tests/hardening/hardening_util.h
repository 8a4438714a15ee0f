// Helpers of the hardening tests: numbered blocks whose every byte follows
// from their number (so that a reader can tell an intact block from a cut,
// shifted or repeated one), reading them back through each interface, a
// second process (hardening_child) and bounded waits.
#ifndef CORVANE_TESTS_HARDENING_HARDENING_UTIL_H_
#define CORVANE_TESTS_HARDENING_HARDENING_UTIL_H_

#include <corvane/corvane.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace corvane::test {

using Bytes = std::vector<uint8_t>;

// ---- Numbered blocks. ----
// Block i: identifier 0x20 + i % 3, connection i & 0xFF, mode 0, stamp
// i * 1000, data of 4 + (i * 53) % 120 bytes: i little-endian, then a
// pattern seeded by i.
uint32_t NumberedLength(uint32_t i);
Bytes NumberedData(uint32_t i);
LogBlockHeader NumberedHeader(uint32_t i);
// Bytes the block occupies in a 1.02 or e1.01 log (16-byte header).
inline uint64_t NumberedSize(uint32_t i) { return 16 + NumberedLength(i); }

HRESULT WriteNumbered(ILogFile2* log, uint32_t i);
HRESULT WriteNumbered(ILogFile* log, uint32_t i);
HRESULT WriteNumbered(ICorvane* log, uint32_t i);

// What reading a log of numbered blocks from its first block found.
struct ReadBack {
  uint32_t blocks = 0;       // intact blocks 0, 1, ... in order
  bool clean_end = false;    // the reader reported the end of the file
  bool mismatch = false;     // a block other than the next number, or changed bytes
  HRESULT failure = S_OK;    // the call that stopped the reading, if it failed
  std::string description;   // its error object's description
  std::string where;         // what differed, for a mismatch
};
// Reads up to `limit` records. Bookmarks (0x43) are skipped and counted in
// *bookmarks when given.
ReadBack ReadNumbered(ILogFile2* log, uint32_t limit = 1000000, std::vector<std::string>* bookmarks = nullptr);
ReadBack ReadNumbered(ILogFile* log, uint32_t limit = 1000000);
ReadBack ReadNumbered(ICorvane* log, uint32_t limit = 1000000);
// Reads the next record and checks that it is block i.
bool NextIsNumbered(ILogFile2* log, uint32_t i, HRESULT* failure = nullptr);

// ---- Objects and files. ----
HRESULT OpenLogFile2(ILogFile2* log, const std::string& path, EnumFileAccessMode mode,
                     EnumFileVersion version = FileVersionCVR_V0102);
HRESULT OpenLogFile(ILogFile* log, const std::string& path, EnumFileAccessMode mode);
HRESULT OpenCorvane(ICorvane* log, const std::string& path, EnumCVRFileAccessMode access,
                    EnumCVRFileCreateMode create);
// The companion file of a log: same name, other extension ("idx", "bmk").
std::string Companion(const std::string& log_path, const std::string& extension);

// ---- Waiting without hanging. ----
void PauseMs(int ms);
// Polls `done` every millisecond or so, at most `limit` times. The bound
// keeps a broken build from hanging; it is no statement about speed.
bool WaitUntil(const std::function<bool()>& done, int limit = 120000);

// ---- The second process. ----
// Full path of hardening_child beside the running test executable.
std::string ChildPath();
// Runs it to its end; its exit code, or -1 when it did not exit normally.
int RunChild(const std::vector<std::string>& args);

// Runs the child on a thread of its own (std::system blocks), so that the
// test can act while the child holds a file. Join waits for its exit code.
class BackgroundChild {
 public:
  explicit BackgroundChild(std::vector<std::string> args);
  ~BackgroundChild();
  BackgroundChild(const BackgroundChild&) = delete;
  BackgroundChild& operator=(const BackgroundChild&) = delete;
  int Join();
  // The child has ended (Join then returns at once).
  bool finished() const { return finished_.load(); }
  // Waits (bounded) until `path` exists or the child has ended; true when
  // the file is there.
  bool AwaitFile(const std::string& path);

 private:
  // Before the thread, which starts in the constructor and writes them.
  std::atomic<bool> finished_{false};
  int code_ = -1;
  bool joined_ = false;
  std::thread thread_;
};

}  // namespace corvane::test

#endif  // CORVANE_TESTS_HARDENING_HARDENING_UTIL_H_
