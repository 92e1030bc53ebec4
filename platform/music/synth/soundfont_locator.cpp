#include "platform/music/synth/soundfont_locator.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <vector>

namespace orvan::music::synth {
namespace {

namespace fs = std::filesystem;

bool readable_file(const fs::path& p) {
  std::error_code ec;
  if (!fs::is_regular_file(p, ec) || fs::file_size(p, ec) == 0 || ec) return false;
  std::ifstream in(p, std::ios::binary);
  return in.good();
}

bool has_sf2_extension(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".sf2";
}

}  // namespace

com::HResult locate_soundfont(const std::string& preferred, std::string& path) {
  if (!preferred.empty()) {
    // A program that names a SoundFont means that one: silently falling back would play
    // different instruments than it asked for.
    if (!readable_file(preferred)) return com::MUSIC_E_NO_SOUNDFONT;
    path = preferred;
    return com::S_OK;
  }
  static constexpr std::array<const char*, 3> kKnown = {
      "/usr/share/sounds/sf2/default-GM.sf2",
      "/usr/share/sounds/sf2/FluidR3_GM.sf2",
      "/usr/share/sounds/sf2/TimGM6mb.sf2",
  };
  for (const char* candidate : kKnown) {
    if (readable_file(candidate)) {
      path = candidate;
      return com::S_OK;
    }
  }
  for (const char* dir : {"/usr/share/sounds/sf2", "/usr/share/soundfonts"}) {
    std::error_code ec;
    std::vector<fs::path> found;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (has_sf2_extension(it->path()) && readable_file(it->path())) found.push_back(it->path());
    }
    if (!found.empty()) {
      std::sort(found.begin(), found.end());  // the same choice on every run
      path = found.front().string();
      return com::S_OK;
    }
  }
  return com::MUSIC_E_NO_SOUNDFONT;
}

}  // namespace orvan::music::synth
