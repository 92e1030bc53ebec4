// Effect objects in a buffer's chain. Parameters are checked against their ranges
// (E_INVALIDARG, nothing changes) and glide to their new values on the render thread.
#pragma once

#include "platform/music/types.h"

namespace orvan::music {

// The parameter interface of the effect whose record is `Record`.
template <class Record>
class DirectSoundFX8 : public com::Object {
 public:
  virtual HResult GetAllParameters(Record& params) = 0;
  // A value the sample rate cannot honour is clamped (see the catalogue's clamp rules, in
  // dsp/effect_catalogue.h), and the call returns S_FALSE.
  virtual HResult SetAllParameters(const Record& params) = 0;

 protected:
  ~DirectSoundFX8() override = default;
};

using DirectSoundFXDistortion8 = DirectSoundFX8<DSFXDISTORTION>;
using DirectSoundFXChorus8 = DirectSoundFX8<DSFXCHORUS>;
using DirectSoundFXWavesReverb8 = DirectSoundFX8<DSFXWAVESREVERB>;
using DirectSoundFXI3DL2Reverb8 = DirectSoundFX8<DSFXI3DL2REVERB>;

}  // namespace orvan::music
