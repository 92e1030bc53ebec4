/* The names of _OrvanMusic's 50 methods in table order, written by hand beside
 * tests/data/tovel_members.tsv, for tests that look a method up by name in the C and the C++
 * client header: X(name) for each. C and C++ alike. */
#ifndef ORVAN_TESTS_COMPONENT_MEMBER_NAMES_H
#define ORVAN_TESTS_COMPONENT_MEMBER_NAMES_H

/* clang-format off */
#define ORVAN_MUSIC_METHODS(X) \
    X(InitOrvanAudio) X(CleanupAudio) X(Music_Load) X(Music_Play) X(Music_Stop) X(GetLengh) \
    X(GetCurrentPosition) X(GetRepeats) X(SetPosition) X(IsPlaying) X(Effect_DistortionOn) \
    X(Effect_ChorusOn) X(Effect_ReverbOn) X(Effect_3DReverb_On) X(Effect_Clear) \
    X(SetFX_Dist_Gain) X(SetFX_Dist_Edge) X(SetFX_Dist_PostEQBandwidth) \
    X(SetFX_Dist_PostEQCenterFrequency) X(SetFX_Dist_PreLowpassCutoff) X(SetFX_Cho_Feedback) \
    X(SetFX_Cho_Delay) X(SetFX_Cho_Depth) X(SetFX_Cho_Frequency) X(SetFX_Cho_WetDryMix) \
    X(SetFX_Cho_Phase) X(SetFX_Cho_Waveform) X(SetFX_Rev_Gain) X(SetFX_Rev_Mix) \
    X(SetFX_Rev_Time) X(SetFX_Rev_HighFreqRTRatio) X(SetFX_Rev3D_DecayHFRatio) \
    X(SetFX_Rev3D_DecayTime) X(SetFX_Rev3D_Density) X(SetFX_Rev3D_Diffusion) \
    X(SetFX_Rev3D_HFReference) X(SetFX_Rev3D_ReflectionsDelay) X(SetFX_Rev3D_ReverbDelay) \
    X(SetFX_Rev3D_RoomRolloffFactor) X(SetFX_Rev3D_Reflections) X(SetFX_Rev3D_Reverb) \
    X(SetFX_Rev3D_Room) X(SetFX_Rev3D_RoomHF) X(SetMasterTempo) X(SetMasterVolume) \
    X(GetMasterTempo) X(GetMasterVolume) X(Change_MaxDLS) X(LoadDLS) X(ApplyDLS)
/* clang-format on */

#endif
