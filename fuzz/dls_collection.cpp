// Arbitrary bytes as a DLS collection: the structure check must never read out of bounds or
// trust a size, and whatever passes it must be safe for the synthesizer library's reader,
// which gets the bytes through a file as LoadCollection hands them over.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/music/synth/collection_check.h"
#include "platform/music/synth/dls_font.h"

namespace {

std::string scratch_path() {
  return "/tmp/orvan-fuzz-dls-" + std::to_string(::getpid()) + ".dls";
}

}  // namespace

// The library's one known leak (see tests/lsan.supp: a name copied through GLib's
// allocator) would otherwise end every run.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libglib-2.0.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orvan::music::CollectionSummary summary;
  if (orvan::music::check_collection({data, size}, summary) != orvan::com::S_OK) return 0;
  const std::string path = scratch_path();
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    std::unique_ptr<orvan::music::synth::CollectionFont> font;
    if (written) orvan::music::synth::CollectionFont::read(path, font);
  }
  std::remove(path.c_str());
  return 0;
}
