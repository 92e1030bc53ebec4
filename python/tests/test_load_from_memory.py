"""Music handed to the engine as bytes and as a binary file object (a member of a zip archive)
renders exactly as the same file loaded by name; a member that cannot seek is refused by the
package and goes in as bytes instead."""

import io
import math
import struct
import wave
import zipfile

import pytest

from conftest import ORGAN_LENGTH, render_channel, smf_bytes


def render(music, wav, load):
    """1.5 s at 22050 Hz of what `load` loads, as the bytes of the rendered file."""
    music.InitOrvanRender(str(wav), 22050)
    load()
    assert music.GetLengh() == ORGAN_LENGTH
    music.Music_Play(0)
    music.RenderFor(1500)
    music.CleanupAudio()
    return wav.read_bytes()


def test_music_from_bytes_and_from_a_zip_member_renders_as_from_its_file(music, organ,
                                                                          tmp_path):
    archive = tmp_path / "assets.zip"
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("music/organ.mid", smf_bytes())

    by_name = render(music, tmp_path / "name.wav", lambda: music.Music_Load(str(organ)))
    # The organ sounds: a render of silence would match any other.
    assert max(by_name[-20000:]) > 0
    data = smf_bytes()
    for given in (data, bytearray(data), memoryview(b"--" + data)[2:]):
        assert render(music, tmp_path / "bytes.wav",
                      lambda: music.Music_LoadBytes(given)) == by_name, type(given)
    with zipfile.ZipFile(archive) as z, z.open("music/organ.mid") as member:
        assert render(music, tmp_path / "zip.wav",
                      lambda: music.Music_LoadStream(member)) == by_name
    # The engine read the stream at the call and holds nothing of it: closing the archive
    # does not disturb the piece that was loaded from it.
    music.InitOrvanRender(str(tmp_path / "after.wav"), 22050)
    with zipfile.ZipFile(archive) as z, z.open("music/organ.mid") as member:
        music.Music_LoadStream(Stream=member)
    music.Music_Play(0)
    music.RenderFor(1500)
    music.CleanupAudio()
    assert (tmp_path / "after.wav").read_bytes() == by_name


class _Forward(io.RawIOBase):
    """A file that says it cannot seek (an archive inside a stream that only goes forward)
    while zipfile may still find its directory."""

    def __init__(self, data):
        self._data = io.BytesIO(data)

    def readable(self):
        return True

    def seekable(self):
        return False

    def readinto(self, buffer):
        return self._data.readinto(buffer)

    def seek(self, offset, whence=0):
        return self._data.seek(offset, whence)

    def tell(self):
        return self._data.tell()


def test_a_zip_member_that_cannot_seek_is_refused_and_loads_as_bytes(music, organ, tmp_path):
    packed = io.BytesIO()
    with zipfile.ZipFile(packed, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("organ.mid", smf_bytes())
    music.InitOrvanRender(str(tmp_path / "forward.wav"), 22050)
    with zipfile.ZipFile(_Forward(packed.getvalue())) as z, z.open("organ.mid") as member:
        assert not member.seekable()
        with pytest.raises(TypeError, match="cannot seek"):
            music.Music_LoadStream(member)
        music.Music_LoadBytes(member.read())
    assert music.GetLengh() == ORGAN_LENGTH
    music.CleanupAudio()


def test_a_recording_in_a_zip_member_plays_from_the_member_while_it_is_open(music, tmp_path):
    """Read in place: the render equals the file's, and the member is read during the play."""
    sine = tmp_path / "sine.wav"
    with wave.open(str(sine), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(22050)
        w.writeframes(b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * 440 * i
                                                                        / 22050)))
                               for i in range(22050 * 3)))
    archive = tmp_path / "assets.zip"
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as z:
        z.write(sine, "sine.wav")

    def render_sine(wav, load):
        music.InitOrvanRender(str(wav), 22050)
        load()
        music.Music_Play(0)
        music.RenderFor(2500)
        music.CleanupAudio()
        return render_channel(wav, 0)

    by_name = render_sine(tmp_path / "name.wav", lambda: music.Music_Load(str(sine)))
    assert max(by_name) > 0.2
    with zipfile.ZipFile(archive) as z, z.open("sine.wav") as member:
        reads = []
        original_read = member.read
        member.read = lambda *size: reads.append(1) or original_read(*size)
        assert render_sine(tmp_path / "zip.wav", lambda: (music.Music_LoadStream(member),
                                                          reads.clear())) == by_name
        assert reads, "the member was not read while the music played"
