// FluidSynth renders voices inside an OpenMP parallel region on every 64-frame block, even
// when it is configured for one core. For a team of one, the OpenMP runtime allocates and
// frees the team on every region: thousands of allocations a second on the render thread,
// which must never allocate.
//
// This definition takes precedence over the runtime's for the synthesizer library (we are
// loaded before the runtime) and runs a one-thread region inline on the calling thread,
// which is what such a region means. With no team, the runtime's constructs inside it
// (single, task, barrier, critical, thread number and count) behave as for one thread
// and allocate nothing. Regions that ask for more threads go to the runtime unchanged.
#include <dlfcn.h>

namespace {

using ParallelEntry = void (*)(void (*)(void*), void*, unsigned, unsigned);

ParallelEntry runtime_parallel() {
  static const ParallelEntry entry =
      reinterpret_cast<ParallelEntry>(dlsym(RTLD_NEXT, "GOMP_parallel"));
  return entry;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void GOMP_parallel(void (*fn)(void*), void* data,
                                                                     unsigned num_threads,
                                                                     unsigned flags) {
  if (num_threads == 1) {
    fn(data);
    return;
  }
  if (const ParallelEntry entry = runtime_parallel()) {
    entry(fn, data, num_threads, flags);
  } else {
    fn(data);  // no runtime to hand it to: one thread is still a correct team
  }
}
