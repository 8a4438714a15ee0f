// The COM runtime functions clients use: BSTRs, error objects and their
// per-thread slot (libcorvane.so's on POSIX, the system's on Windows).
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include <atomic>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/sync.h"

namespace corvane::platform {
namespace {

std::u16string Str(const OLECHAR* s, size_t n) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

TEST(BstrTest, LengthPrefixTerminatorEmbeddedZerosAndNullInputs) {
  const OLECHAR text[] = {'a', 'b', 0, 'c'};
  BSTR s = SysAllocStringLen(text, 4);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 4u);
  uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 8u) << "the prefix counts bytes";
  EXPECT_EQ(s[4], 0);
  EXPECT_EQ(Str(s, 4), Str(text, 4));
  SysFreeString(s);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  // Room for the caller to fill, with its terminator.
  s = SysAllocStringLen(nullptr, 5);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 5u);
  EXPECT_EQ(s[5], 0);
  SysFreeString(s);
}

// ---- Error objects ----

// An IErrorInfo that counts its references, to watch what the slot does.
class CountedError final : public IErrorInfo {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IErrorInfo)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD*) override { return E_NOTIMPL; }

  std::atomic<int> refs{1};  // the test's own reference
};

class ErrorSlotTest : public ::testing::Test {
 protected:
  void TearDown() override { SetErrorInfo(0, nullptr); }
};

TEST_F(ErrorSlotTest, SetTakesAReferenceGetHandsItOverAndEmptiesTheSlot) {
  CountedError a, b;
  ASSERT_EQ(SetErrorInfo(0, &a), S_OK);
  EXPECT_EQ(a.refs, 2);
  ASSERT_EQ(SetErrorInfo(0, &b), S_OK);
  EXPECT_EQ(a.refs, 1) << "replacing releases the old one";
  EXPECT_EQ(b.refs, 2);
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

TEST_F(ErrorSlotTest, EachThreadHasItsOwnSlot) {
  CountedError mine;
  // Left in the other thread's slot; on Windows the system decides when to
  // release it, so it must outlive the test there.
  auto* theirs = new CountedError;
  ASSERT_EQ(SetErrorInfo(0, &mine), S_OK);
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
  EXPECT_EQ(theirs->refs, 1) << "released when its thread ended";
  delete theirs;
#endif
  IErrorInfo* got = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(got, &mine);
  got->Release();
}

TEST(ErrorObjectTest, AnswersItsInterfacesOnly) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  const struct {
    const IID* iid;
    HRESULT expected;
  } cases[] = {{&IID_IUnknown, S_OK},
               {&IID_IErrorInfo, S_OK},
               {&IID_ICreateErrorInfo, S_OK},
               {&IID_IDispatch, E_NOINTERFACE}};
  for (const auto& c : cases) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(create->QueryInterface(*c.iid, &p), c.expected);
    if (c.expected == S_OK) {
      ASSERT_NE(p, nullptr);
      static_cast<IUnknown*>(p)->Release();
    } else {
      EXPECT_EQ(p, nullptr) << "out pointer cleared on failure";
    }
  }
  create->Release();
}

}  // namespace
}  // namespace corvane::platform
