// Without a screen, a message box is two lines on standard error: the
// caption and the text. Nobody can answer, so the answer is Cancel (or OK).
#include <cstdio>

#include "platform/message_box_default.h"

namespace corvane::platform {
namespace {

// Keeps each part on one line.
std::string OneLine(const std::string& s) {
  std::string line = s;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

}  // namespace

int ShowSystemMessageBox(const std::string& caption, const std::string& text, uint32_t type) {
  const std::string message = OneLine(caption) + "\n" + OneLine(text) + "\n";
  // One write, so that boxes of two threads do not interleave their lines.
  std::fwrite(message.data(), 1, message.size(), stderr);
  std::fflush(stderr);
  return UnansweredMessageBoxResult(type);
}

}  // namespace corvane::platform
