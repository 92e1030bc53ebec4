// The four effects described once: each effect's name, class and interface texts and
// record, and each field's name, unit, range, default and clamp rule. The range checks,
// the defaults, the effect objects, the engine's parameter methods and tovel-play's
// --fx/--fx-param all read this catalogue; the DSP code reads the records it describes.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "platform/music/dsp/effect_records.h"

namespace orvan::music::dsp {

enum class FieldType { real, integer };  // float or 32-bit integer in the record

// What becomes of a value inside the range that the sample rate cannot honour.
enum class ClampRule {
  none,
  third_of_rate,  // lowered to a third of the sample rate: filters misbehave near Nyquist
};

struct FieldInfo {
  std::string_view name;  // as in the record ("PostEQCenterFrequency")
  std::string_view unit;  // "dB", "mB", "%", "Hz", "ms", "s"; empty for ratios and codes
  FieldType type;
  std::size_t offset;  // byte offset in the record
  double min;
  double max;
  double default_value;
  ClampRule clamp = ClampRule::none;
};

struct EffectInfo {
  std::string_view name;            // as the command line names it ("reverb3d")
  std::string_view class_text;      // the effect class a chain description names
  std::string_view interface_text;  // the parameter interface GetObjectInPath answers for it
  std::size_t record_size;
  std::span<const FieldInfo> fields;  // in record order
};

namespace catalogue {

constexpr FieldType R = FieldType::real;
constexpr FieldType I = FieldType::integer;
constexpr ClampRule kThirdOfRate = ClampRule::third_of_rate;

inline constexpr FieldInfo kDistortion[] = {
    {"Gain", "dB", R, offsetof(DSFXDISTORTION, Gain), -60, 0, -18},
    {"Edge", "%", R, offsetof(DSFXDISTORTION, Edge), 0, 100, 15},
    {"PostEQCenterFrequency", "Hz", R, offsetof(DSFXDISTORTION, PostEQCenterFrequency), 100, 8000,
     2400, kThirdOfRate},
    {"PostEQBandwidth", "Hz", R, offsetof(DSFXDISTORTION, PostEQBandwidth), 100, 8000, 2400,
     kThirdOfRate},
    {"PreLowpassCutoff", "Hz", R, offsetof(DSFXDISTORTION, PreLowpassCutoff), 100, 8000, 8000,
     kThirdOfRate},
};

inline constexpr FieldInfo kChorus[] = {
    {"WetDryMix", "%", R, offsetof(DSFXCHORUS, WetDryMix), 0, 100, 50},
    {"Depth", "%", R, offsetof(DSFXCHORUS, Depth), 0, 100, 10},  // of the delay
    {"Feedback", "%", R, offsetof(DSFXCHORUS, Feedback), -99, 99, 25},
    {"Frequency", "Hz", R, offsetof(DSFXCHORUS, Frequency), 0, 10, 1.1},  // of the LFO
    {"Waveform", "", I, offsetof(DSFXCHORUS, Waveform), 0, 1, 1},         // 0 triangle, 1 sine
    {"Delay", "ms", R, offsetof(DSFXCHORUS, Delay), 0, 20, 16},
    // Between left and right: 0..4 = -180, -90, 0, 90, 180 degrees.
    {"Phase", "", I, offsetof(DSFXCHORUS, Phase), 0, 4, 3},
};

inline constexpr FieldInfo kWavesReverb[] = {
    {"InGain", "dB", R, offsetof(DSFXWAVESREVERB, InGain), -96, 0, 0},
    {"ReverbMix", "dB", R, offsetof(DSFXWAVESREVERB, ReverbMix), -96, 0, 0},  // 0: fully wet
    {"ReverbTime", "ms", R, offsetof(DSFXWAVESREVERB, ReverbTime), 0.001, 3000, 1000},
    // High-frequency decay time = ReverbTime x ratio.
    {"HighFreqRTRatio", "", R, offsetof(DSFXWAVESREVERB, HighFreqRTRatio), 0.001, 0.999, 0.001},
};

inline constexpr FieldInfo kI3dl2Reverb[] = {
    {"Room", "mB", I, offsetof(DSFXI3DL2REVERB, Room), -10000, 0, -1000},
    {"RoomHF", "mB", I, offsetof(DSFXI3DL2REVERB, RoomHF), -10000, 0, -100},
    {"RoomRolloffFactor", "", R, offsetof(DSFXI3DL2REVERB, RoomRolloffFactor), 0, 10, 0},
    {"DecayTime", "s", R, offsetof(DSFXI3DL2REVERB, DecayTime), 0.1, 20, 1.49},
    {"DecayHFRatio", "", R, offsetof(DSFXI3DL2REVERB, DecayHFRatio), 0.1, 2, 0.83},
    {"Reflections", "mB", I, offsetof(DSFXI3DL2REVERB, Reflections), -10000, 1000, -2602},
    {"ReflectionsDelay", "s", R, offsetof(DSFXI3DL2REVERB, ReflectionsDelay), 0, 0.3, 0.007},
    {"Reverb", "mB", I, offsetof(DSFXI3DL2REVERB, Reverb), -10000, 2000, 200},
    {"ReverbDelay", "s", R, offsetof(DSFXI3DL2REVERB, ReverbDelay), 0, 0.1, 0.011},
    {"Diffusion", "%", R, offsetof(DSFXI3DL2REVERB, Diffusion), 0, 100, 100},
    {"Density", "%", R, offsetof(DSFXI3DL2REVERB, Density), 0, 100, 100},
    {"HFReference", "Hz", R, offsetof(DSFXI3DL2REVERB, HFReference), 20, 20000, 5000},
};

}  // namespace catalogue

// The catalogue entry of a record type; a type that is no effect record has none.
template <class Record>
struct Catalogued;

template <>
struct Catalogued<DSFXDISTORTION> {
  static constexpr EffectInfo info{"distortion", "GUID_DSFX_STANDARD_DISTORTION",
                                   "IID_DirectSoundFXDistortion", sizeof(DSFXDISTORTION),
                                   catalogue::kDistortion};
};
template <>
struct Catalogued<DSFXCHORUS> {
  static constexpr EffectInfo info{"chorus", "GUID_DSFX_STANDARD_CHORUS", "IID_DirectSoundFXChorus",
                                   sizeof(DSFXCHORUS), catalogue::kChorus};
};
template <>
struct Catalogued<DSFXWAVESREVERB> {
  static constexpr EffectInfo info{"reverb", "GUID_DSFX_WAVES_REVERB",
                                   "IID_DirectSoundFXWavesReverb", sizeof(DSFXWAVESREVERB),
                                   catalogue::kWavesReverb};
};
template <>
struct Catalogued<DSFXI3DL2REVERB> {
  static constexpr EffectInfo info{"reverb3d", "GUID_DSFX_STANDARD_I3DL2REVERB",
                                   "IID_DirectSoundFXI3DL2REVERB", sizeof(DSFXI3DL2REVERB),
                                   catalogue::kI3dl2Reverb};
};

template <class Record>
inline constexpr const EffectInfo& effect_of = Catalogued<Record>::info;

// Every catalogued record type, in the order the command line lists the effects.
template <class... Records>
struct RecordList {};
using EffectRecords = RecordList<DSFXDISTORTION, DSFXCHORUS, DSFXWAVESREVERB, DSFXI3DL2REVERB>;

template <class... Records>
constexpr auto effect_infos(RecordList<Records...>) {
  return std::array<const EffectInfo*, sizeof...(Records)>{&effect_of<Records>...};
}
inline constexpr auto kEffects = effect_infos(EffectRecords{});

// Look-ups by name and by class text; nullptr when nothing matches.
constexpr const EffectInfo* effect_named(std::string_view name) noexcept {
  for (const EffectInfo* e : kEffects)
    if (e->name == name) return e;
  return nullptr;
}
constexpr const EffectInfo* effect_with_class(std::string_view class_text) noexcept {
  for (const EffectInfo* e : kEffects)
    if (e->class_text == class_text) return e;
  return nullptr;
}
constexpr const FieldInfo* find_field(const EffectInfo& effect, std::string_view name) noexcept {
  for (const FieldInfo& f : effect.fields)
    if (f.name == name) return &f;
  return nullptr;
}

// The outcome of checking a whole record.
enum class RangeCheck {
  accepted,  // every field in range, record unchanged
  clamped,   // in range, but a value the sample rate cannot honour was lowered
  refused,   // some field out of range (or not a number); nothing may change
};

// Reads or writes one field as a double. Writing an integer field refuses fractions.
double read_field(const void* record, const FieldInfo& field) noexcept;
bool write_field(void* record, const FieldInfo& field, double value) noexcept;

// Checks every field of `record` (laid out as `effect` describes) against its range, then
// applies the clamp rules to it.
RangeCheck check_fields(void* record, const EffectInfo& effect, double sample_rate) noexcept;

template <class Record>
RangeCheck check_record(Record& record, double sample_rate) noexcept {
  return check_fields(&record, effect_of<Record>, sample_rate);
}

template <class Record>
Record default_record() noexcept {
  Record r{};
  for (const FieldInfo& f : effect_of<Record>.fields) write_field(&r, f, f.default_value);
  return r;
}

}  // namespace orvan::music::dsp
