// The platform's effect objects: one per effect in a buffer's chain, each owning the DSP
// that the render thread runs and answering its parameter interface on the client thread.
#pragma once

#include <string_view>

#include "platform/music/client/effects.h"
#include "platform/music/dsp/effect.h"
#include "platform/music/dsp/effect_catalogue.h"

namespace orvan::music {

// The platform's side of an effect object, beside the parameter interface its clients
// use: what the buffer and its chain need of it.
class PlatformEffect {
 public:
  // The sound processing; its process() is for the render thread only.
  virtual dsp::Effect& dsp_effect() noexcept = 0;
  // The effect's catalogue entry: its class and interface texts among them.
  virtual const dsp::EffectInfo& effect_info() const noexcept = 0;

 protected:
  virtual ~PlatformEffect() = default;
};

// A new effect of `effect_class` at its default parameters, or an empty reference when the
// class text names no effect this platform has. Client thread: it allocates.
Ref<com::Object> create_effect_object(std::string_view effect_class, double sample_rate);

// The platform side of an object create_effect_object made (nullptr for any other object).
PlatformEffect* platform_effect_of(com::Object* object) noexcept;

}  // namespace orvan::music
