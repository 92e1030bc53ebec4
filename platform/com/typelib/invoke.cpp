// ITypeInfo::Invoke, DispInvoke and DispGetIDsOfNames: late-bound calls driven by the type
// library alone. Invoke finds the member, checks and converts the caller's arguments to the
// parameter types the library states, and calls the function-table entry through
// DispCallFunc. There is no per-method code anywhere.
//
// What a callee receives:
//   - arguments in declaration order (DISPPARAMS carries them last first);
//   - named arguments at the positions rgdispidNamedArgs gives them (GetIDsOfNames answers
//     a parameter's name with its position); they stand first in rgvarg, the positional
//     ones follow, and DISPID_PROPERTYPUT names a property assignment's value;
//   - a by-value parameter gets the argument converted with VariantChangeType;
//   - a by-reference parameter (T*) gets the caller's variable when the argument is
//     VT_BYREF of exactly T, or the address of a converted temporary for a by-value argument;
//     a VT_VARIANT|VT_BYREF argument is read through first;
//   - an omitted optional parameter (fewer arguments, or VT_ERROR with DISP_E_PARAMNOTFOUND)
//     gets its default from the library when it has one; without one a VARIANT parameter
//     gets VT_ERROR/DISP_E_PARAMNOTFOUND, a pointer parameter (long*, BSTR*...) gets a null
//     pointer, and a by-value scalar gets zero;
//   - an interface parameter (IUnknown*, IDispatch*, an interface of a library) gets the
//     argument's object asked for that interface, and an automation array parameter
//     (SAFEARRAY(unsigned char), by value or by reference) a checked byte array
//     (invoke_arguments.h); references and locks the call takes are given back after it;
//   - the [out, retval] parameter points at a temporary that becomes *result.
// Statuses: DISP_E_MEMBERNOTFOUND (no such DISPID, or not callable with `flags`),
// DISP_E_PARAMNOTFOUND (a named argument's position is not a parameter, or names one that
// already has its argument; *arg_err = its index in rgvarg), DISP_E_BADPARAMCOUNT (too many
// arguments, or too few for the non-optional parameters), DISP_E_PARAMNOTOPTIONAL (an
// explicitly omitted argument for a non-optional parameter), DISP_E_TYPEMISMATCH /
// DISP_E_OVERFLOW (with *arg_err = the argument's index in rgvarg), and DISP_E_EXCEPTION when
// the method fails: EXCEPINFO then carries its status, the status text and
// "<library>.<interface>" as the source.
#include <cstring>

#include "platform/com/status.h"
#include "platform/com/typelib/invoke_arguments.h"
#include "platform/com/typelib/type_lib.h"

namespace orvan::typelib {

void read_value(const TypeLibData& data, std::uint32_t index, VARIANT& out);

namespace {

namespace fmt = format;

// Reads a parameter's type: a scalar, a pointer to one, an enum, an interface pointer or
// a byte array.
bool shape_of(const TypeInfo& info, std::uint32_t typedesc, ParamShape& shape) {
  const TypeLibData& d = info.data();
  int levels = 0;
  const fmt::TypeDescRecord base = d.strip_pointers(typedesc, levels);
  VARTYPE vt = base.vt;
  if (vt == VT_SAFEARRAY) {
    if (d.typedesc(base.inner).vt != VT_UI1) return false;  // byte arrays only, for now
    vt = VT_ARRAY | VT_UI1;
  }
  shape.object = vt == VT_UNKNOWN || vt == VT_DISPATCH || vt == VT_USERDEFINED;
  shape.iid = vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
  if (vt == VT_USERDEFINED) {
    TYPEKIND kind = TKIND_INTERFACE;
    if (!(base.inner & fmt::kExternalRefBit)) {
      kind = static_cast<TYPEKIND>(d.type(base.inner).kind);
      std::memcpy(&shape.iid, d.type(base.inner).guid, sizeof shape.iid);
    } else {
      ITypeInfo* other = nullptr;
      if (FAILED(info.lib().external_type(base.inner & ~fmt::kExternalRefBit, &other)))
        return false;
      TYPEATTR* attr = nullptr;
      if (SUCCEEDED(other->GetTypeAttr(&attr))) {
        kind = attr->typekind;
        shape.iid = attr->guid;
        other->ReleaseTypeAttr(attr);
      }
      other->Release();
    }
    if (kind == TKIND_ENUM) {
      vt = VT_I4;
      shape.object = false;
    } else if (kind == TKIND_INTERFACE || kind == TKIND_DISPATCH) {
      if (levels == 0) return false;  // an interface is only ever passed as a pointer
      --levels;
      vt = VT_UNKNOWN;
    } else {
      return false;
    }
  }
  if (levels > 1 || vt == VT_VOID || vt == VT_HRESULT) return false;
  shape.base = vt;
  shape.by_ref = levels == 1;
  return true;
}

// Where each input parameter's argument sits in rgvarg, or kNoArgument.
inline constexpr UINT kNoArgument = ~UINT{0};

HRESULT place_arguments(const DISPPARAMS& params, UINT inputs, bool put,
                        UINT (&source)[fmt::kMaxParams], UINT* arg_err) {
  for (UINT& s : source) s = kNoArgument;
  const UINT named = params.cNamedArgs;
  const UINT positional = params.cArgs - named;
  if (params.cArgs > inputs) return DISP_E_BADPARAMCOUNT;
  for (UINT i = 0; i < positional; ++i) source[i] = params.cArgs - 1 - i;
  for (UINT j = 0; j < named; ++j) {
    const DISPID id = params.rgdispidNamedArgs[j];
    // A property assignment's value is its last input, whatever indexes come before it.
    const DISPID position = put && id == DISPID_PROPERTYPUT ? static_cast<DISPID>(inputs - 1) : id;
    if (position < 0 || static_cast<UINT>(position) >= inputs || source[position] != kNoArgument) {
      if (arg_err) *arg_err = j;
      return DISP_E_PARAMNOTFOUND;
    }
    source[position] = j;
  }
  return S_OK;
}

bool is_omitted(const VARIANT& v) {
  return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND;
}

// Everything a call holds until it returns, released in one place.
struct CallFrame {
  UINT count = 0;
  VARIANT temps[fmt::kMaxParams];  // converted values and by-value copies
  VARIANT slots[fmt::kMaxParams];  // what DispCallFunc reads: a value or a VT_BYREF pointer
  VARTYPE types[fmt::kMaxParams];
  VARIANTARG* args[fmt::kMaxParams];
  bool owned[fmt::kMaxParams] = {};         // temps[i] holds a value the frame must clear
  SAFEARRAY* locked[fmt::kMaxParams] = {};  // arrays lent to the callee, locked meanwhile

  ~CallFrame() {
    for (UINT i = 0; i < count; ++i) {
      if (locked[i]) SafeArrayUnlock(locked[i]);
      if (owned[i]) VariantClear(&temps[i]);
    }
  }
};

void fill_exception(EXCEPINFO* excepinfo, HRESULT status, const TypeInfo& info) {
  if (!excepinfo) return;
  std::memset(excepinfo, 0, sizeof *excepinfo);
  excepinfo->scode = status;
  const TypeLibData& d = info.data();
  std::string source(d.string(d.header().name));
  source += '.';
  source += d.string(info.record().name);
  excepinfo->bstrSource = make_bstr(source);
  excepinfo->bstrDescription = make_bstr(com::describe_status(status));
}

}  // namespace

HRESULT TypeInfo::Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* excepinfo, UINT* arg_err) {
  if (!instance || !params || (params->cArgs && !params->rgvarg)) return E_INVALIDARG;
  if (record_.kind != TKIND_INTERFACE) return DISP_E_MEMBERNOTFOUND;
  fmt::FuncRecord fn;
  if (!find_function(id, flags, fn)) return DISP_E_MEMBERNOTFOUND;
  if (params->cNamedArgs > params->cArgs || (params->cNamedArgs && !params->rgdispidNamedArgs))
    return E_INVALIDARG;
  const bool put = fn.invoke_kind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
  const TypeLibData& d = data();

  CallFrame frame;
  frame.count = fn.param_count;
  UINT inputs = fn.param_count;
  if (inputs > 0 && (d.param(fn.first_param + inputs - 1).flags & PARAMFLAG_FRETVAL)) --inputs;
  UINT source[fmt::kMaxParams];
  if (const HRESULT hr = place_arguments(*params, inputs, put, source, arg_err); FAILED(hr))
    return hr;

  int retval = -1;
  for (UINT i = 0; i < fn.param_count; ++i) {
    const fmt::ParamRecord p = d.param(fn.first_param + i);
    ParamShape shape;
    const UINT arg_index = i < inputs ? source[i] : kNoArgument;  // where its argument sits
    if (!shape_of(*this, p.type, shape)) {
      if (arg_err && arg_index != kNoArgument) *arg_err = arg_index;
      return DISP_E_BADVARTYPE;
    }
    VARIANT& temp = frame.temps[i];
    VARIANT& slot = frame.slots[i];
    // Zeroed, value and all: a result the callee never writes reads as empty.
    std::memset(&temp, 0, sizeof temp);
    std::memset(&slot, 0, sizeof slot);
    frame.args[i] = &slot;
    frame.types[i] = shape.by_ref ? static_cast<VARTYPE>(shape.base | VT_BYREF) : shape.base;

    if (i == inputs) {  // the [out, retval] result
      retval = static_cast<int>(i);
      // A VARIANT result is written whole by the callee; any other starts as a typed zero.
      temp.vt = shape.base == VT_VARIANT ? VARTYPE{VT_EMPTY} : shape.base;
      frame.owned[i] = true;
      slot.vt = frame.types[i];
      slot.byref =
          shape.base == VT_VARIANT ? static_cast<void*>(&temp) : static_cast<void*>(&temp.llVal);
      continue;
    }

    const VARIANT* arg = arg_index != kNoArgument ? &params->rgvarg[arg_index] : nullptr;
    const bool explicit_omission = arg && is_omitted(*arg);
    if (arg && arg->vt == (VT_VARIANT | VT_BYREF)) {
      arg = arg->pvarVal;
      if (!arg) {
        if (arg_err) *arg_err = arg_index;
        return DISP_E_TYPEMISMATCH;
      }
    }
    const bool omitted = !arg || explicit_omission;

    if (omitted) {
      if (!(p.flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)))
        return explicit_omission ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
      if (p.default_value != fmt::kNoValue) {
        VARIANT stored;
        VariantInit(&stored);
        read_value(d, p.default_value, stored);
        HRESULT hr = S_OK;
        if (shape.base == VT_VARIANT) {
          temp = stored;  // the temp takes over the stored value's string, if any
        } else {
          hr = VariantChangeType(&temp, &stored, 0, shape.base);
          VariantClear(&stored);
        }
        if (FAILED(hr)) return hr;
        frame.owned[i] = true;
      } else if (shape.base == VT_VARIANT) {
        temp.vt = VT_ERROR;
        temp.scode = DISP_E_PARAMNOTFOUND;
      } else if (shape.by_ref) {
        slot.vt = frame.types[i];
        slot.byref = nullptr;  // the callee's sign that the caller left it out
        continue;
      } else {
        temp.vt = shape.base;  // zero
      }
    } else if (shape.base == VT_VARIANT) {
      if (shape.by_ref) {
        // The callee works on the caller's own VARIANT, as an [in, out] parameter does.
        slot.vt = frame.types[i];
        slot.byref = const_cast<VARIANT*>(arg);
        continue;
      }
      temp = *arg;  // a shallow copy: the caller keeps ownership
    } else if (shape.object || (shape.base & VT_ARRAY)) {
      PassedArgument passed;
      const HRESULT hr = shape.object ? pass_object(*arg, shape, temp, passed)
                                      : pass_array(*arg, shape, temp, passed);
      frame.owned[i] = passed.owned;
      frame.locked[i] = passed.locked;
      if (FAILED(hr)) {
        if (arg_err) *arg_err = arg_index;
        return hr;
      }
      if (passed.callers_variable) {
        slot.vt = frame.types[i];
        slot.byref = passed.callers_variable;
        continue;
      }
    } else if (shape.by_ref && arg->vt == (shape.base | VT_BYREF)) {
      slot.vt = frame.types[i];
      slot.byref = arg->byref;  // the caller's variable itself
      continue;
    } else if (shape.by_ref && (arg->vt & VT_BYREF)) {
      if (arg_err) *arg_err = arg_index;
      return DISP_E_TYPEMISMATCH;  // a reference to a variable of another type
    } else if (arg->vt == shape.base && shape.base != VT_BSTR) {
      temp = *arg;  // already the right type: no conversion
    } else if (arg->vt == VT_BSTR && shape.base == VT_BSTR) {
      temp = *arg;  // the caller's string, lent for the call
    } else {
      const HRESULT hr = VariantChangeType(&temp, arg, 0, shape.base);
      if (FAILED(hr)) {
        if (arg_err) *arg_err = arg_index;
        return hr;
      }
      frame.owned[i] = true;
    }

    if (shape.by_ref) {
      slot.vt = frame.types[i];
      slot.byref =
          shape.base == VT_VARIANT ? static_cast<void*>(&temp) : static_cast<void*>(&temp.llVal);
    } else {
      slot = temp;  // a VARIANT parameter gets the whole VARIANT, its own type included
      if (shape.base != VT_VARIANT) slot.vt = frame.types[i];
    }
  }

  VARIANT returned;
  VariantInit(&returned);
  const HRESULT call_hr =
      DispCallFunc(instance, fn.entry * sizeof(void*), static_cast<CALLCONV>(fn.callconv),
                   VT_HRESULT, fn.param_count, frame.types, frame.args, &returned);
  if (FAILED(call_hr)) return call_hr;
  if (FAILED(returned.scode)) {
    fill_exception(excepinfo, returned.scode, *this);
    return DISP_E_EXCEPTION;
  }
  if (result) {
    VariantInit(result);
    if (retval >= 0) {
      *result = frame.temps[retval];  // the result moves to the caller
      frame.owned[retval] = false;
    }
  }
  return S_OK;
}

}  // namespace orvan::typelib

extern "C" HRESULT DispGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids) {
  if (!info) return E_INVALIDARG;
  return info->GetIDsOfNames(names, count, ids);
}

extern "C" HRESULT DispInvoke(void* instance, ITypeInfo* info, DISPID id, WORD flags,
                              DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepinfo,
                              UINT* arg_err) {
  if (!info) return E_INVALIDARG;
  return info->Invoke(instance, id, flags, params, result, excepinfo, arg_err);
}
