// Building a log's index through LogFile2 and waiting for it.
//
// CreateIndex starts a background thread and returns at once; the interface
// offers GetIndexingProgress (file position reached) and GetIndexedRecCount
// but no "finished" flag. BuildIndex therefore takes the pass as finished
// when the progress has reached the file size, the index in use has the
// requested resolution (a rebuild is installed) and the count has stopped
// moving; or when nothing has moved for a long while (a log whose end is
// damaged never brings the progress to the file size); or when the thread
// has reported a failure in a message box.
#ifndef CVRTOOL_INDEXING_H_
#define CVRTOOL_INDEXING_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <string>

namespace cvrtool {

constexpr int64_t kDefaultIndexResolution = 100;

struct IndexState {
  bool present = false;    // an index file was opened or built
  int64_t resolution = 0;  // messages per index record
  int64_t records = 0;     // messages plus bookmarks, as the index counts them
};

IndexState QueryIndex(ILogFile2* log);

struct IndexRun {
  int64_t progress = 0;   // file position the pass reached
  int64_t file_size = 0;
  int64_t records = 0;    // GetIndexedRecCount at the end
  double seconds = 0;
  bool failed = false;    // the indexing thread reported a failure in a box
  bool reached_end() const { return progress >= file_size; }
};

// CreateIndex(resolution) on `log` (opened from `path`), then polls until
// the pass is over, drawing a progress bar when `show_progress`; a failure
// the indexing thread reports names the log and its index file. Throws
// LibraryError (exit code 3 for a library without indexing).
IndexRun BuildIndex(ILogFile2* log, const std::string& path, int64_t resolution,
                    bool show_progress);

}  // namespace cvrtool

#endif  // CVRTOOL_INDEXING_H_
