// The runtime functions clients use: BSTRs, the per-thread slot of error
// objects (libcorvane.so's on POSIX, the system's on Windows) and the default
// message box of the indexing thread (a client's handler is used by the
// index tests of tests/logfile2 and tests/hardening).
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include <cstring>
#include <string>
#include <tuple>

#include "platform/sync.h"
#include "platform/system.h"

namespace corvane::platform {
namespace {

// A 32-bit byte count before the characters, a terminator after them, room
// for the caller to fill when no text is given.
TEST(BstrTest, LengthPrefixTerminatorEmbeddedZerosAndNullInputs) {
  const OLECHAR text[] = {'a', 'b', 0, 'c'};
  BSTR s = SysAllocStringLen(text, 4), room = SysAllocStringLen(nullptr, 5);
  ASSERT_TRUE(s && room);
  uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(s) - 4, 4);
  EXPECT_EQ(std::make_tuple(prefix, SysStringLen(s), std::memcmp(s, text, sizeof text), s[4]), std::make_tuple(8u, 4u, 0, 0));
  EXPECT_EQ(std::make_pair(SysStringLen(room), room[5]), std::make_pair(5u, OLECHAR{0}));
  SysFreeString(s);
  SysFreeString(room);
  EXPECT_EQ(std::make_pair(SysAllocString(nullptr), SysStringLen(nullptr)), std::make_pair(BSTR{}, 0u));
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
  ASSERT_TRUE(SetErrorInfo(0, a) == S_OK && SetErrorInfo(0, b) == S_OK);
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

#ifndef _WIN32
// Without a client's handler, POSIX writes caption and text to standard
// error, one line each, and answers Cancel (or OK).
TEST(MessageBoxTest, DefaultWritesToStandardErrorAndCancels) {
  ::testing::internal::CaptureStderr();
  const int retry_cancel = ShowMessageBox("Corvane", "Index write\nfailed", kMbRetryCancel | kMbIconError);
  const int ok_only = ShowMessageBox("Note", "Done", kMbOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Corvane\nIndex write failed\nNote\nDone\n");
  EXPECT_EQ(std::make_pair(retry_cancel, ok_only), std::make_pair(kIdCancel, kIdOk));
}
#endif

}  // namespace
}  // namespace corvane::platform
