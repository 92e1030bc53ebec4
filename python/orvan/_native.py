"""The component runtime seen through ctypes: its library, the published layouts and calls
through interface function tables.

Layouts are those of LP64 Linux: an interface pointer points to a pointer to a table of
function pointers, VARIANT is 24 bytes with its type at 0 and its value at 8, automation
strings are UTF-16 with a 32-bit byte length before them.
"""

import ctypes
import os
import threading

from ctypes import (POINTER, Structure, Union, byref, c_double, c_float, c_int16, c_int32,
                    c_int64, c_uint16, c_uint32, c_uint64, c_void_p)

HRESULT = c_int32
RUNTIME_SONAME = "liborvan_comrt.so.1"

# --- Layouts --------------------------------------------------------------------------------


class GUID(Structure):
    _fields_ = [("Data1", c_uint32), ("Data2", c_uint16), ("Data3", c_uint16),
                ("Data4", ctypes.c_uint8 * 8)]


class _VariantValue(Union):
    _fields_ = [("llVal", c_int64), ("lVal", c_int32), ("iVal", c_int16), ("fltVal", c_float),
                ("dblVal", c_double), ("boolVal", c_int16), ("scode", c_int32),
                ("ullVal", c_uint64), ("bVal", ctypes.c_uint8), ("ulVal", c_uint32),
                ("uiVal", c_uint16), ("cVal", ctypes.c_int8), ("pointer", c_void_p),
                ("record", c_void_p * 2)]


class VARIANT(Structure):
    _anonymous_ = ("value",)
    _fields_ = [("vt", c_uint16), ("wReserved1", c_uint16), ("wReserved2", c_uint16),
                ("wReserved3", c_uint16), ("value", _VariantValue)]


class DISPPARAMS(Structure):
    _fields_ = [("rgvarg", POINTER(VARIANT)), ("rgdispidNamedArgs", POINTER(c_int32)),
                ("cArgs", c_uint32), ("cNamedArgs", c_uint32)]


class EXCEPINFO(Structure):
    _fields_ = [("wCode", c_uint16), ("wReserved", c_uint16), ("bstrSource", c_void_p),
                ("bstrDescription", c_void_p), ("bstrHelpFile", c_void_p),
                ("dwHelpContext", c_uint32), ("pvReserved", c_void_p),
                ("pfnDeferredFillIn", c_void_p), ("scode", c_int32)]


class TYPEDESC(Structure):
    # The union of lptdesc / lpadesc / hreftype, read as whichever the type needs.
    _fields_ = [("pointer", c_void_p), ("vt", c_uint16)]

    @property
    def hreftype(self):
        return (self.pointer or 0) & 0xFFFFFFFF

    @property
    def pointed_to(self):
        return ctypes.cast(self.pointer, POINTER(TYPEDESC)).contents


class PARAMDESCEX(Structure):
    _fields_ = [("cBytes", c_uint32), ("varDefaultValue", VARIANT)]


class PARAMDESC(Structure):
    _fields_ = [("pparamdescex", POINTER(PARAMDESCEX)), ("wParamFlags", c_uint16)]


class ELEMDESC(Structure):
    # The second member is a union of IDLDESC and PARAMDESC, both 16 bytes; only the
    # parameter description is read.
    _fields_ = [("tdesc", TYPEDESC), ("paramdesc", PARAMDESC)]


class TYPEATTR(Structure):
    _fields_ = [("guid", GUID), ("lcid", c_uint32), ("dwReserved", c_uint32),
                ("memidConstructor", c_int32), ("memidDestructor", c_int32),
                ("lpstrSchema", c_void_p), ("cbSizeInstance", c_uint32), ("typekind", c_int32),
                ("cFuncs", c_uint16), ("cVars", c_uint16), ("cImplTypes", c_uint16),
                ("cbSizeVft", c_uint16), ("cbAlignment", c_uint16), ("wTypeFlags", c_uint16),
                ("wMajorVerNum", c_uint16), ("wMinorVerNum", c_uint16),
                ("tdescAlias", TYPEDESC), ("idldescType", c_uint64 * 2)]


class FUNCDESC(Structure):
    _fields_ = [("memid", c_int32), ("lprgscode", c_void_p),
                ("lprgelemdescParam", POINTER(ELEMDESC)), ("funckind", c_int32),
                ("invkind", c_int32), ("callconv", c_int32), ("cParams", c_int16),
                ("cParamsOpt", c_int16), ("oVft", c_int16), ("cScodes", c_int16),
                ("elemdescFunc", ELEMDESC), ("wFuncFlags", c_uint16)]


class VARDESC(Structure):
    _fields_ = [("memid", c_int32), ("lpstrSchema", c_void_p),
                ("lpvarValue", POINTER(VARIANT)), ("elemdescVar", ELEMDESC),
                ("wVarFlags", c_uint16), ("varkind", c_int32)]


def _guid(d1, d2, d3, *d4):
    return GUID(d1, d2, d3, (ctypes.c_uint8 * 8)(*d4))


IID_NULL = _guid(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)
IID_IDispatch = _guid(0x00020400, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)

VT_EMPTY, VT_I2, VT_I4, VT_R4, VT_R8, VT_BSTR, VT_ERROR, VT_BOOL = 0, 2, 3, 4, 5, 8, 10, 11
VT_VARIANT, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8 = 12, 16, 17, 18, 19, 20, 21
VT_INT, VT_UINT, VT_HRESULT, VT_PTR, VT_USERDEFINED = 22, 23, 25, 26, 29
VT_DISPATCH, VT_VOID = 9, 24
VT_UNKNOWN, VT_ARRAY, VT_BYREF = 13, 0x2000, 0x4000
VT_SAFEARRAY = 27  # in type descriptions only: an automation array of the inner type


class SAFEARRAYBOUND(Structure):
    _fields_ = [("cElements", c_uint32), ("lLbound", ctypes.c_int32)]


class SAFEARRAY(Structure):
    """The descriptor of an automation array (one dimension read here)."""
    _fields_ = [("cDims", c_uint16), ("fFeatures", c_uint16), ("cbElements", c_uint32),
                ("cLocks", c_uint32), ("pvData", c_void_p), ("rgsabound", SAFEARRAYBOUND * 1)]

DISP_E_PARAMNOTFOUND = -0x7FFDFFFC  # 0x80020004
DISP_E_EXCEPTION = -0x7FFDFFF7  # 0x80020009
RPC_E_WRONG_THREAD = -0x7FFEFEF2  # 0x8001010E
CO_E_NOTINITIALIZED = -0x7FFBFE10  # 0x800401F0
E_FAIL = -0x7FFFBFFB  # 0x80004005

# A posted call's run and release functions: void (*)(void* context).
APARTMENT_FUNCTION = ctypes.CFUNCTYPE(None, c_void_p)
INFINITE = 0xFFFFFFFF

CLSCTX_INPROC_SERVER = 1
DISPATCH_METHOD = 1
LOCALE_USER_DEFAULT = 0x0400
FORMAT_MESSAGE_FROM_SYSTEM = 0x1000
FORMAT_MESSAGE_IGNORE_INSERTS = 0x200

# --- The runtime library --------------------------------------------------------------------

_library = None
_library_lock = threading.Lock()


def _candidates():
    """Where the runtime may be, first match wins: a file named by ORVAN_RUNTIME_LIBRARY;
    the library of the tree this package was installed with (its path relative to the
    package, written at installation); the loader's own search, which finds a system-wide
    installation."""
    named = os.environ.get("ORVAN_RUNTIME_LIBRARY")
    if named:
        return [named]
    found = []
    try:
        from . import _installed_tree
        here = os.path.dirname(os.path.abspath(__file__))
        found.append(os.path.normpath(os.path.join(here, _installed_tree.RUNTIME_LIBRARY)))
    except ImportError:
        pass
    found.append(RUNTIME_SONAME)
    return found


def _declare(lib):
    prototypes = {
        "CoInitializeEx": (HRESULT, [c_void_p, c_uint32]),
        "CoUninitialize": (None, []),
        "CoCreateInstance": (HRESULT, [POINTER(GUID), c_void_p, c_uint32, POINTER(GUID),
                                       POINTER(c_void_p)]),
        "CLSIDFromString": (HRESULT, [c_void_p, POINTER(GUID)]),
        "CLSIDFromProgID": (HRESULT, [c_void_p, POINTER(GUID)]),
        "SysAllocStringLen": (c_void_p, [c_void_p, c_uint32]),
        "SysFreeString": (None, [c_void_p]),
        "SysStringLen": (c_uint32, [c_void_p]),
        "VariantInit": (None, [POINTER(VARIANT)]),
        "VariantClear": (HRESULT, [POINTER(VARIANT)]),
    }
    # Calls posted to a thread's apartment, in runtimes that have them.
    if hasattr(lib, "OrvanPumpApartment"):
        prototypes.update({
            "OrvanGetCurrentApartment": (HRESULT, [POINTER(c_uint64)]),
            "OrvanPostToApartment": (HRESULT, [c_uint64, APARTMENT_FUNCTION, APARTMENT_FUNCTION,
                                               c_void_p]),
            "OrvanGetApartmentDescriptor": (HRESULT, [POINTER(ctypes.c_int)]),
            "OrvanPumpApartment": (HRESULT, [c_uint32, POINTER(c_uint32)]),
        })
    # Byte arrays, from runtimes that have automation arrays.
    if hasattr(lib, "SafeArrayCreateVector"):
        prototypes.update({
            "OrvanCreateMemoryStream": (c_void_p, [c_void_p, c_uint32]),
            "SafeArrayCreateVector": (c_void_p, [c_uint16, ctypes.c_int32, c_uint32]),
            "SafeArrayDestroy": (HRESULT, [c_void_p]),
            "SafeArrayGetDim": (c_uint32, [c_void_p]),
            "SafeArrayGetVartype": (HRESULT, [c_void_p, POINTER(c_uint16)]),
        })
    # Status texts come from runtimes that have them; older ones give the value alone.
    if hasattr(lib, "FormatMessageW"):
        prototypes["FormatMessageW"] = (c_uint32, [c_uint32, c_void_p, c_uint32, c_uint32,
                                                   c_void_p, c_uint32, c_void_p])
    for name, (restype, argtypes) in prototypes.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes


def runtime():
    """The runtime library, loaded on first use."""
    global _library
    with _library_lock:
        if _library is None:
            errors = []
            for candidate in _candidates():
                try:
                    lib = ctypes.CDLL(candidate)
                except OSError as error:
                    errors.append(str(error))
                    continue
                _declare(lib)
                _library = lib
                break
            else:
                raise OSError("the Orvan component runtime cannot be loaded: " +
                              "; ".join(errors))
        return _library


# c_wchar is UTF-32 on Linux, so strings cross as UTF-16 bytes. NUL-terminated arguments
# such as class names go through this.
def utf16z(text):
    return ctypes.create_string_buffer((text + "\0").encode("utf-16-le", "surrogatepass"))


def alloc_bstr(text):
    data = text.encode("utf-16-le", "surrogatepass")
    bstr = runtime().SysAllocStringLen(data, len(data) // 2)
    if not bstr:
        raise MemoryError("no memory for an automation string")
    return bstr


def read_bstr(bstr):
    """The text of an automation string; None reads as ""."""
    if not bstr:
        return ""
    units = runtime().SysStringLen(bstr)
    return ctypes.string_at(bstr, units * 2).decode("utf-16-le", "surrogatepass")


def take_bstr(bstr):
    """Reads an automation string the caller owns, then frees it."""
    try:
        return read_bstr(bstr)
    finally:
        if bstr:
            runtime().SysFreeString(bstr)


def status_text(status):
    """The runtime's text for a status value, or "" when it has none."""
    if not hasattr(runtime(), "FormatMessageW"):
        return ""
    buffer = ctypes.create_string_buffer(1024)
    units = runtime().FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     None, status & 0xFFFFFFFF, 0, buffer, 512, None)
    return buffer.raw[:units * 2].decode("utf-16-le", "replace")


# --- Calls through function tables ----------------------------------------------------------

_prototypes = {}


def call(interface, entry, restype, argtypes, *args):
    """Calls entry `entry` of the function table of `interface` (a pointer value)."""
    key = (restype, tuple(argtypes))
    prototype = _prototypes.get(key)
    if prototype is None:
        prototype = _prototypes[key] = ctypes.CFUNCTYPE(restype, c_void_p, *argtypes)
    table = ctypes.cast(interface, POINTER(POINTER(c_void_p))).contents
    return prototype(table[entry])(interface, *args)


def function_at(interface, entry, prototype):
    """Entry `entry` of the function table of `interface`, callable as `prototype`."""
    table = ctypes.cast(interface, POINTER(POINTER(c_void_p))).contents
    return prototype(table[entry])


def add_ref(interface):
    return call(interface, 1, c_uint32, [])


def release(interface):
    return call(interface, 2, c_uint32, [])


def query_interface(interface, iid):
    out = c_void_p()
    status = call(interface, 0, HRESULT, [POINTER(GUID), POINTER(c_void_p)], byref(iid),
                  byref(out))
    return status, out.value


def byte_array(data):
    """A new automation array (VT_UI1, lower bound 0) holding the bytes of `data`, a bytes-like
    object; the caller frees it (through the VARIANT that holds it)."""
    view = memoryview(data)
    if not view.contiguous or view.itemsize != 1:
        view = memoryview(view.tobytes())
    lib = runtime()
    if not hasattr(lib, "SafeArrayCreateVector"):
        raise TypeError("this component runtime has no automation arrays")
    array = lib.SafeArrayCreateVector(VT_UI1, 0, view.nbytes)
    if not array:
        raise MemoryError("no automation array of %d bytes" % view.nbytes)
    if view.nbytes:
        descriptor = ctypes.cast(array, POINTER(SAFEARRAY)).contents
        # One copy, straight from the caller's buffer: a read-only view other than bytes
        # itself has no address ctypes can take, so only that one goes through a bytes copy.
        if isinstance(data, bytes):
            source = data
        elif view.readonly:
            source = view.tobytes()
        else:
            source = (ctypes.c_char * view.nbytes).from_buffer(view)
        ctypes.memmove(descriptor.pvData, source, view.nbytes)
    return array


def read_byte_array(array):
    """The bytes of a one-dimensional VT_UI1 automation array (b"" for none)."""
    if not array:
        return b""
    descriptor = ctypes.cast(array, POINTER(SAFEARRAY)).contents
    element = c_uint16()
    if (runtime().SafeArrayGetDim(array) != 1 or
            runtime().SafeArrayGetVartype(array, byref(element)) < 0 or element.value != VT_UI1):
        raise TypeError("only one-dimensional byte arrays have a Python equivalent")
    return ctypes.string_at(descriptor.pvData, descriptor.rgsabound[0].cElements)
