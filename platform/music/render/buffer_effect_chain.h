// Buffer 0's effect chain as the render thread runs it: the DSP of each effect object, in
// slot order, on the dry stereo music.
#pragma once

#include <array>
#include <vector>

#include "platform/music/dsp/effect.h"
#include "platform/music/render/effect_chain.h"
#include "platform/music/types.h"

namespace orvan::music {

class BufferEffectChain final : public EffectChain {
 public:
  // Client thread: `effects` are the effects' DSP in slot order; `owners` the objects that
  // hold them, which the chain keeps alive (and never calls) for as long as the render thread
  // may use it.
  BufferEffectChain(std::vector<Ref<com::Object>> owners, std::vector<dsp::Effect*> effects);

  void process(float* left, float* right, int frames) noexcept override;  // render thread only
  void reset() noexcept override;                                         // render thread only

 private:
  // The effects work on interleaved frames; the pipeline hands over planar ones.
  static constexpr int kScratchFrames = 256;

  std::vector<Ref<com::Object>> owners_;
  std::vector<dsp::Effect*> dsp_;
  std::array<float, 2 * kScratchFrames> scratch_{};
};

}  // namespace orvan::music
