// Feeds arbitrary bytes to the tracker-module loader and, when it accepts them, plays them
// as the render thread would, with a repeat and a change of tempo: every step must return a
// status or end the play, never crash or hang, and what it renders must be finite, with the
// position inside the module's length.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/music/module/module_content.h"
#include "platform/music/module/module_source.h"

namespace {

// Enough for several passes of a small module, bounded so that a long one ends the run.
constexpr int kMostFrames = 96000;
constexpr int kBlock = 512;

class Listener final : public orvan::music::PlayListener {
 public:
  void on_loop() noexcept override {}
  void on_end() noexcept override {}
  void on_starved(int /*frames*/) noexcept override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvan::music;
  std::shared_ptr<const ModuleContent> content;
  if (orvan::com::failed(
          ModuleContent::from_bytes(std::vector<std::uint8_t>(data, data + size), content))) {
    return 0;
  }
  PlayOptions options;
  options.output_rate = 48000;
  options.repeats = 1;
  options.start = content->length() / 2;
  options.clockless = true;  // wait for the decode thread, as a WAV render does
  std::unique_ptr<ModuleSource> source;
  if (orvan::com::failed(ModuleSource::open(*content, options, source))) return 0;
  source->begin();
  Listener listener;
  std::vector<float> left(kBlock), right(kBlock);
  for (int done = 0; done < kMostFrames && source->active(); done += kBlock) {
    const double tempo = done >= kMostFrames / 2 ? 1.7 : 1.0;
    std::fill(left.begin(), left.end(), 0.0f);
    std::fill(right.begin(), right.end(), 0.0f);
    source->render(left.data(), right.data(), kBlock, tempo, listener);
    for (int i = 0; i < kBlock; ++i) {
      if (!std::isfinite(left[static_cast<std::size_t>(i)]) ||
          !std::isfinite(right[static_cast<std::size_t>(i)])) {
        std::abort();
      }
    }
    const double at = source->position(0);
    if (at < 0.0 || at > content->length()) std::abort();
  }
  return 0;
}
