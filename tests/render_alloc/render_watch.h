// Watches what the render thread does while a test renders on its own thread: this program
// replaces the C allocator and the C library's ways of opening and reading files for the
// whole process, and counts every call made on the watching thread between begin and end.
//
// Sanitizer builds bring their own allocator and intercept the same calls, so there nothing
// is replaced and render_watch_available() is false.
#pragma once

#include <cstdint>

namespace orvan::test {

struct RenderActivity {
  std::int64_t allocations = 0;
  std::int64_t file_calls = 0;  // open, openat, fopen, read, pread, fread
};

bool render_watch_available();
// Counts this thread's calls until end_render_watch(), which returns them.
void begin_render_watch();
RenderActivity end_render_watch();

}  // namespace orvan::test
