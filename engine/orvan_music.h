// OrvanMusic: one independent music channel.
//
// The class owns the platform objects of its channel and drives them; it synthesises and
// mixes nothing itself. Every public method keeps the form it has on the component
// interface: inputs the caller passes by reference are only read, every call returns a
// status, and results come back through out-values (written only on success).
//
// Failure styles, fixed per method:
//   - box: InitOrvanAudio, Music_Load and the SetFX_* parameter methods catch every failure,
//     show a message box and return S_OK (the SetFX_* methods report false);
//   - box as well: Music_LoadBytes and Music_LoadStream, as Music_Load, once their argument
//     is a byte array or a stream at all;
//   - status: the other members of the second interface show no box; they return what went wrong,
//   E_INVALIDARG for a value outside its range and
//     E_NOTIMPL for the members not built yet;
//   - best effort: CleanupAudio and Effect_Clear attempt every step and return S_OK;
//   - pass-through: every other method stops at the first failing step and returns its
//     status; a call through an empty member fails with com::E_OBJECT_NOT_SET.
//
// Threads: every public method runs on the thread that created the object. The platform
// calls DXCallback on its notification thread; the only lock in the class guards `Perf`
// against that callback.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/event_delivery.h"
#include "engine/generated/effect_parameter_methods.inc"
#include "orvan/chorus_constants.h"
#include "platform/com/auto_string.h"
#include "platform/com/object.h"
#include "platform/music/client/audio_path.h"
#include "platform/music/client/byte_source.h"
#include "platform/music/client/collection.h"
#include "platform/music/client/effects.h"
#include "platform/music/client/loader.h"
#include "platform/music/client/performance.h"
#include "platform/music/client/root.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/sound_buffer.h"
#include "platform/music/output/output_device.h"
#include "platform/music/types.h"

namespace orvan::engine {

using com::HResult;

using ::CONST_OSFX_PHASE;
using ::CONST_OSFX_WAVE;

// Texts, captions and icons of the boxes the engine shows.
inline constexpr const char* kInitFailedText = "Could not initialize Engine\r\n ";
inline constexpr const char* kInitFailedCaption = "Exiting...";
inline constexpr const char* kLoadFailedText = "Couldn't load this file";
inline constexpr const char* kLoadFailedCaption = "Couldn't load";
inline constexpr const char* kNotificationFailedText = "Error processing this Notification";
inline constexpr const char* kNotificationFailedCaption = "Cannot Process.";
inline constexpr const char* kFarewellText = "Thank you for using 'Orvan Music Engine' ";

// The slot table starts with indexes 0 to 16.
inline constexpr std::int32_t kInitialMaxDLS = 16;
inline constexpr std::int32_t kDefaultSampleRate = 48000;
inline constexpr std::int32_t kPerformanceChannels = 128;
inline constexpr std::size_t kMaxEffects = 4;
// SetBeatInfo's ranges.
inline constexpr float kMinBeatsPerMinute = 1.0f;
inline constexpr float kMaxBeatsPerMinute = 1000.0f;
inline constexpr std::int32_t kMaxBeatsPerBar = 64;
// Boundaries handed over with a queued piece at most; beyond them, the end of the pass.
inline constexpr std::size_t kMaxQueuedBoundaries = 4096;

class OrvanMusic : public com::Object, public music::EventSink {
 public:
  // Creates no platform object: the root comes with the first call that needs one.
  OrvanMusic();

  // --- Lifecycle -------------------------------------------------------------------------
  // Brings up the channel's performance for window `hwnd` at `SampleRate` Hz. A failure
  // shows the "Exiting..." box and runs CleanupAudio; the call itself always succeeds.
  HResult InitOrvanAudio(const std::int32_t& hwnd,
                         const std::int32_t& SampleRate = kDefaultSampleRate);
  // Releases every platform object of the channel except the root; never fails.
  HResult CleanupAudio();

  // --- Music ------------------------------------------------------------------------------
  // Loads a file as the channel's segment; a failure shows the "Couldn't load" box and
  // keeps the previous segment. Nothing playing is stopped.
  HResult Music_Load(const com::BStr& Filename);
  // Plays the segment with `nLoop` repetitions after the first pass; nothing when no
  // segment is loaded.
  HResult Music_Play(const std::int32_t& nLoop = 0);
  HResult Music_Stop();
  HResult GetLengh(std::int32_t& result);
  HResult GetCurrentPosition(std::int32_t& result);
  HResult GetRepeats(std::int32_t& result);
  // Stops, moves the segment's start point to `Pos` (music time) and plays again.
  HResult SetPosition(const std::int32_t& Pos);
  HResult IsPlaying(com::VariantBool& result);

  // --- Effects chain ----------------------------------------------------------------------
  HResult Effect_DistortionOn();
  HResult Effect_ChorusOn();
  HResult Effect_ReverbOn();
  HResult Effect_3DReverb_On();
  HResult Effect_Clear();

  // --- Effect parameters (result: true when the value was applied) -----------------------
  // One per field of the four effects the interface sets, from the interface's description.
#define ORVAN_DECLARE_EFFECT_PARAMETER_METHOD(method, Value_type, record, field) \
  HResult method(Value_type Value, com::VariantBool& result);
  ORVAN_EFFECT_PARAMETER_METHODS(ORVAN_DECLARE_EFFECT_PARAMETER_METHOD)
#undef ORVAN_DECLARE_EFFECT_PARAMETER_METHOD

  // --- Master controls (this channel's performance only) ----------------------------------
  HResult SetMasterTempo(const float& Value);
  HResult SetMasterVolume(const std::int32_t& Value);
  HResult GetMasterTempo(float& result);
  HResult GetMasterVolume(std::int32_t& result);

  // --- Interactive music (engine/interactive_music.cpp) -----------------------------------
  // Music time as GetLengh; `Boundary` an OrvanBoundary.
  // The loaded piece's loop region, from its next play: passes with repeats left end at
  // `EndTime` and go on at `StartTime`; the last plays on to the end. (0, 0): the whole
  // piece. Loading sets the region the file marks. E_INVALIDARG unless (0, 0) or
  // 0 <= StartTime < EndTime <= the length; E_NOTIMPL for a tracker module, which plays its
  // own loops.
  HResult SetLoopRegion(std::int32_t StartTime, std::int32_t EndTime);
  HResult GetLoopStart(std::int32_t& result);
  HResult GetLoopEnd(std::int32_t& result);
  // Holds the piece where it is (its notes released, a recording's stream waiting) and goes
  // on from that frame with its controllers restored; IsPlaying is false meanwhile. S_FALSE
  // for a second pause or a resume of a piece playing; DSERR_INVALIDCALL when nothing plays
  // (or was played or stopped since the pause).
  HResult Music_Pause();
  HResult Music_Resume();
  // Glides MIDI channel `Channel` (1..16) to `Volume` (-10000..0, on top of the piece's own;
  // -10000 silences it while its controllers go on following the music) over
  // `Milliseconds`, evenly in decibels. The performance keeps it across plays. E_INVALIDARG
  // outside those ranges. (Tracker modules' channels are not reached yet.)
  HResult SetChannelVolume(std::int32_t Channel, std::int32_t Volume, std::int32_t Milliseconds);
  // Loads `Filename` now (its instruments downloaded, its first audio decoded) and starts it
  // on the first `Boundary` of the piece playing after its position: a beat or a bar of
  // its grid (as GetBar), the end of its pass, a marker or cue point (MIDI), or the next
  // synthesizer block. A new pass of the piece playing is always a boundary; the grid,
  // in music time, follows the master tempo as the piece does. From the boundary the piece
  // playing fades out over `FadeMilliseconds` (linearly in gain) under the new one, or, with
  // 0 or when it is synthesized (MIDI, sharing the synthesizer), stops there with its
  // release and effect tails ringing out. A second call before the boundary replaces the
  // piece queued. With nothing playing it starts at once. The new piece plays once;
  // Seg and SegState are its from the call on.
  HResult Music_PlayNext(const com::BStr& Filename, std::int32_t Boundary,
                         std::int32_t FadeMilliseconds);
  // Loads `Filename` now and plays it once over the piece playing from its next `Boundary`
  // (as Music_PlayNext), leaving that piece's position and repeats alone; a later stinger
  // cuts the one sounding. A recording or a module: DSERR_INVALIDCALL for MIDI, which would
  // play on the piece's own synthesizer channels. Stopping the piece stops its stingers.
  HResult PlayStinger(const com::BStr& Filename, std::int32_t Boundary);
  // Plays the loaded piece as a layer of `Leader`'s: it starts on the next `Boundary` of the
  // piece the leader plays (as Music_PlayNext counts them), on the leader's output sample
  // within one synthesizer block, and keeps the leader's master tempo, later changes too,
  // until the layer ends or is stopped or replaced, or the leader stops, ends or closes
  // (it then plays on at its own). With nothing sounding on the leader it starts at once.
  // Both channels must render into one output: the real-time device (every channel of the
  // process shares it), or one file (InitOrvanRender on the same file at the same rate);
  // else DSERR_INVALIDCALL, as when either is not open. E_POINTER when `Leader` is no
  // channel (nullptr: the caller passed no OrvanMusic object), E_INVALIDARG for this very
  // channel or a boundary out of range; with nothing loaded, nothing happens (as Music_Play).
  HResult Music_PlayWith(OrvanMusic* Leader, std::int32_t Boundary);

  // --- The beat grid (engine/beat_grid.cpp) ------------------------------------------------
  // The grid of recorded pieces (MIDI takes its own from its time signatures, 4/4 until the
  // first): 1..1000 beats a minute, 1..64 beats a bar; 120 in 4 until set.
  HResult SetBeatInfo(float BeatsPerMinute, std::int32_t BeatsPerBar);
  // The bar and the beat in it (both from 1) where the piece playing is now.
  HResult GetBar(std::int32_t& result);
  HResult GetBeat(std::int32_t& result);

  // --- Fades (engine/master_controls.cpp) -------------------------------------------------
  // Glides the master volume from its present value to `Volume` (-20000..2000) over
  // `Milliseconds` (>= 0), evenly in decibels, starting with the next block; SetMasterVolume
  // ends a fade under way. GetMasterVolume answers `Volume` from the call on.
  HResult FadeTo(std::int32_t Volume, std::int32_t Milliseconds);

  // --- The channel's SoundFont and rendering to a file (engine/render_to_file.cpp) --------
  // The SoundFont (SF2, or SF3 with compressed samples) whose instruments this channel's
  // MIDI pieces use from their next play on; an empty name goes back to the system's General
  // MIDI SoundFont. Kept across CleanupAudio and InitOrvanAudio. MUSIC_E_NO_SOUNDFONT for a
  // file that cannot be read, MUSIC_E_SYNTH_FAILED for one that is no SoundFont.
  HResult SetSoundFont(const com::BStr& Filename);
  // Instead of InitOrvanAudio: opens the channel on a WAV file (32-bit float stereo at
  // `SampleRate`, 11025..96000 Hz) that advances only inside RenderFor. A file another open
  // channel renders (the same file at the same rate) is joined: one file, both channels
  // mixed, advanced by RenderFor on either for both; DSERR_INVALIDCALL for the same file at
  // another rate. The file is complete once the last channel rendering it closes (CleanupAudio
  // or another Init). A failure leaves the channel closed and is returned.
  HResult InitOrvanRender(const com::BStr& Filename, std::int32_t SampleRate);
  // Renders exactly `Milliseconds` (>= 0) more audio into the file and returns: after calls
  // totalling T ms (on any channel joined in the file) the file holds floor(T * rate / 1000)
  // frames, however T was split. Events are delivered for this channel's music; a joined
  // channel's are delivered at its own next RenderFor.
  // DSERR_INVALIDCALL when the channel was not opened with InitOrvanRender, E_INVALIDARG for
  // a time the file cannot hold.
  HResult RenderFor(std::int32_t Milliseconds);

  // --- From memory and from a stream (engine/load_from_memory.cpp) ------------------------
  // Music_Load, SetSoundFont and LoadDLS for bytes a client holds: a byte array's contents,
  // or everything a stream gives from its position to its end, read at the call (see
  // platform/music/client/byte_source.h). Recognised by content; the same statuses, boxes
  // and checks as for a file with those bytes. The source's own status (E_INVALIDARG for an
  // array that is no vector of bytes, E_POINTER for no stream, E_NOINTERFACE for an object
  // that is no stream) comes back without a box. The bytes are the engine's own copy.
  HResult Music_LoadBytes(const music::ByteSource& Data);
  HResult Music_LoadStream(const music::ByteSource& Stream);
  HResult SetSoundFontBytes(const music::ByteSource& Data);
  HResult SetSoundFontStream(const music::ByteSource& Stream);
  HResult LoadDLSBytes(const music::ByteSource& Data, std::int32_t Index);
  HResult LoadDLSStream(const music::ByteSource& Stream, std::int32_t Index);

  // --- Progress (engine/progress.cpp) -------------------------------------------------------
  // The loaded piece's length and the position of the piece playing, as GetLengh and
  // GetCurrentPosition, in seconds through the piece's tempo map (or a module's rows) at the
  // present master tempo: what a progress bar shows. The statuses of those two members.
  HResult GetLengthSeconds(double& result);
  HResult GetPositionSeconds(double& result);
  // Frames the output has been handed since InitOrvanAudio or InitOrvanRender (by RenderFor,
  // for a render), and the peak magnitude of the last period (1.0: full scale).
  HResult GetOutputFrames(double& result);
  HResult GetOutputPeak(float& result);
  // A sound card's troubles since InitOrvanAudio: the times its device went away, devices
  // opened again after that, and periods rendered after the device needed them (heard as
  // dropouts). Always 0 on a render.
  HResult GetDeviceLosses(std::int32_t& result);
  HResult GetDeviceReopens(std::int32_t& result);
  HResult GetLatePeriods(std::int32_t& result);
  // Events a sink missed since the object was made, whether a channel is open or not: those
  // the render side dropped and those that found a sink's queue full (DroppedEvents()).
  HResult GetDroppedEvents(std::int32_t& result);

  // --- DLS instrument collections ---------------------------------------------------------
  HResult Change_MaxDLS(const std::int32_t& NewValue);
  // An omitted slot index arrives as 0, the slot that exists at every table size.
  HResult LoadDLS(const com::BStr& Filename, const std::int32_t& sIndex = 0);
  HResult ApplyDLS(const std::int32_t& sIndex = 0);

  // --- Notification sink ------------------------------------------------------------------
  // Called by the platform on its notification thread, once per signal: takes one message
  // off the performance's queue. An empty queue shows the "Cannot Process." box; a failure
  // to ask (no performance) is returned to the platform.
  HResult DXCallback(std::int32_t eventid) override;

  // --- Events (engine/event_delivery.h) -----------------------------------------------------
  // Who hears what this channel plays as it is heard (empty: nobody): called in the order
  // heard, on a thread of the channel's own or, for what RenderFor renders, on the caller's
  // before it returns. When this returns, the previous handler is no longer called. Not
  // from inside the handler.
  void SetEventHandler(EventHandler handler) {
    Events.set_handler(std::move(handler));
  }
  // Events a listener missed (EventDelivery::dropped), read by GetDroppedEvents.
  std::uint64_t DroppedEvents() const {
    return Events.dropped();
  }

 protected:
  // Shows the farewell box, then destroys every event this object created (waiting for a
  // callback in flight) and lets go of the root, so no callback can reach a destroyed
  // object. The performance shuts down when its last reference goes.
  ~OrvanMusic() override;

  // Creates the root object when `DX` is empty. E_OUTOFMEMORY when it cannot be made.
  HResult EnsureDX();
  // InitOrvanAudio's steps: a new performance on `device` (empty: the one the platform
  // settings choose), its loader, notifications and the channel's SoundFont. Stops at the
  // first failure and returns it; the caller cleans up.
  HResult StartChannel(std::int32_t hwnd, std::int32_t SampleRate,
                       std::unique_ptr<music::output::OutputDevice> device);
  // Music_Load's steps for the file at `path`, without the box (engine/music_playback.cpp).
  HResult LoadMusicFile(const std::string& path);
  // The same for a recording read in place (engine/load_from_memory.cpp).
  HResult LoadRecordingIn(std::shared_ptr<const music::wave::ByteStore> bytes);
  // SetSoundFont's steps for a name without NULs (engine/render_to_file.cpp).
  HResult UseSoundFont(const std::string& path);
  // LoadDLS's steps once the slot is known to exist (engine/dls_collections.cpp).
  HResult LoadCollectionInto(std::int32_t index,
                             const std::shared_ptr<const music::MemoryFile>& file,
                             const std::string& path);
  // The three loads from a byte source (engine/load_from_memory.cpp).
  HResult LoadMusicFrom(const music::ByteSource& source);
  HResult UseSoundFontFrom(const music::ByteSource& source);
  HResult LoadCollectionFrom(const music::ByteSource& source, std::int32_t index);
  // The bar and beat of the piece playing (engine/beat_grid.cpp).
  HResult GridPositionNow(std::int32_t& bar, std::int32_t& beat);
  // The music times of `segment`'s OrvanBoundary `boundary` (beat, bar or marker) after
  // `after`, ascending, at most kMaxQueuedBoundaries (engine/beat_grid.cpp).
  std::vector<std::int32_t> BoundaryTimes(const music::DirectMusicSegment8& segment,
                                          std::int32_t boundary, std::int32_t after) const;
  // The state of the piece sounding on this channel and whether it plays; if it does, the
  // music times of its OrvanBoundary `Boundary` after its position, its end always last.
  HResult SoundingBoundaries(std::int32_t Boundary,
                             com::Ref<music::DirectMusicSegmentState8>& playing, bool& sounding,
                             std::vector<std::int32_t>& boundaries);
  // Music_PlayNext's and PlayStinger's steps (engine/transitions.cpp).
  HResult QueueOnBoundary(const com::BStr& Filename, std::int32_t Boundary,
                          std::int32_t FadeMilliseconds, bool stinger);
  // The only writer of `Perf`: swaps under the guard the callback takes, and releases the
  // old performance outside it.
  void ReplacePerf(com::Ref<music::DirectMusicPerformance8> next);
  // Appends `effect_class` to the effect list and sets the buffer's whole chain from it
  // (engine/effects_chain.cpp).
  HResult SwitchOnEffect(std::string_view effect_class);
  // Fetches the first effect of the record's class afresh into its object member, copies
  // its parameters into its record member, overwrites `field` with `value` and writes the
  // record back. A failure shows a box with its description; `result` tells whether the
  // value was applied (engine/effect_parameters.cpp).
  template <class Record, class Field>
  HResult PatchEffectField(Field Record::*field, Field value, com::VariantBool& result);

  // The channel's state record. Protected, not private, so that tests can look at it
  // through a derived class (the component layer holds a channel; it derives nothing).
  com::Ref<music::DirectX8> DX;
  com::Ref<music::DirectMusicPerformance8> Perf;
  com::Ref<music::DirectMusicLoader8> Loader;
  com::Ref<music::DirectMusicSegment8> Seg;
  com::Ref<music::DirectMusicSegmentState8> SegState;
  std::int32_t MaxDLS = 0;
  std::vector<com::Ref<music::DirectMusicCollection8>> DLSCollections;
  com::Ref<music::DirectSoundBuffer8> DSBuffer;
  std::int32_t EffectCount = 0;
  music::DMUS_AUDIOPARAMS AudioParams;
  std::int32_t NotifyEvent = 0;
  com::Ref<music::DirectSoundFXDistortion8> FXDistortion;
  music::DSFXDISTORTION DistortionParams{};
  com::Ref<music::DirectSoundFXChorus8> FXChorus;
  music::DSFXCHORUS ChorusParams{};
  com::Ref<music::DirectSoundFXWavesReverb8> FXWavesReverb;
  music::DSFXWAVESREVERB WavesReverbParams{};
  com::Ref<music::DirectSoundFXI3DL2Reverb8> FX3DReverb;
  music::DSFXI3DL2REVERB Reverb3DParams{};
  std::array<music::DSEFFECTDESC, kMaxEffects> EffectDescs{};
  std::vector<std::int32_t> EffectResults;
  // SetSoundFont's choice (empty: the system's), applied to every performance this channel
  // starts.
  std::string SoundFontPath;
  // The memory file SoundFontPath names when the SoundFont came as bytes: every performance
  // the channel starts reads it again.
  std::shared_ptr<const music::MemoryFile> SoundFontFile;
  // The state a piece queued by Music_PlayNext replaces on its boundary, until it starts.
  com::Ref<music::DirectMusicSegmentState8> QueuedFrom;
  // SetBeatInfo's grid for recorded pieces.
  float RecordingBeatsPerMinute = 120.0f;
  std::int32_t RecordingBeatsPerBar = 4;
  EventDelivery Events;

 private:
  // Held by DXCallback while it asks `Perf` for a message, and by ReplacePerf while it
  // swaps the member; never around anything that waits.
  std::mutex perf_guard_;
  // What the platform's events call. It forwards to DXCallback by a non-virtual call, so a
  // callback in flight never reads this object's vtable while the destructor rewrites it.
  class EventForwarder final : public music::EventSink {
   public:
    explicit EventForwarder(OrvanMusic& owner) : owner_(owner) {}
    HResult DXCallback(std::int32_t eventid) override {
      return owner_.OrvanMusic::DXCallback(eventid);
    }

   private:
    OrvanMusic& owner_;
  };
  EventForwarder event_sink_{*this};
  // Every event handle CreateEvent gave this object that no DestroyEvent has taken back
  // yet, so that destruction can stop them all, even those an InitOrvanAudio called twice
  // left behind. Client thread only.
  std::vector<std::int32_t> live_events_;
};

}  // namespace orvan::engine
