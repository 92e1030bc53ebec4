#include "platform/music/render/buffer_effect_chain.h"

#include <algorithm>

namespace orvan::music {

BufferEffectChain::BufferEffectChain(std::vector<Ref<com::Object>> owners,
                                     std::vector<dsp::Effect*> effects)
    : owners_(std::move(owners)), dsp_(std::move(effects)) {}

void BufferEffectChain::reset() noexcept {
  for (dsp::Effect* effect : dsp_) effect->reset();
}

void BufferEffectChain::process(float* left, float* right, int frames) noexcept {
  if (dsp_.empty()) return;
  for (int start = 0; start < frames; start += kScratchFrames) {
    const int n = std::min(kScratchFrames, frames - start);
    for (int i = 0; i < n; ++i) {
      scratch_[2 * i] = left[start + i];
      scratch_[2 * i + 1] = right[start + i];
    }
    for (dsp::Effect* effect : dsp_) effect->process(scratch_.data(), n);
    for (int i = 0; i < n; ++i) {
      left[start + i] = scratch_[2 * i];
      right[start + i] = scratch_[2 * i + 1];
    }
  }
}

}  // namespace orvan::music
