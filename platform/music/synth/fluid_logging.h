// FluidSynth's own log output: the platform logs nothing, so it goes nowhere.
#pragma once

namespace orvan::music::synth {

// Idempotent and thread-safe; call before any other FluidSynth call.
void silence_fluid_logging();

}  // namespace orvan::music::synth
