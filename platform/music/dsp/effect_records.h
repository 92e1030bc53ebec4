// The parameter records of the four effects, laid out as the platform's callers pass them.
// What each field means (unit, range, default) is written once, in effect_catalogue.h.
#pragma once

#include <cstdint>

namespace orvan::music {

struct DSFXDISTORTION {
  float Gain;
  float Edge;
  float PostEQCenterFrequency;
  float PostEQBandwidth;
  float PreLowpassCutoff;
};

struct DSFXCHORUS {
  float WetDryMix;
  float Depth;
  float Feedback;
  float Frequency;
  std::int32_t Waveform;
  float Delay;
  std::int32_t Phase;
};

struct DSFXWAVESREVERB {
  float InGain;
  float ReverbMix;
  float ReverbTime;
  float HighFreqRTRatio;
};

struct DSFXI3DL2REVERB {
  std::int32_t Room;
  std::int32_t RoomHF;
  float RoomRolloffFactor;
  float DecayTime;
  float DecayHFRatio;
  std::int32_t Reflections;
  float ReflectionsDelay;
  std::int32_t Reverb;
  float ReverbDelay;
  float Diffusion;
  float Density;
  float HFReference;
};

static_assert(sizeof(DSFXDISTORTION) == 20);
static_assert(sizeof(DSFXCHORUS) == 28);
static_assert(sizeof(DSFXWAVESREVERB) == 16);
static_assert(sizeof(DSFXI3DL2REVERB) == 48);

}  // namespace orvan::music
