// How many voices a note-on starts and how long they outlive their note, read from the
// preset directory: the synthesizer's voice pool is sized from these before a piece plays.
#include <algorithm>
#include <cmath>

#include "platform/music/synth/soundfont_catalogue.h"

namespace orvan::music::synth {
namespace {

// Record sizes and fields of the directory chunks walked here (SoundFont 2.04, 7.2-7.9).
constexpr std::size_t kPresetRecord = 38, kPresetBagField = 24;
constexpr std::size_t kInstrumentRecord = 22, kInstrumentBagField = 20;
constexpr std::size_t kBagRecord = 4, kGeneratorRecord = 4;
constexpr std::size_t kSampleRecord = 46, kSampleStart = 20, kSampleEnd = 24, kSampleRate = 36,
                      kSamplePitch = 40;
constexpr std::uint16_t kReleaseVolEnv = 38, kSampleModes = 54, kOverridingRootKey = 58;
constexpr std::uint16_t kInstrument = 41, kKeyRange = 43, kVelocityRange = 44, kSampleId = 53;
// The release generator's default and the range FluidSynth clamps it to, in timecents.
constexpr int kDefaultRelease = -12000, kLongestRelease = 8000;

std::uint16_t u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

struct Zone {
  int key_low = 0, key_high = 127, vel_low = 0, vel_high = 127;
  int release = 0;  // timecents
  bool has_release = false;
  bool looped = false;
  int root_key = -1;  // -1: the sample's own
  int link = -1;      // the instrument or sample it names; -1: a global zone
  bool holds(int key, int velocity) const {
    return key_low <= key && key <= key_high && vel_low <= velocity && velocity <= vel_high;
  }
};

// The zones of head record `head` (a preset or an instrument), a global zone's ranges and
// release already given to the zones after it. Indices outside the chunks end the walk:
// the directory was checked on reading, but a cut of it need not have been.
std::vector<Zone> zones_of(const std::vector<std::uint8_t>& heads, std::size_t head_record,
                           std::size_t bag_field, const std::vector<std::uint8_t>& bags,
                           const std::vector<std::uint8_t>& gens, std::size_t head,
                           std::uint16_t link_generator) {
  std::vector<Zone> zones;
  if ((head + 2) * head_record > heads.size()) return zones;
  const std::size_t first = u16(&heads[head * head_record + bag_field]);
  const std::size_t last = u16(&heads[(head + 1) * head_record + bag_field]);
  Zone global;
  for (std::size_t b = first; b < last && (b + 2) * kBagRecord <= bags.size(); ++b) {
    Zone zone = global;
    zone.link = -1;
    const std::size_t g_first = u16(&bags[b * kBagRecord]);
    const std::size_t g_last = u16(&bags[(b + 1) * kBagRecord]);
    for (std::size_t g = g_first; g < g_last && (g + 1) * kGeneratorRecord <= gens.size(); ++g) {
      const std::uint8_t* gen = &gens[g * kGeneratorRecord];
      const std::uint16_t oper = u16(gen);
      if (oper == kKeyRange) zone.key_low = gen[2], zone.key_high = gen[3];
      if (oper == kVelocityRange) zone.vel_low = gen[2], zone.vel_high = gen[3];
      if (oper == kReleaseVolEnv) {
        zone.release = static_cast<std::int16_t>(u16(gen + 2));
        zone.has_release = true;
      }
      if (oper == kSampleModes) zone.looped = (u16(gen + 2) & 1) != 0;
      if (oper == kOverridingRootKey) zone.root_key = static_cast<std::int16_t>(u16(gen + 2));
      if (oper == link_generator) zone.link = u16(gen + 2);
    }
    if (zone.link < 0) {
      if (b == first) global = zone;
      continue;
    }
    zones.push_back(zone);
  }
  return zones;
}

std::uint32_t u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(u16(p)) | static_cast<std::uint32_t>(u16(p + 2)) << 16;
}

// How long a voice of `zone` may sound when `key` plays it: until its sample ends, unless
// the sample loops. Without a usable sample header, as long as a looped one.
double longest_voice(const Zone& zone, int key, const std::vector<std::uint8_t>& samples) {
  const auto at = static_cast<std::size_t>(zone.link) * kSampleRecord;
  if (zone.looped || at + kSampleRecord > samples.size()) return HUGE_VAL;
  const std::uint8_t* header = &samples[at];
  const std::uint32_t start = u32(header + kSampleStart), end = u32(header + kSampleEnd);
  const std::uint32_t rate = u32(header + kSampleRate);
  if (end <= start || rate == 0) return HUGE_VAL;
  const int root = zone.root_key >= 0 && zone.root_key < 128 ? zone.root_key : header[kSamplePitch];
  const double speed = std::exp2(static_cast<double>(key - std::min(root, 127)) / 12.0);
  return static_cast<double>(end - start) / rate / speed;
}

}  // namespace

std::vector<NoteVoices> SoundFontCatalogue::note_voices(const PresetUse& use) const {
  std::vector<NoteVoices> out(use.notes.size());
  const auto preset = std::find(presets_.begin(), presets_.end(), use.preset);
  if (preset == presets_.end()) return out;
  const std::vector<Zone> preset_zones =
      zones_of(chunks_[0], kPresetRecord, kPresetBagField, chunks_[1], chunks_[3],
               static_cast<std::size_t>(preset - presets_.begin()), kInstrument);
  for (const Zone& pz : preset_zones) {
    const std::vector<Zone> instrument_zones =
        zones_of(chunks_[4], kInstrumentRecord, kInstrumentBagField, chunks_[5], chunks_[7],
                 static_cast<std::size_t>(pz.link), kSampleId);
    for (std::size_t n = 0; n < use.notes.size(); ++n) {
      const int key = use.notes[n] >> 7, velocity = use.notes[n] & 0x7F;
      if (!pz.holds(key, velocity)) continue;
      for (const Zone& iz : instrument_zones) {
        if (!iz.holds(key, velocity)) continue;
        // A preset zone's generators add to the instrument zone's.
        const int timecents =
            std::clamp((iz.has_release ? iz.release : kDefaultRelease) + pz.release,
                       kDefaultRelease, kLongestRelease);
        out[n].voices += 1;
        out[n].release_seconds =
            std::max(out[n].release_seconds, std::exp2(static_cast<double>(timecents) / 1200.0));
        out[n].longest_seconds =
            std::max(out[n].longest_seconds, longest_voice(iz, key, chunks_[8]));
      }
    }
  }
  return out;
}

}  // namespace orvan::music::synth
