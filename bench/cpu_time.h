// CPU time in seconds, for benchmarks that compare the cost of playing a second of music.
#pragma once

#include <sys/resource.h>
#include <time.h>

namespace orvan::bench {

inline double seconds_of(const timespec& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Every thread of this process: a decode thread's work counts too.
inline double process_cpu() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return seconds_of(t);
}

// The calling thread only: a render pumped on it.
inline double thread_cpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return seconds_of(t);
}

// User and system time of the child processes waited for so far: a reference player run
// through the shell.
inline double children_cpu() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

}  // namespace orvan::bench
