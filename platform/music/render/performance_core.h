// The working half of a performance: synthesizer, play sources, render pipeline, master
// controls and notifications. DirectMusicPerformance8 checks arguments and states and calls
// in here. The class has two halves: the client side (client/performance_requests.cpp,
// performance_instruments.cpp, performance_collections.cpp) and the render side
// (render/performance_render.cpp). The render side includes nothing of client/.
//
// Threads. Client-side methods may be called from the client thread and from the thread
// that delivers notifications; they serialise on client_mutex_, which the render thread
// never takes and which no client call holds while it reads instruments or a collection,
// or while a play source decodes ahead (PlayContent::open).
//
// What reaches the render side, and how (the only channels):
// - the command queue (commands_, SPSC): plays (with their source, published state and
//   instruments), queued plays and stingers, stops, pauses, path activation, a new effect
//   chain, a downloaded collection, volume fades and channel ramps;
// - master_tempo_ and master_volume_ (with volume_sets_): atomics the client sets, read at the
//   start of each render() call; notify_segments_ and notification_handle_ likewise, read
//   when a notification is queued;
// - a leader's LeadClock (layers): written by the leader's render thread, read by this one;
// - effect parameters: each effect object publishes its own to its DSP through a mailbox
//   (dsp/param_mailbox.h), which the DSP reads at the start of its next block.
// A play source's decode thread (a recording's, a module's) is reached by the render side
// alone: the play opens at the master tempo of the moment (PlayOptions::master_tempo), and
// every render() hands the source the tempo of its period, which the source stores in an
// atomic of its own for its decode thread.
// The render side answers through atomics (positions, playing and retired flags in
// PlaybackShared; the instruments it sounds from and its switches of them), the music event
// ring, a bounded notification ring and the ring of retired effect chains. Objects it refers
// to are kept alive by the client side until it has let go of them: the render thread never
// releases a reference.
//
// Block pipeline (render()): commands -> for each 64-frame synthesizer block, the playing
// source dispatches the events whose sample falls in it (onsets land in the block holding their
// sample, at most 63 frames early; only when a device period is no multiple of 64 may the
// events of a play's first, partly rendered block sound up to 63 frames late) -> FluidSynth renders
// dry stereo (buffer 0) and its reverb's wet stereo (buffer 1) -> the playing source adds its own
// audio (a recording, a module) to buffer 0 -> buffer 0's effect chain runs in place on the dry
// pair -> mix (a chunk with a non-finite sample is silenced and the chain reset) -> DC blocker ->
// path activation ramp -> master volume ramp -> peak limiter -> device.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct _fluid_sfont_t;

#include "platform/music/dsp/output_stage.h"
#include "platform/music/output/output_device.h"
#include "platform/music/render/effect_chain.h"
#include "platform/music/render/lead_clock.h"
#include "platform/music/render/music_events.h"
#include "platform/music/render/sequencer.h"
#include "platform/music/render/spsc_ring.h"
#include "platform/music/sources/play_source.h"
#include "platform/music/synth/soundfont_catalogue.h"
#include "platform/music/types.h"

namespace orvan::music {

namespace synth {
class Synth;
class InstrumentLibrary;
}  // namespace synth
class EventHub;
struct PlaybackShared;
class DirectMusicSegment8;
class DirectMusicSegmentState8;
class DirectMusicCollection8;

class PerformanceCore final : public output::RenderSource, private PlayListener {
 public:
  // Notifications unread for this long are discarded.
  static constexpr std::chrono::milliseconds kNotificationLifetime{2000};
  // How many notifications wait for a reader at most; later ones are dropped and counted.
  static constexpr std::size_t kNotificationCapacity = 256;
  // Path activation ramps take this long, so switching effects does not click.
  static constexpr double kActivateRampSeconds = 0.005;
  // A master volume change glides over this many frames from the start of the next period,
  // so it never steps and is complete one synthesizer block after it is taken up.
  static constexpr int kVolumeRampFrames = 64;
  // The voice pool a channel starts with: what synth::voice_pool_for gives a piece of 92
  // voices at once. Half the openmsx pieces (15 of 31, with FluidR3) fit it and play on
  // the channel's first synthesizer; a busier one gets a synthesizer of its own. Each 8
  // voices more cost a channel about 0.08 MiB (bench_memory).
  static constexpr int kInitialVoices = 112;

  explicit PerformanceCore(std::shared_ptr<EventHub> events);
  ~PerformanceCore();

  // --- client side ---
  // Creates the synthesizer, opens the device and starts rendering. `device`, when given,
  // is used instead of the one the platform settings choose (a file rendered on demand).
  HResult start_audio(int sample_rate, std::unique_ptr<output::OutputDevice> device = nullptr);
  // Stops rendering and lets go of everything; every later call sees closed().
  void close();
  bool audio_running() const;
  bool closed() const;
  int sample_rate() const { return sample_rate_; }
  output::OutputDevice* device() const { return device_.get(); }

  // Where a queued play starts (client/performance_transitions.cpp): the music times of the
  // piece playing at which it may begin, the first one after the position reached being
  // taken; a new pass of that piece, or its end, is always one.
  struct QueuedStart {
    std::vector<std::int32_t> boundaries;  // ascending, within one pass
    bool immediate = false;                // at the next synthesizer block instead
    // Frames over which the piece playing fades out (linearly in gain) from there, under
    // the new one. Only music that renders its own audio can fade apart from the new
    // piece: synthesized music shares the synthesizer and stops on the boundary, its
    // release tails ringing out.
    std::int64_t fade_frames = 0;
    // A stinger: played once over the piece playing, which goes on unchanged. Only music
    // that renders its own audio (a recording, a module): DSERR_INVALIDCALL for MIDI, whose
    // channels would be the piece's.
    bool secondary = false;
    // A layer: the boundaries are music times of the piece another channel (the leader,
    // whose lead_clock() this is) plays, seen as that channel renders them on the output
    // both share; the play then keeps the leader's master tempo while both play, and waits
    // for the boundary even when nothing plays here. `immediate`: the leader's next block.
    std::shared_ptr<LeadClock> leader;
  };

  // `queued_start`: instead of replacing what plays now, the play waits for a boundary of it
  // (replacing any play queued so before); with nothing playing it starts at once.
  HResult play(const Ref<DirectMusicSegment8>& segment, Ref<DirectMusicSegmentState8>& state,
               const QueuedStart* queued_start = nullptr);
  HResult stop_segment(const DirectMusicSegment8* segment);
  HResult stop_state(const DirectMusicSegmentState8* state);
  HResult stop_everything();
  bool is_playing(const DirectMusicSegment8* segment, const DirectMusicSegmentState8* state);

  // Layers (render/performance_layers.cpp): this channel's clock, for the channels that
  // follow it; whether both render into one output (one sample clock); and rendering after
  // `leader` in every period of that output, so that this channel sees its clock first.
  const std::shared_ptr<LeadClock>& lead_clock() const { return lead_clock_; }
  bool shares_output_with(const PerformanceCore& other) const;
  void render_after(const PerformanceCore& leader);

  void set_master_tempo(float tempo) { master_tempo_.store(tempo, std::memory_order_relaxed); }
  float master_tempo() const { return master_tempo_.load(std::memory_order_relaxed); }
  // Ends a fade under way.
  void set_master_volume(std::int32_t mb) {
    master_volume_.store(mb, std::memory_order_relaxed);
    volume_sets_.fetch_add(1, std::memory_order_release);
  }
  // During a fade, the volume it goes to.
  std::int32_t master_volume() const { return master_volume_.load(std::memory_order_relaxed); }
  // Glides the master volume from where it is at the start of the next period to `mb` over
  // `frames` (at least kVolumeRampFrames), evenly in decibels, sample by sample.
  HResult fade_master_volume(std::int32_t mb, std::int64_t frames);
  // The SoundFont the instruments of later MIDI plays come from; empty: the one the platform
  // settings choose. MUSIC_E_NO_SOUNDFONT or MUSIC_E_SYNTH_FAILED when it cannot be read, and
  // nothing changes. Read on the calling thread, outside the client mutex.
  HResult set_soundfont(const std::string& path);

  // Holds the play of `state` where it is from the next block on: its notes are released and
  // its source is no longer advanced, so a recording's stream waits where it was. resume()
  // goes on from that very frame, the play's controllers restored. S_FALSE when already
  // paused (pause) or not paused (resume); DSERR_INVALIDCALL when `state` is not the play
  // under way or was played or stopped since its pause (client/performance_interactive.cpp).
  HResult pause(const DirectMusicSegmentState8* state);
  HResult resume(const DirectMusicSegmentState8* state);
  // Glides MIDI channel `channel` (0..15) from its present level to `mb` (-10000..0
  // hundredths of a dB on top of the music's own; -10000 silent) over `frames`, evenly in
  // decibels, from the next block on (client/performance_interactive.cpp).
  HResult ramp_channel_volume(int channel, std::int32_t mb, std::int64_t frames);

  void enable_segment_notifications(bool on) {
    notify_segments_.store(on, std::memory_order_relaxed);
  }
  void set_notification_handle(std::int32_t handle) {
    notification_handle_.store(handle, std::memory_order_relaxed);
  }
  // True when a message was taken.
  bool take_notification(DMUS_NOTIFICATION_PMSG& message);
  // For tests: how long unread notifications are kept (kNotificationLifetime by default).
  void set_notification_lifetime(std::chrono::milliseconds lifetime);
  std::uint64_t dropped_notifications() const { return dropped_.load(std::memory_order_relaxed); }

  // Where the render side publishes what is heard (started, looped, ended, stopped, beats,
  // markers, a queued piece begun), with frames counted from the first frame rendered. Set it
  // before start_audio; none: nothing is published.
  void set_music_events(std::shared_ptr<MusicEventRing> ring) { music_events_ = std::move(ring); }

  HResult set_path_active(bool active);
  bool path_active() const { return path_active_.load(std::memory_order_relaxed); }
  // Swaps buffer 0's effect chain at the next block boundary (empty: no effects). The
  // previous chain is destroyed on a client thread once the render thread let go of it.
  HResult replace_effect_chain(std::unique_ptr<EffectChain> chain);

  // Reads the collection's instruments into this performance's synthesizer once, and makes
  // them sound over the General MIDI set from the next block on. Playing a segment later
  // brings back the collection it is connected to, if downloaded here, and otherwise the
  // General MIDI set alone. The file is read outside the client mutex.
  HResult download_collection(const DirectMusicCollection8& collection);
  // For tests: collections whose instruments the synthesizer holds.
  std::size_t downloaded_collections() const;
  // For tests and benchmarks: fonts of General MIDI instruments held for the synthesizer
  // (the one it sounds and those it may still be playing from), after freeing the rest.
  std::size_t held_instrument_fonts();

  // --- render thread ---
  void render(float* interleaved_stereo, int frames) noexcept override;
  // A play requested and not yet started, or one under way.
  bool music_pending() const noexcept override;
  int render_rank() const noexcept override { return render_rank_.load(std::memory_order_relaxed); }
  // Where a queued piece takes over (scheduled starts call it at the boundary): publishes
  // TransitionDone `at` frames into the dispatch() or render() call under way, or at the start
  // of this render() call when called while commands are applied.
  void on_queued_piece_started(double at) noexcept;

  // For tests and benchmarks: voices the synthesizer is playing. Racy while rendering.
  int active_voices() const;
  // For tests and benchmarks: the voice pool of the synthesizer the last play was given.
  int voice_pool() const;
  // For tests and benchmarks: the most sequencing work one synthesizer block has needed.
  SequencerLoad busiest_block() const;
  // For tests and benchmarks: frames of music rendered silent because a source's decoder
  // had nothing ready.
  std::uint64_t wave_silent_frames() const {
    return starved_frames_.load(std::memory_order_relaxed);
  }

 private:
  enum class CommandKind : std::uint8_t {
    Play,
    StopSegment,
    StopState,
    StopAll,
    Activate,
    Chain,
    Font,
    Fade,
    Queue,
    Stinger,
    Pause,
    Resume,
    ChannelVolume,
  };
  // One play as the render thread sees it. The source and the published state are kept
  // alive by the client side until the play has retired; state and segment are identities.
  struct Play {
    PlaySource* source = nullptr;
    PlaybackShared* shared = nullptr;
    DirectMusicSegmentState8* state = nullptr;
    const void* segment = nullptr;
    std::int32_t start = 0;
    std::int32_t length = 0;
    bool synthesized = false;  // its music sounds through the synthesizer
  };
  struct Command {
    CommandKind kind = CommandKind::StopAll;
    Play play{};
    const void* target = nullptr;
    bool flag = false;
    EffectChain* chain = nullptr;
    // Font: a downloaded collection's font, held in held_fonts_. Play: the font of the
    // segment's collection, or none.
    struct _fluid_sfont_t* font = nullptr;
    // Play of music that needs them: the instruments it selects, held in instruments_.
    struct _fluid_sfont_t* instruments = nullptr;
    // Fade: where to and over how many frames, and the count of master volume settings
    // made before it (a later one ends it).
    std::int32_t volume = 0;
    std::int32_t volume_from = 0;  // the master volume when it was asked for
    std::int64_t frames = 0;
    std::uint64_t volume_sets = 0;
    // Queue: the boundaries (QueuedStart), held with the source; `flag` immediate, `frames`
    // the fade.
    const std::int32_t* boundaries = nullptr;
    std::size_t boundary_count = 0;
    int channel = 0;  // ChannelVolume: which, with `volume` and `frames`
    // Queue of a layer: the leader's clock (QueuedStart::leader), held in followed_.
    const LeadClock* leader = nullptr;
    // Play: a synthesizer that sounds from this play on, held in synths_; or none.
    synth::Synth* synth = nullptr;
  };
  struct HeldFont {
    std::uint64_t collection = 0;  // DirectMusicCollection8::serial()
    struct _fluid_sfont_t* font = nullptr;
  };
  struct HeldInstruments {
    std::vector<synth::PresetUse> presets;
    const synth::InstrumentLibrary* library = nullptr;  // the SoundFont they come from
    struct _fluid_sfont_t* font = nullptr;
    int pending_plays = 0;  // handed to plays not yet queued (or given up)
    // Once no play needs it and the synthesizer no longer sounds from it: the count of
    // instrument switches by then, every voice of it having begun before the last of them.
    std::optional<std::uint64_t> idle_after;
  };
  struct PendingNotification {
    DirectMusicSegmentState8* state = nullptr;
    std::int32_t option = 0;
    std::int32_t music_time = 0;
    std::chrono::steady_clock::time_point queued{};
  };
  struct Notification {
    DMUS_NOTIFICATION_PMSG message;
    std::chrono::steady_clock::time_point queued;
  };
  static constexpr std::size_t kCommandCapacity = 256;
  static constexpr int kChunkFrames = 1024;
  // A synthesizer replaced while it still sounds goes on rendering beside its successor
  // until its last voice has ended and then this long, for its reverb's tail.
  static constexpr double kRetiringTailSeconds = 3.0;

  // Client side: queues a stop of `kind` for `target` and answers "not playing" at once for
  // the handed states that `matches`.
  template <class Matches>
  HResult stop_matching(CommandKind kind, const void* target, Matches matches);
  // Client side; client_mutex_ held.
  HResult push_command(const Command& command);
  // The font of the collection `segment` is connected to, if this synthesizer holds it.
  struct _fluid_sfont_t* collection_font_locked(const DirectMusicSegment8& segment) const;
  // Client side, client_mutex_ not held (client/performance_voices.cpp): the voice pool
  // `sequence` needs, and a synthesizer with that pool when the one plays go to cannot hold
  // it beside what may still sound there; else none. The play's command carries it; once the
  // command is queued, synth_queued_locked() keeps it and counts the play's voices.
  std::unique_ptr<synth::Synth> synth_for(const midi::Sequence& sequence, int& voices_needed);
  void synth_queued_locked(std::unique_ptr<synth::Synth> next, int voices_needed);
  // Client side, client_mutex_ not held: the instruments `sequence` selects, loaded for
  // this synthesizer unless a font still held has exactly those. The font is held for the
  // play until instruments_settled_locked() says the play was queued or given up; from then
  // on the play's source entry in sources_ holds it until the play retires.
  HResult download_instruments(const midi::Sequence& sequence, struct _fluid_sfont_t*& font);
  void instruments_settled_locked(struct _fluid_sfont_t* font);
  // Frees the fonts no play needs, that the synthesizer no longer sounds from and whose last
  // voice has ended.
  void discard_released_instruments_locked();
  bool instruments_needed_locked(const HeldInstruments& held) const;
  void collect_locked();
  void retire_all_locked();

  // Render thread only.
  void apply_commands() noexcept;
  void end_current(std::int32_t option) noexcept;
  void end_play(const Play& play, std::int32_t option) noexcept;
  // Makes the play of a Play or Queue command the one under way.
  void begin_play(const Command& command) noexcept;
  // Makes `next` the synthesizer that sounds; the one it replaces releases its notes and
  // rings out beside it (render/performance_render.cpp).
  void adopt_synth(synth::Synth* next) noexcept;
  void retire_synth_when_silent(int frames) noexcept;
  // render/performance_transitions.cpp. A play queued for a boundary: taken, started at the
  // first synthesizer block after its boundary, and the piece it replaces faded out.
  void take_queued(const Command& command) noexcept;
  // Retires a queued play that never started.
  void drop(Command& queued) noexcept;
  // A stop of the queued play, of the piece playing or of everything ends the whole
  // transition: the queued play, the piece it was to replace, the one fading out and the
  // stingers.
  void stop_transitions(const Command& stop) noexcept;
  // At a synthesizer-block boundary, before the piece playing dispatches.
  void start_queued_if_due() noexcept;
  // The one place where a queued piece starts, ending or fading out the piece it replaces.
  void start_queued_piece() noexcept;
  void start_stinger() noexcept;
  // Whether `queued`'s boundary falls after position `from` of the piece playing and no
  // later than `to`; `from` is then moved on to `to`.
  bool boundary_reached(const Command& queued, double& from, double to) const noexcept;
  // render/performance_layers.cpp. A layer waiting for its leader: where to look from, and
  // whether the leader's boundary has come by output frame `frame`.
  void take_follow(const Command& command) noexcept;
  bool leader_boundary_reached(std::int64_t frame) noexcept;
  // At the start of each synthesizer block: the block on this channel's clock, and the end
  // of a follow whose leader or play stopped.
  void tell_lead_clock(std::int64_t frame) noexcept;
  // How many frames the next chunk may have: while a play waits for a boundary of this
  // channel's piece (here, or as a layer on another channel), one synthesizer block at a
  // time, so that a recording's position is seen at every block.
  int chunk_limit() const noexcept;
  // Adds a fading piece's or a stinger's audio, at its gain, to buffer 0.
  struct Overlaid;
  void render_overlaid(Overlaid& overlaid, int frames) noexcept;
  void end_overlaid(Overlaid& overlaid) noexcept;
  void notify(const Play& play, std::int32_t option, std::int32_t music_time) noexcept;
  void begin_fade(const Command& fade) noexcept;
  // Pause or Resume of the play under way (render/performance_interactive.cpp).
  void hold_current(const Command& command) noexcept;
  // ChannelVolume, and its glide at each synthesizer block (render/performance_interactive.cpp).
  void begin_channel_ramp(const Command& command) noexcept;
  void step_channel_ramps() noexcept;
  // Takes up a master volume set since the last look: a glide of kVolumeRampFrames to it,
  // which ends a fade (on the first period, the volume is simply there).
  void take_master_volume() noexcept;
  void publish_position() noexcept;
  // Makes `instruments` the downloaded instruments the synthesizer sounds from, counting
  // and publishing the switch; `collection` as Synth::sound_fonts.
  void sound_instruments(struct _fluid_sfont_t* instruments,
                         struct _fluid_sfont_t* collection) noexcept;
  // With nothing playing and nothing waiting to, lets go of the last piece's instruments, so
  // that the client side can free them once their voices have ended.
  void let_go_of_idle_instruments() noexcept;
  // The play under way, or nullptr.
  const Play* current_play() const noexcept;
  // False (and the chunk silent) when a stage produced a sample that is not finite.
  bool mix(float* out, int frames) noexcept;
  void synthesize(int frames) noexcept;
  void on_loop() noexcept override;
  void on_end() noexcept override;
  void on_starved(int frames) noexcept override;
  void on_moment(const PlayMoment& moment) noexcept override;
  // Publishes an event heard `at` frames after moment_base_.
  void publish(MusicEventKind kind, double at, std::int32_t a = 0, std::int32_t b = 0,
               const void* sequence = nullptr) noexcept;
  void retire_if_ended() noexcept;

  std::shared_ptr<EventHub> events_;
  std::shared_ptr<MusicEventRing> music_events_;  // set before the render thread starts
  // EventHub::signal, lock-free; set by the client side so that the render side needs
  // nothing of the client's.
  void (*signal_)(EventHub* hub, std::int32_t handle) noexcept = nullptr;
  int sample_rate_ = 0;
  // The synthesizer that sounds: set on the client side before rendering starts, then by
  // the render thread as a play that brings one begins (Command::synth).
  synth::Synth* synth_ = nullptr;
  std::unique_ptr<output::OutputDevice> device_;

  // Client side.
  mutable std::mutex client_mutex_;
  bool running_ = false;
  bool closed_ = false;
  bool clockless_ = false;                             // the device renders as fast as it can
  std::vector<Ref<DirectMusicSegmentState8>> handed_;  // states the render thread may use
  std::deque<Notification> notifications_;
  std::chrono::milliseconds notification_lifetime_{kNotificationLifetime};
  // Fonts the synthesizer may sound; freed only after it is deleted, since its channels
  // and voices point into them.
  std::vector<HeldFont> held_fonts_;
  // General MIDI instrument fonts, newest last, each freed once the render thread has
  // switched away from it and no voice that began before then is left.
  std::vector<HeldInstruments> instruments_;
  std::shared_ptr<synth::InstrumentLibrary> library_;
  // Every synthesizer made and not yet given back by the render thread (retired_synths_):
  // the one sounding, one ringing out, ones queued.
  std::vector<std::unique_ptr<synth::Synth>> synths_;
  int queued_pool_ = 0;       // the voice pool of the synthesizer plays go to
  int last_play_voices_ = 0;  // the pool the last MIDI play queued needs
  // The sources of plays handed to the render thread, until their play retires.
  struct HeldSource {
    const DirectMusicSegmentState8* state = nullptr;
    std::unique_ptr<PlaySource> source;
    std::vector<std::int32_t> boundaries;  // a queued play's (Command::boundaries)
    // The instruments the play takes (Command::instruments), needed until it retires.
    struct _fluid_sfont_t* instruments = nullptr;
    std::shared_ptr<const PlaybackShared> shared;
  };
  std::vector<HeldSource> sources_;
  // Layers: this channel's clock, and the clocks of the channels it followed (held until
  // closed: a follow's command points into them).
  std::shared_ptr<LeadClock> lead_clock_ = std::make_shared<LeadClock>();
  std::vector<std::shared_ptr<LeadClock>> followed_;
  std::atomic<int> render_rank_{0};
  // The paused play, and the count of plays and stops queued when it paused: any later one
  // ends the pause.
  const DirectMusicSegmentState8* paused_state_ = nullptr;
  std::uint64_t transport_commands_ = 0;
  std::uint64_t transport_at_pause_ = 0;

  // Shared.
  std::atomic<float> master_tempo_{1.0f};
  std::atomic<std::int32_t> master_volume_{0};
  std::atomic<std::uint64_t> volume_sets_{0};  // SetMasterVolume calls so far
  std::atomic<bool> notify_segments_{false};
  std::atomic<std::int32_t> notification_handle_{0};
  std::atomic<bool> path_active_{true};
  std::atomic<std::uint64_t> dropped_{0};
  std::atomic<std::uint64_t> starved_frames_{0};
  SequencerMeter sequencer_meter_;
  std::atomic<std::uint64_t> plays_requested_{0};  // counted once the command is queued
  // The render side's instruments, published for the client side, which frees a font once
  // no play needs it, it is no longer `instruments_sounding_`, and the switches counted
  // when it stopped sounding are released (no voice that began before them is left). The
  // count is stored before the font it switched to.
  std::atomic<struct _fluid_sfont_t*> instruments_sounding_{nullptr};
  std::atomic<std::uint64_t> instrument_switches_made_{0};
  std::atomic<std::uint64_t> instrument_switches_released_{0};
  SpscRing<Command, kCommandCapacity> commands_;
  SpscRing<PendingNotification, 256> pending_notifications_;
  SpscRing<EffectChain*, 2 * kCommandCapacity> retired_chains_;
  SpscRing<synth::Synth*, 16> retired_synths_;

  // Render thread only.
  Play current_{};               // source null while nothing plays
  bool current_ended_ = false;   // its source said so; retired once the source returns
  bool current_paused_ = false;  // its source is not advanced
  struct ChannelRamp {
    float centibels = 0.0f;  // attenuation now
    float target = 0.0f;
    float step = 0.0f;  // per synthesizer block
    std::int64_t blocks_left = 0;
  };
  std::array<ChannelRamp, 16> channel_ramps_{};
  EffectChain* chain_ = nullptr;
  synth::Synth* retiring_synth_ = nullptr;   // replaced, ringing out beside synth_
  std::int64_t retiring_silent_frames_ = 0;  // rendered since its last voice ended
  struct _fluid_sfont_t* sounding_instruments_ = nullptr;
  std::uint64_t instrument_switches_ = 0;
  std::uint64_t plays_started_ = 0;
  std::int64_t frames_out_ = 0;   // frames rendered before this render() call
  std::int64_t chunk_frame_ = 0;  // the first frame of the chunk being synthesized
  std::int64_t moment_base_ = 0;  // the frame the source's current dispatch() or render() begins at
  PlayMoment loop_or_end_{};      // the last loop or end moment, told just before on_loop/on_end
  bool loop_or_end_told_ = false;
  bool first_render_ = true;
  int grid_left_ = 0;
  double block_tempo_ = 1.0;
  double volume_gain_ = 1.0;
  double volume_target_ = 1.0;
  double volume_step_ = 0.0;
  bool volume_step_is_ratio_ = false;  // a fade multiplies, a short glide adds
  std::int64_t volume_ramp_left_ = 0;
  std::uint64_t volume_sets_seen_ = 0;
  double activate_gain_ = 1.0;
  double activate_target_ = 1.0;
  std::vector<float> dry_left_, dry_right_, wet_left_, wet_right_;  // sized before start
  std::optional<dsp::DcBlocker> dc_blocker_;                        // made before start
  std::optional<dsp::PeakLimiter> limiter_;                         // made before start
  // Transitions (render/performance_transitions.cpp). A Queue command whose source is not
  // null waits in queued_ for a boundary after queued_from_, the position of the piece
  // playing last looked at.
  Command queued_{};
  double queued_from_ = 0.0;
  // A play rendered beside the one under way: the piece a transition replaced while it
  // fades out, or a stinger; source null while none plays.
  struct Overlaid final : PlayListener {
    Play play{};
    double gain = 1.0;
    double step = 0.0;  // subtracted from the gain at every frame
    bool ended = false;
    std::atomic<std::uint64_t>* starved = nullptr;
    void on_loop() noexcept override {}
    void on_end() noexcept override { ended = true; }
    void on_starved(int frames) noexcept override {
      starved->fetch_add(static_cast<std::uint64_t>(frames), std::memory_order_relaxed);
    }
  };
  Overlaid outgoing_{};
  Overlaid stinger_{};
  // A Stinger command waiting for its boundary, as queued_ does.
  Command stinger_queued_{};
  double stinger_from_ = 0.0;
  std::vector<float> overlaid_left_, overlaid_right_;  // sized before start
  // Layers: the output frame this render() call begins at, the block being synthesized,
  // the leader whose master tempo the play under way keeps (none: its own), and the next
  // of the leader's blocks a queued layer has not looked at.
  std::int64_t output_origin_ = 0;
  std::int64_t block_frame_ = 0;
  const LeadClock* following_ = nullptr;
  std::uint64_t lead_seen_ = 0;
};

}  // namespace orvan::music
