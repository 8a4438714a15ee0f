#include "com.h"

#include <atomic>
#include <cstdio>

#include "bstr.h"

namespace cvrtool {
namespace {

const char* KnownCodeText(HRESULT hr) {
  switch (static_cast<unsigned>(hr)) {
    case 0x80004001u: return "not implemented by this build of the library";
    case 0x80004002u: return "interface not supported";
    case 0x80004003u: return "null pointer";
    case 0x80004005u: return "unspecified failure";
    case 0x8007000Eu: return "out of memory";
    case 0x80040110u: return "class does not support aggregation";
    case 0x80040111u: return "class not available";
    default: return "failed";
  }
}

template <class T>
ComPtr<T> Create(REFCLSID clsid, REFIID iid, const char* name) {
  ComPtr<IClassFactory> factory;
  Check(DllGetClassObject(clsid, IID_IClassFactory, factory.out_void()),
        std::string("class object of ") + name);
  ComPtr<T> object;
  Check(factory->CreateInstance(nullptr, iid, object.out_void()),
        std::string("creating a ") + name + " object");
  return object;
}

std::atomic<int> g_boxes{0};
// The files the library works on while it may show a box; set before the
// work starts, read by the library's threads.
std::string g_context;

int STDMETHODCALLTYPE AnswerOnStderr(const char* caption, const char* text, unsigned int type,
                                     void*) {
  g_boxes.fetch_add(1);
  std::fprintf(stderr, "cvrtool: library reports%s: %s: %s\n", g_context.c_str(),
               caption ? caption : "", text ? text : "");
  // Retry/Cancel boxes (type 5) are cancelled; anything else is acknowledged.
  return (type & 0xF) == 5 ? 2 : 1;
}

}  // namespace

int LibraryBoxesShown() { return g_boxes.load(); }

void SetLibraryContext(const std::string& files) { g_context = files.empty() ? "" : " (" + files + ")"; }

LibraryError::LibraryError(const std::string& what, HRESULT code, const std::string& text)
    : ToolError(what + ": " + text,
                static_cast<unsigned>(code) == 0x80004001u ? kExitUnavailable : kExitFailure),
      hr(code),
      description(text) {}

std::string DescribeFailure(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(hr));
  IErrorInfo* info = nullptr;
  std::string text;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    Bstr description;
    if (SUCCEEDED(info->GetDescription(description.out()))) text = description.utf8();
    info->Release();
  }
  // The library's descriptions read "text;TAG=0x<code>"; show the text and
  // the code, and keep any other description whole.
  const size_t semi = text.rfind(';');
  if (semi != std::string::npos && text.find("=0x", semi) != std::string::npos) {
    return text.substr(0, semi) + " (" + text.substr(semi + 1, text.find('=', semi) - semi - 1) +
           " " + code + ")";
  }
  if (!text.empty()) return text + " (" + code + ")";
  return std::string(KnownCodeText(hr)) + " (" + code + ")";
}

void Check(HRESULT hr, const std::string& what) {
  if (FAILED(hr)) throw LibraryError(what, hr, DescribeFailure(hr));
}

void ClearError() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info) info->Release();
}

ComPtr<ILogFile2> CreateLogFile2() {
  return Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2, "LogFile2");
}

ComPtr<ILogFile> CreateLogFile() {
  return Create<ILogFile>(CLSID_LogFile, IID_ILogFile, "LogFile");
}

void InitLibrary() {
#ifdef _WIN32
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
  CorvaneSetMessageBoxHandler(&AnswerOnStderr, nullptr);
}

}  // namespace cvrtool
