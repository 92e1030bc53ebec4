"""The members _OrvanMusic2 adds, by name: called through the function table, with Invoke
for what the table does not take as it is, on renders whose length is measured."""

import pytest

import orvan
from conftest import render_channel

E_INVALIDARG = 0x80070057
DSERR_INVALIDCALL = 0x88780032
MUSIC_E_NO_SOUNDFONT = 0x88781012


def test_render_for_writes_exactly_the_time_asked(music, organ, tmp_path):
    wav = tmp_path / "render.wav"
    music.InitOrvanRender(str(wav), SampleRate=22050)
    music.Music_Load(str(organ))
    music.Music_Play()
    music.FadeTo(Volume=-1200, Milliseconds=250)
    for _ in range(3):
        music.RenderFor(333)
    with pytest.raises(orvan.OrvanError) as negative:
        music.RenderFor(-5)
    # The organ file has no time signature: 4/4, and 999 ms at 120 BPM is in the 2nd beat.
    music.SetBeatInfo(BeatsPerMinute=90.0, BeatsPerBar=3)  # for recordings only
    assert (music.GetBar(), music.GetBeat()) == (1, 2)
    music.RenderFor(1000)  # 1999 ms in all: 44077.95 frames, so 44077
    assert (music.GetBar(), music.GetBeat()) == (1, 4)
    music.CleanupAudio()
    assert len(render_channel(wav, 0)) == 44077
    assert negative.value.status == E_INVALIDARG


def test_new_members_answer_as_the_engine_does(music, organ, tmp_path):
    music.InitOrvanAudio(0)
    with pytest.raises(orvan.OrvanError) as not_a_render:
        music.RenderFor(10)
    with pytest.raises(orvan.OrvanError) as missing_font:
        music.SetSoundFont(str(tmp_path / "missing.sf2"))
    with pytest.raises(orvan.OrvanError) as out_of_range:
        music.FadeTo(5000, 10)
    assert [e.value.status for e in (not_a_render, missing_font, out_of_range)] == [
        DSERR_INVALIDCALL, MUSIC_E_NO_SOUNDFONT, E_INVALIDARG]
    music.SetSoundFont("")  # back to the system's SoundFont
    # Nothing plays: the call reaches the engine, which says so.
    with pytest.raises(orvan.OrvanError) as pause:
        music.Music_Pause()
    assert pause.value.status == DSERR_INVALIDCALL


def test_boundary_is_an_int_enum_and_a_leader_is_another_object(music, organ, tmp_path):
    boundary = music.OrvanBoundary
    assert [(m.name, int(m)) for m in boundary] == [
        ("OBND_IMMEDIATE", 0), ("OBND_BEAT", 1), ("OBND_BAR", 2), ("OBND_END", 3),
        ("OBND_MARKER", 4)]
    music.InitOrvanRender(str(tmp_path / "layers.wav"), 22050)
    music.Music_Load(str(organ))
    with orvan.Dispatch("OrvanMusicEngine.OrvanMusic") as leader:
        # Through the table, and through Invoke (text for the boundary is Invoke's to
        # convert): either way the object arrives, and the engine tells a leader rendering
        # elsewhere from one rendering into the same file.
        leader.InitOrvanRender(str(tmp_path / "elsewhere.wav"), 22050)
        for how in (boundary.OBND_BAR, "2"):
            with pytest.raises(orvan.OrvanError) as answer:
                music.Music_PlayWith(leader, how)
            assert answer.value.status == DSERR_INVALIDCALL
        leader.InitOrvanRender(str(tmp_path / "layers.wav"), 22050)
        for how in (boundary.OBND_BAR, "2"):
            assert music.Music_PlayWith(leader, how) is None
        leader.RenderFor(500)  # renders the file for both
        music.RenderFor(500)
    music.CleanupAudio()
    assert len(render_channel(tmp_path / "layers.wav", 0)) == 22050
    with pytest.raises(TypeError, match="Leader"):
        music.Music_PlayWith(Leader=leader, Boundary="2")  # released: nothing to pass


def test_every_member_of_both_interfaces_has_a_table_call(music):
    methods = music._description.methods
    assert len(methods) == 80
    assert [name for name, m in methods.items() if m.table is None] == []
    # Entries as the member table numbers them: the first and the last of each interface.
    assert [methods[n].entry for n in ("InitOrvanAudio", "ApplyDLS", "SetLoopRegion",
                                       "RenderFor", "GetDroppedEvents")] == [10, 59, 60, 75, 89]
