// The COM runtime functions clients use: BSTRs and the per-thread slot of
// error objects (libcorvane.so's on POSIX, the system's on Windows).
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/sync.h"

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

// An IErrorInfo that counts its references, to watch what the slot does.
class CountedError final : public IErrorInfo {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { return *out = nullptr, E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD*) override { return E_NOTIMPL; }

  std::atomic<int> refs{1};  // the test's own reference
};

// SetErrorInfo takes a reference and releases the one it replaces;
// GetErrorInfo hands the reference over and empties the slot; each thread has
// a slot of its own, released when the thread ends.
TEST(ErrorSlotTest, SetTakesGetHandsOverEachThreadItsOwn) {
  CountedError a, b;
  auto* theirs = new CountedError;  // on Windows the system decides when to release it
  ASSERT_EQ(SetErrorInfo(0, &a), S_OK);
  ASSERT_EQ(SetErrorInfo(0, &b), S_OK);
  EXPECT_EQ(a.refs, 1);
  EXPECT_EQ(b.refs, 2);
  HRESULT seen_by_other = E_FAIL;
  Thread t;
  ASSERT_TRUE(t.Start([&] {
    IErrorInfo* got = nullptr;
    seen_by_other = GetErrorInfo(0, &got);
    SetErrorInfo(0, theirs);  // left in the slot when the thread ends
  }));
  t.Join();
  EXPECT_EQ(seen_by_other, S_FALSE);
#ifndef _WIN32
  EXPECT_EQ(theirs->refs, 1);
  delete theirs;
#endif
  IErrorInfo* got = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(got, &b);
  EXPECT_EQ(b.refs, 2) << "the reference moved to the caller";
  got->Release();
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
  EXPECT_EQ(got, nullptr);
  ASSERT_EQ(SetErrorInfo(0, &a), S_OK);
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
  EXPECT_EQ(a.refs, 1);
}

}  // namespace
}  // namespace corvane::platform
