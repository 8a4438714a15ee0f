#include "progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace cvrtool {

bool StderrIsTerminal() {
#ifdef _WIN32
  // A console: _isatty also answers yes for the NUL device, GetConsoleMode
  // does not.
  DWORD mode = 0;
  return _isatty(_fileno(stderr)) && GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
#else
  return isatty(fileno(stderr)) == 1;
#endif
}

Progress::Progress(std::string label, bool enabled)
    : label_(std::move(label)), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

void Progress::Update(int64_t done, int64_t total) {
  if (!enabled_) return;
  last_done_ = done;
  last_total_ = total;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && done < total && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  Draw(done, total);
}

void Progress::Finish() {
  if (!enabled_ || !drawn_) return;
  Draw(last_done_, last_total_);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  enabled_ = false;
}

void Progress::Draw(int64_t done, int64_t total) {
  drawn_ = true;
  const double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
  const double clamped = fraction < 0 ? 0 : (fraction > 1 ? 1 : fraction);
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(clamped * kWidth);
  char bar[kWidth + 1];
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = '\0';

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;  // bytes per second
  char left[32] = "--:--";
  const double estimate = rate > 0 && total >= done ? static_cast<double>(total - done) / rate : -1;
  // Below 100 hours only: a stalled pass gives estimates that no integer
  // holds (long has 32 bits on Windows).
  if (estimate >= 0 && estimate < 360000) {
    const long remaining = static_cast<long>(estimate + 0.5);
    std::snprintf(left, sizeof left, "%ld:%02ld", remaining / 60, remaining % 60);
  }
  std::fprintf(stderr, "\r%-10s [%s] %5.1f%%  %7.2f MB/s  %s left ", label_.c_str(), bar,
               clamped * 100.0, rate / 1e6, left);
  std::fflush(stderr);
}

}  // namespace cvrtool
