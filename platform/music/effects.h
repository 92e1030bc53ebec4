// Effect objects in a buffer's chain. Parameters are checked against their ranges
// (E_INVALIDARG, nothing changes) and glide to their new values on the render thread.
#pragma once

#include "platform/music/types.h"

namespace orvan::music {

class DirectSoundFXDistortion8 : public com::Object {
 public:
  virtual HResult GetAllParameters(DSFXDISTORTION& params) = 0;
  // Frequencies above a third of the sample rate are clamped, and the call returns S_FALSE.
  virtual HResult SetAllParameters(const DSFXDISTORTION& params) = 0;

 protected:
  ~DirectSoundFXDistortion8() override = default;
};

class DirectSoundFXChorus8 : public com::Object {
 public:
  virtual HResult GetAllParameters(DSFXCHORUS& params) = 0;
  virtual HResult SetAllParameters(const DSFXCHORUS& params) = 0;

 protected:
  ~DirectSoundFXChorus8() override = default;
};

class DirectSoundFXWavesReverb8 : public com::Object {
 public:
  virtual HResult GetAllParameters(DSFXWAVESREVERB& params) = 0;
  virtual HResult SetAllParameters(const DSFXWAVESREVERB& params) = 0;

 protected:
  ~DirectSoundFXWavesReverb8() override = default;
};

class DirectSoundFXI3DL2Reverb8 : public com::Object {
 public:
  virtual HResult GetAllParameters(DSFXI3DL2REVERB& params) = 0;
  virtual HResult SetAllParameters(const DSFXI3DL2REVERB& params) = 0;

 protected:
  ~DirectSoundFXI3DL2Reverb8() override = default;
};

}  // namespace orvan::music
