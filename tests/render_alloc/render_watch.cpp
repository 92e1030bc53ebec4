#include "tests/render_alloc/render_watch.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "tests/support/sanitizers.h"

namespace {

thread_local bool t_watching = false;
std::atomic<std::int64_t> g_allocations{0};
std::atomic<std::int64_t> g_file_calls{0};

}  // namespace

#ifndef ORVAN_SANITIZER_ALLOCATOR
namespace {

void note_allocation() {
  if (t_watching) g_allocations.fetch_add(1, std::memory_order_relaxed);
}

void note_file_call() {
  if (t_watching) g_file_calls.fetch_add(1, std::memory_order_relaxed);
}

template <typename Function>
Function next_definition(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

using FopenFunction = FILE* (*)(const char*, const char*);
using FreadFunction = std::size_t (*)(void*, std::size_t, std::size_t, FILE*);
FopenFunction real_fopen() {
  static const auto function = next_definition<FopenFunction>("fopen");
  return function;
}
FopenFunction real_fopen64() {
  static const auto function = next_definition<FopenFunction>("fopen64");
  return function;
}
FreadFunction real_fread() {
  static const auto function = next_definition<FreadFunction>("fread");
  return function;
}

int open_watched(int dir, const char* path, int flags, va_list args) {
  note_file_call();
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : 0;
  return static_cast<int>(syscall(SYS_openat, dir, path, flags, mode));
}

}  // namespace

// glibc's own entry points, which the replacements forward to.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size) {
  note_allocation();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  note_allocation();
  return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
  note_allocation();
  return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  note_allocation();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  note_allocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  note_allocation();
  *out = __libc_memalign(alignment, size);
  return *out ? 0 : 12;  // ENOMEM
}
void free(void* p) {
  __libc_free(p);
}

// File access goes straight to the kernel, as the C library's own functions would.
int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = open_watched(AT_FDCWD, path, flags, args);
  va_end(args);
  return fd;
}
int open64(const char* path, int flags, ...) noexcept __attribute__((alias("open")));
int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = open_watched(dir, path, flags, args);
  va_end(args);
  return fd;
}
ssize_t read(int fd, void* buffer, std::size_t size) {
  note_file_call();
  return syscall(SYS_read, fd, buffer, size);
}
ssize_t pread(int fd, void* buffer, std::size_t size, off_t offset) {
  note_file_call();
  return syscall(SYS_pread64, fd, buffer, size, offset);
}
ssize_t pread64(int fd, void* buffer, std::size_t size, off_t offset) {
  note_file_call();
  return syscall(SYS_pread64, fd, buffer, size, offset);
}
FILE* fopen(const char* path, const char* mode) {
  note_file_call();
  return real_fopen()(path, mode);
}
FILE* fopen64(const char* path, const char* mode) {
  note_file_call();
  return real_fopen64()(path, mode);
}
std::size_t fread(void* buffer, std::size_t size, std::size_t count, FILE* file) {
  note_file_call();
  return real_fread()(buffer, size, count, file);
}
}
#endif

namespace orvan::test {

bool render_watch_available() {
#ifdef ORVAN_SANITIZER_ALLOCATOR
  return false;
#else
  return true;
#endif
}

void begin_render_watch() {
#ifndef ORVAN_SANITIZER_ALLOCATOR
  // Looked up now, so that a lookup is never counted as the render thread's.
  real_fopen();
  real_fopen64();
  real_fread();
#endif
  g_allocations.store(0);
  g_file_calls.store(0);
  t_watching = true;
}

RenderActivity end_render_watch() {
  t_watching = false;
  return {g_allocations.load(), g_file_calls.load()};
}

}  // namespace orvan::test
