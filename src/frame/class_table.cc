#include "frame/class_table.h"

#include "frame/class_factory.h"
#include "frame/module.h"
#include "legacy/corvane_object.h"
#include "logfile/log_file.h"
#include "logfile2/log_file2.h"

namespace corvane::frame {
namespace {

std::atomic<IUnknown*> g_class_objects[3];

const ClassEntry kClasses[] = {
    {&CLSID_Corvane, &legacy::CreateCorvane, false, "KRV Cmn Corvane Component",
     "KRV.Cmn.Corvane.1", "KRV.Cmn.Corvane", &g_class_objects[0]},
    {&CLSID_LogFile, &logfile::CreateLogFile, true, "KRV Cmn Logfile Handler Component",
     "KRV.Cmn.Corvane.LogFile.1", "KRV.Cmn.Corvane.LogFile", &g_class_objects[1]},
    {&CLSID_LogFile2, &logfile2::CreateLogFile2, true, "LogFile2 Class", "Corvane.LogFile2.1",
     "Corvane.LogFile2", &g_class_objects[2]},
};

}  // namespace

const ClassEntry* ClassTable() { return kClasses; }
size_t ClassCount() { return sizeof kClasses / sizeof kClasses[0]; }

const ClassEntry* FindClass(REFCLSID clsid) {
  for (const ClassEntry& entry : kClasses) {
    if (IsEqualGUID(clsid, *entry.clsid)) return &entry;
  }
  return nullptr;
}

IUnknown* ClassObjectFor(const ClassEntry& entry) {
  IUnknown* object = entry.class_object->load(std::memory_order_acquire);
  if (object) return object;
  platform::CriticalSectionLock lock(ModuleCriticalSection());
  object = entry.class_object->load(std::memory_order_acquire);
  if (!object) {
    object = ClassFactory::Create(entry);
    entry.class_object->store(object, std::memory_order_release);
  }
  return object;
}

void ReleaseCachedClassObjects() {
  for (const ClassEntry& entry : kClasses) {
    if (IUnknown* object = entry.class_object->exchange(nullptr)) object->Release();
  }
}

}  // namespace corvane::frame
