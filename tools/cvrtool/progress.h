// A one-line progress bar on standard error: percent, throughput and time
// left. Shown only when standard error is a terminal, so pipes and log
// files stay clean.
#ifndef CVRTOOL_PROGRESS_H_
#define CVRTOOL_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <string>

namespace cvrtool {

bool StderrIsTerminal();

class Progress {
 public:
  // `label` leads the line ("indexing"); nothing is drawn unless `enabled`.
  Progress(std::string label, bool enabled);
  ~Progress() { Finish(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  bool enabled() const { return enabled_; }
  // `done` of `total` bytes (or items); redraws at most about ten times a
  // second, and always when done reaches total.
  void Update(int64_t done, int64_t total);
  // Draws the final state once more and ends the line.
  void Finish();

 private:
  void Draw(int64_t done, int64_t total);

  std::string label_;
  bool enabled_;
  bool drawn_ = false;
  int64_t last_done_ = 0, last_total_ = 0;
  std::chrono::steady_clock::time_point start_, last_draw_;
};

}  // namespace cvrtool

#endif  // CVRTOOL_PROGRESS_H_
