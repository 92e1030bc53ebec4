// Records and constants of the music and sound platform, as its callers pass them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/object.h"

namespace orvan::music {

using com::HResult;
using com::Ref;

class DirectMusicSegmentState8;

// InitAudio flags and default audio path types.
inline constexpr std::int32_t DMUS_AUDIOF_ALL = 63;
inline constexpr std::int32_t DMUS_APATH_SHARED_STEREOPLUSREVERB = 1;

// Which fields of DMUS_AUDIOPARAMS hold data.
inline constexpr std::int32_t DMUS_AUDIOPARAMS_FEATURES = 1;
inline constexpr std::int32_t DMUS_AUDIOPARAMS_VOICES = 2;
inline constexpr std::int32_t DMUS_AUDIOPARAMS_SAMPLERATE = 4;
inline constexpr std::int32_t DMUS_AUDIOPARAMS_DEFAULTSYNTH = 8;

// Segment play flags.
inline constexpr std::int32_t DMUS_SEGF_DEFAULT = 0x4000;

// Notification types and the options a segment notification carries.
inline constexpr std::int32_t DMUS_NOTIFY_ON_SEGMENT = 5;
inline constexpr std::int32_t DMUS_NOTIFICATION_SEGSTART = 0;
inline constexpr std::int32_t DMUS_NOTIFICATION_SEGEND = 1;
inline constexpr std::int32_t DMUS_NOTIFICATION_SEGALMOSTEND = 2;
inline constexpr std::int32_t DMUS_NOTIFICATION_SEGLOOP = 3;
inline constexpr std::int32_t DMUS_NOTIFICATION_SEGABORT = 4;

// Audio path addressing: every performance channel; the buffer stage.
inline constexpr std::int32_t DMUS_PCHANNEL_ALL = -5;
inline constexpr std::int32_t DMUS_PATH_BUFFER = 0x6000;

// Per-effect results of SetFX.
inline constexpr std::int32_t DSFXR_LOCSOFTWARE = 2;
inline constexpr std::int32_t DSFXR_UNKNOWN = 5;

// Master controls.
inline constexpr float kMinMasterTempo = 0.01f;
inline constexpr float kMaxMasterTempo = 100.0f;
inline constexpr std::int32_t kMinMasterVolume = -20000;  // hundredths of a decibel
inline constexpr std::int32_t kMaxMasterVolume = 2000;

struct DMUS_AUDIOPARAMS {
  bool initNow = false;
  std::int32_t validData = 0;  // DMUS_AUDIOPARAMS_* bits
  std::int32_t features = 0;
  std::int32_t voices = 0;
  std::int32_t sampleRate = 0;
  std::string defaultSynth;
};

struct DMUS_NOTIFICATION_PMSG {
  std::int32_t notificationType = 0;    // DMUS_NOTIFY_ON_SEGMENT
  std::int32_t notificationOption = 0;  // DMUS_NOTIFICATION_SEG*
  std::int32_t musicTime = 0;
  std::int32_t field1 = 0;
  std::int32_t field2 = 0;
  Ref<DirectMusicSegmentState8> segmentState;
};

// One entry of an effect chain. Only the class text is read.
struct DSEFFECTDESC {
  std::string guidDSFXClass;
  std::int32_t flags = 0;
  std::int32_t reserved1 = 0;
  std::int32_t reserved2 = 0;
};

struct DSFXDISTORTION {
  float Gain;                   // dB, -60..0
  float Edge;                   // %, 0..100
  float PostEQCenterFrequency;  // Hz, 100..8000
  float PostEQBandwidth;        // Hz, 100..8000
  float PreLowpassCutoff;       // Hz, 100..8000
};

struct DSFXCHORUS {
  float WetDryMix;        // %, 0..100
  float Depth;            // % of the delay, 0..100
  float Feedback;         // %, -99..99
  float Frequency;        // LFO Hz, 0..10
  std::int32_t Waveform;  // 0 triangle, 1 sine
  float Delay;            // ms, 0..20
  std::int32_t Phase;     // 0..4 = -180, -90, 0, 90, 180 degrees between left and right
};

struct DSFXWAVESREVERB {
  float InGain;           // dB, -96..0
  float ReverbMix;        // dB, -96..0 (0 = fully wet)
  float ReverbTime;       // ms, 0.001..3000
  float HighFreqRTRatio;  // 0.001..0.999
};

struct DSFXI3DL2REVERB {
  std::int32_t Room;         // mB, -10000..0
  std::int32_t RoomHF;       // mB, -10000..0
  float RoomRolloffFactor;   // 0..10
  float DecayTime;           // s, 0.1..20
  float DecayHFRatio;        // 0.1..2
  std::int32_t Reflections;  // mB, -10000..1000
  float ReflectionsDelay;    // s, 0..0.3
  std::int32_t Reverb;       // mB, -10000..2000
  float ReverbDelay;         // s, 0..0.1
  float Diffusion;           // %, 0..100
  float Density;             // %, 0..100
  float HFReference;         // Hz, 20..20000
};

static_assert(sizeof(DSFXDISTORTION) == 20);
static_assert(sizeof(DSFXCHORUS) == 28);
static_assert(sizeof(DSFXWAVESREVERB) == 16);
static_assert(sizeof(DSFXI3DL2REVERB) == 48);

// Effect class texts and interface texts.
inline constexpr const char* GUID_DSFX_STANDARD_DISTORTION = "GUID_DSFX_STANDARD_DISTORTION";
inline constexpr const char* GUID_DSFX_STANDARD_CHORUS = "GUID_DSFX_STANDARD_CHORUS";
inline constexpr const char* GUID_DSFX_WAVES_REVERB = "GUID_DSFX_WAVES_REVERB";
inline constexpr const char* GUID_DSFX_STANDARD_I3DL2REVERB = "GUID_DSFX_STANDARD_I3DL2REVERB";
inline constexpr const char* IID_DirectSoundFXDistortion = "IID_DirectSoundFXDistortion";
inline constexpr const char* IID_DirectSoundFXChorus = "IID_DirectSoundFXChorus";
inline constexpr const char* IID_DirectSoundFXWavesReverb = "IID_DirectSoundFXWavesReverb";
inline constexpr const char* IID_DirectSoundFXI3DL2REVERB = "IID_DirectSoundFXI3DL2REVERB";
inline constexpr const char* GUID_ALL_OBJECTS = "GUID_ALL_OBJECTS";
inline constexpr const char* IID_DirectSoundBuffer8 = "IID_IDirectSoundBuffer8";

}  // namespace orvan::music
