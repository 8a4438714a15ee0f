// The object map: the module's three classes in their fixed order, with what
// creation and registration need to know of each, and the cached class
// objects.
#ifndef CORVANE_FRAME_CLASS_TABLE_H_
#define CORVANE_FRAME_CLASS_TABLE_H_

#include <corvane/corvane.h>

#include <atomic>
#include <cstddef>

namespace corvane::frame {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

struct ClassEntry {
  const CLSID* clsid;
  CreateFunction create;
  bool aggregatable;
  const char* description;  // default value of the class and ProgID keys
  const char* prog_id;      // versioned ProgID
  const char* version_independent_prog_id;
  // Cached class object (holds one reference once created).
  std::atomic<IUnknown*>* class_object;
};

// The entries in object-map order.
const ClassEntry* ClassTable();
size_t ClassCount();
const ClassEntry* FindClass(REFCLSID clsid);

// Returns the cached class object of `entry`, creating it on first demand
// under the module lock. Null when it cannot be created.
IUnknown* ClassObjectFor(const ClassEntry& entry);

// Releases every cached class object, in object-map order.
void ReleaseCachedClassObjects();

}  // namespace corvane::frame

#endif  // CORVANE_FRAME_CLASS_TABLE_H_
