// _OrvanMusic and _OrvanMusic2, written once: the identities of the type library, the class
// and the two interfaces, the enumerations, and the methods in function-table order with
// their parameters: the 50 of _OrvanMusic, then those _OrvanMusic2 adds after them.
//
// Everything that repeats the interface is made from this: the type library the build embeds
// in libTovel.so (engine/component/type_library_description.cpp reads it directly), and the
// client headers, the component shell's forwarding and the window tests' recording engine,
// which engine/component/interface/generate_interface.cpp writes (see its header for how they
// are kept current). Clients bind to the entries and dispatch identifiers this gives, so the
// order of the members never changes: method n sits at entry kFirstEntry + n with dispatch
// identifier kFirstDispid + n, counting the 50 of _OrvanMusic first and the members of
// _OrvanMusic2 after them. _OrvanMusic (type library 53.0) never changes; a member added
// later goes at the end of kMembers2.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace orvan::interface_description {

struct Identity {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::array<std::uint8_t, 8> data4;
};

// The types a method passes. The enumerations are 32-bit values in the table; an Object is
// an IDispatch pointer (another OrvanMusic object, for the members that take one); Bytes is
// an automation array of bytes (SAFEARRAY(unsigned char), VB's Byte()); Unknown is any
// object, passed as its IUnknown pointer (a stream, for the members that take one).
enum class Type {
  I4,
  R4,
  Bstr,
  Bool,
  ChorusPhase,
  ChorusWave,
  Boundary,
  Object,
  Bytes,
  Unknown,
  R8
};

enum class Passing {
  Value,          // [in] by value
  ByRef,          // [in, out] a pointer to the caller's variable, only read
  OptionalByRef,  // the same, [optional]: a null pointer (or an omitted argument) is allowed
  Result,         // [out, retval] the last parameter
};

struct Param {
  std::string_view name;
  Type type = Type::I4;
  Passing passing = Passing::Value;
  bool has_default = false;  // only for OptionalByRef
  std::int32_t default_value = 0;
};

struct Member {
  std::string_view name;
  std::array<Param, 3> params{};
  std::size_t param_count = 0;
  // A line the headers show above the member, starting a group; empty for none.
  std::string_view heading{};
  // An effect parameter's record and the field it writes (names in the platform's records);
  // empty for other members.
  std::string_view record{};
  std::string_view field{};
};

struct Constant {
  std::string_view name;
  std::int32_t value;
};

struct Enumeration {
  std::string_view name;
  std::string_view meaning;
  Identity guid;
  std::array<Constant, 7> constants{};
  std::size_t count = 0;
};

// --- Identities ------------------------------------------------------------------------------
inline constexpr std::string_view kLibraryName = "OrvanMusicEngine";
inline constexpr Identity kLibraryId = {
    0xE46ACAF1, 0xC583, 0x45FD, {0x8F, 0x2E, 0x67, 0xFB, 0xAB, 0x33, 0x06, 0x11}};
inline constexpr std::uint16_t kLibraryMajor = 53;
// 53.0 described _OrvanMusic alone; 53.1 adds _OrvanMusic2 and makes it the default.
inline constexpr std::uint16_t kLibraryMinor = 1;
inline constexpr std::uint32_t kLibraryLocale = 0x0409;

inline constexpr std::string_view kClassName = "OrvanMusic";
inline constexpr Identity kClassId = {
    0x2157ED08, 0x4B0C, 0x427B, {0x84, 0x75, 0x85, 0xD7, 0x54, 0xB9, 0x74, 0xCA}};

inline constexpr std::string_view kInterfaceName = "_OrvanMusic";
inline constexpr Identity kInterfaceId = {
    0x224964E1, 0x4A40, 0x4379, {0xA5, 0xE7, 0x81, 0x57, 0x3B, 0xE3, 0xD5, 0xCB}};
// IDispatch ends at entry 6; entries 7 to 9 hold places that no description covers.
inline constexpr std::uint16_t kFirstReservedEntry = 7;
inline constexpr std::uint16_t kFirstEntry = 10;
inline constexpr std::int32_t kFirstDispid = 0x60030003;

// The second interface: derived from _OrvanMusic, its table starts with the 50 members above
// and continues with kMembers2; the class's default interface.
inline constexpr std::string_view kInterface2Name = "_OrvanMusic2";
inline constexpr Identity kInterface2Id = {
    0x85046B63, 0xB545, 0x4F94, {0x9B, 0x49, 0xEF, 0x34, 0x1B, 0x01, 0xE2, 0xE8}};

// The class's default source: the events a sink advised to the object receives (a
// dispinterface; members numbered from kFirstEventDispid in kEvents' order).
inline constexpr std::string_view kEventsName = "__OrvanMusic";
inline constexpr Identity kEventsId = {
    0x3C0F5D2A, 0x7E41, 0x4B8D, {0x9A, 0x63, 0x21, 0xC4, 0x5E, 0x0B, 0x87, 0xF6}};
inline constexpr std::int32_t kFirstEventDispid = 1;

// --- Enumerations ----------------------------------------------------------------------------
inline constexpr Enumeration kChorusPhase = {
    "CONST_OSFX_PHASE",
    "Chorus phase between left and right, in degrees.",
    {0xCB8CB417, 0x9956, 0x480C, {0xA5, 0x0A, 0xC2, 0x47, 0x41, 0x5B, 0x9F, 0x2C}},
    {{{"OSFX_PHASE_180", 4},
      {"OSFX_PHASE_90", 3},
      {"OSFX_PHASE_MAX", 4},
      {"OSFX_PHASE_MIN", 0},
      {"OSFX_PHASE_NEG_180", 0},
      {"OSFX_PHASE_NEG_90", 1},
      {"OSFX_PHASE_ZERO", 2}}},
    7};
inline constexpr Enumeration kChorusWave = {
    "CONST_OSFX_WAVE",
    "Chorus modulation waveform.",
    {0x149F9D0B, 0xE288, 0x4C9C, {0xBE, 0x4C, 0xFD, 0xA3, 0xBC, 0xDB, 0x9E, 0x19}},
    {{{"OSFX_WAVE_SIN", 1}, {"OSFX_WAVE_TRIANGLE", 0}}},
    2};
inline constexpr Enumeration kBoundary = {
    "OrvanBoundary",
    "Where a scheduled start falls: at once, the next beat, the next bar, the end of the "
    "current pass or loop, the next marker or cue.",
    {0x71D127BF, 0x5EFC, 0x4D99, {0xA5, 0x4A, 0xA4, 0xB6, 0xF4, 0x32, 0x79, 0xEA}},
    {{{"OBND_IMMEDIATE", 0},
      {"OBND_BEAT", 1},
      {"OBND_BAR", 2},
      {"OBND_END", 3},
      {"OBND_MARKER", 4}}},
    5};
inline constexpr std::array kEnumerations = {kChorusPhase, kChorusWave, kBoundary};

// --- Members ---------------------------------------------------------------------------------
namespace build {

constexpr Param value(std::string_view name, Type type) {
  return {name, type, Passing::Value};
}
constexpr Param by_ref(std::string_view name, Type type) {
  return {name, type, Passing::ByRef};
}
constexpr Param optional_by_ref(std::string_view name, Type type) {
  return {name, type, Passing::OptionalByRef};
}
constexpr Param optional_by_ref(std::string_view name, Type type, std::int32_t default_value) {
  return {name, type, Passing::OptionalByRef, true, default_value};
}
constexpr Param result(Type type) {
  return {"result", type, Passing::Result};
}
constexpr Member method(std::string_view name, std::string_view heading = {}) {
  return {name, {}, 0, heading};
}
constexpr Member method(std::string_view name, Param a, std::string_view heading = {}) {
  return {name, {a, Param{}, Param{}}, 1, heading};
}
constexpr Member method(std::string_view name, Param a, Param b, std::string_view heading = {}) {
  return {name, {a, b, Param{}}, 2, heading};
}
constexpr Member method(std::string_view name, Param a, Param b, Param c,
                        std::string_view heading = {}) {
  return {name, {a, b, c}, 3, heading};
}
// An effect parameter: the value, and whether it was applied; it writes `field` of the
// effect's `record`.
constexpr Member setter(std::string_view name, Type type, std::string_view record,
                        std::string_view field, std::string_view heading = {}) {
  Member m = method(name, value("Value", type), result(Type::Bool), heading);
  m.record = record;
  m.field = field;
  return m;
}

// An event: its own parameters, then the output frame at which it is heard, counted from the
// channel's InitOrvanAudio or InitOrvanRender.
constexpr Member event(std::string_view name) {
  return method(name, value("Frame", Type::R8));
}
constexpr Member event(std::string_view name, Param a) {
  return method(name, a, value("Frame", Type::R8));
}
constexpr Member event(std::string_view name, Param a, Param b) {
  return method(name, a, b, value("Frame", Type::R8));
}

}  // namespace build

inline constexpr std::array kMembers = {
    build::method("InitOrvanAudio", build::by_ref("hwnd", Type::I4),
                  build::optional_by_ref("SampleRate", Type::I4, 48000),
                  "Lifecycle and music. SampleRate and nLoop may be null: 48000 Hz, no "
                  "repetition."),
    build::method("CleanupAudio"),
    build::method("Music_Load", build::by_ref("Filename", Type::Bstr)),
    build::method("Music_Play", build::optional_by_ref("nLoop", Type::I4, 0)),
    build::method("Music_Stop"),
    build::method("GetLengh", build::result(Type::I4)),
    build::method("GetCurrentPosition", build::result(Type::I4)),
    build::method("GetRepeats", build::result(Type::I4)),
    build::method("SetPosition", build::by_ref("Pos", Type::I4)),
    build::method("IsPlaying", build::result(Type::Bool)),
    build::method("Effect_DistortionOn", "The effects chain, in the order switched on."),
    build::method("Effect_ChorusOn"),
    build::method("Effect_ReverbOn"),
    build::method("Effect_3DReverb_On"),
    build::method("Effect_Clear"),
    build::setter("SetFX_Dist_Gain", Type::R4, "DSFXDISTORTION", "Gain",
                  "Effect parameters; result is true when the value was applied."),
    build::setter("SetFX_Dist_Edge", Type::R4, "DSFXDISTORTION", "Edge"),
    build::setter("SetFX_Dist_PostEQBandwidth", Type::R4, "DSFXDISTORTION", "PostEQBandwidth"),
    build::setter("SetFX_Dist_PostEQCenterFrequency", Type::R4, "DSFXDISTORTION",
                  "PostEQCenterFrequency"),
    build::setter("SetFX_Dist_PreLowpassCutoff", Type::R4, "DSFXDISTORTION", "PreLowpassCutoff"),
    build::setter("SetFX_Cho_Feedback", Type::R4, "DSFXCHORUS", "Feedback"),
    build::setter("SetFX_Cho_Delay", Type::R4, "DSFXCHORUS", "Delay"),
    build::setter("SetFX_Cho_Depth", Type::R4, "DSFXCHORUS", "Depth"),
    build::setter("SetFX_Cho_Frequency", Type::R4, "DSFXCHORUS", "Frequency"),
    build::setter("SetFX_Cho_WetDryMix", Type::R4, "DSFXCHORUS", "WetDryMix"),
    build::setter("SetFX_Cho_Phase", Type::ChorusPhase, "DSFXCHORUS", "Phase"),
    build::setter("SetFX_Cho_Waveform", Type::ChorusWave, "DSFXCHORUS", "Waveform"),
    build::setter("SetFX_Rev_Gain", Type::R4, "DSFXWAVESREVERB", "InGain"),
    build::setter("SetFX_Rev_Mix", Type::R4, "DSFXWAVESREVERB", "ReverbMix"),
    build::setter("SetFX_Rev_Time", Type::R4, "DSFXWAVESREVERB", "ReverbTime"),
    build::setter("SetFX_Rev_HighFreqRTRatio", Type::R4, "DSFXWAVESREVERB", "HighFreqRTRatio"),
    build::setter("SetFX_Rev3D_DecayHFRatio", Type::R4, "DSFXI3DL2REVERB", "DecayHFRatio"),
    build::setter("SetFX_Rev3D_DecayTime", Type::R4, "DSFXI3DL2REVERB", "DecayTime"),
    build::setter("SetFX_Rev3D_Density", Type::R4, "DSFXI3DL2REVERB", "Density"),
    build::setter("SetFX_Rev3D_Diffusion", Type::R4, "DSFXI3DL2REVERB", "Diffusion"),
    build::setter("SetFX_Rev3D_HFReference", Type::R4, "DSFXI3DL2REVERB", "HFReference"),
    build::setter("SetFX_Rev3D_ReflectionsDelay", Type::R4, "DSFXI3DL2REVERB", "ReflectionsDelay"),
    build::setter("SetFX_Rev3D_ReverbDelay", Type::R4, "DSFXI3DL2REVERB", "ReverbDelay"),
    build::setter("SetFX_Rev3D_RoomRolloffFactor", Type::R4, "DSFXI3DL2REVERB",
                  "RoomRolloffFactor"),
    build::setter("SetFX_Rev3D_Reflections", Type::I4, "DSFXI3DL2REVERB", "Reflections"),
    build::setter("SetFX_Rev3D_Reverb", Type::I4, "DSFXI3DL2REVERB", "Reverb"),
    build::setter("SetFX_Rev3D_Room", Type::I4, "DSFXI3DL2REVERB", "Room"),
    build::setter("SetFX_Rev3D_RoomHF", Type::I4, "DSFXI3DL2REVERB", "RoomHF"),
    build::method("SetMasterTempo", build::by_ref("Value", Type::R4),
                  "Master controls of this channel."),
    build::method("SetMasterVolume", build::by_ref("Value", Type::I4)),
    build::method("GetMasterTempo", build::result(Type::R4)),
    build::method("GetMasterVolume", build::result(Type::I4)),
    build::method("Change_MaxDLS", build::by_ref("NewValue", Type::I4),
                  "DLS collections. sIndex may be null: slot 0."),
    // The slot index has no default in the type library: an omitted one reaches the method
    // as a null pointer, which the engine takes as slot 0.
    build::method("LoadDLS", build::by_ref("Filename", Type::Bstr),
                  build::optional_by_ref("sIndex", Type::I4)),
    build::method("ApplyDLS", build::optional_by_ref("sIndex", Type::I4)),
};

// _OrvanMusic2's own members, after the 50. Inputs pass by value. Music time as GetLengh
// answers it; volumes in hundredths of a decibel; times in milliseconds.
inline constexpr std::array kMembers2 = {
    build::method("SetLoopRegion", build::value("StartTime", Type::I4),
                  build::value("EndTime", Type::I4),
                  "Interactive music: loop regions, fades, pause, scheduled starts."),
    build::method("GetLoopStart", build::result(Type::I4)),
    build::method("GetLoopEnd", build::result(Type::I4)),
    build::method("FadeTo", build::value("Volume", Type::I4),
                  build::value("Milliseconds", Type::I4)),
    build::method("Music_Pause"),
    build::method("Music_Resume"),
    build::method("Music_PlayNext", build::value("Filename", Type::Bstr),
                  build::value("Boundary", Type::Boundary),
                  build::value("FadeMilliseconds", Type::I4)),
    build::method("PlayStinger", build::value("Filename", Type::Bstr),
                  build::value("Boundary", Type::Boundary)),
    build::method("Music_PlayWith", build::value("Leader", Type::Object),
                  build::value("Boundary", Type::Boundary)),
    build::method("SetBeatInfo", build::value("BeatsPerMinute", Type::R4),
                  build::value("BeatsPerBar", Type::I4)),
    build::method("GetBar", build::result(Type::I4)),
    build::method("GetBeat", build::result(Type::I4)),
    build::method("SetChannelVolume", build::value("Channel", Type::I4),
                  build::value("Volume", Type::I4), build::value("Milliseconds", Type::I4)),
    build::method("SetSoundFont", build::value("Filename", Type::Bstr),
                  "The channel's SoundFont and rendering to a file."),
    build::method("InitOrvanRender", build::value("Filename", Type::Bstr),
                  build::value("SampleRate", Type::I4)),
    build::method("RenderFor", build::value("Milliseconds", Type::I4)),
    build::method("Music_LoadBytes", build::value("Data", Type::Bytes),
                  "Music, SoundFonts and DLS collections from memory and from a stream."),
    build::method("Music_LoadStream", build::value("Stream", Type::Unknown)),
    build::method("SetSoundFontBytes", build::value("Data", Type::Bytes)),
    build::method("SetSoundFontStream", build::value("Stream", Type::Unknown)),
    build::method("LoadDLSBytes", build::value("Data", Type::Bytes),
                  build::value("Index", Type::I4)),
    build::method("LoadDLSStream", build::value("Stream", Type::Unknown),
                  build::value("Index", Type::I4)),
    build::method("GetLengthSeconds", build::result(Type::R8),
                  "Progress: seconds at the master tempo, frames and level of the output, "
                  "and the device's troubles."),
    build::method("GetPositionSeconds", build::result(Type::R8)),
    build::method("GetOutputFrames", build::result(Type::R8)),
    build::method("GetOutputPeak", build::result(Type::R4)),
    build::method("GetDeviceLosses", build::result(Type::I4)),
    build::method("GetDeviceReopens", build::result(Type::I4)),
    build::method("GetLatePeriods", build::result(Type::I4)),
    build::method("GetDroppedEvents", build::result(Type::I4),
                  "Events a sink missed: its thread did not pump in time."),
};

// __OrvanMusic's events. TransitionDone: a queued piece has started.
inline constexpr std::array kEvents = {
    build::event("Started"),
    build::event("Looped", build::value("PassesLeft", Type::I4)),
    build::event("Ended"),
    build::event("Stopped"),
    build::event("Beat", build::value("Bar", Type::I4), build::value("Beat", Type::I4)),
    build::event("Marker", build::value("Name", Type::Bstr)),
    build::event("TransitionDone"),
};

// Entries and dispatch identifiers of _OrvanMusic2's own members continue those of the 50.
inline constexpr std::uint16_t kFirstEntry2 = kFirstEntry + kMembers.size();
inline constexpr std::int32_t kFirstDispid2 =
    kFirstDispid + static_cast<std::int32_t>(kMembers.size());
inline constexpr std::size_t kMemberCount = kMembers.size() + kMembers2.size();

// Member n of the whole table, the 50 first: what code that numbers members uses.
constexpr const Member& member(std::size_t n) {
  return n < kMembers.size() ? kMembers[n] : kMembers2[n - kMembers.size()];
}
// The number of the member called `name`; kMemberCount when there is none.
constexpr std::size_t member_index(std::string_view name) {
  for (std::size_t n = 0; n < kMemberCount; ++n)
    if (member(n).name == name) return n;
  return kMemberCount;
}

}  // namespace orvan::interface_description
