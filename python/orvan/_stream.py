"""A Python binary file object as an IStream: the object a component reads data from when
a client hands it a stream (`open(..., "rb")`, `io.BytesIO`, a member of a zip file).

The stream is a ctypes object with the platform's function table. It holds the file object
(and itself) while a component holds a reference, and may be called on any thread: ctypes
takes the interpreter's lock for each call. Only files that can seek become streams: a
component may need to go back (a decoder reading a header twice), and a file that cannot
seek (a pipe, a socket) is refused with TypeError; read it into bytes first."""

import ctypes
import threading
from ctypes import POINTER, Structure, byref, c_int64, c_uint32, c_uint64, c_void_p

from . import _native as n

S_OK, S_FALSE = 0, 1
E_NOINTERFACE = -0x7FFFBFFE  # 0x80004002
E_NOTIMPL = -0x7FFFBFFF  # 0x80004001
E_FAIL = n.E_FAIL
STG_E_INVALIDFUNCTION = -0x7FFCFFFF  # 0x80030001
STG_E_INVALIDPOINTER = -0x7FFCFFF7  # 0x80030009
STG_E_ACCESSDENIED = -0x7FFCFFFB  # 0x80030005
STGTY_STREAM = 2

IID_IUnknown = "{00000000-0000-0000-C000-000000000046}"
IID_ISequentialStream = "{0C733A30-2A1C-11CE-ADE5-00AA0044773D}"
IID_IStream = "{0000000C-0000-0000-C000-000000000046}"

_HR = n.HRESULT
_QI = ctypes.CFUNCTYPE(_HR, c_void_p, POINTER(n.GUID), POINTER(c_void_p))
_REF = ctypes.CFUNCTYPE(c_uint32, c_void_p)
_READ = ctypes.CFUNCTYPE(_HR, c_void_p, c_void_p, c_uint32, POINTER(c_uint32))
_WRITE = ctypes.CFUNCTYPE(_HR, c_void_p, c_void_p, c_uint32, POINTER(c_uint32))
_SEEK = ctypes.CFUNCTYPE(_HR, c_void_p, c_int64, c_uint32, POINTER(c_uint64))
_SET_SIZE = ctypes.CFUNCTYPE(_HR, c_void_p, c_uint64)
_COPY_TO = ctypes.CFUNCTYPE(_HR, c_void_p, c_void_p, c_uint64, POINTER(c_uint64),
                            POINTER(c_uint64))
_COMMIT = ctypes.CFUNCTYPE(_HR, c_void_p, c_uint32)
_REVERT = ctypes.CFUNCTYPE(_HR, c_void_p)
_REGION = ctypes.CFUNCTYPE(_HR, c_void_p, c_uint64, c_uint64, c_uint32)
_STAT = ctypes.CFUNCTYPE(_HR, c_void_p, c_void_p, c_uint32)
_CLONE = ctypes.CFUNCTYPE(_HR, c_void_p, POINTER(c_void_p))


class _Vtbl(Structure):
    _fields_ = [("QueryInterface", _QI), ("AddRef", _REF), ("Release", _REF),
                ("Read", _READ), ("Write", _WRITE), ("Seek", _SEEK), ("SetSize", _SET_SIZE),
                ("CopyTo", _COPY_TO), ("Commit", _COMMIT), ("Revert", _REVERT),
                ("LockRegion", _REGION), ("UnlockRegion", _REGION), ("Stat", _STAT),
                ("Clone", _CLONE)]


class _Object(Structure):
    _fields_ = [("lpVtbl", POINTER(_Vtbl))]


# Streams a component still holds, by the address of their object.
_live = {}
_live_lock = threading.Lock()


def _guid_text(guid):
    return "{%08X-%04X-%04X-%s-%s}" % (
        guid.Data1, guid.Data2, guid.Data3, bytes(guid.Data4[:2]).hex().upper(),
        bytes(guid.Data4[2:]).hex().upper())


def _stream_of(this):
    with _live_lock:
        return _live.get(this)


def _guarded(function):
    """A table entry: finds the stream, and turns any Python error into a status."""
    def entry(this, *args):
        stream = _stream_of(this)
        if stream is None:
            return E_FAIL
        try:
            return function(stream, *args)
        except Exception:  # a failing file fails the call, never the caller's process
            return E_FAIL
    return entry


def _query_interface(this, iid, out):
    if not out:
        return STG_E_INVALIDPOINTER
    if _guid_text(iid.contents) in (IID_IUnknown, IID_ISequentialStream, IID_IStream):
        _add_ref(this)
        out[0] = this
        return S_OK
    out[0] = None
    return E_NOINTERFACE


def _add_ref(this):
    stream = _stream_of(this)
    if stream is None:
        return 0
    with _live_lock:
        stream._refs += 1
        return stream._refs


def _release(this):
    with _live_lock:
        stream = _live.get(this)
        if stream is None:
            return 0
        stream._refs -= 1
        left = stream._refs
        if left == 0:
            del _live[this]
    return left


def _read(stream, data, size, read):
    if read:
        read[0] = 0
    if not data and size:
        return STG_E_INVALIDPOINTER
    got = 0
    while got < size:
        chunk = stream.file.read(size - got)
        if not chunk:
            break
        ctypes.memmove(data + got, chunk, len(chunk))
        got += len(chunk)
    if read:
        read[0] = got
    return S_OK if got == size else S_FALSE


def _write(stream, data, size, written):
    if written:
        written[0] = 0
    if not getattr(stream.file, "writable", lambda: False)():
        return STG_E_ACCESSDENIED
    done = stream.file.write(ctypes.string_at(data, size)) if size else 0
    if written:
        written[0] = done or 0
    return S_OK


def _seek(stream, move, origin, new_position):
    if origin not in (0, 1, 2):
        return STG_E_INVALIDFUNCTION
    file = stream.file
    here = file.tell()
    base = (0, here, file.seek(0, 2) if origin == 2 else 0)[origin]
    # Before the start is refused with the position kept (some files would clamp it).
    if base + move < 0:
        file.seek(here)
        return STG_E_INVALIDFUNCTION
    try:
        position = file.seek(base + move)
    except (OSError, ValueError):
        file.seek(here)
        return STG_E_INVALIDFUNCTION
    if new_position:
        new_position[0] = position
    return S_OK


def _set_size(stream, size):
    if not getattr(stream.file, "writable", lambda: False)():
        return STG_E_ACCESSDENIED
    stream.file.truncate(size)
    return S_OK


def _copy_to(stream, destination, size, read, written):
    if not destination:
        return STG_E_INVALIDPOINTER
    total_read = total_written = 0
    status = S_OK
    while total_read < size:
        chunk = stream.file.read(min(size - total_read, 1 << 16))
        if not chunk:
            break
        total_read += len(chunk)
        wrote = c_uint32(0)
        status = n.call(destination, 4, _HR, [ctypes.c_char_p, c_uint32, POINTER(c_uint32)],
                        chunk, len(chunk), byref(wrote))
        total_written += wrote.value
        if status < 0 or wrote.value != len(chunk):
            status = status if status < 0 else E_FAIL
            break
    if read:
        read[0] = total_read
    if written:
        written[0] = total_written
    return status


def _commit(stream, flags):
    flush = getattr(stream.file, "flush", None)
    if flush is not None:
        flush()
    return S_OK


def _revert(stream):
    return S_OK


def _region(stream, offset, size, kind):
    return STG_E_INVALIDFUNCTION


def _stat(stream, stat, flags):
    if not stat:
        return STG_E_INVALIDPOINTER
    if flags not in (0, 1):
        return STG_E_INVALIDFUNCTION
    here = stream.file.tell()
    size = stream.file.seek(0, 2)
    stream.file.seek(here)
    ctypes.memset(stat, 0, 80)
    ctypes.c_uint32.from_address(stat + 8).value = STGTY_STREAM  # type
    ctypes.c_uint64.from_address(stat + 16).value = size  # cbSize
    return S_OK


def _clone(stream, out):
    if out:
        out[0] = None
    return E_NOTIMPL  # two positions over one file object would fight over it


_TABLE = _Vtbl(_QI(_query_interface), _REF(_add_ref), _REF(_release), _READ(_guarded(_read)),
               _WRITE(_guarded(_write)), _SEEK(_guarded(_seek)),
               _SET_SIZE(_guarded(_set_size)), _COPY_TO(_guarded(_copy_to)),
               _COMMIT(_guarded(_commit)), _REVERT(_guarded(_revert)),
               _REGION(_guarded(_region)), _REGION(_guarded(_region)),
               _STAT(_guarded(_stat)), _CLONE(_guarded(_clone)))


class FileStream:
    """An IStream over a binary file object with read, seek and tell."""

    def __init__(self, file):
        for method in ("read", "seek", "tell"):
            if not callable(getattr(file, method, None)):
                raise TypeError("a stream needs a binary file object with read, seek and tell")
        seekable = getattr(file, "seekable", None)
        if seekable is not None and not seekable():
            raise TypeError("this file object cannot seek: read it into bytes and pass those")
        self.file = file
        self._object = _Object(ctypes.pointer(_TABLE))
        self._refs = 0

    def new_reference(self):
        """The stream's interface pointer with one reference for the caller to release."""
        pointer = ctypes.addressof(self._object)
        with _live_lock:
            _live[pointer] = self
            self._refs += 1
        return pointer


def is_file_object(value):
    return all(callable(getattr(value, m, None)) for m in ("read", "seek", "tell"))
