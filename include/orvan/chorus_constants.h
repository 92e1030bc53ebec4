// The chorus's two enumerations, shared by the component's client header and the engine
// class: their values are what both interfaces pass.
#pragma once

#include <cstdint>

// Chorus phase between left and right, in degrees.
enum CONST_OSFX_PHASE : std::int32_t {
  OSFX_PHASE_180 = 4,
  OSFX_PHASE_90 = 3,
  OSFX_PHASE_MAX = 4,
  OSFX_PHASE_MIN = 0,
  OSFX_PHASE_NEG_180 = 0,
  OSFX_PHASE_NEG_90 = 1,
  OSFX_PHASE_ZERO = 2,
};

// Chorus modulation waveform.
enum CONST_OSFX_WAVE : std::int32_t {
  OSFX_WAVE_SIN = 1,
  OSFX_WAVE_TRIANGLE = 0,
};
