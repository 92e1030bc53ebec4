#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <map>
#include <utility>

#include "platform/music/midi/sequence.h"
#include "platform/music/synth/fluid_messages.h"
#include "platform/music/synth/instrument_library.h"

namespace orvan::music::synth {
namespace {

constexpr int kChannels = 16;
constexpr std::uint8_t kSustain = 64, kSostenuto = 66, kAllSoundOff = 120, kAllNotesOff = 123;

// Every note-on of the piece, in order, with the preset it meets (none: it starts nothing).
struct NoteOn {
  std::uint16_t note = 0;  // key << 7 | velocity
  PresetId preset;
  bool sounds = false;
};

// A note whose voices still sound: from `start` until released, then for `release` more.
struct Sounding {
  double start = 0.0;
  int voices = 0;
  double release = 0.0;
  double longest = 0.0;
  int key = 0;
  bool key_up = false;  // its note-off came; a pedal may still hold it
};

struct Span {
  double start = 0.0;
  double end = 0.0;
  int voices = 0;
};

// The most voices the spans keep at once; a span that outlasts the piece's end (a tail the
// next pass starts under) also counts from the start.
int peak_of(std::vector<Span> spans, double length) {
  const std::size_t own = spans.size();
  for (std::size_t i = 0; i < own; ++i) {
    if (spans[i].end > length) spans.push_back({0.0, spans[i].end - length, spans[i].voices});
  }
  std::vector<std::pair<double, int>> edges;
  edges.reserve(2 * spans.size());
  for (const Span& s : spans) {
    edges.emplace_back(s.start, s.voices);
    edges.emplace_back(s.end, -s.voices);
  }
  // At one instant, voices starting are counted before those ending: a voice is freed only
  // at the synthesizer block after its end.
  std::sort(edges.begin(), edges.end(), [](const auto& a, const auto& b) {
    return a.first < b.first || (a.first == b.first && a.second > b.second);
  });
  int now = 0, peak = 0;
  for (const auto& [at, change] : edges) {
    now += change;
    peak = std::max(peak, now);
  }
  return peak;
}

}  // namespace

int InstrumentLibrary::voices_at_once(const midi::Sequence& sequence) {
  std::vector<NoteOn> note_ons;
  {
    std::lock_guard lock(mutex_);
    fluid_synth_system_reset(synth_);
    for (int ch = 0; ch < kChannels; ++ch) select_reset_program(synth_, ch);
    for (const midi::Event& e : sequence.events) {
      if (e.is_channel() && e.command() == 0x90 && e.data2 > 0) {
        NoteOn& on = note_ons.emplace_back();
        on.note = static_cast<std::uint16_t>((e.data1 & 0x7F) << 7 | (e.data2 & 0x7F));
        if (fluid_preset_t* preset = fluid_synth_get_channel_preset(synth_, e.channel())) {
          on.preset = {static_cast<std::uint16_t>(fluid_preset_get_banknum(preset)),
                       static_cast<std::uint16_t>(fluid_preset_get_num(preset))};
          on.sounds = true;
        }
      } else if (e.is_channel() && (e.command() == 0xB0 || e.command() == 0xC0)) {
        send_channel_message(synth_, e.status, e.data1, e.data2);
      } else if (e.status == midi::kSysExStatus) {
        send_sysex(synth_, sequence.payload_of(e));
      }
    }
  }

  // What each distinct note of each preset costs.
  std::map<PresetId, PresetUse> uses;
  for (const NoteOn& n : note_ons) {
    if (n.sounds) uses[n.preset].notes.push_back(n.note);
  }
  std::map<PresetId, std::vector<NoteVoices>> costs;
  for (auto& [id, use] : uses) {
    use.preset = id;
    std::sort(use.notes.begin(), use.notes.end());
    use.notes.erase(std::unique(use.notes.begin(), use.notes.end()), use.notes.end());
    costs[id] = catalogue_->note_voices(use);
  }
  const auto cost_of = [&](const NoteOn& n) {
    const PresetUse& use = uses[n.preset];
    const auto at = std::lower_bound(use.notes.begin(), use.notes.end(), n.note);
    return costs[n.preset][static_cast<std::size_t>(at - use.notes.begin())];
  };

  // The piece again in time order, now with releases and pedals.
  std::vector<Span> spans;
  std::array<std::vector<Sounding>, kChannels> sounding;
  std::array<bool, kChannels> pedal{};
  const auto end_note = [&](const Sounding& s, double at) {
    spans.push_back(
        {s.start, std::max(s.start, std::min(at + s.release, s.start + s.longest)), s.voices});
  };
  const auto release_where = [&](int channel, double at, auto&& which) {
    auto& notes = sounding[static_cast<std::size_t>(channel)];
    std::erase_if(notes, [&](Sounding& s) {
      if (!which(s)) return false;
      end_note(s, at);
      return true;
    });
  };
  std::size_t next_on = 0;
  for (const midi::Event& e : sequence.events) {
    if (!e.is_channel()) continue;
    const int ch = e.channel();
    const auto index = static_cast<std::size_t>(ch);
    const double at = sequence.tempo.seconds_at(e.time);
    const bool note_on = e.command() == 0x90 && e.data2 > 0;
    const bool note_off = e.command() == 0x80 || (e.command() == 0x90 && e.data2 == 0);
    if (note_on) {
      const NoteOn& on = note_ons[next_on++];
      const NoteVoices cost = on.sounds ? cost_of(on) : NoteVoices{};
      if (cost.voices > 0) {
        sounding[index].push_back(
            {at, cost.voices, cost.release_seconds, cost.longest_seconds, e.data1 & 0x7F});
      }
    } else if (note_off) {
      for (Sounding& s : sounding[index]) {
        if (s.key == (e.data1 & 0x7F)) s.key_up = true;
      }
      if (!pedal[index]) release_where(ch, at, [](Sounding& s) { return s.key_up; });
    } else if (e.command() == 0xB0 && (e.data1 == kSustain || e.data1 == kSostenuto)) {
      pedal[index] = e.data2 >= 64;
      if (!pedal[index]) release_where(ch, at, [](Sounding& s) { return s.key_up; });
    } else if (e.command() == 0xB0 && e.data1 == kAllSoundOff) {
      release_where(ch, at, [](Sounding& s) {
        s.release = 0.0;  // cut, not released
        return true;
      });
    } else if (e.command() == 0xB0 && e.data1 >= kAllNotesOff) {
      for (Sounding& s : sounding[index]) s.key_up = true;
      if (!pedal[index]) release_where(ch, at, [](Sounding& s) { return s.key_up; });
    }
  }
  // A sequence made in memory may not carry its length in seconds.
  const double length =
      std::max(sequence.length_seconds, sequence.tempo.seconds_at(sequence.length));
  for (int ch = 0; ch < kChannels; ++ch) {
    release_where(ch, length, [](Sounding&) { return true; });
  }
  return peak_of(std::move(spans), length);
}

}  // namespace orvan::music::synth
