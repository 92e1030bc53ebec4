"""Shared set-up of the package's tests: a throwaway registry store with the component
registered in it, the silent SDL audio driver, and a MIDI file of known length.

The component, its runtime and orvan-regsvr are named by ORVAN_TOVEL_LIBRARY,
ORVAN_RUNTIME_LIBRARY and ORVAN_REGSVR (the test suite's ctest entry sets them); without
them the tests look in the build tree `build/` beside the sources."""

import array
import os
import pathlib
import struct
import subprocess
import sys

import pytest

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE_DIR / "python"))

# One quarter note is 768 in music time; the file holds four of one sustained organ note.
ORGAN_LENGTH = 4 * 768


def _built(variable, relative):
    path = os.environ.get(variable) or str(SOURCE_DIR / "build" / relative)
    if not os.path.exists(path):
        pytest.exit("%s is not built (or set %s)" % (path, variable), returncode=1)
    os.environ[variable] = path
    return path


def smf_bytes():
    """A format-0 Standard MIDI File, 480 per quarter: tempo, organ, one note of 4 quarters."""
    events = bytes([0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  # 500000 us per quarter
                    0x00, 0xC0, 19,  # program: church organ
                    0x00, 0x90, 60, 100,
                    0x8F, 0x00, 0x80, 60, 0,  # 1920 later
                    0x00, 0xFF, 0x2F, 0x00])
    header = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480)
    return header + b"MTrk" + struct.pack(">I", len(events)) + events


def render_channel(path, channel):
    """One channel of what InitOrvanRender wrote: a stereo 32-bit float WAV file."""
    data = path.read_bytes()
    at = 12
    while at + 8 <= len(data):
        kind, size = struct.unpack_from("<4sI", data, at)
        if kind == b"data":
            return array.array("f", data[at + 8:at + 8 + size])[channel::2]
        at += 8 + size + (size & 1)
    raise AssertionError("no data chunk in %s" % path)


@pytest.fixture(scope="session", autouse=True)
def registered_component(tmp_path_factory):
    work = tmp_path_factory.mktemp("orvan")
    os.environ["ORVAN_REGISTRY"] = str(work / "registry.sqlite3")
    os.environ["SDL_AUDIODRIVER"] = "dummy"
    _built("ORVAN_RUNTIME_LIBRARY", "lib/liborvan_comrt.so.1")
    tovel = _built("ORVAN_TOVEL_LIBRARY", "lib/libTovel.so")
    regsvr = _built("ORVAN_REGSVR", "bin/orvan-regsvr")
    subprocess.run([regsvr, "-s", tovel], check=True)
    return work


@pytest.fixture(scope="session")
def organ(registered_component):
    path = registered_component / "organ.mid"
    path.write_bytes(smf_bytes())
    return path


@pytest.fixture
def music():
    import orvan
    with orvan.Dispatch("OrvanMusicEngine.OrvanMusic") as obj:
        yield obj
