"""Calls by name: every method of the component at least once with results the engine
answers, arguments by position and by keyword, conversions both ways, failures as
OrvanError, and two objects at once."""

import inspect

import pytest

import orvan
from conftest import ORGAN_LENGTH

E_INVALIDARG = 0x80070057
OBJECT_NOT_SET = 0x800A005B
DISP_E_OVERFLOW = 0x8002000A
DISP_E_TYPEMISMATCH = 0x80020005
SUBSCRIPT_OUT_OF_RANGE = 0x800A0009
MUSIC_E_CANNOT_OPEN = 0x88781001
MUSIC_E_NOT_DLS = 0x88781020


def test_transport_and_master_controls(music, organ):
    assert music.InitOrvanAudio(0, 44100) is None
    assert music.Music_Load(str(organ)) is None
    assert music.GetLengh() == ORGAN_LENGTH
    music.SetPosition(768)
    assert music.GetCurrentPosition() == 768
    music.Music_Play(2)
    assert music.GetRepeats() == 2
    assert music.IsPlaying() is True
    music.Music_Stop()
    assert music.IsPlaying() is False
    music.SetMasterTempo(0.75)
    music.SetMasterVolume(-1250)
    assert (music.GetMasterTempo(), music.GetMasterVolume()) == (0.75, -1250)
    music.CleanupAudio()


def test_every_effect_parameter_by_name(music, organ):
    music.InitOrvanAudio(0)
    music.Music_Load(str(organ))
    music.Effect_DistortionOn()
    music.Effect_ChorusOn()
    music.Effect_ReverbOn()
    music.Effect_3DReverb_On()
    # A value inside each range, the method named by its effect's prefix.
    values = {"Dist_Gain": -20.0, "Dist_Edge": 40.0, "Dist_PostEQBandwidth": 2000.0,
              "Dist_PostEQCenterFrequency": 3000.0, "Dist_PreLowpassCutoff": 6000.0,
              "Cho_Feedback": -50.0, "Cho_Delay": 10.0, "Cho_Depth": 30.0,
              "Cho_Frequency": 2.5, "Cho_WetDryMix": 70.0,
              "Cho_Phase": music.CONST_OSFX_PHASE.OSFX_PHASE_90,
              "Cho_Waveform": music.CONST_OSFX_WAVE.OSFX_WAVE_TRIANGLE,
              "Rev_Gain": -6.0, "Rev_Mix": -3.0, "Rev_Time": 1500.0,
              "Rev_HighFreqRTRatio": 0.5, "Rev3D_DecayHFRatio": 1.2, "Rev3D_DecayTime": 3.0,
              "Rev3D_Density": 80.0, "Rev3D_Diffusion": 60.0, "Rev3D_HFReference": 4000.0,
              "Rev3D_ReflectionsDelay": 0.02, "Rev3D_ReverbDelay": 0.05,
              "Rev3D_RoomRolloffFactor": 2.0, "Rev3D_Reflections": -500, "Rev3D_Reverb": 100,
              "Rev3D_Room": -2000, "Rev3D_RoomHF": -300}
    assert len(values) == 28
    for suffix, value in values.items():
        assert getattr(music, "SetFX_" + suffix)(value) is True, suffix
    # Out of range: the engine says no and the call still succeeds.
    assert music.SetFX_Dist_Gain(-100.0) is False
    assert music.SetFX_Cho_Phase(7) is False
    music.Effect_Clear()
    # With the chain cleared the reverb is no longer there to take a value.
    assert music.SetFX_Rev3D_Room(-1000) is False


def test_instrument_collections_by_name(music, organ):
    music.InitOrvanAudio(0)
    music.Change_MaxDLS(4)
    with pytest.raises(orvan.OrvanError) as not_dls:
        music.LoadDLS(str(organ), 0)
    with pytest.raises(orvan.OrvanError) as missing:
        music.LoadDLS(str(organ) + ".absent")
    with pytest.raises(orvan.OrvanError) as nothing_loaded:
        music.ApplyDLS()
    with pytest.raises(orvan.OrvanError) as beyond:
        music.ApplyDLS(sIndex=5)  # slots 0 to 4 after Change_MaxDLS(4)
    assert [e.value.status for e in (not_dls, missing, nothing_loaded, beyond)] == [
        MUSIC_E_NOT_DLS, MUSIC_E_CANNOT_OPEN, OBJECT_NOT_SET, SUBSCRIPT_OUT_OF_RANGE]


def test_keyword_arguments_go_to_their_parameters(music, organ):
    # Named in reverse order: a swap would make 48000 the window and 1000 the rate. The
    # engine refuses a rate of 1000 Hz in a message box and stays without audio.
    music.InitOrvanAudio(SampleRate=1000, hwnd=48000)
    with pytest.raises(orvan.OrvanError) as not_initialised:
        music.GetMasterVolume()
    assert not_initialised.value.status == OBJECT_NOT_SET
    music.InitOrvanAudio(SampleRate=48000, hwnd=1000)
    music.Music_Load(Filename=str(organ))
    music.Music_Play(nLoop=3)
    assert music.GetRepeats() == 3
    music.Music_Stop()
    music.SetMasterVolume(value=-700)  # parameter names are case-insensitive
    assert music.GetMasterVolume() == -700
    # An optional parameter left out before a named one is passed as omitted.
    with pytest.raises(orvan.OrvanError) as file_error:
        music.LoadDLS(sIndex=1, Filename=str(organ) + ".absent")
    assert file_error.value.status == MUSIC_E_CANNOT_OPEN

    # Mistakes are caught before the call: the volume stays as it was.
    for call, complaint in [(lambda: music.SetMasterVolume(-1, Value=-2), "more than one"),
                            (lambda: music.SetMasterVolume(Volume=-2), "no parameter 'Volume'"),
                            (lambda: music.SetMasterVolume(), "missing 'Value'"),
                            (lambda: music.SetMasterVolume(-1, -2), "at most 1 argument")]:
        with pytest.raises(TypeError, match=complaint):
            call()
    assert music.GetMasterVolume() == -700


def test_values_convert_both_ways(music, organ, tmp_path):
    music.InitOrvanAudio(0)
    music.SetMasterTempo(2)  # an int for a float parameter
    assert music.GetMasterTempo() == 2.0 and type(music.GetMasterTempo()) is float
    music.SetMasterTempo(0.1)  # a float parameter holds single precision
    assert music.GetMasterTempo() == pytest.approx(0.1, rel=1e-7)
    music.SetMasterVolume("-250")  # text is converted by the component's rules
    assert music.GetMasterVolume() == -250 and type(music.GetMasterVolume()) is int
    music.SetMasterVolume(True)  # an automation true is -1
    assert music.GetMasterVolume() == -1

    # Text crosses as UTF-16, characters outside the basic plane included.
    odd_name = tmp_path / "Orgel \u00e9t\u00e9 \U0001d11e.mid"
    odd_name.write_bytes(organ.read_bytes())
    music.Music_Load(str(odd_name))
    assert music.GetLengh() == ORGAN_LENGTH

    with pytest.raises(orvan.OrvanError) as overflow:
        music.SetMasterVolume(2**40)
    assert (overflow.value.status, overflow.value.argument) == (DISP_E_OVERFLOW, "Value")
    with pytest.raises(orvan.OrvanError) as mismatch:
        music.SetMasterVolume("loud")
    assert mismatch.value.status == DISP_E_TYPEMISMATCH
    with pytest.raises(OverflowError):
        music.SetMasterVolume(2**70)
    for unsupported in (None, [1]):
        with pytest.raises(TypeError, match="Value"):
            music.SetMasterVolume(unsupported)
    with pytest.raises(orvan.OrvanError) as not_a_number:
        music.SetMasterVolume(b"-1")  # a byte array, which no number parameter takes
    assert (not_a_number.value.status, not_a_number.value.argument) == (DISP_E_TYPEMISMATCH,
                                                                        "Value")
    assert music.GetMasterVolume() == -1


def test_failure_carries_status_text_and_place(music):
    music.InitOrvanAudio(0)
    music.SetMasterVolume(-300)
    with pytest.raises(orvan.OrvanError) as failure:
        music.SetMasterVolume(Value=30000)
    error = failure.value
    assert (error.status, error.text, error.where) == (
        E_INVALIDARG, "The parameter is incorrect.", "SetMasterVolume")
    assert str(error) == "SetMasterVolume: The parameter is incorrect. (0x80070057)"
    assert music.GetMasterVolume() == -300  # a refused value changes nothing

    with pytest.raises(orvan.OrvanError) as unknown:
        orvan.Dispatch("OrvanMusicEngine.NoSuchClass")
    assert (unknown.value.status, unknown.value.text) == (0x800401F3, "Invalid class string.")
    with pytest.raises(orvan.OrvanError) as unregistered:
        orvan.Dispatch("{00000000-0000-0000-0000-00000000ABCD}")
    assert (unregistered.value.status, unregistered.value.text) == (
        0x80040154, "Class not registered.")
    with pytest.raises(AttributeError, match="Music_Rewind"):
        music.Music_Rewind()


def test_two_objects_at_once(organ):
    clsid = "{2157ED08-4B0C-427B-8475-85D754B974CA}"
    with orvan.Dispatch("OrvanMusicEngine.OrvanMusic") as first, orvan.Dispatch(clsid) as second:
        first.InitOrvanAudio(0)
        second.InitOrvanAudio(0, 22050)
        first.Music_Load(str(organ))
        first.SetMasterVolume(-100)
        second.SetMasterVolume(-2000)
        first.SetMasterTempo(0.5)
        second.SetMasterTempo(4.0)
        first.Music_Play(1)
        assert (first.GetMasterVolume(), second.GetMasterVolume()) == (-100, -2000)
        assert (first.GetMasterTempo(), second.GetMasterTempo()) == (0.5, 4.0)
        assert first.GetRepeats() == 1 and first.GetLengh() == ORGAN_LENGTH
        with pytest.raises(orvan.OrvanError):
            second.GetLengh()  # nothing loaded in this one
        first.Music_Stop()
    with pytest.raises(orvan.OrvanError) as released:
        first.GetMasterVolume()
    assert released.value.status == OBJECT_NOT_SET


def test_signature_and_help_text(music):
    method = music.InitOrvanAudio
    assert str(inspect.signature(method)) == "(hwnd: int, SampleRate: int = 48000) -> None"
    assert method.__name__ == "InitOrvanAudio"
    assert method.__doc__.startswith("InitOrvanAudio(hwnd: int, SampleRate: int = 48000)")
