#include "platform/music/synth/shared_soundfont.h"

#include <fluidsynth.h>

#include <map>
#include <mutex>

namespace orvan::music::synth {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, fluid_sfont_t*> kept;
};

// A process-wide service on purpose: sharing across performances is the point. It is
// never destroyed, because a synthesizer owned by another static object may close during
// exit, after a registry with a destructor would already be gone; what it keeps goes with
// the process.
Registry& registry() {
  static Registry* const instance = new Registry;
  return *instance;
}

}  // namespace

com::HResult check_soundfont(const std::string& path) {
  return fluid_is_soundfont(path.c_str()) ? com::S_OK : com::MUSIC_E_SYNTH_FAILED;
}

void keep_soundfont(const std::string& path, fluid_synth_t* synth, int font_id) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.kept.count(path)) return;
  fluid_sfont_t* font = fluid_synth_get_sfont_by_id(synth, font_id);
  if (!font) return;
  // Removed rather than unloaded, the font stays whole and keeps its samples' cache entry.
  // The synthesizer's voices and channels may still point into it while it is deleted;
  // the font outlives it.
  fluid_synth_remove_sfont(synth, font);
  r.kept.emplace(path, font);
}

int kept_soundfont_count() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return static_cast<int>(r.kept.size());
}

}  // namespace orvan::music::synth
