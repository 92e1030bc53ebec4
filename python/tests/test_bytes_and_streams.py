"""Bytes become automation byte arrays and binary file objects become streams, as a component
receives them: arrays read back through the runtime, streams called through their function
table exactly as a component calls them, references counted."""

import ctypes
import io
import zipfile
from ctypes import POINTER, byref, c_int64, c_uint32, c_uint64, c_void_p

import pytest

from orvan import _dispatch, _native as n, _stream, _typeinfo

READ, WRITE, SEEK, STAT, RELEASE = 3, 4, 5, 12, 2
COPY_TO = 7


def test_bytes_bytearray_and_memoryview_become_byte_arrays():
    cases = [(b"MThd\x00\x06", b"MThd\x00\x06"), (bytearray(b"\xff\x00\x7f"), b"\xff\x00\x7f"),
             (memoryview(b"abcdef")[::2], b"ace"), (b"", b"")]
    for given, expected in cases:
        variant = n.VARIANT()
        _dispatch._set_variant(variant, given)
        try:
            assert variant.vt == n.VT_ARRAY | n.VT_UI1
            array = ctypes.cast(variant.pointer, POINTER(n.SAFEARRAY)).contents
            assert (array.cDims, array.rgsabound[0].lLbound) == (1, 0)
            assert _typeinfo.to_python(variant) == expected
        finally:
            assert n.runtime().VariantClear(byref(variant)) == 0


def call(pointer, entry, argtypes, *args):
    return n.call(pointer, entry, n.HRESULT, argtypes, *args)


def read(pointer, size):
    buffer = ctypes.create_string_buffer(size)
    got = c_uint32(0)
    status = call(pointer, READ, [c_void_p, c_uint32, POINTER(c_uint32)], buffer, size,
                  byref(got))
    return status, buffer.raw[:got.value]


def test_a_binary_file_reads_seeks_and_copies_as_a_stream(tmp_path):
    data = bytes(range(256)) * 5
    archive = tmp_path / "music.zip"
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("music.ogg", data)
    with zipfile.ZipFile(archive) as z, z.open("music.ogg") as member:
        pointer = _stream.FileStream(member).new_reference()
        assert read(pointer, 4) == (0, data[:4])
        position = c_uint64(0)
        assert call(pointer, SEEK, [c_int64, c_uint32, POINTER(c_uint64)], -6, 2,
                    byref(position)) == 0
        assert position.value == len(data) - 6
        assert read(pointer, 10) == (1, data[-6:])  # S_FALSE: the end came first
        stat = ctypes.create_string_buffer(80)
        assert call(pointer, STAT, [c_void_p, c_uint32], stat, 1) == 0
        assert int.from_bytes(stat.raw[16:24], "little") == len(data)

        # Into a stream of the runtime's own, which writes back through its table.
        target = n.runtime().OrvanCreateMemoryStream(None, 0)
        assert call(pointer, SEEK, [c_int64, c_uint32, POINTER(c_uint64)], 1000, 0, None) == 0
        copied, written = c_uint64(0), c_uint64(0)
        assert call(pointer, COPY_TO, [c_void_p, c_uint64, POINTER(c_uint64), POINTER(c_uint64)],
                    target, 1 << 20, byref(copied), byref(written)) == 0
        assert (copied.value, written.value) == (280, 280)
        assert call(target, SEEK, [c_int64, c_uint32, POINTER(c_uint64)], 0, 0, None) == 0
        assert read(target, 400) == (1, data[1000:])
        assert n.release(target) == 0

        # Read-only: writing is refused; a seek before the start too.
        assert call(pointer, WRITE, [c_void_p, c_uint32, POINTER(c_uint32)], b"x", 1,
                    None) == _stream.STG_E_ACCESSDENIED
        assert call(pointer, SEEK, [c_int64, c_uint32, POINTER(c_uint64)], -1, 0,
                    None) == _stream.STG_E_INVALIDFUNCTION
        assert n.release(pointer) == 0
    assert _stream._live == {}


def test_a_stream_argument_is_released_with_its_variant_and_a_pipe_is_refused():
    variant = n.VARIANT()
    _dispatch._set_variant(variant, io.BytesIO(b"RIFF"))
    assert variant.vt == n.VT_UNKNOWN
    assert len(_stream._live) == 1
    assert n.runtime().VariantClear(byref(variant)) == 0
    assert _stream._live == {}

    class Pipe(io.RawIOBase):
        def readable(self):
            return True

        def seekable(self):
            return False

    with pytest.raises(TypeError, match="cannot seek"):
        _dispatch._set_variant(n.VARIANT(), Pipe())
