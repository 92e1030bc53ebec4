// How Invoke passes arguments that need more than a conversion: interface pointers, which
// are asked for the interface the parameter names, and automation arrays, which are checked
// and kept locked while the callee holds them (invoke_arguments.cpp).
#pragma once

#include "orvan/component_runtime.h"

namespace orvan::typelib {

// How one parameter travels.
struct ParamShape {
  VARTYPE base = VT_EMPTY;  // the value's automation type (an enum is VT_I4, an array
                            // VT_ARRAY | its element type)
  bool by_ref = false;      // the callee gets a pointer to it
  bool object = false;      // an interface pointer: `iid` is what the parameter asks for
  IID iid{};
};

// What one argument became. When `callers_variable` is set the callee gets that pointer
// (the caller's own variable); otherwise `temp` holds the value, to be passed by value or by
// its address. `owned`: the frame clears `temp` after the call; `locked`: an array the frame
// unlocks after the call.
struct PassedArgument {
  void* callers_variable = nullptr;
  bool owned = false;
  SAFEARRAY* locked = nullptr;
};

// An interface argument (VT_UNKNOWN, VT_DISPATCH, either by reference, or VT_EMPTY for
// none) for an object parameter: the callee gets a reference to the interface it asks for,
// which the frame releases after the call, or the caller's own variable when the parameter
// is by reference and the argument a reference to a variable already of that interface.
// DISP_E_TYPEMISMATCH for any other argument or an object without the interface.
HRESULT pass_object(const VARIANT& arg, const ParamShape& shape, VARIANT& temp,
                    PassedArgument& passed);

// An array argument (VT_ARRAY | T, by reference or not, or a value VariantChangeType turns
// into one) for an array parameter. The array must have one dimension and the parameter's
// element type (else DISP_E_TYPEMISMATCH); a null array passes as null. By value the callee
// borrows the caller's array, locked for the call so that it cannot go; by reference it
// gets the caller's variable, or the address of a copy when the argument is by value.
HRESULT pass_array(const VARIANT& arg, const ParamShape& shape, VARIANT& temp,
                   PassedArgument& passed);

}  // namespace orvan::typelib
