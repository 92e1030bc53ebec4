#include "platform/music/effect_objects.h"

#include "platform/music/dsp/chorus.h"
#include "platform/music/dsp/distortion.h"
#include "platform/music/dsp/i3dl2_reverb.h"
#include "platform/music/dsp/waves_reverb.h"

namespace orvan::music {
namespace {

template <class Interface, class Dsp, class Record>
class EffectObject final : public Interface, public ChainEffect {
 public:
  EffectObject(double sample_rate, std::string_view effect_class, std::string_view interface)
      : dsp_(sample_rate), class_(effect_class), interface_(interface) {}

  HResult GetAllParameters(Record& params) override {
    params = dsp_.params();
    return com::S_OK;
  }

  // A refused record changes nothing; a clamped one is kept as clamped.
  HResult SetAllParameters(const Record& params) override {
    switch (dsp_.set_params(params)) {
      case dsp::RangeCheck::refused:
        return com::E_INVALIDARG;
      case dsp::RangeCheck::clamped:
        return com::S_FALSE;
      case dsp::RangeCheck::accepted:
        break;
    }
    return com::S_OK;
  }

  dsp::Effect& dsp_effect() noexcept override { return dsp_; }
  std::string_view class_text() const noexcept override { return class_; }
  std::string_view interface_text() const noexcept override { return interface_; }

 private:
  ~EffectObject() override = default;

  Dsp dsp_;
  std::string_view class_;
  std::string_view interface_;
};

template <class Interface, class Dsp, class Record>
Ref<com::Object> make(double sample_rate, std::string_view effect_class,
                      std::string_view interface) {
  return com::make_ref<EffectObject<Interface, Dsp, Record>>(sample_rate, effect_class, interface);
}

}  // namespace

Ref<com::Object> create_effect_object(std::string_view effect_class, double sample_rate) {
  if (effect_class == GUID_DSFX_STANDARD_DISTORTION)
    return make<DirectSoundFXDistortion8, dsp::Distortion, DSFXDISTORTION>(
        sample_rate, GUID_DSFX_STANDARD_DISTORTION, IID_DirectSoundFXDistortion);
  if (effect_class == GUID_DSFX_STANDARD_CHORUS)
    return make<DirectSoundFXChorus8, dsp::Chorus, DSFXCHORUS>(
        sample_rate, GUID_DSFX_STANDARD_CHORUS, IID_DirectSoundFXChorus);
  if (effect_class == GUID_DSFX_WAVES_REVERB)
    return make<DirectSoundFXWavesReverb8, dsp::WavesReverb, DSFXWAVESREVERB>(
        sample_rate, GUID_DSFX_WAVES_REVERB, IID_DirectSoundFXWavesReverb);
  if (effect_class == GUID_DSFX_STANDARD_I3DL2REVERB)
    return make<DirectSoundFXI3DL2Reverb8, dsp::I3dl2Reverb, DSFXI3DL2REVERB>(
        sample_rate, GUID_DSFX_STANDARD_I3DL2REVERB, IID_DirectSoundFXI3DL2REVERB);
  return nullptr;
}

ChainEffect* chain_effect_of(com::Object* object) noexcept {
  return dynamic_cast<ChainEffect*>(object);
}

}  // namespace orvan::music
