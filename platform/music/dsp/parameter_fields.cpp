#include "platform/music/dsp/parameter_fields.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace orvan::music::dsp {
namespace {

constexpr FieldType R = FieldType::real;
constexpr FieldType I = FieldType::integer;

// Ranges and defaults of the platform's effect records.
constexpr FieldInfo kDistortion[] = {
    {"Gain", R, offsetof(DSFXDISTORTION, Gain), -60, 0, -18},
    {"Edge", R, offsetof(DSFXDISTORTION, Edge), 0, 100, 15},
    {"PostEQCenterFrequency", R, offsetof(DSFXDISTORTION, PostEQCenterFrequency), 100, 8000, 2400},
    {"PostEQBandwidth", R, offsetof(DSFXDISTORTION, PostEQBandwidth), 100, 8000, 2400},
    {"PreLowpassCutoff", R, offsetof(DSFXDISTORTION, PreLowpassCutoff), 100, 8000, 8000},
};

constexpr FieldInfo kChorus[] = {
    {"WetDryMix", R, offsetof(DSFXCHORUS, WetDryMix), 0, 100, 50},
    {"Depth", R, offsetof(DSFXCHORUS, Depth), 0, 100, 10},
    {"Feedback", R, offsetof(DSFXCHORUS, Feedback), -99, 99, 25},
    {"Frequency", R, offsetof(DSFXCHORUS, Frequency), 0, 10, 1.1},
    {"Waveform", I, offsetof(DSFXCHORUS, Waveform), 0, 1, 1},
    {"Delay", R, offsetof(DSFXCHORUS, Delay), 0, 20, 16},
    {"Phase", I, offsetof(DSFXCHORUS, Phase), 0, 4, 3},
};

constexpr FieldInfo kWavesReverb[] = {
    {"InGain", R, offsetof(DSFXWAVESREVERB, InGain), -96, 0, 0},
    {"ReverbMix", R, offsetof(DSFXWAVESREVERB, ReverbMix), -96, 0, 0},
    {"ReverbTime", R, offsetof(DSFXWAVESREVERB, ReverbTime), 0.001, 3000, 1000},
    {"HighFreqRTRatio", R, offsetof(DSFXWAVESREVERB, HighFreqRTRatio), 0.001, 0.999, 0.001},
};

constexpr FieldInfo kI3dl2Reverb[] = {
    {"Room", I, offsetof(DSFXI3DL2REVERB, Room), -10000, 0, -1000},
    {"RoomHF", I, offsetof(DSFXI3DL2REVERB, RoomHF), -10000, 0, -100},
    {"RoomRolloffFactor", R, offsetof(DSFXI3DL2REVERB, RoomRolloffFactor), 0, 10, 0},
    {"DecayTime", R, offsetof(DSFXI3DL2REVERB, DecayTime), 0.1, 20, 1.49},
    {"DecayHFRatio", R, offsetof(DSFXI3DL2REVERB, DecayHFRatio), 0.1, 2, 0.83},
    {"Reflections", I, offsetof(DSFXI3DL2REVERB, Reflections), -10000, 1000, -2602},
    {"ReflectionsDelay", R, offsetof(DSFXI3DL2REVERB, ReflectionsDelay), 0, 0.3, 0.007},
    {"Reverb", I, offsetof(DSFXI3DL2REVERB, Reverb), -10000, 2000, 200},
    {"ReverbDelay", R, offsetof(DSFXI3DL2REVERB, ReverbDelay), 0, 0.1, 0.011},
    {"Diffusion", R, offsetof(DSFXI3DL2REVERB, Diffusion), 0, 100, 100},
    {"Density", R, offsetof(DSFXI3DL2REVERB, Density), 0, 100, 100},
    {"HFReference", R, offsetof(DSFXI3DL2REVERB, HFReference), 20, 20000, 5000},
};

// Fields are compared as the record stores them: a float range bound such as 1.1 or 0.999
// is itself rounded to float, so the stored default never falls outside its own range.
bool in_range(const void* record, const FieldInfo& f) noexcept {
  const double v = read_field(record, f);
  if (!std::isfinite(v)) return false;
  if (f.type == FieldType::real)
    return v >= static_cast<float>(f.min) && v <= static_cast<float>(f.max);
  return v >= f.min && v <= f.max;
}

template <class Record>
RangeCheck check_all(const Record& record) noexcept {
  for (const FieldInfo& f : record_fields<Record>())
    if (!in_range(&record, f)) return RangeCheck::refused;
  return RangeCheck::accepted;
}

}  // namespace

template <>
std::span<const FieldInfo> record_fields<DSFXDISTORTION>() noexcept {
  return kDistortion;
}
template <>
std::span<const FieldInfo> record_fields<DSFXCHORUS>() noexcept {
  return kChorus;
}
template <>
std::span<const FieldInfo> record_fields<DSFXWAVESREVERB>() noexcept {
  return kWavesReverb;
}
template <>
std::span<const FieldInfo> record_fields<DSFXI3DL2REVERB>() noexcept {
  return kI3dl2Reverb;
}

double read_field(const void* record, const FieldInfo& field) noexcept {
  const auto* bytes = static_cast<const unsigned char*>(record) + field.offset;
  if (field.type == FieldType::real) {
    float v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
  }
  std::int32_t v;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}

bool write_field(void* record, const FieldInfo& field, double value) noexcept {
  auto* bytes = static_cast<unsigned char*>(record) + field.offset;
  if (field.type == FieldType::real) {
    const auto v = static_cast<float>(value);
    std::memcpy(bytes, &v, sizeof v);
    return true;
  }
  if (!std::isfinite(value) || value != std::trunc(value) || value < INT32_MIN || value > INT32_MAX)
    return false;
  const auto v = static_cast<std::int32_t>(value);
  std::memcpy(bytes, &v, sizeof v);
  return true;
}

RangeCheck check_record(DSFXDISTORTION& record, double sample_rate) noexcept {
  if (check_all(record) == RangeCheck::refused) return RangeCheck::refused;
  // Filters cannot be tuned near Nyquist; a third of the rate leaves them well-behaved.
  const auto limit = static_cast<float>(sample_rate / 3.0);
  RangeCheck result = RangeCheck::accepted;
  for (float* hz :
       {&record.PostEQCenterFrequency, &record.PostEQBandwidth, &record.PreLowpassCutoff}) {
    if (*hz > limit) {
      *hz = limit;
      result = RangeCheck::clamped;
    }
  }
  return result;
}

RangeCheck check_record(DSFXCHORUS& record, double /*sample_rate*/) noexcept {
  return check_all(record);
}

RangeCheck check_record(DSFXWAVESREVERB& record, double /*sample_rate*/) noexcept {
  return check_all(record);
}

RangeCheck check_record(DSFXI3DL2REVERB& record, double /*sample_rate*/) noexcept {
  return check_all(record);
}

}  // namespace orvan::music::dsp
