// ICorvane called from another apartment: the object lives on a thread of the
// multithreaded apartment, the test's single-threaded apartment holds a
// marshaled pointer, so every call travels through the proxy/stub code that
// widl generated and the module registered.
#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <vector>

#include "support/temp_dir.h"
#include "windows/client_util.h"

namespace corvane::test {
namespace {

// Runs one Corvane object on its own thread in the multithreaded apartment
// and offers it, marshaled into a stream, to the creating thread. The object
// lives until the host is destroyed.
class MtaHost {
 public:
  MtaHost() {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &MtaHost::Run, this, 0, nullptr);
    if (thread_) WaitForSingleObject(ready_, INFINITE);
  }
  ~MtaHost() {
    SetEvent(done_);
    if (thread_) {
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
    }
    if (stream_) stream_->Release();
    CloseHandle(ready_);
    CloseHandle(done_);
  }
  MtaHost(const MtaHost&) = delete;
  MtaHost& operator=(const MtaHost&) = delete;

  HRESULT result() const { return result_; }
  // The object's own IUnknown, for identity comparisons only (never called
  // from another thread).
  IUnknown* object_identity() const { return identity_; }
  // Unmarshals the pointer into the calling thread's apartment (once).
  HRESULT Unmarshal(ICorvane** out) {
    IStream* stream = stream_;
    stream_ = nullptr;
    return CoGetInterfaceAndReleaseStream(stream, IID_ICorvane, reinterpret_cast<void**>(out));
  }

 private:
  static DWORD WINAPI Run(LPVOID param) {
    auto* self = static_cast<MtaHost*>(param);
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ICorvane* object = nullptr;
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(CLSID_Corvane, nullptr, CLSCTX_INPROC_SERVER, IID_ICorvane,
                            reinterpret_cast<void**>(&object));
    }
    if (SUCCEEDED(hr)) {
      object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self->identity_));
      self->identity_->Release();  // the object stays alive through `object`
      hr = CoMarshalInterThreadInterfaceInStream(IID_ICorvane, object, &self->stream_);
    }
    self->result_ = hr;
    SetEvent(self->ready_);
    WaitForSingleObject(self->done_, INFINITE);
    if (object) object->Release();
    CoUninitialize();
    return 0;
  }

  HANDLE ready_ = nullptr;
  HANDLE done_ = nullptr;
  HANDLE thread_ = nullptr;
  HRESULT result_ = E_FAIL;
  IStream* stream_ = nullptr;
  IUnknown* identity_ = nullptr;
};

class ApartmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(apartment_.result(), S_OK);
    ASSERT_EQ(host_.result(), S_OK);
    ASSERT_EQ(host_.Unmarshal(proxy_.out()), S_OK);
    path_ = ToWide(dir_.File("marshaled.cvr"));
  }

  Apartment apartment_{COINIT_APARTMENTTHREADED};
  MtaHost host_;
  ComPtr<ICorvane> proxy_;
  TempDir dir_;
  std::wstring path_;
};

std::vector<BYTE> Pattern(size_t n) {
  std::vector<BYTE> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<BYTE>(i * 7 + 3);
  return v;
}

TEST_F(ApartmentTest, CallsGoThroughAProxy) {
  ComPtr<IUnknown> identity;
  ASSERT_EQ(proxy_->QueryInterface(IID_IUnknown, identity.out_void()), S_OK);
  EXPECT_NE(identity.get(), host_.object_identity());
  // Only a standard proxy answers IMultiQI; the object itself answers three
  // identifiers and this is none of them.
  ComPtr<IUnknown> multi_qi;
  EXPECT_EQ(proxy_->QueryInterface(IID_IMultiQI, multi_qi.out_void()), S_OK);
}

// Blocks written and read back through the proxy; the size attributes decide
// how many bytes travel: 300 arrive as 300 and no byte more is touched, 0
// transfers nothing.
TEST_F(ApartmentTest, BlockDataTravelsWithExactlyItsSize) {
  const std::vector<BYTE> data = Pattern(300);
  WideBstr name(path_);
  ASSERT_EQ(proxy_->Open(name.get(), CVRFileAccessModeWrite, CVRFileCreateModeAlways), S_OK);
  ASSERT_EQ(proxy_->WriteBlock(CVR_ID_QUIVOX_MSG, 7, const_cast<BYTE*>(data.data()), 300), S_OK);
  BYTE unused = 0x5A;
  ASSERT_EQ(proxy_->WriteBlock(CVR_ID_COMMENT, 1, &unused, 0), S_OK);
  ULONG size = 0;
  EXPECT_EQ(proxy_->GetFileSize(&size), S_OK);
  EXPECT_EQ(size, 60u + 12u + 300u + 12u);
  ASSERT_EQ(proxy_->Close(), S_OK);

  ASSERT_EQ(proxy_->Open(name.get(), CVRFileAccessModeRead, CVRFileCreateModeExisting), S_OK);
  USHORT id = 0;
  BYTE conn = 0;
  ULONG stamp = 0, length = 0;
  LONG eof = -1;
  ASSERT_EQ(proxy_->ReadBlockHeader(&id, &conn, &stamp, &length, &eof), S_OK);
  EXPECT_EQ(id, CVR_ID_QUIVOX_MSG);
  EXPECT_EQ(conn, 7);
  EXPECT_EQ(length, 300u);
  EXPECT_EQ(eof, 0);

  std::vector<BYTE> buffer(400, 0xEE);
  ASSERT_EQ(proxy_->ReadBlockData(buffer.data(), 300), S_OK);
  EXPECT_EQ(std::memcmp(buffer.data(), data.data(), 300), 0);
  EXPECT_EQ(std::vector<BYTE>(buffer.begin() + 300, buffer.end()), std::vector<BYTE>(100, 0xEE));

  ASSERT_EQ(proxy_->ReadBlockHeader(&id, &conn, &stamp, &length, &eof), S_OK);
  EXPECT_EQ(id, CVR_ID_COMMENT);
  EXPECT_EQ(length, 0u);
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  HRESULT hr = proxy_->ReadBlockData(buffer.data(), 0);
  if (hr == E_POINTER && RunningUnderWine()) {
    // Wine's stub hands the object a null buffer for an empty [out] array
    // (Windows allocates one), and the object refuses null buffers.
    std::cout << "[   NOTE   ] Wine passes a null buffer for 0 bytes: E_POINTER\n";
  } else {
    EXPECT_EQ(hr, S_OK);
  }
  EXPECT_EQ(buffer, std::vector<BYTE>(400, 0xEE));

  ASSERT_EQ(proxy_->ReadBlockHeader(&id, &conn, &stamp, &length, &eof), S_OK);
  EXPECT_EQ(eof, 1);
  ULONG pos = 0;
  EXPECT_EQ(proxy_->GetFilePointerPos(&pos), S_OK);
  EXPECT_EQ(pos, 384u);
  EXPECT_EQ(proxy_->Close(), S_OK);
}

// A failure comes back as its code. Windows also carries the error object
// posted on the object's thread back to the caller; Wine does not (a known
// limit of Wine), so there the check only reports.
TEST_F(ApartmentTest, FailuresReturnTheirCodeAcrossApartments) {
  const std::vector<BYTE> data = Pattern(300);
  WideBstr name(path_);
  ASSERT_EQ(proxy_->Open(name.get(), CVRFileAccessModeWrite, CVRFileCreateModeAlways), S_OK);
  ASSERT_EQ(proxy_->WriteBlock(CVR_ID_MARKER, 2, const_cast<BYTE*>(data.data()), 300), S_OK);
  ASSERT_EQ(proxy_->Close(), S_OK);
  ASSERT_EQ(proxy_->Open(name.get(), CVRFileAccessModeRead, CVRFileCreateModeExisting), S_OK);
  USHORT id = 0;
  BYTE conn = 0;
  ULONG stamp = 0, length = 0;
  LONG eof = -1;
  ASSERT_EQ(proxy_->ReadBlockHeader(&id, &conn, &stamp, &length, &eof), S_OK);

  SetErrorInfo(0, nullptr);
  std::vector<BYTE> buffer(300, 0xEE);
  EXPECT_EQ(proxy_->ReadBlockData(buffer.data(), 10), static_cast<HRESULT>(E_CVR_INVALID_DATA_BLOCK_SIZE));
  ErrorObject error = TakeErrorObject();
  if (!error.present && RunningUnderWine()) {
    std::cout << "[   NOTE   ] Wine does not carry the error object across apartments\n";
  } else {
    EXPECT_TRUE(error.present);
    EXPECT_EQ(error.description, "Invalid data block size;CORVANE=0x8004300d");
    EXPECT_TRUE(IsEqualGUID(error.guid, IID_ICorvane));
  }
  // The data stayed pending: the full read still succeeds.
  EXPECT_EQ(proxy_->ReadBlockData(buffer.data(), 300), S_OK);
  EXPECT_EQ(buffer, data);
  EXPECT_EQ(proxy_->Close(), S_OK);
  EXPECT_EQ(proxy_->Close(), static_cast<HRESULT>(E_CVR_FILE_NOT_OPEN));
}

}  // namespace
}  // namespace corvane::test
