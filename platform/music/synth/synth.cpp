#include "platform/music/synth/synth.h"

#include <fluidsynth.h>

#include <algorithm>

#include "platform/music/synth/fluid_process.h"
#include "platform/music/synth/shared_soundfont.h"

namespace orvan::music::synth {
namespace {

constexpr int kBendCentre = 8192;
// FluidSynth's default gain (0.2) leaves General MIDI music around -26 dBFS RMS (the
// openmsx pieces: -36.6 to -21.6, median -26.4, with the system's SoundFont). Twice that
// puts the median near -20 dBFS and leaves the loudest peaks about 1 dB over full scale,
// which the output stage's limiter takes.
constexpr double kSynthGain = 0.4;
constexpr int kDefaultBendRange = 2;

// Controllers a reset leaves alone: bank select (set with the program), data entry and
// increment (they would act on whichever parameter is selected), channel mode messages.
bool restored_on_reset(int cc) {
  return cc != 0 && cc != 32 && cc != 6 && cc != 38 && cc != 96 && cc != 97 && cc < 120;
}

// The collection slot: a font of FluidSynth's stack with no presets of its own, which
// answers every lookup with the preset of the collection that sounds now, if it has one,
// so that lookups fall through to the General MIDI font below otherwise. Switching
// collections then only changes a pointer, where adding fonts to the stack would allocate.
const char* slot_name(fluid_sfont_t*) {
  return "collection slot";
}

fluid_preset_t* slot_preset(fluid_sfont_t* slot, int bank, int program) {
  const auto* sounding = static_cast<fluid_sfont_t* const*>(fluid_sfont_get_data(slot));
  return *sounding ? fluid_sfont_get_preset(*sounding, bank, program) : nullptr;
}

// Listing the slot's presets finds none: it only stands in for the collection.
void slot_iteration_start(fluid_sfont_t*) {}
fluid_preset_t* slot_iteration_next(fluid_sfont_t*) {
  return nullptr;
}

int delete_slot(fluid_sfont_t* slot) {
  delete_fluid_sfont(slot);
  return 0;
}

}  // namespace

com::HResult Synth::create(int sample_rate, const std::string& soundfont_path,
                           std::unique_ptr<Synth>& out) {
  prepare_fluidsynth();
  if (com::HResult hr = check_soundfont(soundfont_path); com::failed(hr)) return hr;

  std::unique_ptr<Synth> s(new Synth());
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
  fluid_settings_setint(s->settings_, "synth.dynamic-sample-loading", 0);
  s->synth_ = new_fluid_synth(s->settings_);
  if (!s->synth_) return com::MUSIC_E_SYNTH_FAILED;
  s->font_id_ = fluid_synth_sfload(s->synth_, soundfont_path.c_str(), 1);
  if (s->font_id_ == FLUID_FAILED) return com::MUSIC_E_SYNTH_FAILED;
  s->soundfont_path_ = soundfont_path;
  fluid_sfont_t* slot = new_fluid_sfont(slot_name, slot_preset, slot_iteration_start,
                                        slot_iteration_next, delete_slot);
  if (!slot) return com::E_OUTOFMEMORY;
  fluid_sfont_set_data(slot, &s->sounding_collection_);
  // Above the General MIDI font; the synthesizer owns it from here on.
  if (fluid_synth_add_sfont(s->synth_, slot) == FLUID_FAILED) {
    delete_fluid_sfont(slot);
    return com::MUSIC_E_SYNTH_FAILED;
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
  if (synth_) {
    if (font_id_ != FLUID_FAILED) keep_soundfont(soundfont_path_, synth_, font_id_);
    delete_fluid_synth(synth_);
  }
  if (settings_) delete_fluid_settings(settings_);
}

void Synth::channel_message(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) noexcept {
  flush();
  const int ch = status & 0x0F;
  switch (status & 0xF0) {
    case 0x80:
      fluid_synth_noteoff(synth_, ch, data1);
      break;
    case 0x90:
      if (data2 == 0) {
        fluid_synth_noteoff(synth_, ch, data1);
      } else {
        fluid_synth_noteon(synth_, ch, data1, data2);
      }
      break;
    case 0xA0:
      fluid_synth_key_pressure(synth_, ch, data1, data2);
      break;
    case 0xB0:
      fluid_synth_cc(synth_, ch, data1, data2);
      break;
    case 0xC0:
      fluid_synth_program_change(synth_, ch, data1);
      break;
    case 0xD0:
      fluid_synth_channel_pressure(synth_, ch, data1);
      break;
    case 0xE0:
      fluid_synth_pitch_bend(synth_, ch, data1 | (data2 << 7));
      break;
    default:
      break;
  }
}

void Synth::sysex(std::span<const std::uint8_t> bytes) noexcept {
  flush();
  if (!bytes.empty() && bytes.front() == 0xF0) bytes = bytes.subspan(1);
  if (!bytes.empty() && bytes.back() == 0xF7) bytes = bytes.first(bytes.size() - 1);
  if (bytes.empty()) return;
  fluid_synth_sysex(synth_, reinterpret_cast<const char*>(bytes.data()),
                    static_cast<int>(bytes.size()), nullptr, nullptr, nullptr, 0);
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
    // FluidSynth takes the drum channel's kit from its percussion bank whatever the bank.
    fluid_synth_bank_select(synth_, ch, 0);
    fluid_synth_program_change(synth_, ch, 0);
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

void Synth::sound_collection(fluid_sfont_t* font) noexcept {
  flush();
  if (font == sounding_collection_) return;
  sounding_collection_ = font;
  fluid_synth_program_reset(synth_);
}

int Synth::active_voices() const noexcept {
  return fluid_synth_get_active_voice_count(synth_);
}

}  // namespace orvan::music::synth
