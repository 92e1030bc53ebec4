// The effect fields as the platform documents them, written out by hand apart from the
// code's catalogue: range tests take their bounds from here, so a wrong bound in the
// catalogue fails them instead of moving with them.
#pragma once

#include <cmath>
#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/music/dsp/effect_records.h"

namespace orvan::music::dsp::testing {

template <class Record>
struct DocumentedField {
  std::string_view name;
  std::string_view unit;
  double min;
  double max;
  double default_value;
  std::variant<float Record::*, std::int32_t Record::*> member;

  bool is_integer() const { return member.index() == 1; }

  // Writes `value` as the record stores it; false when an integer field cannot hold it.
  bool write(Record& record, double value) const {
    if (const auto* f = std::get_if<0>(&member)) {
      record.** f = static_cast<float>(value);
      return true;
    }
    if (!std::isfinite(value) || value != std::trunc(value)) return false;
    record.*std::get<1>(member) = static_cast<std::int32_t>(value);
    return true;
  }
};

// Only the four records below have a table.
template <class Record>
extern const std::vector<DocumentedField<Record>> kDocumented;

template <>
inline const std::vector<DocumentedField<DSFXDISTORTION>> kDocumented<DSFXDISTORTION> = {
    {"Gain", "dB", -60, 0, -18, &DSFXDISTORTION::Gain},
    {"Edge", "%", 0, 100, 15, &DSFXDISTORTION::Edge},
    {"PostEQCenterFrequency", "Hz", 100, 8000, 2400, &DSFXDISTORTION::PostEQCenterFrequency},
    {"PostEQBandwidth", "Hz", 100, 8000, 2400, &DSFXDISTORTION::PostEQBandwidth},
    {"PreLowpassCutoff", "Hz", 100, 8000, 8000, &DSFXDISTORTION::PreLowpassCutoff},
};

template <>
inline const std::vector<DocumentedField<DSFXCHORUS>> kDocumented<DSFXCHORUS> = {
    {"WetDryMix", "%", 0, 100, 50, &DSFXCHORUS::WetDryMix},
    {"Depth", "%", 0, 100, 10, &DSFXCHORUS::Depth},
    {"Feedback", "%", -99, 99, 25, &DSFXCHORUS::Feedback},
    {"Frequency", "Hz", 0, 10, 1.1, &DSFXCHORUS::Frequency},
    {"Waveform", "", 0, 1, 1, &DSFXCHORUS::Waveform},
    {"Delay", "ms", 0, 20, 16, &DSFXCHORUS::Delay},
    {"Phase", "", 0, 4, 3, &DSFXCHORUS::Phase},
};

template <>
inline const std::vector<DocumentedField<DSFXWAVESREVERB>> kDocumented<DSFXWAVESREVERB> = {
    {"InGain", "dB", -96, 0, 0, &DSFXWAVESREVERB::InGain},
    {"ReverbMix", "dB", -96, 0, 0, &DSFXWAVESREVERB::ReverbMix},
    {"ReverbTime", "ms", 0.001, 3000, 1000, &DSFXWAVESREVERB::ReverbTime},
    {"HighFreqRTRatio", "", 0.001, 0.999, 0.001, &DSFXWAVESREVERB::HighFreqRTRatio},
};

template <>
inline const std::vector<DocumentedField<DSFXI3DL2REVERB>> kDocumented<DSFXI3DL2REVERB> = {
    {"Room", "mB", -10000, 0, -1000, &DSFXI3DL2REVERB::Room},
    {"RoomHF", "mB", -10000, 0, -100, &DSFXI3DL2REVERB::RoomHF},
    {"RoomRolloffFactor", "", 0, 10, 0, &DSFXI3DL2REVERB::RoomRolloffFactor},
    {"DecayTime", "s", 0.1, 20, 1.49, &DSFXI3DL2REVERB::DecayTime},
    {"DecayHFRatio", "", 0.1, 2, 0.83, &DSFXI3DL2REVERB::DecayHFRatio},
    {"Reflections", "mB", -10000, 1000, -2602, &DSFXI3DL2REVERB::Reflections},
    {"ReflectionsDelay", "s", 0, 0.3, 0.007, &DSFXI3DL2REVERB::ReflectionsDelay},
    {"Reverb", "mB", -10000, 2000, 200, &DSFXI3DL2REVERB::Reverb},
    {"ReverbDelay", "s", 0, 0.1, 0.011, &DSFXI3DL2REVERB::ReverbDelay},
    {"Diffusion", "%", 0, 100, 100, &DSFXI3DL2REVERB::Diffusion},
    {"Density", "%", 0, 100, 100, &DSFXI3DL2REVERB::Density},
    {"HFReference", "Hz", 20, 20000, 5000, &DSFXI3DL2REVERB::HFReference},
};

template <class Record>
const std::vector<DocumentedField<Record>>& documented_fields() {
  return kDocumented<Record>;
}

}  // namespace orvan::music::dsp::testing
