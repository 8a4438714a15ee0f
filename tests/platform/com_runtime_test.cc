// The COM runtime functions clients use: BSTRs, error objects and their
// per-thread slot, and ProgID lookup. Libcorvane.so provides them on POSIX;
// on Windows the same tests run against the system's.
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include <atomic>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/registry.h"
#include "platform/sync.h"

namespace corvane::platform {
namespace {

std::u16string Str(const OLECHAR* s, size_t n) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

// ---- BSTR ----

TEST(BstrTest, KeepsLengthPrefixTerminatorAndEmbeddedZeros) {
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
}

TEST(BstrTest, NullAndEmptyInputs) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);

  BSTR empty = SysAllocString(OLESTR(""));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(empty[0], 0);
  SysFreeString(empty);

  BSTR room = SysAllocStringLen(nullptr, 5);  // characters for the caller to fill
  ASSERT_NE(room, nullptr);
  EXPECT_EQ(SysStringLen(room), 5u);
  EXPECT_EQ(room[5], 0);
  SysFreeString(room);

  BSTR copy = SysAllocString(OLESTR("text"));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(SysStringLen(copy), 4u);
  SysFreeString(copy);
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

TEST_F(ErrorSlotTest, SetTakesReferenceAndReplacingReleasesOld) {
  CountedError a, b;
  ASSERT_EQ(SetErrorInfo(0, &a), S_OK);
  EXPECT_EQ(a.refs, 2);
  ASSERT_EQ(SetErrorInfo(0, &b), S_OK);
  EXPECT_EQ(a.refs, 1);
  EXPECT_EQ(b.refs, 2);
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
  EXPECT_EQ(b.refs, 1);
}

TEST_F(ErrorSlotTest, GetHandsReferenceOverAndEmptiesSlot) {
  CountedError a;
  ASSERT_EQ(SetErrorInfo(0, &a), S_OK);
  IErrorInfo* got = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(got, &a);
  EXPECT_EQ(a.refs, 2) << "the reference moved to the caller";
  got->Release();
  IErrorInfo* again = &a;
  EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
  EXPECT_EQ(again, nullptr);
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
               {&IID_IClassFactory, E_NOINTERFACE},
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

TEST(ErrorObjectTest, ReadsBackWhatWasSet) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  OLECHAR description[] = OLESTR("File not open;CORVANE=0x80043006");
  OLECHAR source[] = OLESTR("KRV.Cmn.Corvane.1");
  const GUID guid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  create->SetDescription(description);
  create->SetSource(source);
  create->SetGUID(guid);
  create->SetHelpContext(42);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  create->Release();

  BSTR text = nullptr;
  ASSERT_EQ(info->GetDescription(&text), S_OK);
  EXPECT_EQ(Str(text, SysStringLen(text)), Str(description, std::size(description) - 1));
  SysFreeString(text);
  ASSERT_EQ(info->GetSource(&text), S_OK);
  EXPECT_EQ(Str(text, SysStringLen(text)), Str(source, std::size(source) - 1));
  SysFreeString(text);
  GUID back = {};
  ASSERT_EQ(info->GetGUID(&back), S_OK);
  EXPECT_TRUE(IsEqualGUID(back, guid));
  DWORD context = 0;
  ASSERT_EQ(info->GetHelpContext(&context), S_OK);
  EXPECT_EQ(context, 42u);
  info->Release();
}

// ---- ProgID lookup ----

TEST(ProgIdTest, FoundOnlyWhenRegistered) {
  constexpr HRESULT kClassNotRegistered = static_cast<HRESULT>(0x80040154);
  const CLSID clsid = {0x0C0A7E57, 0x1234, 0xABCD, {0x9E, 0x51, 0x00, 0x11, 0x22, 0x33, 0x44, 0xAB}};
  const std::string key = "CLSID\\{0C0A7E57-1234-ABCD-9E51-0011223344AB}";
  (void)registry::DeleteTree(Hive::kClassesRoot, key);

  LPOLESTR progid = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(ProgIDFromCLSID(clsid, &progid), kClassNotRegistered);
  EXPECT_EQ(progid, nullptr);

  ASSERT_TRUE(registry::SetString(Hive::kClassesRoot, key + "\\ProgID", "", "Corvane.Test.1").ok());
  ASSERT_EQ(ProgIDFromCLSID(clsid, &progid), S_OK);
  ASSERT_NE(progid, nullptr);
  size_t n = 0;
  while (progid[n]) ++n;
  EXPECT_EQ(Str(progid, n), u"Corvane.Test.1");
  CoTaskMemFree(progid);
  EXPECT_TRUE(registry::DeleteTree(Hive::kClassesRoot, key).ok());
}

}  // namespace
}  // namespace corvane::platform
