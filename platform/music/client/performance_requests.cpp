#include "platform/music/render/performance_core.h"

#include <algorithm>

#include "platform/music/client/event_hub.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/settings.h"
#include "platform/music/output/sdl_device.h"
#include "platform/music/render/playback_shared.h"
#include "platform/music/synth/dls_font.h"
#include "platform/music/synth/instrument_library.h"
#include "platform/music/synth/soundfont_locator.h"
#include "platform/music/synth/synth.h"

// Client side of the performance core: lifecycle, play and stop requests, states.
namespace orvan::music {

PerformanceCore::PerformanceCore(std::shared_ptr<EventHub> events) : events_(std::move(events)) {
  // The render thread wakes the notification thread through this, lock-free.
  signal_ = [](EventHub* hub, std::int32_t handle) noexcept { hub->signal(handle); };
}

PerformanceCore::~PerformanceCore() {
  close();
}

HResult PerformanceCore::start_audio(int sample_rate,
                                     std::unique_ptr<output::OutputDevice> device) {
  std::lock_guard lock(client_mutex_);
  if (closed_) return com::MUSIC_E_CLOSED;
  if (running_) return com::MUSIC_E_ALREADY_INITIALIZED;

  // The process's settings choose the SoundFont and the kind of device, once per start.
  const PlatformSettings settings = platform_settings();
  std::string soundfont;
  if (HResult hr = synth::locate_soundfont(settings.soundfont, soundfont); com::failed(hr)) {
    return hr;
  }
  if (!device) {
    if (HResult hr =
            output::open_output_device(settings.output, settings.wav_path, sample_rate, device);
        com::failed(hr)) {
      return hr;
    }
  }
  // The device may settle on a rate of its own; the synthesizer must follow it.
  const int rate = device->sample_rate() > 0 ? device->sample_rate() : sample_rate;
  std::unique_ptr<synth::Synth> synth;
  if (HResult hr = synth::Synth::create(rate, soundfont, kInitialVoices, synth); com::failed(hr)) {
    return hr;
  }

  sample_rate_ = rate;
  library_ = synth->library();
  synth_ = synth.get();
  queued_pool_ = synth->voices();
  last_play_voices_ = 0;
  synths_.push_back(std::move(synth));
  clockless_ = !device->keeps_time();
  for (auto* plane :
       {&dry_left_, &dry_right_, &wet_left_, &wet_right_, &overlaid_left_, &overlaid_right_}) {
    plane->assign(kChunkFrames, 0.0f);
  }
  outgoing_.starved = &starved_frames_;
  stinger_.starved = &starved_frames_;
  volume_gain_ = 1.0;
  dc_blocker_.emplace(rate);
  limiter_.emplace(rate);
  device_ = std::move(device);
  if (HResult hr = device_->start(this); com::failed(hr)) {
    device_.reset();
    synth_ = nullptr;
    synths_.clear();
    return hr;
  }
  running_ = true;
  return com::S_OK;
}

void PerformanceCore::close() {
  std::lock_guard lock(client_mutex_);
  if (closed_) return;
  closed_ = true;
  if (device_) device_->stop();
  // The render thread has made its last call: everything it held is ours now.
  Command command;
  while (commands_.pop(command)) {
    if (command.kind == CommandKind::Play || command.kind == CommandKind::Queue ||
        command.kind == CommandKind::Stinger) {
      command.play.shared->playing.store(false, std::memory_order_relaxed);
    }
    delete command.chain;
  }
  EffectChain* retired = nullptr;
  while (retired_chains_.pop(retired)) delete retired;
  delete chain_;
  chain_ = nullptr;
  current_ = {};
  sources_.clear();  // each decoder stops and lets go of its file
  followed_.clear();
  lead_clock_->playing.store(false, std::memory_order_relaxed);  // its layers go their way
  retire_all_locked();
  PendingNotification pending;
  while (pending_notifications_.pop(pending)) {
  }
  notifications_.clear();
  running_ = false;
  device_.reset();
  synth::Synth* retired_synth = nullptr;
  while (retired_synths_.pop(retired_synth)) {
  }
  synth_ = nullptr;
  retiring_synth_ = nullptr;
  synths_.clear();
  for (const HeldFont& held : held_fonts_) synth::discard_font(held.font);
  held_fonts_.clear();
  for (const HeldInstruments& held : instruments_) synth::discard_font(held.font);
  instruments_.clear();
  library_.reset();
}

bool PerformanceCore::shares_output_with(const PerformanceCore& other) const {
  if (&other == this) return false;
  std::scoped_lock lock(client_mutex_, other.client_mutex_);
  if (!running_ || !other.running_) return false;
  const void* output = device_->shared_output();
  return output && output == other.device_->shared_output();
}

void PerformanceCore::render_after(const PerformanceCore& leader) {
  const int rank = std::min(leader.render_rank() + 1, output::SdlDevice::kMaxOpen);
  if (rank > render_rank()) render_rank_.store(rank, std::memory_order_relaxed);
}

bool PerformanceCore::audio_running() const {
  std::lock_guard lock(client_mutex_);
  return running_;
}

bool PerformanceCore::closed() const {
  std::lock_guard lock(client_mutex_);
  return closed_;
}

HResult PerformanceCore::push_command(const Command& command) {
  if (closed_) return com::MUSIC_E_CLOSED;
  if (!running_) return com::MUSIC_E_NOT_INITIALIZED;
  // Only reached when nothing renders for a long time while requests pile up.
  if (!commands_.push(command)) return com::E_OUTOFMEMORY;
  if (command.kind == CommandKind::Play || command.kind == CommandKind::StopSegment ||
      command.kind == CommandKind::StopState || command.kind == CommandKind::StopAll) {
    ++transport_commands_;
  }
  return com::S_OK;
}

void PerformanceCore::retire_all_locked() {
  for (auto& state : handed_) {
    state->shared()->playing.store(false, std::memory_order_relaxed);
    state->shared()->retired.store(true, std::memory_order_relaxed);
  }
  handed_.clear();
}

void PerformanceCore::collect_locked() {
  EffectChain* retired = nullptr;
  while (retired_chains_.pop(retired)) delete retired;
  synth::Synth* retired_synth = nullptr;
  while (retired_synths_.pop(retired_synth)) {
    std::erase_if(synths_, [&](const auto& s) { return s.get() == retired_synth; });
  }
  discard_released_instruments_locked();

  // Which states the render thread let go of must be read before draining the ring: every
  // notification about a retired state was queued before it retired, so the drain below
  // still finds its state alive in handed_.
  std::vector<bool> done(handed_.size());
  for (std::size_t i = 0; i < handed_.size(); ++i) {
    done[i] = handed_[i]->shared()->retired.load(std::memory_order_acquire);
  }
  PendingNotification pending;
  while (pending_notifications_.pop(pending)) {
    if (notifications_.size() >= kNotificationCapacity) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    DMUS_NOTIFICATION_PMSG message;
    message.notificationType = DMUS_NOTIFY_ON_SEGMENT;
    message.notificationOption = pending.option;
    message.musicTime = pending.music_time;
    message.segmentState = Ref<DirectMusicSegmentState8>::share(pending.state);
    notifications_.push_back({std::move(message), pending.queued});
  }
  for (std::size_t i = 0; i < handed_.size(); ++i) {
    if (!done[i]) continue;
    std::erase_if(sources_, [&](const HeldSource& s) { return s.state == handed_[i].get(); });
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < handed_.size(); ++i) {
    if (!done[i]) handed_[kept++] = std::move(handed_[i]);
  }
  handed_.resize(kept);

  const auto oldest = std::chrono::steady_clock::now() - notification_lifetime_;
  while (!notifications_.empty() && notifications_.front().queued < oldest) {
    notifications_.pop_front();
  }
}

HResult PerformanceCore::play(const Ref<DirectMusicSegment8>& segment,
                              Ref<DirectMusicSegmentState8>& state,
                              const QueuedStart* queued_start) {
  const PlayContent& content = segment->content();
  if (queued_start && queued_start->secondary && content.instrument_events()) {
    return com::DSERR_INVALIDCALL;
  }
  // A piece's instruments are downloaded first, outside the lock: reading their samples
  // may take a while, and other client calls must not wait on it.
  struct _fluid_sfont_t* instruments = nullptr;
  std::unique_ptr<synth::Synth> next_synth;
  int voices_needed = 0;
  if (const midi::Sequence* events = content.instrument_events()) {
    if (HResult hr = download_instruments(*events, instruments); com::failed(hr)) return hr;
    next_synth = synth_for(*events, voices_needed);
  }
  // Settles the instruments under the lock, however this returns: a play queued holds them
  // through its entry in sources_ from then on.
  const auto settle = [&](PerformanceCore* core) {
    if (!instruments) return;
    std::lock_guard lock(core->client_mutex_);
    core->instruments_settled_locked(instruments);
  };
  const std::unique_ptr<PerformanceCore, decltype(settle)> settled(this, settle);

  PlayOptions options;
  {
    std::lock_guard lock(client_mutex_);
    if (closed_) return com::MUSIC_E_CLOSED;
    if (!running_) return com::MUSIC_E_NOT_INITIALIZED;
    options.output_rate = sample_rate_;
    options.clockless = clockless_;
  }
  const std::int32_t length = content.length();
  options.repeats = segment->repeats();
  options.start = std::clamp(segment->start_point(), 0, std::max(0, length));
  options.loop = segment->loop_region();
  // A layer begins at the tempo its leader plays at; the render side hands on the tempo of
  // every period after that.
  options.master_tempo = queued_start && queued_start->leader
                             ? queued_start->leader->tempo.load(std::memory_order_relaxed)
                             : master_tempo_.load(std::memory_order_relaxed);
  options.meter = &sequencer_meter_;
  // Opening may decode ahead and wait for it; other client calls must not wait on that.
  std::unique_ptr<PlaySource> source;
  if (HResult hr = content.open(options, source); com::failed(hr)) return hr;

  std::lock_guard lock(client_mutex_);
  if (closed_) return com::MUSIC_E_CLOSED;
  if (!running_) return com::MUSIC_E_NOT_INITIALIZED;
  collect_locked();

  auto shared = std::make_shared<PlaybackShared>(length);
  shared->position.store(options.start, std::memory_order_relaxed);
  shared->playing.store(true, std::memory_order_relaxed);
  Ref<DirectMusicSegmentState8> created =
      com::make_ref<DirectMusicSegmentState8>(segment, options.repeats, shared);
  handed_.reserve(handed_.size() + 1);
  sources_.reserve(sources_.size() + 1);
  synths_.reserve(synths_.size() + 1);

  Command command;
  command.kind = !queued_start             ? CommandKind::Play
                 : queued_start->secondary ? CommandKind::Stinger
                                           : CommandKind::Queue;
  command.play = Play{source.get(),
                      shared.get(),
                      created.get(),
                      segment.get(),
                      options.start,
                      length,
                      content.instrument_events() != nullptr};
  command.font = collection_font_locked(*segment);
  command.instruments = instruments;
  // One synthesizer at a time rings out or waits for its play: a replacement cut short would
  // be freed with voices still playing from instruments that may be gone.
  if (synths_.size() > 1) next_synth.reset();
  command.synth = next_synth.get();
  // Moving the vector into sources_ below keeps the elements where the command points.
  std::vector<std::int32_t> boundaries;
  if (queued_start) {
    boundaries = queued_start->boundaries;
    command.boundaries = boundaries.data();
    command.boundary_count = boundaries.size();
    command.flag = queued_start->immediate;
    command.frames = queued_start->fade_frames;
    command.leader = queued_start->leader.get();
  }
  // A leader not followed before is held from here on; room for it is made before the
  // command goes, so that keeping it afterwards cannot fail.
  const bool new_leader = command.leader && std::find(followed_.begin(), followed_.end(),
                                                      queued_start->leader) == followed_.end();
  if (new_leader) followed_.reserve(followed_.size() + 1);
  if (HResult hr = push_command(command); com::failed(hr)) return hr;
  if (content.instrument_events()) synth_queued_locked(std::move(next_synth), voices_needed);
  sources_.push_back(
      {created.get(), std::move(source), std::move(boundaries), instruments, shared});
  if (new_leader) followed_.push_back(queued_start->leader);
  plays_requested_.fetch_add(1, std::memory_order_release);
  // The new primary state replaces whatever plays; answer for that at once. A queued one
  // leaves it playing until its boundary.
  if (!queued_start) {
    for (auto& other : handed_) other->shared()->playing.store(false, std::memory_order_relaxed);
  }
  handed_.push_back(created);
  state = std::move(created);
  return com::S_OK;
}

HResult PerformanceCore::fade_master_volume(std::int32_t mb, std::int64_t frames) {
  std::lock_guard lock(client_mutex_);
  Command command;
  command.kind = CommandKind::Fade;
  command.volume = mb;
  command.volume_from = master_volume_.load(std::memory_order_relaxed);
  command.frames = std::max<std::int64_t>(frames, kVolumeRampFrames);
  command.volume_sets = volume_sets_.load(std::memory_order_acquire);
  if (HResult hr = push_command(command); com::failed(hr)) return hr;
  master_volume_.store(mb, std::memory_order_relaxed);
  return com::S_OK;
}

HResult PerformanceCore::set_soundfont(const std::string& path) {
  std::string located;
  if (HResult hr =
          synth::locate_soundfont(path.empty() ? platform_settings().soundfont : path, located);
      com::failed(hr)) {
    return hr;
  }
  std::shared_ptr<synth::InstrumentLibrary> library;
  if (HResult hr = synth::InstrumentLibrary::open(located, library); com::failed(hr)) return hr;
  std::lock_guard lock(client_mutex_);
  if (closed_) return com::MUSIC_E_CLOSED;
  if (!running_) return com::MUSIC_E_NOT_INITIALIZED;
  library_ = std::move(library);
  return com::S_OK;
}

HResult PerformanceCore::stop_segment(const DirectMusicSegment8* segment) {
  return stop_matching(CommandKind::StopSegment, segment, [&](const DirectMusicSegmentState8& s) {
    return s.segment().get() == segment;
  });
}

HResult PerformanceCore::stop_state(const DirectMusicSegmentState8* state) {
  return stop_matching(CommandKind::StopState, state,
                       [&](const DirectMusicSegmentState8& s) { return &s == state; });
}

template <class Matches>
HResult PerformanceCore::stop_matching(CommandKind kind, const void* target, Matches matches) {
  std::lock_guard lock(client_mutex_);
  Command command;
  command.kind = kind;
  command.target = target;
  if (HResult hr = push_command(command); com::failed(hr)) return hr;
  for (auto& s : handed_) {
    if (matches(*s)) s->shared()->playing.store(false, std::memory_order_relaxed);
  }
  return com::S_OK;
}

HResult PerformanceCore::stop_everything() {
  std::lock_guard lock(client_mutex_);
  Command command;
  command.kind = CommandKind::StopAll;
  if (HResult hr = push_command(command); com::failed(hr)) return hr;
  for (auto& s : handed_) s->shared()->playing.store(false, std::memory_order_relaxed);
  return com::S_OK;
}

bool PerformanceCore::is_playing(const DirectMusicSegment8* segment,
                                 const DirectMusicSegmentState8* state) {
  std::lock_guard lock(client_mutex_);
  if (state) {
    if (segment && state->segment().get() != segment) return false;
    return state->shared()->playing.load(std::memory_order_relaxed);
  }
  collect_locked();
  return std::any_of(handed_.begin(), handed_.end(), [&](const auto& s) {
    return s->segment().get() == segment && s->shared()->playing.load(std::memory_order_relaxed);
  });
}

HResult PerformanceCore::set_path_active(bool active) {
  std::lock_guard lock(client_mutex_);
  Command command;
  command.kind = CommandKind::Activate;
  command.flag = active;
  if (HResult hr = push_command(command); com::failed(hr)) return hr;
  path_active_.store(active, std::memory_order_relaxed);
  return com::S_OK;
}

HResult PerformanceCore::replace_effect_chain(std::unique_ptr<EffectChain> chain) {
  std::lock_guard lock(client_mutex_);
  collect_locked();
  Command command;
  command.kind = CommandKind::Chain;
  command.chain = chain.get();
  if (HResult hr = push_command(command); com::failed(hr)) return hr;
  static_cast<void>(
      chain.release());  // the render thread owns it now, and hands it back when replaced
  return com::S_OK;
}

bool PerformanceCore::take_notification(DMUS_NOTIFICATION_PMSG& message) {
  std::lock_guard lock(client_mutex_);
  if (closed_) return false;
  collect_locked();
  if (notifications_.empty()) return false;
  message = std::move(notifications_.front().message);
  notifications_.pop_front();
  return true;
}

void PerformanceCore::set_notification_lifetime(std::chrono::milliseconds lifetime) {
  std::lock_guard lock(client_mutex_);
  notification_lifetime_ = lifetime;
}

int PerformanceCore::active_voices() const {
  std::lock_guard lock(client_mutex_);
  return synth_ ? synth_->active_voices() : 0;
}

int PerformanceCore::voice_pool() const {
  std::lock_guard lock(client_mutex_);
  return queued_pool_;
}

SequencerLoad PerformanceCore::busiest_block() const {
  return sequencer_meter_.load();
}

}  // namespace orvan::music
