"""Events of a component object delivered to a Python handler, as the established automation
packages do it:

    class Lights:
        def OnBeat(self, bar, beat, frame):
            ...
    events = orvan.WithEvents(music, Lights())
    ...
    orvan.pump(0.1)          # or orvan.watch(loop): the handler is called in here
    events.close()           # unadvises; so does the end of a `with` block

The class's default source interface, its events' names and their parameters are read from
the object's type information (IProvideClassInfo2), so no event needs code of its own. The
handler's On<Event> methods are called with the event's arguments in order; an event the
handler has no method for is ignored. A method that raises is reported once by the runtime
(on standard error) and does not stop the other sinks."""

import ctypes
import threading
import traceback

from ctypes import POINTER, Structure, byref, c_int32, c_uint16, c_uint32, c_void_p

from . import _apartment
from . import _native as n
from . import _typeinfo
from ._errors import OrvanError

IID_IUnknown = n._guid(0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)
IID_IProvideClassInfo2 = n._guid(0xA6BC3AC0, 0xDBAA, 0x11CE, 0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B,
                                 0xB8, 0x51)
IID_IConnectionPointContainer = n._guid(0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA,
                                        0x00, 0x34, 0x1D, 0x07)
GUIDKIND_DEFAULT_SOURCE_DISPIID = 1
E_NOINTERFACE, E_NOTIMPL = -2147467262, -2147467263
DISP_E_MEMBERNOTFOUND, DISP_E_EXCEPTION = -2147352573, -2147352567

# Entries of the interfaces used here.
_GET_CLASS_INFO, _GET_GUID = 3, 4                  # IProvideClassInfo2
_FIND_CONNECTION_POINT = 4                         # IConnectionPointContainer
_ADVISE, _UNADVISE = 5, 6                          # IConnectionPoint
_GET_CONTAINING_TYPE_LIB, _LIB_GET_TYPE_INFO_OF_GUID = 18, 6

_QueryInterface = ctypes.CFUNCTYPE(n.HRESULT, c_void_p, POINTER(n.GUID), POINTER(c_void_p))
_Count = ctypes.CFUNCTYPE(c_uint32, c_void_p)
_GetTypeInfoCount = ctypes.CFUNCTYPE(n.HRESULT, c_void_p, POINTER(c_uint32))
_GetTypeInfo = ctypes.CFUNCTYPE(n.HRESULT, c_void_p, c_uint32, c_uint32, POINTER(c_void_p))
_GetIDsOfNames = ctypes.CFUNCTYPE(n.HRESULT, c_void_p, POINTER(n.GUID), c_void_p, c_uint32,
                                  c_uint32, POINTER(c_int32))
_Invoke = ctypes.CFUNCTYPE(n.HRESULT, c_void_p, c_int32, POINTER(n.GUID), c_uint32, c_uint16,
                           POINTER(n.DISPPARAMS), c_void_p, POINTER(n.EXCEPINFO),
                           POINTER(c_uint32))


class _Vtbl(Structure):
    _fields_ = [("QueryInterface", _QueryInterface), ("AddRef", _Count), ("Release", _Count),
                ("GetTypeInfoCount", _GetTypeInfoCount), ("GetTypeInfo", _GetTypeInfo),
                ("GetIDsOfNames", _GetIDsOfNames), ("Invoke", _Invoke)]


class _Object(Structure):
    _fields_ = [("lpVtbl", POINTER(_Vtbl))]


# Sinks some object still holds: kept alive until their last reference goes, even when the
# Python side has let go of them.
_held = set()
_held_lock = threading.Lock()


def _same(a, b):
    return bytes(a) == bytes(b)


class _Sink:
    """An IDispatch written in Python whose Invoke calls the handler's On<Event> methods."""

    def __init__(self, source_iid, events, handler):
        self.source_iid, self.handler = source_iid, handler
        self.by_dispid = {method.dispid: method for method in events.methods.values()}
        self.refs = 0
        self.vtbl = _Vtbl(_QueryInterface(self._query), _Count(self._add_ref),
                          _Count(self._release), _GetTypeInfoCount(self._no_type_info_count),
                          _GetTypeInfo(self._no_type_info), _GetIDsOfNames(self._no_names),
                          _Invoke(self._invoke))
        self.object = _Object(ctypes.pointer(self.vtbl))

    @property
    def pointer(self):
        return ctypes.addressof(self.object)

    def _query(self, this, riid, out):
        iid = riid.contents
        if _same(iid, IID_IUnknown) or _same(iid, n.IID_IDispatch) or _same(iid, self.source_iid):
            out[0] = this
            self._add_ref(this)
            return 0
        out[0] = None
        return E_NOINTERFACE

    def _add_ref(self, this):
        with _held_lock:
            self.refs += 1
            _held.add(self)
            return self.refs

    def _release(self, this):
        with _held_lock:
            self.refs -= 1
            if self.refs == 0:
                _held.discard(self)
            return self.refs

    def _no_type_info_count(self, this, count):
        count[0] = 0
        return 0

    def _no_type_info(self, this, index, lcid, out):
        return E_NOTIMPL

    def _no_names(self, this, riid, names, count, lcid, ids):
        return E_NOTIMPL

    def _invoke(self, this, dispid, riid, lcid, flags, params, result, excepinfo, arg_err):
        method = self.by_dispid.get(dispid)
        if method is None:
            return DISP_E_MEMBERNOTFOUND
        target = getattr(self.handler, "On" + method.name, None)
        if target is None:
            return 0
        try:
            p = params.contents
            # DISPPARAMS holds the arguments last first.
            args = [_typeinfo.to_python(p.rgvarg[p.cArgs - 1 - i]) for i in range(p.cArgs)]
            target(*args)
        except BaseException as error:  # a handler's failure must not cross into C
            if excepinfo:
                info = excepinfo.contents
                info.scode = DISP_E_EXCEPTION
                info.bstrDescription = n.alloc_bstr(
                    "On%s: %s" % (method.name, "".join(
                        traceback.format_exception_only(type(error), error)).strip()))
            return DISP_E_EXCEPTION
        return 0


def _source_of(pointer):
    """(identity, description) of the default source of the object at `pointer`."""
    status, provider = n.query_interface(pointer, IID_IProvideClassInfo2)
    if status < 0:
        raise OrvanError(status, where="QueryInterface(IProvideClassInfo2)")
    try:
        iid = n.GUID()
        status = n.call(provider, _GET_GUID, n.HRESULT, [c_uint32, POINTER(n.GUID)],
                        GUIDKIND_DEFAULT_SOURCE_DISPIID, byref(iid))
        if status < 0:
            raise OrvanError(status, where="GetGUID")
        cls = c_void_p()
        status = n.call(provider, _GET_CLASS_INFO, n.HRESULT, [POINTER(c_void_p)], byref(cls))
        if status < 0:
            raise OrvanError(status, where="GetClassInfo")
    finally:
        n.release(provider)
    lib, index = c_void_p(), c_uint32()
    status = n.call(cls.value, _GET_CONTAINING_TYPE_LIB, n.HRESULT,
                    [POINTER(c_void_p), POINTER(c_uint32)], byref(lib), byref(index))
    n.release(cls.value)
    if status < 0:
        raise OrvanError(status, where="GetContainingTypeLib")
    info = c_void_p()
    status = n.call(lib.value, _LIB_GET_TYPE_INFO_OF_GUID, n.HRESULT,
                    [POINTER(n.GUID), POINTER(c_void_p)], byref(iid), byref(info))
    n.release(lib.value)
    if status < 0:
        raise OrvanError(status, where="GetTypeInfoOfGuid")
    try:
        return iid, _typeinfo.describe(info.value)
    except _typeinfo.TypeInfoError as error:
        raise OrvanError(error.status, where=error.step) from None


class WithEvents:
    """Advises `handler` to the default source of `obj` (an object from orvan.Dispatch) until
    close() or the end of a `with` block. Its On<Event> methods are called on this thread,
    inside orvan.pump() or a watching asyncio loop. `names` lists the source's events."""

    def __init__(self, obj, handler):
        pointer = obj._pointer
        if pointer is None:
            raise OrvanError(0x800A005B, where="WithEvents")
        _apartment.current()
        iid, events = _source_of(pointer)
        self.names = sorted(events.methods)
        status, container = n.query_interface(pointer, IID_IConnectionPointContainer)
        if status < 0:
            raise OrvanError(status, where="QueryInterface(IConnectionPointContainer)")
        point = c_void_p()
        status = n.call(container, _FIND_CONNECTION_POINT, n.HRESULT,
                        [POINTER(n.GUID), POINTER(c_void_p)], byref(iid), byref(point))
        n.release(container)
        if status < 0:
            raise OrvanError(status, where="FindConnectionPoint")
        self._sink = _Sink(iid, events, handler)
        cookie = c_uint32()
        self._sink._add_ref(None)  # ours, for as long as this object is advised
        status = n.call(point.value, _ADVISE, n.HRESULT, [c_void_p, POINTER(c_uint32)],
                        self._sink.pointer, byref(cookie))
        if status < 0:
            self._sink._release(None)
            n.release(point.value)
            raise OrvanError(status, where="Advise")
        self._point, self._cookie = point.value, cookie.value

    def close(self):
        """Stops the events (events already on their way are not delivered either)."""
        point, self._point = self._point, None
        if point is None:
            return
        try:
            status = n.call(point, _UNADVISE, n.HRESULT, [c_uint32], self._cookie)
        finally:
            n.release(point)
            self._sink._release(None)
        if status < 0:
            raise OrvanError(status, where="Unadvise")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
