// The common shape of the four effects: stereo in place, one instance per chain slot.
//
// Construction allocates every buffer the effect will ever need, on the client thread.
// process() never allocates, locks or logs; it runs on the render thread only.
#pragma once

namespace orvan::music::dsp {

class Effect {
 public:
  Effect() = default;
  Effect(const Effect&) = delete;
  Effect& operator=(const Effect&) = delete;
  virtual ~Effect() = default;

  // Render thread only: transforms interleaved stereo frames (L, R, L, R, ...) in place.
  virtual void process(float* stereo, int frames) noexcept = 0;
  // Silences every delay and filter and lets parameter glides jump to their targets.
  // Call it only where process() cannot run at the same time: before the chain is handed
  // over, in tests, or on the render thread itself (which does so after a non-finite output).
  virtual void reset() noexcept = 0;
};

}  // namespace orvan::music::dsp
