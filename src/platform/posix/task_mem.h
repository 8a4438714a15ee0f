// The task allocator behind CoTaskMemFree: memory that the library hands to
// a client who frees it with CoTaskMemFree.
#ifndef CORVANE_PLATFORM_POSIX_TASK_MEM_H_
#define CORVANE_PLATFORM_POSIX_TASK_MEM_H_

#include <cstddef>

namespace corvane::platform {

// Null when memory runs out.
void* TaskMemAlloc(size_t bytes);

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_POSIX_TASK_MEM_H_
