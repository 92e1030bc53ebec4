"""Objects called by name: methods, parameters and enumerations come from the object's type
information, arguments are mapped to parameter positions here and cross through the dual
interface's function table (_table.py) or, for what it cannot carry, as variants through
IDispatch::Invoke."""

import ctypes
import inspect
import threading
import uuid

from ctypes import POINTER, byref, c_int32, c_uint16, c_uint32, c_void_p

from . import _apartment
from . import _native as n
from . import _stream
from . import _table
from . import _typeinfo
from ._errors import OrvanError

_GET_TYPE_INFO, _INVOKE = 4, 6
# A released object, or one whose apartment has ended.
E_OBJECT_NOT_SET = 0x800A005B
# The runtime reports these with the index of the argument concerned.
_ARGUMENT_STATUSES = {0x80020005, 0x8002000A, 0x80020004}  # type mismatch, overflow, not found

_MISSING = _table.MISSING


def _set_variant(variant, value):
    """Stores a Python value in a VARIANT; a string, a byte array (from bytes, bytearray or
    memoryview, copied) or a stream (from a binary file object) must be cleared."""
    if isinstance(value, bool):
        variant.vt, variant.boolVal = n.VT_BOOL, -1 if value else 0
    elif isinstance(value, int):
        value = int(value)  # an IntEnum member too
        if -2**31 <= value < 2**31:
            variant.vt, variant.lVal = n.VT_I4, value
        elif -2**63 <= value < 2**63:
            variant.vt, variant.llVal = n.VT_I8, value
        else:
            raise OverflowError("%d does not fit in 64 bits" % value)
    elif isinstance(value, float):
        variant.vt, variant.dblVal = n.VT_R8, value
    elif isinstance(value, str):
        variant.pointer = n.alloc_bstr(value)
        variant.vt = n.VT_BSTR
    elif isinstance(value, DispatchObject) and value._pointer is not None:
        # Lent for the call: the caller's reference keeps the object.
        variant.vt, variant.pointer = n.VT_DISPATCH, value._pointer
    elif isinstance(value, (bytes, bytearray, memoryview)):
        variant.pointer = n.byte_array(value)
        variant.vt = n.VT_ARRAY | n.VT_UI1
    elif _stream.is_file_object(value):
        variant.pointer = _stream.FileStream(value).new_reference()
        variant.vt = n.VT_UNKNOWN
    else:
        raise TypeError("%s values cannot be passed (int, float, str, bool, bytes, a binary "
                        "file or an orvan object)" % type(value).__name__)


def _omitted(variant):
    variant.vt, variant.scode = n.VT_ERROR, n.DISP_E_PARAMNOTFOUND


def _class_id(name):
    if isinstance(name, uuid.UUID):
        name = "{%s}" % name
    if not isinstance(name, str):
        raise TypeError("a class is named by a ProgID, a class id string or a uuid.UUID")
    clsid = n.GUID()
    text = name.strip()
    function = "CLSIDFromString" if text.startswith("{") else "CLSIDFromProgID"
    status = getattr(n.runtime(), function)(n.utf16z(text), byref(clsid))
    if status < 0:
        raise OrvanError(status, where="%s(%r)" % (function, name))
    return clsid


def Dispatch(name):
    """Creates the object of the class named by a ProgID ("OrvanMusicEngine.OrvanMusic") or
    class id ("{2157ED08-...}") and returns it ready to be called by name."""
    state = _apartment.current()
    clsid = _class_id(name)
    pointer = c_void_p()
    status = n.runtime().CoCreateInstance(byref(clsid), None, n.CLSCTX_INPROC_SERVER,
                                          byref(n.IID_IDispatch), byref(pointer))
    if status < 0:
        raise OrvanError(status, where="CoCreateInstance(%r)" % (name,))
    try:
        info = c_void_p()
        status = n.call(pointer.value, _GET_TYPE_INFO, n.HRESULT,
                        [c_uint32, c_uint32, POINTER(c_void_p)], 0, n.LOCALE_USER_DEFAULT,
                        byref(info))
        if status < 0:
            raise OrvanError(status, where="GetTypeInfo")
        description = _typeinfo.describe(info.value)
    except _typeinfo.TypeInfoError as error:
        n.release(pointer.value)
        raise OrvanError(error.status, where=error.step) from None
    except BaseException:
        n.release(pointer.value)
        raise
    return DispatchObject(pointer.value, description, state)


class _Target:
    """What a call needs of its object: the interface pointer (None once released), the
    apartment it belongs to and the function-table entries made callable so far. Bound
    methods hold this rather than the object, so an object can keep them without a cycle;
    the reference goes when the last of them does."""

    __slots__ = ("pointer", "held", "apartment", "thread", "functions", "__weakref__")

    def __init__(self, pointer, apartment):
        # The reference is taken out of `held` by one pop, which no other thread can
        # interleave with: whichever of a drop on another thread, a close and the
        # apartment's end comes first releases it, and the others find nothing. `pointer`
        # is what calls read, None once the reference is taken.
        self.pointer, self.held = pointer, [pointer]
        self.apartment, self.functions = apartment, {}
        self.thread = apartment.thread
        apartment.objects.add(self)

    def take(self):
        """The reference, for the caller alone to release; None once taken."""
        try:
            pointer = self.held.pop()
        except (AttributeError, IndexError):
            return None
        self.pointer = None
        return pointer

    def _close(self):
        pointer = self.take()
        if pointer is not None:
            n.release(pointer)

    def __del__(self):
        apartment = getattr(self, "apartment", None)
        if apartment is None:
            return
        if threading.get_ident() == self.thread:
            self._close()
            return
        # Released on its own thread, at its next use of the package or at its apartment's
        # end. Taken under the apartment's lock so that the apartment's last look at its
        # pending references cannot slip between the take and the hand-over.
        with apartment.lock:
            pointer = self.take()
            if pointer is not None:
                apartment.pending.append(pointer)

    def function(self, table):
        function = self.functions[table.entry] = n.function_at(self.pointer, table.entry,
                                                               table.prototype)
        return function

    def check(self, method):
        if threading.get_ident() != self.apartment.thread:
            raise OrvanError(n.RPC_E_WRONG_THREAD, where=method.name)
        if self.pointer is None:
            raise OrvanError(E_OBJECT_NOT_SET, where=method.name)
        if self.apartment.pending:
            self.apartment.release_pending()

    def invoke(self, method, args, kwargs):
        """The call through IDispatch::Invoke."""
        self.check(method)
        values = _bind(method, args, kwargs)
        count = len(values)
        variants = (n.VARIANT * max(count, 1))()
        try:
            # DISPPARAMS takes the arguments last first.
            for position, value in enumerate(values):
                slot = variants[count - 1 - position]
                if value is _MISSING:
                    _omitted(slot)
                else:
                    try:
                        _set_variant(slot, value)
                    except (TypeError, OverflowError) as error:
                        raise type(error)("%s(): argument %r: %s" % (
                            method.name, method.params[position].name, error)) from None
            params = n.DISPPARAMS(variants, None, count, 0)
            result = n.VARIANT()
            excepinfo = n.EXCEPINFO()
            arg_err = c_uint32(0xFFFFFFFF)
            status = n.call(self.pointer, _INVOKE, n.HRESULT,
                            [c_int32, POINTER(n.GUID), c_uint32, c_uint16,
                             POINTER(n.DISPPARAMS), POINTER(n.VARIANT), POINTER(n.EXCEPINFO),
                             POINTER(c_uint32)], method.dispid, byref(n.IID_NULL),
                            n.LOCALE_USER_DEFAULT, n.DISPATCH_METHOD, byref(params),
                            byref(result), byref(excepinfo), byref(arg_err))
        finally:
            for i in range(count):
                if variants[i].vt in (n.VT_BSTR, n.VT_ARRAY | n.VT_UI1, n.VT_UNKNOWN):
                    n.runtime().VariantClear(byref(variants[i]))
        if status < 0:
            raise _failure(method, status, excepinfo, arg_err.value, count)
        try:
            value = _typeinfo.to_python(result)
        finally:
            n.runtime().VariantClear(byref(result))
        return _typed(method, value)




class DispatchObject:
    """A component object called by name. Its methods, their parameters and the type
    library's enumerations are attributes; `dir()` lists them. Use it on the thread that
    created it; `with` releases it at the end of the block."""

    def __init__(self, pointer, description, apartment):
        # The apartment tracks the target, which bound methods may keep after the object.
        self._target = _Target(pointer, apartment)
        self._description = description
        self._apartment = apartment

    @property
    def _pointer(self):
        return self._target.pointer

    def __getattr__(self, name):
        if name.startswith("__") or name == "_target":
            raise AttributeError(name)
        found = self._description.lookup(name)
        if found is None:
            raise AttributeError("%s has no member %r" % (self._description.name, name))
        if isinstance(found, _typeinfo.Method):
            # Kept on the object: the next use of the name finds it without a lookup.
            bound = self.__dict__[name] = BoundMethod(self._target, found)
            return bound
        return found

    def __dir__(self):
        d = self._description
        visible = [name for name, m in d.methods.items() if not m.hidden]
        return sorted(set(object.__dir__(self)) | set(visible) | set(d.enums))

    def __repr__(self):
        state = "released" if self._pointer is None else "0x%x" % self._pointer
        return "<orvan.DispatchObject %s at %s>" % (self._description.name, state)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._close()
        return False

    def _close(self):
        self._target._close()


def _typed(method, value):
    """A result as the method's enumeration says, when it names one."""
    if method.result_enum is not None and value is not None:
        try:
            return method.result_enum(value)
        except ValueError:
            return value
    return value


def _failure(method, status, excepinfo, arg_err, count):
    if status & 0xFFFFFFFF == n.DISP_E_EXCEPTION & 0xFFFFFFFF:
        source = n.take_bstr(excepinfo.bstrSource)
        text = n.take_bstr(excepinfo.bstrDescription)
        n.take_bstr(excepinfo.bstrHelpFile)
        code = excepinfo.scode or excepinfo.wCode or status
        return OrvanError(code, text or None, where=method.name, source=source)
    argument = None
    if status & 0xFFFFFFFF in _ARGUMENT_STATUSES and arg_err < count:
        argument = method.params[count - 1 - arg_err].name
    return OrvanError(status, where=method.name, argument=argument)


def _bind(method, args, kwargs, pad=False):
    """The arguments in parameter order: positional ones first, then each keyword at its
    parameter's place; _MISSING marks an optional parameter left out before a given one and,
    with `pad`, those left out at the end too."""
    params = method.params
    if len(args) > len(params):
        raise TypeError("%s() takes at most %d argument%s (%d given)" % (
            method.name, len(params), "" if len(params) == 1 else "s", len(args)))
    values = list(args)
    if len(values) < len(params):
        values += [_MISSING] * (len(params) - len(values))
    for key, value in kwargs.items():
        index = method.index_of(key)
        if index is None:
            raise TypeError("%s() has no parameter %r" % (method.name, key))
        if values[index] is not _MISSING:
            raise TypeError("%s() got more than one value for %r" % (method.name,
                                                                     params[index].name))
        values[index] = value
    for index in method.required:
        if values[index] is _MISSING:
            missing = [params[i].name for i in method.required if values[i] is _MISSING]
            raise TypeError("%s() is missing %s" % (method.name, ", ".join(map(repr, missing))))
    while values and values[-1] is _MISSING and not pad:
        values.pop()
    return values


_TYPE_NAMES = {n.VT_I4: int, n.VT_I2: int, n.VT_R4: float, n.VT_R8: float, n.VT_BSTR: str,
               n.VT_BOOL: bool, n.VT_DISPATCH: DispatchObject, n.VT_SAFEARRAY: bytes}


def _signature(method):
    params = []
    for p in method.params:
        default = inspect.Parameter.empty
        if p.optional:
            default = None if p.default is _typeinfo.NO_DEFAULT else p.default
        annotation = p.enum or _TYPE_NAMES.get(p.vt, inspect.Parameter.empty)
        params.append(inspect.Parameter(p.name, inspect.Parameter.POSITIONAL_OR_KEYWORD,
                                        default=default, annotation=annotation))
    returns = method.result_enum or _TYPE_NAMES.get(method.result_vt, None)
    return inspect.Signature(params, return_annotation=returns)


class BoundMethod:
    """One method of one object: call it with positional or keyword arguments."""

    __slots__ = ("_target", "_method")

    def __init__(self, target, method):
        self._target, self._method = target, method

    def __call__(self, *args, **kwargs):
        target, method = self._target, self._method
        table = method.table
        if table is not None:
            if (threading.get_ident() != target.thread or target.pointer is None or
                    target.apartment.pending):
                target.check(method)
            # Every argument given by position: the binder has nothing to do.
            values = args if not kwargs and len(args) == len(method.params) else \
                _bind(method, args, kwargs, pad=True)
            function = target.functions.get(table.entry) or target.function(table)
            answer = table.call(function, target.pointer, values)
            if answer is not _table.FALLBACK:
                if answer[0] < 0:
                    raise OrvanError(answer[0], where=method.name)
                return _typed(method, answer[1])
        return target.invoke(method, args, kwargs)

    @property
    def __name__(self):
        return self._method.name

    @property
    def dispid(self):
        """The member's dispatch identifier."""
        return self._method.dispid

    @property
    def __signature__(self):
        return _signature(self._method)

    @property
    def __doc__(self):
        text = "%s%s" % (self._method.name, _signature(self._method))
        return text + ("\n\n" + self._method.doc if self._method.doc else "")

    def __repr__(self):
        return "<method %s%s>" % (self._method.name, _signature(self._method))
