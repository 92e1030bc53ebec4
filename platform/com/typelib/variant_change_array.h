// VariantChangeType's rules for arrays (variant_change_array.cpp).
#pragma once

#include "orvan/component_runtime.h"

namespace orvan::typelib {

// Whether converting `source` (by value or by reference) to `type` involves an array.
bool involves_array(const VARIANT& source, VARTYPE type);

// Converts into `result` (empty on entry; owned by the caller on success): an array to an
// array of its own type (a copy), a one-dimensional byte array to a string of those bytes
// and a string to a byte array (lower bound 0) of its bytes. Anything else with an array on
// either side is DISP_E_TYPEMISMATCH, an array type the runtime cannot hold
// DISP_E_BADVARTYPE.
HRESULT change_array_type(const VARIANT& source, VARTYPE type, VARIANT& result);

}  // namespace orvan::typelib
