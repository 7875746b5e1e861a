#pragma once

// Qt hands work and results between threads under futexes, in code that
// ThreadSanitizer never instrumented, so it cannot see the order they put
// between the two sides. Where our code hands something over through Qt,
// these state that order for ThreadSanitizer; in every other build they are
// nothing at all.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HEARTPAGE_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define HEARTPAGE_THREAD_SANITIZER 1
#endif

#ifdef HEARTPAGE_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace heartpage {

// Everything this thread wrote before handing `what` over ...
inline void HandOver([[maybe_unused]] const void* what) {
#ifdef HEARTPAGE_THREAD_SANITIZER
  __tsan_release(const_cast<void*>(what));
#endif
}

// ... is seen by the thread that takes it over.
inline void TakeOver([[maybe_unused]] const void* what) {
#ifdef HEARTPAGE_THREAD_SANITIZER
  __tsan_acquire(const_cast<void*>(what));
#endif
}

}  // namespace heartpage
