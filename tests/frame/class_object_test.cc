// Class objects, object creation, QueryInterface, aggregation, the unload
// rule and error objects, through the module's exports only.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>

#include "support/com_test_util.h"

namespace corvane::test {
namespace {

const struct { const CLSID* clsid; const IID* iid; bool aggregatable; const char* prog_id; } kClasses[] = {
    {&CLSID_Corvane, &IID_ICorvane, false, "KRV.Cmn.Corvane.1"},
    {&CLSID_LogFile, &IID_ILogFile, true, "KRV.Cmn.Corvane.LogFile.1"},
    {&CLSID_LogFile2, &IID_ILogFile2, true, "Corvane.LogFile2.1"},
};

// The block header the interfaces exchange: 24 bytes, natural layout.
static_assert(sizeof(LogBlockHeader) == 24 && offsetof(LogBlockHeader, qwTimeStamp) == 8 &&
              offsetof(LogBlockHeader, dwDataLength) == 16);

ComPtr<IClassFactory> Factory(REFCLSID clsid) {
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(DllGetClassObject(clsid, IID_IClassFactory, factory.out_void()), S_OK);
  return factory;
}

// The call fails with `expected` and clears the out pointer.
template <class Call>
void ExpectRefused(HRESULT expected, Call call) {
  void* raw = reinterpret_cast<void*>(1);
  EXPECT_TRUE(call(&raw) == expected && raw == nullptr);
}

// One class object per class, answering IClassFactory and IUnknown only; its
// objects answer their own interface, IUnknown and ISupportErrorInfo, and an
// outer object may ask for IUnknown only, of LogFile and LogFile2.
TEST(ClassObject, EveryClassWithItsObjects) {
  ComPtr<IUnknown> outer;
  ASSERT_EQ(CreateInstance(CLSID_LogFile, nullptr, IID_IUnknown, outer.out_void()), S_OK);
  for (const auto& c : kClasses) {
    SCOPED_TRACE(c.prog_id);
    ComPtr<IClassFactory> factory = Factory(*c.clsid);
    ASSERT_TRUE(factory && factory.get() == Factory(*c.clsid).get());
    ExpectRefused(E_NOINTERFACE, [&](void** p) { return factory->QueryInterface(*c.iid, p); });
    ExpectRefused(E_NOINTERFACE, [&](void** p) { return DllGetClassObject(*c.clsid, *c.iid, p); });

    ComPtr<IUnknown> object, own, identity;
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.out_void()), S_OK);
    ASSERT_TRUE(object->QueryInterface(*c.iid, own.out_void()) == S_OK && own->QueryInterface(IID_IUnknown, identity.out_void()) == S_OK &&
                object->QueryInterface(IID_ISupportErrorInfo, support.out_void()) == S_OK);
    EXPECT_EQ(identity.get(), object.get()) << "one identity";
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.iid), S_OK);
    for (const IID* other : {&IID_IDispatch, &IID_IClassFactory, &IID_ICorvane, &IID_ILogFile, &IID_ILogFile2}) {
      if (IsEqualIID(*other, *c.iid)) continue;
      ExpectRefused(E_NOINTERFACE, [&](void** p) { return object->QueryInterface(*other, p); });
      EXPECT_EQ(support->InterfaceSupportsErrorInfo(*other), S_FALSE);
    }
    ExpectRefused(CLASS_E_NOAGGREGATION, [&](void** p) { return factory->CreateInstance(outer.get(), *c.iid, p); });
    void* raw = nullptr;
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, &raw), c.aggregatable ? S_OK : CLASS_E_NOAGGREGATION);
    if (raw) static_cast<IUnknown*>(raw)->Release();
  }
  const CLSID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  ExpectRefused(CLASS_E_CLASSNOTAVAILABLE, [&](void** p) { return DllGetClassObject(unknown, IID_IClassFactory, p); });
}

// An outer object on the stack that answers every request itself.
struct Outer final : IUnknown {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { return *out = this, ++refs, S_OK; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  std::atomic<ULONG> refs{1};
};

// The module stays while an object, a class object or a lock holds it. The
// inner interfaces of an aggregate count on, and ask, the outer object.
TEST(ClassObject, UnloadRuleAndAggregation) {
  ASSERT_EQ(DllCanUnloadNow(), S_OK) << "another test leaked a reference";
  ComPtr<IUnknown> object;  // the lock and the object outlive the class object's references
  ASSERT_TRUE(Factory(CLSID_LogFile2)->LockServer(TRUE) == S_OK &&
              Factory(CLSID_LogFile2)->CreateInstance(nullptr, IID_IUnknown, object.out_void()) == S_OK);
  EXPECT_EQ(Factory(CLSID_LogFile2)->LockServer(FALSE), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  object.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  Outer outer;
  ComPtr<IUnknown> inner;
  ComPtr<ILogFile> log;
  ASSERT_EQ(CreateInstance(CLSID_LogFile, &outer, IID_IUnknown, inner.out_void()), S_OK);
  ASSERT_EQ(inner->QueryInterface(IID_ILogFile, log.out_void()), S_OK);
  EXPECT_EQ(outer.refs, 2u);
  IUnknown* identity = nullptr;
  ASSERT_EQ(log->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(std::make_pair(identity, outer.refs.load()), std::make_pair(static_cast<IUnknown*>(&outer), ULONG{3}));
  log.Reset();
  inner.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

std::string ProgId(REFCLSID clsid) {
  LPOLESTR text = nullptr;
  if (ProgIDFromCLSID(clsid, &text) != S_OK) return {};
  const std::string result = Narrow(text);
  return CoTaskMemFree(text), result;
}

// A failure posts an error object: text, tag and the code in lower-case hex,
// the interface, and as source the ProgID once registration wrote it.
TEST(ErrorObject, DescriptionInterfaceAndSource) {
  ASSERT_EQ(DllRegisterServer(), S_OK);
  for (const auto& c : kClasses) EXPECT_EQ(ProgId(*c.clsid), c.prog_id);
  ComPtr<ICorvane> log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  TakeError();
  EXPECT_EQ(log->Open(Bstr("whatever.log").get(), CVRFileAccessModeWrite, CVRFileCreateModeExisting),
            E_CVR_INVALID_ACCESS_FLAG_COMBINATION);
  ErrorRecord error = TakeError();
  EXPECT_EQ(error.description + " " + error.source, "Illegal Access Flag combination;CORVANE=0x8004300f KRV.Cmn.Corvane.1");
  EXPECT_TRUE(IsEqualGUID(error.guid, IID_ICorvane) && !TakeError().present);
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(ProgId(CLSID_LogFile2), "");
  EXPECT_EQ(log->GetFileSize(nullptr), E_POINTER);
  error = TakeError();
  EXPECT_EQ(error.description + error.source, "One ore more GetFileSize method parameters are NULL;CORVANE=0x80004003");
}

}  // namespace
}  // namespace corvane::test
