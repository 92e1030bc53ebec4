// What each field of the four effect records means: its name, type, range and default.
// One table serves range checks, defaults, the command line and by-name dispatch.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "platform/music/types.h"

namespace orvan::music::dsp {

enum class FieldType { real, integer };

struct FieldInfo {
  std::string_view name;  // as in the record ("PostEQCenterFrequency")
  FieldType type;
  std::size_t offset;  // byte offset in the record
  double min;
  double max;
  double default_value;
};

// The outcome of checking a whole record.
enum class RangeCheck {
  accepted,  // every field in range, record unchanged
  clamped,   // in range, but a value the sample rate cannot honour was lowered
  refused,   // some field out of range (or not a number); nothing may change
};

template <class Record>
std::span<const FieldInfo> record_fields() noexcept;

template <>
std::span<const FieldInfo> record_fields<DSFXDISTORTION>() noexcept;
template <>
std::span<const FieldInfo> record_fields<DSFXCHORUS>() noexcept;
template <>
std::span<const FieldInfo> record_fields<DSFXWAVESREVERB>() noexcept;
template <>
std::span<const FieldInfo> record_fields<DSFXI3DL2REVERB>() noexcept;

// Reads or writes one field as a double. Writing an integer field refuses fractions.
double read_field(const void* record, const FieldInfo& field) noexcept;
bool write_field(void* record, const FieldInfo& field, double value) noexcept;

template <class Record>
const FieldInfo* find_field(std::string_view name) noexcept {
  for (const FieldInfo& f : record_fields<Record>())
    if (f.name == name) return &f;
  return nullptr;
}

template <class Record>
Record default_record() noexcept {
  Record r{};
  for (const FieldInfo& f : record_fields<Record>()) write_field(&r, f, f.default_value);
  return r;
}

// Checks every field against its range. For distortion, frequencies above a third of the
// sample rate are lowered to it in `record` and the result is `clamped`.
RangeCheck check_record(DSFXDISTORTION& record, double sample_rate) noexcept;
RangeCheck check_record(DSFXCHORUS& record, double sample_rate) noexcept;
RangeCheck check_record(DSFXWAVESREVERB& record, double sample_rate) noexcept;
RangeCheck check_record(DSFXI3DL2REVERB& record, double sample_rate) noexcept;

}  // namespace orvan::music::dsp
