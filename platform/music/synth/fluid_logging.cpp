#include "platform/music/synth/fluid_logging.h"

#include <fluidsynth.h>

#include <mutex>

namespace orvan::music::synth {
namespace {

void discard(int, const char*, void*) {}

}  // namespace

void silence_fluid_logging() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level) {
      fluid_set_log_function(level, discard, nullptr);
    }
  });
}

}  // namespace orvan::music::synth
