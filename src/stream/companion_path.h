// Paths of the companion files that lie beside a log (its index, its
// bookmarks): same drive, directory and base name, another extension.
//
// Pure function: safe from any thread.
#ifndef CORVANE_STREAM_COMPANION_PATH_H_
#define CORVANE_STREAM_COMPANION_PATH_H_

#include <string>
#include <string_view>

namespace corvane::stream {

// Where the file name in `path` starts: after the last separator or drive
// colon.
inline size_t FileNameStart(const std::string& path) {
  const size_t last = path.find_last_of("/\\:");
  return last == std::string::npos ? 0 : last + 1;
}

// `log_path` with its extension (if any) replaced by `extension` (given
// without the dot). Both separators and a drive colon end a directory part;
// a dot that starts the file name belongs to the name ("dir/.hidden" becomes
// "dir/.hidden.idx"), and a dot in a directory name is no extension.
inline std::string CompanionPath(const std::string& log_path, std::string_view extension) {
  const size_t name = FileNameStart(log_path);
  size_t dot = log_path.rfind('.');
  std::string base = dot == std::string::npos || dot <= name ? log_path : log_path.substr(0, dot);
  base += '.';
  base += extension;
  return base;
}

// The name under which a companion file is written before it replaces
// `path`: the same name behind a "~" in the same directory, so that the
// rename stays on one volume.
inline std::string StagingPath(std::string path) {
  return path.insert(FileNameStart(path), "~");
}

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_COMPANION_PATH_H_
