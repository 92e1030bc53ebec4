// Arbitrary bytes as a SoundFont: reading its preset directory must never read out of bounds
// or trust a size, and a directory cut from one it accepted, served in place of its own,
// must read back with the presets asked for and no others.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/music/synth/soundfont_catalogue.h"

namespace {

using orvan::music::synth::PresetUse;
using orvan::music::synth::SoundFontCatalogue;

bool write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = "/tmp/orvan-fuzz-sf2-" + std::to_string(::getpid()) + ".sf2";
  const std::string cut_path = path + ".cut";
  std::unique_ptr<SoundFontCatalogue> catalogue;
  if (write_file(path, data, size) &&
      SoundFontCatalogue::read(path, catalogue) == orvan::com::S_OK) {
    // Every other preset, with notes spread over keys and velocities chosen by the input.
    std::vector<PresetUse> wanted;
    for (std::size_t i = 0; i < catalogue->presets().size(); i += 2) {
      PresetUse use{catalogue->presets()[i], {}};
      for (std::size_t k = 0; k < 4 && k < size; ++k) {
        use.notes.push_back(static_cast<std::uint16_t>((data[(i + k) % size] & 0x7F) << 7 | 100));
      }
      std::sort(use.notes.begin(), use.notes.end());
      use.notes.erase(std::unique(use.notes.begin(), use.notes.end()), use.notes.end());
      wanted.push_back(use);
    }
    std::vector<std::uint8_t> served(data, data + catalogue->directory_offset());
    const std::vector<std::uint8_t> cut = catalogue->cut_directory(wanted);
    served.insert(served.end(), cut.begin(), cut.end());
    const std::uint32_t form = static_cast<std::uint32_t>(served.size() - 8);
    for (int i = 0; i < 4; ++i) served[4 + i] = static_cast<std::uint8_t>(form >> (8 * i));
    std::unique_ptr<SoundFontCatalogue> again;
    if (!write_file(cut_path, served.data(), served.size()) ||
        SoundFontCatalogue::read(cut_path, again) != orvan::com::S_OK) {
      __builtin_trap();  // a cut of a directory we accepted must be one we accept
    }
    for (const auto& id : again->presets()) {
      const bool asked = std::any_of(wanted.begin(), wanted.end(),
                                     [&](const PresetUse& use) { return use.preset == id; });
      if (!asked) __builtin_trap();
    }
  }
  std::remove(path.c_str());
  std::remove(cut_path.c_str());
  return 0;
}
