// Clang's thread-safety attributes behind short macros. Built with clang and
// -Wthread-safety, the compiler checks that every member marked GUARDED_BY is
// touched only with its lock held and that functions marked REQUIRES are
// called only under it. Other compilers see nothing.
#ifndef CORVANE_PLATFORM_THREAD_ANNOTATIONS_H_
#define CORVANE_PLATFORM_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define CORVANE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define CORVANE_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(name) CORVANE_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY CORVANE_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(lock) CORVANE_THREAD_ANNOTATION(guarded_by(lock))
#define PT_GUARDED_BY(lock) CORVANE_THREAD_ANNOTATION(pt_guarded_by(lock))
#define ACQUIRED_BEFORE(...) CORVANE_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) CORVANE_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) CORVANE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) CORVANE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) CORVANE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) CORVANE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) CORVANE_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS CORVANE_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // CORVANE_PLATFORM_THREAD_ANNOTATIONS_H_
