#include "indexing.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "com.h"
#include "progress.h"

namespace cvrtool {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPoll = std::chrono::milliseconds(20);
// Polls in a row without change, at the end of the file, before the pass
// counts as complete: the thread still writes the final count after the
// last message has been counted.
constexpr int kSettledPolls = 5;
// Without reaching the end: how long nothing may move before we stop waiting.
constexpr auto kStalled = std::chrono::seconds(5);

}  // namespace

IndexState QueryIndex(ILogFile2* log) {
  IndexState s;
  Check(log->GetIndexResolution(&s.resolution), "GetIndexResolution");
  Check(log->GetIndexedRecCount(&s.records), "GetIndexedRecCount");
  s.present = s.resolution > 0;
  return s;
}

IndexRun BuildIndex(ILogFile2* log, const std::string& path, int64_t resolution,
                    bool show_progress) {
  IndexRun run;
  std::filesystem::path index(path);
  index.replace_extension(".idx");
  SetLibraryContext("indexing " + path + " into " + index.string());
  Check(log->GetFileSize(&run.file_size), "GetFileSize");
  const auto start = Clock::now();
  Check(log->CreateIndex(resolution), "building the index (CreateIndex)");

  Progress bar("indexing", show_progress);
  const int boxes = LibraryBoxesShown();
  int64_t last_progress = -1, last_count = -1, last_resolution = -1;
  int settled = 0;
  auto last_change = Clock::now();
  for (;;) {
    std::this_thread::sleep_for(kPoll);
    LONGLONG progress = 0, count = 0, in_use = 0;
    Check(log->GetIndexingProgress(&progress), "GetIndexingProgress");
    Check(log->GetIndexedRecCount(&count), "GetIndexedRecCount");
    Check(log->GetIndexResolution(&in_use), "GetIndexResolution");
    bar.Update(progress, run.file_size);
    const bool moved = progress != last_progress || count != last_count || in_use != last_resolution;
    last_progress = progress;
    last_count = count;
    last_resolution = in_use;
    if (moved) last_change = Clock::now();
    // A box reports a failure of the thread; it has given up by now.
    if (LibraryBoxesShown() != boxes) break;
    // A rebuild at another resolution is done once the new index is in use.
    if (progress >= run.file_size && in_use == resolution) {
      settled = moved ? 0 : settled + 1;
      if (settled >= kSettledPolls) break;
    } else if (Clock::now() - last_change > kStalled) {
      break;
    }
  }
  bar.Finish();
  run.failed = LibraryBoxesShown() != boxes;
  run.progress = last_progress;
  run.records = last_count;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return run;
}

}  // namespace cvrtool
