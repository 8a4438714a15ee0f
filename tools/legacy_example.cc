// Writes a small "V 01.00" block log with the Corvane object, reopens it and
// prints every block. Uses nothing but <corvane/corvane.h>.
//
//   legacy_example [FILE]      (default: example.log in the current directory)
#include <corvane/corvane.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The object's error description, as UTF-8-ish text for printing.
std::string LastErrorText() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return "(no error object)";
  BSTR description = nullptr;
  std::string text;
  if (SUCCEEDED(info->GetDescription(&description)) && description) {
    for (unsigned i = 0; i < SysStringLen(description); ++i) {
      text.push_back(description[i] < 0x80 ? static_cast<char>(description[i]) : '?');
    }
  }
  SysFreeString(description);
  info->Release();
  return text;
}

bool Check(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return true;
  std::fprintf(stderr, "%s failed: 0x%08x %s\n", what, static_cast<unsigned>(hr),
               LastErrorText().c_str());
  return false;
}

BSTR MakeBstr(const char* text) {
  std::basic_string<OLECHAR> wide(text, text + std::strlen(text));
  return SysAllocStringLen(wide.c_str(), static_cast<unsigned>(wide.size()));
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "example.log";

  IClassFactory* factory = nullptr;
  if (!Check(DllGetClassObject(CLSID_Corvane, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
             "DllGetClassObject")) {
    return 1;
  }
  ICorvane* log = nullptr;
  HRESULT hr = factory->CreateInstance(nullptr, IID_ICorvane, reinterpret_cast<void**>(&log));
  factory->Release();
  if (!Check(hr, "CreateInstance")) return 1;

  BSTR name = MakeBstr(path);
  int status = 1;
  do {
    if (!Check(log->Open(name, CVRFileAccessModeWrite, CVRFileCreateModeAlways), "Open")) break;
    const char* messages[] = {"hello", "trace block two", "", "the last block"};
    USHORT ids[] = {CVR_ID_COMMENT, CVR_ID_QUIVOX_MSG, CVR_ID_MARKER, CVR_ID_COMMENT};
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) {
      ok = Check(log->WriteBlock(ids[i], static_cast<BYTE>(i),
                                 reinterpret_cast<BYTE*>(const_cast<char*>(messages[i])),
                                 static_cast<ULONG>(std::strlen(messages[i]))),
                 "WriteBlock");
    }
    ULONG size = 0;
    if (!ok || !Check(log->GetFileSize(&size), "GetFileSize")) break;
    std::printf("wrote 4 blocks to %s (%u bytes)\n", path, static_cast<unsigned>(size));
    if (!Check(log->Close(), "Close")) break;

    if (!Check(log->Open(name, CVRFileAccessModeRead, CVRFileCreateModeExisting), "Open")) break;
    for (;;) {
      USHORT id = 0;
      BYTE conn = 0;
      ULONG stamp = 0, length = 0;
      LONG end = 0;
      if (!Check(log->ReadBlockHeader(&id, &conn, &stamp, &length, &end), "ReadBlockHeader")) {
        ok = false;
        break;
      }
      if (end) break;
      std::string data(length, '\0');
      BYTE scratch = 0;
      BYTE* buffer = length ? reinterpret_cast<BYTE*>(&data[0]) : &scratch;
      if (!Check(log->ReadBlockData(buffer, length), "ReadBlockData")) {
        ok = false;
        break;
      }
      std::printf("block id=0x%02x conn=%u tick=%u ms length=%u data=\"%s\"\n",
                  static_cast<unsigned>(id), static_cast<unsigned>(conn),
                  static_cast<unsigned>(stamp), static_cast<unsigned>(length), data.c_str());
    }
    if (ok && Check(log->Close(), "Close")) status = 0;
  } while (false);

  SysFreeString(name);
  log->Release();
  return status;
}
