#include "platform/music/synth/fluid_process.h"

#include <fluidsynth.h>

// From <libinstpatch/misc.h>, whose C declarations have no C++ linkage guards and whose
// glib includes do not compile inside an extern "C" block.
extern "C" void ipatch_init(void);

#include <mutex>

namespace orvan::music::synth {

void prepare_fluidsynth() {
  static std::once_flag once;
  std::call_once(once, [] {
    // No log function at all rather than one that discards: FluidSynth then does not even
    // format the message, which it would do into one buffer shared by every thread (a
    // render thread selecting a downloaded preset logs at debug level).
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level) {
      fluid_set_log_function(level, nullptr, nullptr);
    }
    // Never closed: the process keeps the library's type registrations, which it would
    // otherwise lose and partly leak with every last synthesizer.
    ipatch_init();
  });
}

}  // namespace orvan::music::synth
