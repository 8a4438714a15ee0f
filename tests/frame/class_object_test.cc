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

class ClassObjectTest : public ::testing::TestWithParam<ClassCase> {};

TEST_P(ClassObjectTest, OneClassObjectAnsweringOnlyItsInterfaces) {
  ComPtr<IClassFactory> a = Factory(*GetParam().clsid), b = Factory(*GetParam().clsid);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a.get(), b.get());
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(DllGetClassObject(*GetParam().clsid, IID_IUnknown, unknown.out_void()), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(a.get()), unknown.get());
  for (const IID* iid : {&IID_IDispatch, GetParam().iid}) {
    ExpectNoInterface(a.get(), *iid);
    void* raw = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(*GetParam().clsid, *iid, &raw), E_NOINTERFACE);
    EXPECT_EQ(raw, nullptr);
  }
}

// Its own interface, IUnknown and ISupportErrorInfo; error information for
// its own interface only.
TEST_P(ClassObjectTest, ObjectAnswersExactlyThreeInterfaces) {
  ComPtr<IUnknown> object, own, identity;
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(CreateInstance(*GetParam().clsid, nullptr, IID_IUnknown, object.out_void()), S_OK);
  EXPECT_EQ(object->QueryInterface(*GetParam().iid, own.out_void()), S_OK);
  ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.out_void()), S_OK);
  // Identity: IUnknown asked of any interface is the same pointer.
  EXPECT_EQ(own->QueryInterface(IID_IUnknown, identity.out_void()), S_OK);
  EXPECT_EQ(identity.get(), object.get());
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(*GetParam().iid), S_OK);
  for (const IID* other : {&IID_IDispatch, &IID_IClassFactory, &IID_IErrorInfo, &IID_ICorvane, &IID_ILogFile,
                           &IID_ILogFile2, &IID_IUnknown, &IID_ISupportErrorInfo}) {
    if (IsEqualIID(*other, *GetParam().iid)) continue;
    if (other != &IID_IUnknown && other != &IID_ISupportErrorInfo) ExpectNoInterface(object.get(), *other);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(*other), S_FALSE);
  }
}

TEST_P(ClassObjectTest, CreateInstanceChecksItsArguments) {
  ComPtr<IClassFactory> factory = Factory(*GetParam().clsid);
  EXPECT_EQ(factory->CreateInstance(nullptr, *GetParam().iid, nullptr), E_POINTER);

  void* raw = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &raw), E_NOINTERFACE);
  EXPECT_EQ(raw, nullptr);

  // An outer object may ask for IUnknown only.
  ComPtr<IUnknown> outer;
  ASSERT_EQ(CreateInstance(CLSID_LogFile, nullptr, IID_IUnknown, outer.out_void()), S_OK);
  raw = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(outer.get(), IID_ILogFile, &raw), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(raw, nullptr);
  raw = reinterpret_cast<void*>(1);
  HRESULT hr = factory->CreateInstance(outer.get(), IID_IUnknown, &raw);
  if (GetParam().aggregatable) {
    EXPECT_EQ(hr, S_OK);
    ASSERT_NE(raw, nullptr);
    static_cast<IUnknown*>(raw)->Release();
  } else {
    EXPECT_EQ(hr, CLASS_E_NOAGGREGATION);
    EXPECT_EQ(raw, nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(AllClasses, ClassObjectTest, ::testing::ValuesIn(kClasses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ClassObject, UnknownClassIsNotAvailable) {
  const CLSID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* raw = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(unknown, IID_IClassFactory, &raw), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(raw, nullptr);
  // The interface identifiers are no class identifiers.
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
