// The runtime functions clients use: BSTRs, the per-thread slot of error
// objects (libcorvane.so's on POSIX, the system's on Windows) and the message
// boxes of the indexing thread.
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include <cstring>
#include <string>

#include "platform/sync.h"
#include "platform/system.h"

namespace corvane::platform {
namespace {

// A 32-bit byte count before the characters, a terminator after them.
TEST(BstrTest, LengthPrefixTerminatorEmbeddedZerosAndNullInputs) {
  const OLECHAR text[] = {'a', 'b', 0, 'c'};
  BSTR s = SysAllocStringLen(text, 4), room = SysAllocStringLen(nullptr, 5);
  ASSERT_TRUE(s && room);
  uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 8u);
  EXPECT_EQ(SysStringLen(s), 4u);
  EXPECT_EQ(std::memcmp(s, text, sizeof text), 0);
  EXPECT_EQ(s[4], 0);
  EXPECT_EQ(SysStringLen(room), 5u);  // for the caller to fill, terminated
  EXPECT_EQ(room[5], 0);
  SysFreeString(s);
  SysFreeString(room);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

IErrorInfo* NewError() {
  ICreateErrorInfo* create = nullptr;
  IErrorInfo* error = nullptr;
  EXPECT_EQ(CreateErrorInfo(&create), S_OK);
  EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&error)), S_OK);
  create->Release();
  return error;
}

// SetErrorInfo takes a reference and releases the one it replaces;
// GetErrorInfo hands the reference over and empties the slot; each thread has
// a slot of its own, released when the thread ends. (A reference too many or
// too few shows under the sanitizers.)
TEST(ErrorSlotTest, SetTakesGetHandsOverEachThreadItsOwn) {
  IErrorInfo *a = NewError(), *b = NewError(), *got = nullptr;
  ASSERT_EQ(SetErrorInfo(0, a), S_OK);
  ASSERT_EQ(SetErrorInfo(0, b), S_OK);
  a->Release();
  b->Release();
  HRESULT seen_by_other = E_FAIL;
  Thread t;
  ASSERT_TRUE(t.Start([&] {
    IErrorInfo* theirs = nullptr;
    seen_by_other = GetErrorInfo(0, &theirs);
    theirs = NewError();
    SetErrorInfo(0, theirs);  // left in the slot when the thread ends
    theirs->Release();
  }));
  t.Join();
  EXPECT_EQ(seen_by_other, S_FALSE);
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(got, b);
  got->Release();
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
  EXPECT_EQ(got, nullptr);
}

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
  ::testing::internal::CaptureStderr();
  const int retry_cancel = ShowMessageBox("Corvane", "Index write\nfailed", kMbRetryCancel | kMbIconError);
  const int ok_only = ShowMessageBox("Note", "Done", kMbOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Corvane\nIndex write failed\nNote\nDone\n");
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(retry_cancel, kIdCancel);
  EXPECT_EQ(ok_only, kIdOk);
#endif
}

}  // namespace
}  // namespace corvane::platform
