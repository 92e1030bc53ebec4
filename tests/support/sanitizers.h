// Whether this build runs under a sanitizer that brings its own allocator (and intercepts
// the C library's file calls): tests that replace or measure those skip themselves there.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVAN_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORVAN_SANITIZER_ALLOCATOR 1
#endif
#endif

namespace orvan::test {

#ifdef ORVAN_SANITIZER_ALLOCATOR
inline constexpr bool kSanitizerAllocator = true;
#else
inline constexpr bool kSanitizerAllocator = false;
#endif

}  // namespace orvan::test
