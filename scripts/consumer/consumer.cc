// A client of an installed corvane: writes one block to a LogFile2 log in the
// current directory (consumer.cvr), reads it back and compares. It includes
// <corvane/corvane.h> and nothing of the source tree, so it builds against
// the installed headers: on Linux it gets the object through the class
// object of libcorvane.so, on Windows through CoCreateInstance after
// "regsvr32 corvane.dll". Exit status 0 when the block came back as written.
#include <corvane/corvane.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool Check(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return true;
  std::string text = "(no error object)";
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    BSTR description = nullptr;
    if (SUCCEEDED(info->GetDescription(&description)) && description) {
      text.clear();
      for (unsigned i = 0; i < SysStringLen(description); ++i) {
        text.push_back(description[i] < 0x80 ? static_cast<char>(description[i]) : '?');
      }
    }
    SysFreeString(description);
    info->Release();
  }
  std::fprintf(stderr, "consumer: %s failed: 0x%08x %s\n", what, static_cast<unsigned>(hr),
               text.c_str());
  return false;
}

ILogFile2* CreateLogFile2() {
  ILogFile2* log = nullptr;
#ifdef _WIN32
  if (!Check(CoCreateInstance(CLSID_LogFile2, nullptr, CLSCTX_INPROC_SERVER, IID_ILogFile2,
                              reinterpret_cast<void**>(&log)),
             "CoCreateInstance(CLSID_LogFile2)")) {
    return nullptr;
  }
#else
  IClassFactory* factory = nullptr;
  if (!Check(DllGetClassObject(CLSID_LogFile2, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
             "DllGetClassObject(CLSID_LogFile2)")) {
    return nullptr;
  }
  const HRESULT hr = factory->CreateInstance(nullptr, IID_ILogFile2, reinterpret_cast<void**>(&log));
  factory->Release();
  if (!Check(hr, "IClassFactory::CreateInstance")) return nullptr;
#endif
  return log;
}

// Writes one comment block, closes, reopens for reading and compares.
bool WriteAndReadBack(ILogFile2* log, BSTR name) {
  static const char kText[] = "written by the corvane consumer check";
  const ULONG size = sizeof kText - 1;
  EnumFileVersion version = FileVersionCVR_V0102;
  if (!Check(log->Open(name, FileAccessModeWriteCreateAlways, &version, FALSE), "Open (write)")) {
    return false;
  }
  LogBlockHeader header = {};
  header.wBlockID = CVR_ID_COMMENT;
  header.dwDataLength = size;
  if (!Check(log->WriteBlock(reinterpret_cast<BYTE*>(&header), sizeof header,
                             reinterpret_cast<BYTE*>(const_cast<char*>(kText)), size, 0),
             "WriteBlock") ||
      !Check(log->Close(), "Close (write)")) {
    return false;
  }

  version = FileVersionUnknown;
  if (!Check(log->Open(name, FileAccessModeReadOnly, &version, FALSE), "Open (read)")) return false;
  LogBlockHeader back = {};
  ULONG returned = 0;
  LONG end = 0;
  char data[sizeof kText] = {};
  bool ok = Check(log->ReadBlockHeader(reinterpret_cast<BYTE*>(&back), sizeof back, &returned, &end),
                  "ReadBlockHeader");
  if (ok && (end || back.wBlockID != CVR_ID_COMMENT || back.dwDataLength != size)) {
    std::fprintf(stderr, "consumer: read back end=%d id=0x%x length=%u\n", static_cast<int>(end),
                 static_cast<unsigned>(back.wBlockID), static_cast<unsigned>(back.dwDataLength));
    ok = false;
  }
  ok = ok && Check(log->ReadBlockData(reinterpret_cast<BYTE*>(data), size), "ReadBlockData");
  if (ok && std::memcmp(data, kText, size) != 0) {
    std::fprintf(stderr, "consumer: the data read back differs: \"%s\"\n", data);
    ok = false;
  }
  ok = ok && Check(log->ReadBlockHeader(reinterpret_cast<BYTE*>(&back), sizeof back, &returned, &end),
                   "ReadBlockHeader (end)");
  if (ok && !end) {
    std::fprintf(stderr, "consumer: a second block where the log should end\n");
    ok = false;
  }
  ok = Check(log->Close(), "Close (read)") && ok;
  if (ok) std::printf("consumer: wrote and read back one block of %u bytes\n", static_cast<unsigned>(size));
  return ok;
}

}  // namespace

int main() {
#ifdef _WIN32
  if (!Check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx")) return 1;
#endif
  bool ok = false;
  if (ILogFile2* log = CreateLogFile2()) {
    static const char kName[] = "consumer.cvr";
    std::basic_string<OLECHAR> wide(kName, kName + sizeof kName - 1);
    BSTR name = SysAllocStringLen(wide.c_str(), static_cast<unsigned>(wide.size()));
    ok = WriteAndReadBack(log, name);
    SysFreeString(name);
    log->Release();
  }
#ifdef _WIN32
  CoUninitialize();
#endif
  return ok ? 0 : 1;
}
