#include "platform/music/synth/shared_soundfont.h"

#include <fluidsynth.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/music/synth/fluid_logging.h"

namespace orvan::music::synth {
namespace {

struct Keeper {
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  ~Keeper() {
    if (synth) delete_fluid_synth(synth);
    if (settings) delete_fluid_settings(settings);
  }
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<Keeper>> keepers;
};

// A process-wide service on purpose: sharing across performances is the point.
Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

com::HResult retain_soundfont(const std::string& path) {
  silence_fluid_logging();
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.keepers.count(path)) return com::S_OK;
  // Only a SoundFont goes to FluidSynth: its other loaders would try anything else and
  // complain through a log the platform does not control.
  if (!fluid_is_soundfont(path.c_str())) return com::MUSIC_E_SYNTH_FAILED;
  auto keeper = std::make_unique<Keeper>();
  keeper->settings = new_fluid_settings();
  if (!keeper->settings) return com::MUSIC_E_SYNTH_FAILED;
  // The keeper never renders: the fewest voices and no effects keep it small.
  fluid_settings_setint(keeper->settings, "synth.polyphony", 1);
  fluid_settings_setint(keeper->settings, "synth.reverb.active", 0);
  fluid_settings_setint(keeper->settings, "synth.chorus.active", 0);
  fluid_settings_setint(keeper->settings, "synth.lock-memory", 0);
  keeper->synth = new_fluid_synth(keeper->settings);
  if (!keeper->synth) return com::MUSIC_E_SYNTH_FAILED;
  if (fluid_synth_sfload(keeper->synth, path.c_str(), 0) == FLUID_FAILED) {
    return com::MUSIC_E_SYNTH_FAILED;
  }
  r.keepers.emplace(path, std::move(keeper));
  return com::S_OK;
}

int retained_soundfont_count() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return static_cast<int>(r.keepers.size());
}

}  // namespace orvan::music::synth
