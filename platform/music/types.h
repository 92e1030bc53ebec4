// Records and constants of the music and sound platform, as its callers pass them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/object.h"
#include "platform/music/dsp/effect_records.h"

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

// The platform names the objects of an audio path by text, not by GUID: these two ask a
// path for its sound buffer (each effect's class and interface texts are in
// dsp/effect_catalogue.h).
inline constexpr const char* kAllObjectsText = "GUID_ALL_OBJECTS";
inline constexpr const char* kSoundBufferInterfaceText = "IID_IDirectSoundBuffer8";

}  // namespace orvan::music
