#include "platform/music/synth/synth.h"

#include <fluidsynth.h>

#include <algorithm>

#include "platform/music/synth/fluid_messages.h"
#include "platform/music/synth/fluid_process.h"
#include "platform/music/synth/instrument_library.h"

namespace orvan::music::synth {
namespace {

constexpr int kBendCentre = 8192;
// FluidSynth's default gain (0.2) leaves General MIDI music around -26 dBFS RMS (the
// openmsx pieces: -36.6 to -21.6, median -26.4, with the system's SoundFont). Twice that
// puts the median near -20 dBFS and leaves the loudest peaks about 1 dB over full scale,
// which the output stage's limiter takes.
constexpr double kSynthGain = 0.4;
constexpr int kDefaultBendRange = 2;
// Headroom over the voices a piece is worked out to keep at once: an eighth more, and a few
// spare. The count errs high: on the 31 openmsx pieces with FluidR3 it was never below what
// FluidSynth sounded at once, equal on 14 and at most 27% over. The headroom covers what it
// leaves out (modulators on the release, tuning generators) and a master tempo a little
// above 1, at which tails overlap more.
constexpr int kHeadroomDivisor = 8;
constexpr int kSpareVoices = 8;

// Controllers a reset leaves alone: bank select (set with the program), data entry and
// increment (they would act on whichever parameter is selected), channel mode messages.
bool restored_on_reset(int cc) {
  return cc != 0 && cc != 32 && cc != 6 && cc != 38 && cc != 96 && cc != 97 && cc < 120;
}

// A slot: a font of FluidSynth's stack with no presets of its own, which answers every
// lookup with the preset of the font it stands for now, if that has one, so that lookups
// fall through to the slot below otherwise. Switching fonts then only changes a pointer,
// where adding fonts to the stack would allocate. The instruments' slot is at the bottom,
// the collection's above it.
const char* slot_name(fluid_sfont_t*) {
  return "slot";
}

fluid_preset_t* slot_preset(fluid_sfont_t* slot, int bank, int program) {
  const auto* sounding = static_cast<fluid_sfont_t* const*>(fluid_sfont_get_data(slot));
  return *sounding ? fluid_sfont_get_preset(*sounding, bank, program) : nullptr;
}

// Listing a slot's presets finds none: it only stands in for a font.
void slot_iteration_start(fluid_sfont_t*) {}
fluid_preset_t* slot_iteration_next(fluid_sfont_t*) {
  return nullptr;
}

int delete_slot(fluid_sfont_t* slot) {
  delete_fluid_sfont(slot);
  return 0;
}

com::HResult add_slot(fluid_synth_t* synth, fluid_sfont_t** sounding) {
  fluid_sfont_t* slot = new_fluid_sfont(slot_name, slot_preset, slot_iteration_start,
                                        slot_iteration_next, delete_slot);
  if (!slot) return com::E_OUTOFMEMORY;
  fluid_sfont_set_data(slot, sounding);
  // On top of the stack; the synthesizer owns it from here on.
  if (fluid_synth_add_sfont(synth, slot) == FLUID_FAILED) {
    delete_fluid_sfont(slot);
    return com::MUSIC_E_SYNTH_FAILED;
  }
  return com::S_OK;
}

// Voice identities grow with every note; the difference tells which began first even
// once the count wraps.
bool began_no_later(unsigned id, unsigned limit) {
  return static_cast<int>(id - limit) <= 0;
}

}  // namespace

int voice_pool_for(int voices_at_once) {
  return std::clamp(voices_at_once + voices_at_once / kHeadroomDivisor + kSpareVoices, 1,
                    kPolyphony);
}

com::HResult Synth::create(int sample_rate, const std::string& soundfont_path, int voices,
                           std::unique_ptr<Synth>& out) {
  prepare_fluidsynth();
  std::unique_ptr<Synth> s(new Synth());
  s->voices_ = std::clamp(voices, 1, kPolyphony);
  if (com::HResult hr = InstrumentLibrary::open(soundfont_path, s->library_); com::failed(hr)) {
    return hr;
  }
  s->settings_ = new_fluid_settings();
  if (!s->settings_) return com::MUSIC_E_SYNTH_FAILED;
  fluid_settings_setnum(s->settings_, "synth.sample-rate", sample_rate);
  fluid_settings_setnum(s->settings_, "synth.gain", kSynthGain);
  fluid_settings_setint(s->settings_, "synth.reverb.active", 1);
  // The chorus belongs to buffer 0's effect chain, not to the synthesizer.
  fluid_settings_setint(s->settings_, "synth.chorus.active", 0);
  fluid_settings_setint(s->settings_, "synth.threadsafe-api", 0);
  fluid_settings_setint(s->settings_, "synth.cpu-cores", 1);
  fluid_settings_setint(s->settings_, "synth.lock-memory", 0);
  fluid_settings_setint(s->settings_, "synth.polyphony", s->voices_);
  s->synth_ = new_fluid_synth(s->settings_);
  if (!s->synth_) return com::MUSIC_E_SYNTH_FAILED;
  for (fluid_sfont_t** sounding : {&s->sounding_instruments_, &s->sounding_collection_}) {
    if (com::HResult hr = add_slot(s->synth_, sounding); com::failed(hr)) return hr;
  }
  for (int ch = 0; ch < kChannels; ++ch) {
    for (int cc = 0; cc < 128; ++cc) {
      int value = 0;
      fluid_synth_get_cc(s->synth_, ch, cc, &value);
      s->power_on_cc_[static_cast<std::size_t>(ch)][static_cast<std::size_t>(cc)] =
          static_cast<std::int16_t>(value);
    }
  }
  out = std::move(s);
  return com::S_OK;
}

Synth::~Synth() {
  if (synth_) delete_fluid_synth(synth_);
  if (settings_) delete_fluid_settings(settings_);
}

void Synth::channel_message(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) noexcept {
  flush();
  send_channel_message(synth_, status, data1, data2);
}

void Synth::sysex(std::span<const std::uint8_t> bytes) noexcept {
  flush();
  send_sysex(synth_, bytes);
}

void Synth::channel_attenuation(int channel, float centibels) noexcept {
  flush();
  // A generator offset, not the volume controller: the music keeps that one to itself.
  fluid_synth_set_gen(synth_, channel, GEN_ATTENUATION, centibels);
}

void Synth::release_all_notes() noexcept {
  flush();
  for (int ch = 0; ch < kChannels; ++ch) {
    // Pedals first, so that the notes they hold are released rather than kept.
    fluid_synth_cc(synth_, ch, 64, 0);
    fluid_synth_cc(synth_, ch, 66, 0);
    fluid_synth_all_notes_off(synth_, ch);
  }
}

void Synth::reset_channels() noexcept {
  flush();
  for (int ch = 0; ch < kChannels; ++ch) {
    const auto& power_on = power_on_cc_[static_cast<std::size_t>(ch)];
    for (int cc = 0; cc < 128; ++cc) {
      if (!restored_on_reset(cc)) continue;
      const int wanted = power_on[static_cast<std::size_t>(cc)];
      int now = 0;
      fluid_synth_get_cc(synth_, ch, cc, &now);
      if (now != wanted) fluid_synth_cc(synth_, ch, cc, wanted);
    }
    fluid_synth_pitch_bend(synth_, ch, kBendCentre);
    fluid_synth_pitch_wheel_sens(synth_, ch, kDefaultBendRange);
    fluid_synth_channel_pressure(synth_, ch, 0);
    select_reset_program(synth_, ch);
  }
}

void Synth::render(int frames, float* dry_left, float* dry_right, float* wet_left,
                   float* wet_right) noexcept {
  if (frames <= 0) return;
  const std::array<float*, 4> planes{dry_left, dry_right, wet_left, wet_right};
  const bool continues = pending_frames_ > 0 &&
                         std::equal(planes.begin(), planes.end(), pending_.begin(),
                                    [&](float* p, float* q) { return p == q + pending_frames_; });
  if (!continues) {
    flush();
    pending_ = planes;
  }
  pending_frames_ += frames;
}

void Synth::flush() noexcept {
  if (pending_frames_ == 0) return;
  // FluidSynth's effects buffers: reverb left/right, then chorus left/right. The chorus is
  // off and adds nothing, so its pair may share the reverb's.
  float* fx[4] = {pending_[2], pending_[3], pending_[2], pending_[3]};
  float* dry[2] = {pending_[0], pending_[1]};
  fluid_synth_process(synth_, pending_frames_, 4, fx, 2, dry);
  pending_frames_ = 0;
}

void Synth::sound_fonts(fluid_sfont_t* instruments, fluid_sfont_t* collection) noexcept {
  flush();
  if (instruments == sounding_instruments_ && collection == sounding_collection_) return;
  if (instruments != sounding_instruments_) {
    const int playing = list_playing_voices();
    for (int i = 0; i < playing; ++i) {
      const unsigned id = fluid_voice_get_id(playing_[static_cast<std::size_t>(i)]);
      if (!earlier_voices_ || began_no_later(earlier_voice_limit_, id)) earlier_voice_limit_ = id;
      earlier_voices_ = true;
    }
  }
  sounding_instruments_ = instruments;
  sounding_collection_ = collection;
  fluid_synth_program_reset(synth_);
}

bool Synth::voices_of_earlier_instruments_ended() noexcept {
  if (!earlier_voices_) return true;
  const int playing = list_playing_voices();
  for (int i = 0; i < playing; ++i) {
    if (began_no_later(fluid_voice_get_id(playing_[static_cast<std::size_t>(i)]),
                       earlier_voice_limit_)) {
      return false;
    }
  }
  earlier_voices_ = false;
  return true;
}

int Synth::list_playing_voices() noexcept {
  playing_.fill(nullptr);
  fluid_synth_get_voicelist(synth_, playing_.data(), kPolyphony, -1);
  int count = 0;
  while (count < kPolyphony && playing_[static_cast<std::size_t>(count)]) ++count;
  return count;
}

int Synth::active_voices() const noexcept {
  return fluid_synth_get_active_voice_count(synth_);
}

}  // namespace orvan::music::synth
