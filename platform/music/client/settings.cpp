#include "platform/music/client/settings.h"

#include <mutex>

namespace orvan::music {
namespace {

// The settings are a process-wide choice by design: one lock and one copy per process.
struct SettingsStore {
  std::mutex mutex;
  PlatformSettings settings;
};

SettingsStore& store() {
  static SettingsStore instance;
  return instance;
}

}  // namespace

void set_platform_settings(const PlatformSettings& settings) {
  SettingsStore& s = store();
  std::lock_guard lock(s.mutex);
  s.settings = settings;
}

PlatformSettings platform_settings() {
  SettingsStore& s = store();
  std::lock_guard lock(s.mutex);
  return s.settings;
}

}  // namespace orvan::music
