"""What an object's type information says about it: its methods with their parameters, and
the enumerations of its type library. Read once per interface and kept as plain data.

An interface derived from another (as _OrvanMusic2 from _OrvanMusic) describes only its own
members; those of its bases in the same library are read through its first implemented type.
Each method also gets, when its parameters allow, the form of a direct call through the dual
interface's function table (_table.py), which costs far less than IDispatch::Invoke."""

import ctypes
import enum
import threading

from ctypes import POINTER, byref, c_int32, c_uint16, c_uint32, c_void_p

from . import _native as n
from . import _table

TKIND_ENUM, TKIND_ALIAS = 0, 6
INVOKE_FUNC = 1
FUNCFLAG_FRESTRICTED, FUNCFLAG_FHIDDEN = 0x1, 0x40
PARAMFLAG_FRETVAL, PARAMFLAG_FOPT, PARAMFLAG_FHASDEFAULT = 0x08, 0x10, 0x20
MEMBERID_NIL = -1
VAR_CONST = 2

# Entries of ITypeInfo and ITypeLib.
_GET_TYPE_ATTR, _GET_FUNC_DESC, _GET_VAR_DESC, _GET_NAMES = 3, 5, 6, 7
_GET_REF_TYPE_OF_IMPL_TYPE = 8
_GET_DOCUMENTATION, _GET_REF_TYPE_INFO, _GET_CONTAINING_TYPE_LIB = 12, 14, 18
_RELEASE_TYPE_ATTR, _RELEASE_FUNC_DESC, _RELEASE_VAR_DESC = 19, 20, 21
_LIB_GET_TYPE_INFO_COUNT, _LIB_GET_TYPE_INFO, _LIB_GET_TYPE_INFO_TYPE = 3, 4, 5
_LIB_GET_LIB_ATTR, _LIB_GET_DOCUMENTATION, _LIB_RELEASE_TLIB_ATTR = 7, 9, 12


class TypeInfoError(Exception):
    """Type information that could not be read: the failing step and its status."""

    def __init__(self, step, status):
        super().__init__(step, status)
        self.step, self.status = step, status


def _check(step, status):
    if status < 0:
        raise TypeInfoError(step, status)


def _interface_call(step, interface, entry, argtypes, *args):
    _check(step, n.call(interface, entry, n.HRESULT, argtypes, *args))


class Parameter:
    __slots__ = ("name", "vt", "by_ref", "optional", "default", "enum")

    def __init__(self, name, vt, by_ref, optional, default, enum_type):
        self.name, self.vt, self.by_ref = name, vt, by_ref
        self.optional, self.default, self.enum = optional, default, enum_type


NO_DEFAULT = _table.NO_DEFAULT


class Method:
    __slots__ = ("name", "dispid", "params", "result_vt", "result_enum", "doc", "hidden",
                 "entry", "table", "required", "_by_name")

    def __init__(self, name, dispid, params, result_vt, result_enum, doc, hidden, entry=None):
        self.name, self.dispid, self.params = name, dispid, params
        self.result_vt, self.result_enum, self.doc, self.hidden = (result_vt, result_enum, doc,
                                                                   hidden)
        self.required = tuple(i for i, p in enumerate(params) if not p.optional)
        # The function-table entry, and the direct call through it (None: Invoke only).
        self.entry = entry
        self.table = _table.TableCall.for_method(self) if entry is not None else None
        # Automation names are case-insensitive; an exact match is tried first.
        self._by_name = {p.name: i for i, p in enumerate(params)}
        for i, p in enumerate(params):
            self._by_name.setdefault(p.name.casefold(), i)

    def index_of(self, name):
        index = self._by_name.get(name)
        return index if index is not None else self._by_name.get(name.casefold())


class Description:
    """The methods (by name) and enumerations (by name) of one interface."""

    def __init__(self, name, methods, enums):
        self.name, self.methods, self.enums = name, methods, enums
        self._folded = {}
        for table in (methods, enums):
            for key, value in table.items():
                self._folded.setdefault(key.casefold(), value)

    def lookup(self, name):
        found = self.methods.get(name) or self.enums.get(name)
        return found if found is not None else self._folded.get(name.casefold())


class _TypeInfo:
    """One ITypeInfo reference, released when done."""

    def __init__(self, pointer):
        self.p = pointer

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        n.release(self.p)

    def attr(self):
        out = c_void_p()
        _interface_call("GetTypeAttr", self.p, _GET_TYPE_ATTR, [POINTER(c_void_p)], byref(out))
        try:
            return n.TYPEATTR.from_buffer_copy(ctypes.string_at(out.value,
                                                                ctypes.sizeof(n.TYPEATTR)))
        finally:
            n.call(self.p, _RELEASE_TYPE_ATTR, None, [c_void_p], out)

    def names(self, memid, most):
        names = (c_void_p * most)()
        count = c_uint32()
        _interface_call("GetNames", self.p, _GET_NAMES,
                        [c_int32, POINTER(c_void_p), c_uint32, POINTER(c_uint32)], memid, names,
                        most, byref(count))
        return [n.take_bstr(names[i]) for i in range(count.value)]

    def documentation(self, memid):
        name, doc = c_void_p(), c_void_p()
        _interface_call("GetDocumentation", self.p, _GET_DOCUMENTATION,
                        [c_int32, POINTER(c_void_p), POINTER(c_void_p), c_void_p, c_void_p],
                        memid, byref(name), byref(doc), None, None)
        return n.take_bstr(name.value), n.take_bstr(doc.value)

    def base(self):
        """The interface this one derives from, or None."""
        if self.attr().cImplTypes == 0:
            return None
        ref = c_uint32()
        _interface_call("GetRefTypeOfImplType", self.p, _GET_REF_TYPE_OF_IMPL_TYPE,
                        [c_uint32, POINTER(c_uint32)], 0, byref(ref))
        return self.referenced(ref.value)

    def referenced(self, hreftype):
        out = c_void_p()
        _interface_call("GetRefTypeInfo", self.p, _GET_REF_TYPE_INFO,
                        [c_uint32, POINTER(c_void_p)], hreftype, byref(out))
        return _TypeInfo(out.value)


def to_python(variant):
    """The Python value of a VARIANT: int, float, bool, str, bytes or None."""
    vt = variant.vt
    if vt in (n.VT_EMPTY, 1):  # VT_NULL reads as None as well
        return None
    if vt == n.VT_ARRAY | n.VT_UI1:
        return n.read_byte_array(variant.pointer)
    if vt == n.VT_BOOL:
        return variant.boolVal != 0
    if vt == n.VT_BSTR:
        return n.read_bstr(variant.pointer)
    readers = {n.VT_I4: "lVal", n.VT_INT: "lVal", n.VT_ERROR: "scode", n.VT_I2: "iVal",
               n.VT_I1: "cVal", n.VT_UI1: "bVal", n.VT_UI2: "uiVal", n.VT_UI4: "ulVal",
               n.VT_UINT: "ulVal", n.VT_I8: "llVal", n.VT_UI8: "ullVal", n.VT_R4: "fltVal",
               n.VT_R8: "dblVal"}
    field = readers.get(vt)
    if field is None:
        raise TypeError("a value of variant type %d has no Python equivalent" % vt)
    return getattr(variant, field)


def _read_enum(info, name):
    members = []
    for index in range(info.attr().cVars):
        out = c_void_p()
        _interface_call("GetVarDesc", info.p, _GET_VAR_DESC, [c_uint32, POINTER(c_void_p)],
                        index, byref(out))
        try:
            desc = ctypes.cast(out, POINTER(n.VARDESC)).contents
            if desc.varkind == VAR_CONST and desc.lpvarValue:
                member = info.names(desc.memid, 1)[0]
                members.append((member, to_python(desc.lpvarValue.contents)))
        finally:
            n.call(info.p, _RELEASE_VAR_DESC, None, [c_void_p], out)
    return enum.IntEnum(name, members)


def _library_enums(info):
    """Every enumeration of the type library that holds `info`, by name."""
    lib, index = c_void_p(), c_uint32()
    _interface_call("GetContainingTypeLib", info.p, _GET_CONTAINING_TYPE_LIB,
                    [POINTER(c_void_p), POINTER(c_uint32)], byref(lib), byref(index))
    enums = {}
    try:
        count = n.call(lib, _LIB_GET_TYPE_INFO_COUNT, c_uint32, [])
        for i in range(count):
            kind = c_int32()
            _interface_call("GetTypeInfoType", lib, _LIB_GET_TYPE_INFO_TYPE,
                            [c_uint32, POINTER(c_int32)], i, byref(kind))
            if kind.value != TKIND_ENUM:
                continue
            out = c_void_p()
            _interface_call("GetTypeInfo", lib, _LIB_GET_TYPE_INFO,
                            [c_uint32, POINTER(c_void_p)], i, byref(out))
            with _TypeInfo(out.value) as member_info:
                name = member_info.documentation(MEMBERID_NIL)[0]
                enums[name] = _read_enum(member_info, name)
    finally:
        n.release(lib)
    return enums


def _shape(info, tdesc, enums):
    """(base variant type, by reference, enumeration or None) of a parameter's type."""
    by_ref = tdesc.vt == n.VT_PTR
    if by_ref:
        tdesc = tdesc.pointed_to
    if tdesc.vt != n.VT_USERDEFINED:
        return tdesc.vt, by_ref, None
    with info.referenced(tdesc.hreftype) as target:
        attr = target.attr()
        if attr.typekind == TKIND_ENUM:
            name = target.documentation(MEMBERID_NIL)[0]
            if name not in enums:
                enums[name] = _read_enum(target, name)
            return n.VT_I4, by_ref, enums[name]
        if attr.typekind == TKIND_ALIAS:
            return _shape(target, attr.tdescAlias, enums)[0], by_ref, None
    return n.VT_USERDEFINED, by_ref, None


def _read_method(info, desc, enums, dual):
    names = info.names(desc.memid, desc.cParams + 1)
    params, result_vt, result_enum = [], None, None
    for i in range(desc.cParams):
        elem = desc.lprgelemdescParam[i]
        flags = elem.paramdesc.wParamFlags
        vt, by_ref, enum_type = _shape(info, elem.tdesc, enums)
        if flags & PARAMFLAG_FRETVAL:
            result_vt, result_enum = vt, enum_type
            continue
        default = NO_DEFAULT
        if flags & PARAMFLAG_FHASDEFAULT and elem.paramdesc.pparamdescex:
            default = to_python(elem.paramdesc.pparamdescex.contents.varDefaultValue)
        name = names[i + 1] if i + 1 < len(names) else "arg%d" % i
        optional = bool(flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT))
        params.append(Parameter(name, vt, by_ref, optional, default, enum_type))
    if result_vt is None and desc.elemdescFunc.tdesc.vt not in (n.VT_HRESULT, 24):  # VT_VOID
        result_vt, _, result_enum = _shape(info, desc.elemdescFunc.tdesc, enums)
    doc = info.documentation(desc.memid)[1]
    # Only a dual interface's members are in a table that a client may call directly.
    entry = desc.oVft // ctypes.sizeof(c_void_p) if dual and desc.funckind == FUNC_PUREVIRTUAL else None
    return Method(names[0], desc.memid, params, result_vt, result_enum, doc,
                  bool(desc.wFuncFlags & FUNCFLAG_FHIDDEN), entry)


TYPEFLAG_FDUAL = 0x40
FUNC_PUREVIRTUAL = 1


def _read_own(info, attr, enums, methods):
    """The methods `info` describes itself, added to `methods` unless already there."""
    dual = bool(attr.wTypeFlags & TYPEFLAG_FDUAL)
    for index in range(attr.cFuncs):
        out = c_void_p()
        _interface_call("GetFuncDesc", info.p, _GET_FUNC_DESC, [c_uint32, POINTER(c_void_p)],
                        index, byref(out))
        try:
            desc = ctypes.cast(out, POINTER(n.FUNCDESC)).contents
            # Restricted members (the IUnknown and IDispatch entries, places held in the
            # table) are not for late-bound callers; only methods are offered.
            if desc.wFuncFlags & FUNCFLAG_FRESTRICTED or desc.invkind != INVOKE_FUNC:
                continue
            method = _read_method(info, desc, enums, dual)
            methods.setdefault(method.name, method)
        finally:
            n.call(info.p, _RELEASE_FUNC_DESC, None, [c_void_p], out)


def _read(info, attr):
    enums = _library_enums(info)
    methods = {}
    _read_own(info, attr, enums, methods)
    # The bases of this library, nearest first: IDispatch and IUnknown, in another library,
    # offer nothing but restricted members.
    library = _library_of(info)
    base = info.base()
    hops = 0
    while base is not None and hops < 64:
        with base:
            if _library_of(base) != library:
                break
            _read_own(base, base.attr(), enums, methods)
            following = base.base()
        base = following
        hops += 1
    return Description(info.documentation(MEMBERID_NIL)[0], methods, enums)


def _library_of(info):
    """The identity of the type library holding `info`."""
    lib, index = c_void_p(), c_uint32()
    _interface_call("GetContainingTypeLib", info.p, _GET_CONTAINING_TYPE_LIB,
                    [POINTER(c_void_p), POINTER(c_uint32)], byref(lib), byref(index))
    try:
        attr = c_void_p()
        _interface_call("GetLibAttr", lib, _LIB_GET_LIB_ATTR, [POINTER(c_void_p)], byref(attr))
        try:
            return ctypes.string_at(attr.value, ctypes.sizeof(n.GUID))
        finally:
            n.call(lib, _LIB_RELEASE_TLIB_ATTR, None, [c_void_p], attr)
    finally:
        n.release(lib)


_cache = {}
_cache_lock = threading.Lock()


def describe(info_pointer):
    """The description of the interface `info_pointer` (an ITypeInfo reference, which this
    takes over) describes. Descriptions are kept by interface identity."""
    with _TypeInfo(info_pointer) as info:
        attr = info.attr()
        key = bytes(attr.guid)
        with _cache_lock:
            known = _cache.get(key)
        if known is not None:
            return known
        description = _read(info, attr)
    with _cache_lock:
        return _cache.setdefault(key, description)
