"""Direct calls through a dual interface's function table.

A method whose parameters the table can carry gets a ctypes prototype built from its type
information (each function description gives the entry and every parameter's type), so that
a call by name costs one ctypes call instead of IDispatch::Invoke with its variants, name
lookups and conversions. Only what crosses unchanged goes this way: an int for a 32-bit
integer or an enumeration, a float or int for a single-precision float within its range, a
str for a string, an orvan object (or None) for an object, a bool for a boolean. Anything
else (text for a number, a value out of range, an omitted parameter without a default), and
every method the table cannot express, is left to Invoke, whose conversions and errors stay
the reference."""

import ctypes

from ctypes import POINTER, byref, c_double, c_float, c_int16, c_int32, c_void_p

from . import _native as n

# Says "let Invoke do this call".
FALLBACK = object()
# The binder's mark for an optional argument left out, and a parameter's lack of a default.
MISSING = object()
NO_DEFAULT = object()

_FLOAT_MAX = 3.4028234663852886e38


def _int32(value):
    if type(value) is int:
        return value if -2147483648 <= value <= 2147483647 else FALLBACK
    # An enumeration's member is an int too; a bool is not a number here.
    if isinstance(value, int) and not isinstance(value, bool) and \
            -2147483648 <= value <= 2147483647:
        return int(value)
    return FALLBACK


def _real32(value):
    if (type(value) is float or type(value) is int) and -_FLOAT_MAX <= value <= _FLOAT_MAX:
        return float(value)
    return FALLBACK


def _boolean(value):
    return (-1 if value else 0) if type(value) is bool else FALLBACK


# Variant type -> (ctypes type of the value, its check and conversion).
_SCALARS = {n.VT_I4: (c_int32, _int32), n.VT_R4: (c_float, _real32),
            n.VT_BOOL: (c_int16, _boolean)}
_RESULTS = {n.VT_I4: c_int32, n.VT_R4: c_float, n.VT_R8: c_double, n.VT_BOOL: c_int16,
            n.VT_BSTR: c_void_p}


class _Strings:
    """Automation strings made for one call, freed when it returns."""

    __slots__ = ("made",)

    def __init__(self):
        self.made = []

    def make(self, text):
        bstr = n.alloc_bstr(text)
        self.made.append(bstr)
        return bstr

    def free(self):
        for bstr in self.made:
            n.runtime().SysFreeString(bstr)


def _argument(param):
    """(ctypes type, converter) for one input parameter, or None when the table cannot take
    it. A converter maps a Python value (or MISSING) to the ctypes argument, or FALLBACK;
    `strings` keeps the automation strings it makes until the call returns."""
    vt = param.vt
    default = param.default
    has_default = default is not NO_DEFAULT
    if vt == n.VT_BSTR:
        if param.by_ref:
            def convert(value, strings):
                if value is MISSING:
                    return None if not has_default else byref(c_void_p(strings.make(default)))
                return byref(c_void_p(strings.make(value))) if type(value) is str else FALLBACK
            return POINTER(c_void_p), convert

        def convert(value, strings):
            if value is MISSING:
                return strings.make(default) if has_default else FALLBACK
            return strings.make(value) if type(value) is str else FALLBACK
        return c_void_p, convert
    if vt == n.VT_DISPATCH and not param.by_ref:
        def convert(value, strings):
            if value is None:
                return None
            pointer = getattr(value, "_pointer", FALLBACK)
            return pointer if pointer is not None else FALLBACK
        return c_void_p, convert
    if vt in (n.VT_SAFEARRAY, n.VT_UNKNOWN) and not param.by_ref:
        # Byte arrays and streams are made, and cleared after the call, by the conversions
        # Invoke's path already has; what such a call costs is the data, not the dispatch.
        return c_void_p, lambda value, strings: FALLBACK
    scalar = _SCALARS.get(vt)
    if scalar is None:
        return None
    ctype, check = scalar
    if param.by_ref:
        def convert(value, strings):
            if value is MISSING:
                # Left out: the default the type library gives, or a null pointer, as Invoke
                # passes them.
                if has_default:
                    value = default
                else:
                    return None
            checked = check(value)
            return FALLBACK if checked is FALLBACK else byref(ctype(checked))
        return POINTER(ctype), convert

    def convert(value, strings):
        if value is MISSING:
            if not has_default:
                return FALLBACK
            value = default
        return check(value)
    return ctype, convert


class TableCall:
    """How one method is called through the function table."""

    __slots__ = ("entry", "prototype", "converters", "result_type", "result_vt", "strings")

    def __init__(self, entry, prototype, converters, result_type, result_vt, strings):
        self.entry, self.prototype, self.converters = entry, prototype, converters
        self.result_type, self.result_vt, self.strings = result_type, result_vt, strings

    @staticmethod
    def for_method(method):
        argtypes, converters, strings = [c_void_p], [], False
        for param in method.params:
            form = _argument(param)
            if form is None:
                return None
            argtypes.append(form[0])
            converters.append(form[1])
            strings = strings or param.vt == n.VT_BSTR
        result_type = None
        if method.result_vt is not None:
            result_type = _RESULTS.get(method.result_vt)
            if result_type is None:
                return None
            argtypes.append(POINTER(result_type))
        prototype = ctypes.CFUNCTYPE(n.HRESULT, *argtypes)
        return TableCall(method.entry, prototype, tuple(converters), result_type,
                         method.result_vt, strings)

    def call(self, function, pointer, values):
        """Calls `function` (this method's entry on `pointer`) with `values`, one per input
        parameter (MISSING for an omitted one): (status, result), or FALLBACK when a value
        is not one the table takes as it is."""
        strings = _Strings() if self.strings else None
        try:
            args = [convert(value, strings) for convert, value in zip(self.converters, values)]
            for arg in args:
                if arg is FALLBACK:
                    return FALLBACK
            if self.result_type is None:
                return function(pointer, *args), None
            result = self.result_type()
            status = function(pointer, *args, byref(result))
        finally:
            if strings is not None:
                strings.free()
        if status < 0:
            return status, None
        if self.result_vt == n.VT_BOOL:
            return status, result.value != 0
        if self.result_vt == n.VT_BSTR:
            return status, n.take_bstr(result.value)
        return status, result.value
