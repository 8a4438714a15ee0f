// Class objects, object creation, QueryInterface, aggregation and the unload
// rule, through the module's exports only.
#include <gtest/gtest.h>

#include <atomic>

#include "support/com_test_util.h"

namespace corvane::test {
namespace {

struct ClassCase {
  const char* name;
  const CLSID* clsid;
  const IID* iid;
  bool aggregatable;
};

const ClassCase kClasses[] = {
    {"Corvane", &CLSID_Corvane, &IID_ICorvane, false},
    {"LogFile", &CLSID_LogFile, &IID_ILogFile, true},
    {"LogFile2", &CLSID_LogFile2, &IID_ILogFile2, true},
};

ComPtr<IClassFactory> Factory(REFCLSID clsid) {
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(DllGetClassObject(clsid, IID_IClassFactory, factory.out_void()), S_OK);
  return factory;
}

// QueryInterface refuses the interface and clears the out pointer.
void ExpectNoInterface(IUnknown* object, REFIID iid) {
  void* raw = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(iid, &raw), E_NOINTERFACE);
  EXPECT_EQ(raw, nullptr);
}

// The class object is one per class and answers IClassFactory and IUnknown
// only; its objects answer their own interface, IUnknown and
// ISupportErrorInfo, and only LogFile and LogFile2 can be aggregated.
TEST(ClassObject, EveryClassWithItsObjects) {
  ComPtr<IUnknown> outer;
  ASSERT_EQ(CreateInstance(CLSID_LogFile, nullptr, IID_IUnknown, outer.out_void()), S_OK);
  for (const ClassCase& c : kClasses) {
    SCOPED_TRACE(c.name);
    ComPtr<IClassFactory> factory = Factory(*c.clsid), again = Factory(*c.clsid);
    ASSERT_TRUE(factory && again);
    EXPECT_EQ(factory.get(), again.get());
    for (const IID* iid : {&IID_IDispatch, c.iid}) {
      ExpectNoInterface(factory.get(), *iid);
      void* raw = reinterpret_cast<void*>(1);
      EXPECT_EQ(DllGetClassObject(*c.clsid, *iid, &raw), E_NOINTERFACE);
      EXPECT_EQ(raw, nullptr);
    }

    ComPtr<IUnknown> object, own, identity;
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.out_void()), S_OK);
    EXPECT_EQ(object->QueryInterface(*c.iid, own.out_void()), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.out_void()), S_OK);
    EXPECT_EQ(own->QueryInterface(IID_IUnknown, identity.out_void()), S_OK);
    EXPECT_EQ(identity.get(), object.get()) << "one identity";
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.iid), S_OK);
    for (const IID* other : {&IID_IDispatch, &IID_IClassFactory, &IID_ICorvane, &IID_ILogFile, &IID_ILogFile2}) {
      if (IsEqualIID(*other, *c.iid)) continue;
      ExpectNoInterface(object.get(), *other);
      EXPECT_EQ(support->InterfaceSupportsErrorInfo(*other), S_FALSE);
    }

    EXPECT_EQ(factory->CreateInstance(nullptr, *c.iid, nullptr), E_POINTER);
    void* raw = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &raw), E_NOINTERFACE);
    EXPECT_EQ(raw, nullptr);
    // An outer object may ask for IUnknown only.
    raw = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer.get(), *c.iid, &raw), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(raw, nullptr);
    HRESULT hr = factory->CreateInstance(outer.get(), IID_IUnknown, &raw);
    EXPECT_EQ(hr, c.aggregatable ? S_OK : CLASS_E_NOAGGREGATION);
    EXPECT_EQ(raw != nullptr, c.aggregatable);
    if (raw) static_cast<IUnknown*>(raw)->Release();
  }
  const CLSID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* raw = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(unknown, IID_IClassFactory, &raw), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(DllGetClassObject(IID_ILogFile, IID_IClassFactory, &raw), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(DllGetClassObject(CLSID_Corvane, IID_IClassFactory, nullptr), E_POINTER);
}

// ---- The unload rule ----

TEST(Unload, ModuleStaysWhileAnythingHoldsIt) {
  ASSERT_EQ(DllCanUnloadNow(), S_OK) << "another test leaked a reference";

  {  // a live object
    ComPtr<ICorvane> object = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
    ASSERT_TRUE(object);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  {  // a held class object
    ComPtr<IClassFactory> factory = Factory(CLSID_LogFile2);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    // A lock outlives the reference that took it.
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  }
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(Factory(CLSID_LogFile2)->LockServer(FALSE), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  // An object keeps the module after its class object is released.
  ComPtr<IUnknown> object;
  {
    ComPtr<IClassFactory> factory = Factory(CLSID_LogFile);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.out_void()), S_OK);
  }
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  object.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// ---- Aggregation ----

// A minimal outer object that aggregates a LogFile and exposes its ILogFile.
class Outer final : public IUnknown {
 public:
  Outer() {
    EXPECT_EQ(CreateInstance(CLSID_LogFile, this, IID_IUnknown, reinterpret_cast<void**>(&inner_)),
              S_OK);
  }
  ~Outer() {
    if (inner_) inner_->Release();
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    ++queries;
    if (IsEqualGUID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (IsEqualGUID(iid, IID_ILogFile)) return inner_->QueryInterface(iid, out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // lives on the stack

  IUnknown* inner_ = nullptr;
  std::atomic<ULONG> refs{1};
  int queries = 0;
};

TEST(Aggregation, InnerInterfacesDelegateToTheOuterObjectWhichControlsTheInnerLife) {
  {
    Outer outer;
    ASSERT_NE(outer.inner_, nullptr);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

    ILogFile* log = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_ILogFile, reinterpret_cast<void**>(&log)), S_OK);
    // Reference counts of the inner interface land on the outer object.
    EXPECT_EQ(outer.refs, 2u);
    log->AddRef();
    EXPECT_EQ(outer.refs, 3u);
    log->Release();

    // QueryInterface through the inner interface reaches the outer object,
    // so the aggregate has one identity.
    const int before = outer.queries;
    IUnknown* identity = nullptr;
    ASSERT_EQ(log->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    EXPECT_GT(outer.queries, before);
    identity->Release();
    log->Release();
    EXPECT_EQ(outer.refs, 1u);
  }  // the outer object releases the inner unknown
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace corvane::test
