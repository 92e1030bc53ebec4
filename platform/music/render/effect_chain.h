// The hook where buffer 0's effects run: on the dry stereo music, in place, before the
// reverb return is mixed in.
#pragma once

namespace orvan::music {

class EffectChain {
 public:
  virtual ~EffectChain() = default;
  // Render thread only: no allocation, no locks, no logging. Processes `frames` frames of
  // planar stereo in place.
  virtual void process(float* left, float* right, int frames) noexcept = 0;
  // Render thread only: every effect's delays and filters silenced, as when new.
  virtual void reset() noexcept {}
};

}  // namespace orvan::music
