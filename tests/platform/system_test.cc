// Message boxes, error texts, the module path, locks, threads and clocks.
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include <atomic>
#include <string>

#include "platform/clock.h"
#include "platform/sync.h"
#include "platform/system.h"

#ifndef _WIN32
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "support/temp_dir.h"
#endif

namespace corvane::platform {
namespace {

struct SeenBox {
  std::string caption, text;
  unsigned type = 0;
  int calls = 0;
};

int STDMETHODCALLTYPE RecordingHandler(const char* caption, const char* text, unsigned type,
                                       void* context) {
  auto* seen = static_cast<SeenBox*>(context);
  seen->caption = caption;
  seen->text = text;
  seen->type = type;
  ++seen->calls;
  return kIdRetry;
}

#ifndef _WIN32
// Runs fn with standard error sent to a file; returns what was written.
template <class Fn>
std::string CaptureStderr(Fn fn) {
  test::TempDir dir;
  const std::string path = dir.File("stderr.txt");
  std::fflush(stderr);
  const int saved = dup(2);
  FILE* f = std::fopen(path.c_str(), "w");
  dup2(fileno(f), 2);
  fn();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::fclose(f);
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}
#endif

TEST(MessageBoxTest, ClientHandlerSeesBoxAndChoosesAnswerUntilTheDefaultIsBack) {
  SeenBox seen;
  CorvaneSetMessageBoxHandler(&RecordingHandler, &seen);
  EXPECT_EQ(ShowMessageBox("Indexing", "Disk full", kMbRetryCancel | kMbIconError), kIdRetry);
  CorvaneSetMessageBoxHandler(nullptr, &seen);  // back to the default
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.caption, "Indexing");
  EXPECT_EQ(seen.text, "Disk full");
  EXPECT_EQ(seen.type, kMbRetryCancel | kMbIconError);
#ifndef _WIN32  // the default writes two lines to standard error and answers Cancel (or OK)
  int retry_cancel = 0, ok_only = 0;
  std::string out = CaptureStderr([&] {
    retry_cancel = ShowMessageBox("Corvane", "Index write\nfailed", kMbRetryCancel | kMbIconError);
    ok_only = ShowMessageBox("Note", "Done", kMbOk);
  });
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(retry_cancel, kIdCancel);
  EXPECT_EQ(ok_only, kIdOk);
  EXPECT_EQ(out, "Corvane\nIndex write failed\nNote\nDone\n");
#endif
}

#ifndef _WIN32
TEST(SystemTest, ModulePathNamesAnExistingFile) {
  const std::string path = ModulePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path[0], '/');
  EXPECT_EQ(access(path.c_str(), F_OK), 0) << path;
}
#endif

TEST(SystemTest, ErrorTextsAreTheWindowsOnesWithoutLineEnd) {
  for (uint32_t code : {2u, 32u, 112u}) {
    const std::string text = SystemErrorText(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), '\n') << code;
    EXPECT_NE(text.back(), '\r') << code;
  }
#ifndef _WIN32
  EXPECT_EQ(SystemErrorText(2), "The system cannot find the file specified.");
  EXPECT_EQ(SystemErrorText(112), "There is not enough space on the disk.");
#endif
}

TEST(SyncTest, ThreadsRunOnceAndCriticalSectionIsReentrantAndExclusive) {
  CriticalSection cs;
  int counter = 0;  // guarded by cs
  // Re-entry on purpose, which the thread-safety analysis does not model.
  auto work = [&]() NO_THREAD_SAFETY_ANALYSIS {
    for (int i = 0; i < 1000; ++i) {
      CriticalSectionLock outer(cs);
      CriticalSectionLock inner(cs);
      ++counter;
    }
  };
  {
    Thread a, b;
    EXPECT_FALSE(a.Joinable());
    ASSERT_TRUE(a.Start(work));
    ASSERT_TRUE(b.Start(work));
    EXPECT_TRUE(a.Joinable());
    EXPECT_FALSE(a.Start(work)) << "one function per start";
    a.Join();
  }  // b joins in its destructor
  EXPECT_EQ(counter, 2000);
  Thread t;
  t.Join();  // nothing to wait for
}

TEST(ClockTest, CounterNeverGoesBack) {
  int64_t frequency = 0, last = 0;
  ASSERT_TRUE(QueryCounterFrequency(&frequency));
  EXPECT_GT(frequency, 0);
  ASSERT_TRUE(QueryCounter(&last));
  for (int i = 0; i < 1000; ++i) {
    int64_t now = 0;
    ASSERT_TRUE(QueryCounter(&now));
    ASSERT_GE(now, last);
    last = now;
  }
}

}  // namespace
}  // namespace corvane::platform
