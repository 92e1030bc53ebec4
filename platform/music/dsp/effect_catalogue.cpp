#include "platform/music/dsp/effect_catalogue.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace orvan::music::dsp {
namespace {

// Fields are compared as the record stores them: a float range bound such as 1.1 or 0.999
// is itself rounded to float, so the stored default never falls outside its own range.
bool in_range(const void* record, const FieldInfo& f) noexcept {
  const double v = read_field(record, f);
  if (!std::isfinite(v)) return false;
  if (f.type == FieldType::real)
    return v >= static_cast<float>(f.min) && v <= static_cast<float>(f.max);
  return v >= f.min && v <= f.max;
}

double clamp_limit(ClampRule rule, double sample_rate) noexcept {
  switch (rule) {
    case ClampRule::third_of_rate:
      return static_cast<float>(sample_rate / 3.0);
    case ClampRule::none:
      break;
  }
  return INFINITY;
}

}  // namespace

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

RangeCheck check_fields(void* record, const EffectInfo& effect, double sample_rate) noexcept {
  for (const FieldInfo& f : effect.fields)
    if (!in_range(record, f)) return RangeCheck::refused;
  RangeCheck result = RangeCheck::accepted;
  for (const FieldInfo& f : effect.fields) {
    const double limit = clamp_limit(f.clamp, sample_rate);
    if (read_field(record, f) > limit) {
      write_field(record, f, limit);
      result = RangeCheck::clamped;
    }
  }
  return result;
}

}  // namespace orvan::music::dsp
