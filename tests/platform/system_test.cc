// Message boxes and system error texts.
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include <cstdio>
#include <string>

#include "platform/system.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace corvane::platform {
namespace {

struct SeenBox {
  std::string caption, text;
  unsigned type = 0;
  int calls = 0;
};

int STDMETHODCALLTYPE RecordingHandler(const char* caption, const char* text, unsigned type, void* context) {
  auto* seen = static_cast<SeenBox*>(context);
  *seen = {caption, text, type, seen->calls + 1};
  return kIdRetry;
}

// A client's handler sees the box and chooses the answer; without one, POSIX
// writes caption and text to standard error, one line each, and answers
// Cancel (or OK).
TEST(MessageBoxTest, ClientHandlerSeesBoxAndChoosesAnswerUntilTheDefaultIsBack) {
  SeenBox seen;
  CorvaneSetMessageBoxHandler(&RecordingHandler, &seen);
  EXPECT_EQ(ShowMessageBox("Indexing", "Disk full", kMbRetryCancel | kMbIconError), kIdRetry);
  CorvaneSetMessageBoxHandler(nullptr, &seen);  // back to the default
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.caption + "|" + seen.text, "Indexing|Disk full");
  EXPECT_EQ(seen.type, kMbRetryCancel | kMbIconError);
#ifndef _WIN32
  std::fflush(stderr);
  FILE* capture = std::tmpfile();
  const int saved = dup(2);
  dup2(fileno(capture), 2);
  const int retry_cancel = ShowMessageBox("Corvane", "Index write\nfailed", kMbRetryCancel | kMbIconError);
  const int ok_only = ShowMessageBox("Note", "Done", kMbOk);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  char out[64] = {};
  std::rewind(capture);
  out[std::fread(out, 1, sizeof out - 1, capture)] = 0;
  std::fclose(capture);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(retry_cancel, kIdCancel);
  EXPECT_EQ(ok_only, kIdOk);
  EXPECT_STREQ(out, "Corvane\nIndex write failed\nNote\nDone\n");
#endif
}

TEST(SystemTest, ErrorTextsAreTheWindowsOnesWithoutLineEnd) {
  for (uint32_t code : {2u, 32u, 112u}) {
    const std::string text = SystemErrorText(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
  }
#ifndef _WIN32
  EXPECT_EQ(SystemErrorText(2), "The system cannot find the file specified.");
  EXPECT_EQ(SystemErrorText(112), "There is not enough space on the disk.");
#endif
}

}  // namespace
}  // namespace corvane::platform
