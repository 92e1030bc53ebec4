// Status codes shared by every layer: one table (orvan/status.h), one message text per code.
//
// A status is a 32-bit signed value; negative means failure. Every platform and engine
// operation returns one, and results travel through out-parameters, never mixed into it.
#pragma once

#include <cstdint>
#include <string_view>

#include "orvan/status.h"

namespace orvan::com {

using HResult = std::int32_t;

constexpr HResult make_status(std::uint32_t bits) {
  return static_cast<HResult>(bits);
}

// Every status, by the name clients know it under: the same constants as the public
// orvan/status.h, which holds the one table of names, values and texts.
#define ORVAN_COM_STATUS(name, value, text) using ::name;
ORVAN_STATUS_CODES(ORVAN_COM_STATUS)
#undef ORVAN_COM_STATUS

constexpr bool failed(HResult hr) {
  return hr < 0;
}
constexpr bool succeeded(HResult hr) {
  return hr >= 0;
}

// The code's symbolic name ("E_INVALIDARG"), or "" for a code outside the table.
std::string_view status_name(HResult hr);

// A sentence a person can read ("The parameter is incorrect."). Codes outside the
// table get a generic text that names the value in hexadecimal.
std::string describe_status(HResult hr);

}  // namespace orvan::com
