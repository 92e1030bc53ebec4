#include "platform/music/client/effect_objects.h"

#include "platform/music/dsp/chorus.h"
#include "platform/music/dsp/distortion.h"
#include "platform/music/dsp/i3dl2_reverb.h"
#include "platform/music/dsp/waves_reverb.h"

namespace orvan::music {
namespace {

template <class Record>
class EffectObject final : public DirectSoundFX8<Record>, public PlatformEffect {
 public:
  explicit EffectObject(double sample_rate) : dsp_(sample_rate) {}

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
  const dsp::EffectInfo& effect_info() const noexcept override { return dsp::effect_of<Record>; }

 private:
  ~EffectObject() override = default;

  typename dsp::EffectFor<Record>::type dsp_;
};

// The object for the catalogued record whose class text is `effect_class`, if any.
template <class... Records>
Ref<com::Object> make_effect(dsp::RecordList<Records...>, std::string_view effect_class,
                             double sample_rate) {
  Ref<com::Object> made;
  const auto make_if_named = [&]<class Record>(Record*) {
    if (dsp::effect_of<Record>.class_text == effect_class)
      made = com::make_ref<EffectObject<Record>>(sample_rate);
  };
  (make_if_named(static_cast<Records*>(nullptr)), ...);
  return made;
}

}  // namespace

Ref<com::Object> create_effect_object(std::string_view effect_class, double sample_rate) {
  return make_effect(dsp::EffectRecords{}, effect_class, sample_rate);
}

PlatformEffect* platform_effect_of(com::Object* object) noexcept {
  return dynamic_cast<PlatformEffect*>(object);
}

}  // namespace orvan::music
