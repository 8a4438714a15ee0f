// Soak run: a recorder, a viewer and an indexing pass together for a set
// time, printing throughput, resident memory and open descriptors every 10 s.
//
//   soak [SECONDS]    default 600; scratch files under $CORVANE_BENCH_DIR/soak
//
// LogFile2 refuses to open a log for reading while another object records it
// (share modes), so the recorder writes segments: it closes its log every
// SOAK_SEGMENT_SECONDS (default 2) and opens the next (soak-0001.cvr, ...).
// The viewer takes each closed segment, builds its index (CreateIndex,
// polled through GetIndexingProgress and GetIndexedRecCount), reads it back
// whole (the count must equal what was written), then jumps to random
// messages and checks where each lands until the next segment is closed. A
// verified segment is deleted with its companions, so the disk holds at most
// a few segments; the recorder waits while two wait for the viewer.
//
// Blocks are 64 bytes on disk (16-byte header, 48 data bytes); after every
// 10,000 blocks comes a bookmark block. Exit code 0 when every segment
// verified and neither memory nor descriptors grew beyond their allowance.
#include <dirent.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "bench_util.h"

using namespace corvane;
using namespace corvane::bench;

namespace {

constexpr size_t kData = 48;               // + the 16-byte header: 64 bytes a block
constexpr uint64_t kBookmarkEvery = 10000;  // blocks between bookmark blocks

struct Segment {
  std::string path;
  uint64_t blocks = 0, bookmarks = 0;
};

std::atomic<uint64_t> g_written{0}, g_read{0}, g_jumps{0}, g_failures{0};
std::mutex g_mutex;
std::condition_variable g_changed;
std::deque<Segment> g_closed;  // closed segments the viewer has not taken yet
bool g_recording = true, g_viewing = true;

long VmRssKiB() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

int OpenFds() {
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (readdir(d)) ++n;
  closedir(d);
  return n - 3;  // ".", ".." and the descriptor of the listing itself
}

void Fail(const std::string& what) {
  ++g_failures;
  std::fprintf(stderr, "soak: %s\n", what.c_str());
}

// The block a message number names: blocks i sit at message i + i / 10000,
// the bookmark after block 9999 at message 10000, and so on.
bool IsBookmarkMessage(uint64_t m) { return (m + 1) % (kBookmarkEvery + 1) == 0; }
uint64_t BlockOfMessage(uint64_t m) { return m - m / (kBookmarkEvery + 1); }

void Recorder(const std::filesystem::path& dir, std::chrono::steady_clock::time_point stop, double segment_seconds) {
  const std::vector<uint8_t> data = Payload(kData);
  const std::string mark = "soak bookmark";
  for (int n = 1; std::chrono::steady_clock::now() < stop; ++n) {
    {  // at most two closed segments wait for the viewer
      std::unique_lock<std::mutex> lock(g_mutex);
      g_changed.wait(lock, [] { return g_closed.size() < 2; });
    }
    char name[32];
    std::snprintf(name, sizeof name, "soak-%04d.cvr", n);
    Segment s{(dir / name).string()};
    LogFile2Object log;
    if (FAILED(OpenLog(log.p, s.path, FileAccessModeWriteCreateAlways, FileVersionCVR_V0102))) {
      Fail("cannot create " + s.path);
      break;
    }
    const auto end = std::min(stop, std::chrono::steady_clock::now() +
                                        std::chrono::milliseconds(static_cast<int64_t>(segment_seconds * 1000)));
    while (std::chrono::steady_clock::now() < end) {
      for (int k = 0; k < 1000; ++k) {
        LogBlockHeader h = Record(s.blocks, kData);
        if (FAILED(log.p->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, const_cast<uint8_t*>(data.data()), kData, 0)))
          Fail("WriteBlock failed in " + s.path);
        if (++s.blocks % kBookmarkEvery == 0) {
          LogBlockHeader b{};
          b.wBlockID = CVR_ID_BOOKMARK;
          b.dwDataLength = static_cast<ULONG>(mark.size());
          log.p->WriteBlock(reinterpret_cast<BYTE*>(&b), sizeof b,
                            reinterpret_cast<BYTE*>(const_cast<char*>(mark.data())), b.dwDataLength, 0);
          ++s.bookmarks;
        }
      }
      g_written += 1000;
    }
    if (FAILED(log.p->Close())) Fail("Close failed for " + s.path);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_closed.push_back(s);
    g_changed.notify_all();
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  g_recording = false;
  g_changed.notify_all();
}

// Reads the next record's header (and its data); false at the end or on an error.
bool Next(ILogFile2* log, LogBlockHeader* h, std::vector<uint8_t>* data) {
  ULONG returned = 0;
  LONG eof = 0;
  if (log->ReadBlockHeader(reinterpret_cast<BYTE*>(h), sizeof *h, &returned, &eof) != S_OK || eof) return false;
  data->resize(h->dwDataLength + 1);
  return log->ReadBlockData(data->data(), h->dwDataLength) == S_OK;
}

void View(std::mt19937_64& random) {
  for (;;) {
    Segment s;
    {
      std::unique_lock<std::mutex> lock(g_mutex);
      g_changed.wait(lock, [] { return !g_closed.empty() || !g_recording; });
      if (g_closed.empty()) {
        g_viewing = false;
        g_changed.notify_all();
        return;
      }
      s = g_closed.front();
      g_closed.pop_front();
      g_changed.notify_all();
    }
    const uint64_t messages = s.blocks + s.bookmarks;
    LogFile2Object log;
    if (FAILED(OpenLog(log.p, s.path, FileAccessModeReadOnly, FileVersionUnknown))) {
      Fail("cannot open " + s.path);
      continue;
    }
    // The indexing pass, polled as a viewer's progress bar would.
    LONGLONG progress = 0, count = 0, resolution = 0;
    log.p->CreateIndex(100);
    for (int polls = 0; polls < 600000; ++polls) {
      log.p->GetIndexingProgress(&progress);
      if (log.p->GetIndexedRecCount(&count) == S_OK && log.p->GetIndexResolution(&resolution) == S_OK &&
          resolution == 100 && static_cast<uint64_t>(count) >= messages)
        break;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (static_cast<uint64_t>(count) < messages) Fail("indexing did not finish for " + s.path);

    // The whole segment: every block in order, the bookmarks among them.
    LogBlockHeader h{};
    std::vector<uint8_t> data;
    uint64_t blocks = 0, bookmarks = 0;
    while (Next(log.p, &h, &data)) {
      if (h.wBlockID == CVR_ID_BOOKMARK) {
        ++bookmarks;
      } else if (h.qwTimeStamp != blocks++ || h.dwDataLength != kData) {
        Fail("wrong block " + std::to_string(blocks - 1) + " in " + s.path);
        break;
      }
      ++g_read;
    }
    if (blocks != s.blocks || bookmarks != s.bookmarks)
      Fail(s.path + ": read " + std::to_string(blocks) + " blocks and " + std::to_string(bookmarks) + " bookmarks of " +
           std::to_string(s.blocks) + " and " + std::to_string(s.bookmarks));

    // Random jumps until the next segment is closed (at least 100).
    std::uniform_int_distribution<uint64_t> any(0, messages - 1);
    for (int j = 0;; ++j) {
      if (j >= 100 && j % 100 == 0) {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_closed.empty() || !g_recording) break;
      }
      const uint64_t m = any(random);
      if (log.p->Jump(static_cast<LONGLONG>(m)) != S_OK || !Next(log.p, &h, &data) ||
          (IsBookmarkMessage(m) ? h.wBlockID != CVR_ID_BOOKMARK : h.qwTimeStamp != BlockOfMessage(m))) {
        Fail("Jump(" + std::to_string(m) + ") in " + s.path + " landed wrong");
        break;
      }
      ++g_jumps, ++g_read;
    }
    log.p->Close();
    for (const char* ext : {".cvr", ".idx", ".bmk"})
      std::filesystem::remove(s.path.substr(0, s.path.size() - 4) + ext);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 600;
  const double segment_seconds = static_cast<double>(EnvNumber("SOAK_SEGMENT_SECONDS", 2));
  const std::filesystem::path dir = ScratchDir("soak");
  const auto start = std::chrono::steady_clock::now();
  const auto stop = start + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
  std::printf("soak: %.0f s in %s, segments of %.0f s, 64-byte blocks, a bookmark every %llu blocks\n", seconds,
              dir.string().c_str(), segment_seconds, static_cast<unsigned long long>(kBookmarkEvery));
  std::printf("%8s %14s %14s %10s %10s %5s\n", "elapsed", "written/s", "read/s", "jumps/s", "rss KiB", "fds");
  const long rss0 = VmRssKiB();
  const int fds0 = OpenFds();
  std::printf("%7ds %14s %14s %10s %10ld %5d\n", 0, "-", "-", "-", rss0, fds0);
  std::fflush(stdout);

  std::mt19937_64 random(1);
  std::thread recorder(Recorder, dir, stop, segment_seconds);
  std::thread viewer(View, std::ref(random));

  long rss_first = -1;
  int fds_first = -1;
  uint64_t written = 0, read = 0, jumps = 0;
  auto last = start;
  for (int tick = 1;; ++tick) {
    bool done;
    {
      std::unique_lock<std::mutex> lock(g_mutex);
      done = g_changed.wait_until(lock, start + std::chrono::seconds(10 * tick), [] { return !g_viewing; });
    }
    const auto now = std::chrono::steady_clock::now();
    const double dt = std::chrono::duration<double>(now - last).count();
    if (done && dt < 1) break;  // the last segment's check, too short an interval for rates
    last = now;
    const uint64_t w = g_written, r = g_read, j = g_jumps;
    const long rss = VmRssKiB();
    const int fds = OpenFds();
    if (rss_first < 0) rss_first = rss, fds_first = fds;
    std::printf("%7.0fs %14.0f %14.0f %10.0f %10ld %5d\n", std::chrono::duration<double>(now - start).count(),
                (w - written) / dt, (r - read) / dt, (j - jumps) / dt, rss, fds);
    std::fflush(stdout);
    written = w, read = r, jumps = j;
    if (done) break;
  }
  recorder.join();
  viewer.join();

  const long rss = VmRssKiB();
  const int fds = OpenFds();
  // The first report comes after the first segments, once the library's
  // buffers and the threads exist; growth after it is what a leak would show.
  const long rss_growth = rss - rss_first;
  const int fd_growth = fds - fds_first;
  std::printf("start: rss %ld KiB, %d fds; first report: rss %ld KiB, %d fds; end: rss %ld KiB, %d fds\n", rss0, fds0,
              rss_first, fds_first, rss, fds);
  std::printf("growth since the first report: rss %+ld KiB, fds %+d\n", rss_growth, fd_growth);
  std::printf("total: %llu blocks written, %llu records read back, %llu jumps, %llu failures\n",
              static_cast<unsigned long long>(g_written.load()), static_cast<unsigned long long>(g_read.load()),
              static_cast<unsigned long long>(g_jumps.load()), static_cast<unsigned long long>(g_failures.load()));
  const bool ok = g_failures == 0 && fd_growth <= 0 && rss_growth < 16 * 1024;
  std::printf("%s\n", ok ? "soak: ok" : "soak: FAILED");
  return ok ? 0 : 1;
}
