// Composes media/Theme.mid, the demo music: a short piece in D major for flute, vibraphone,
// electric piano, fingered bass, warm pad and drums (intro, A, B, a slower bridge, A again,
// and a coda with a ritardando). Everything is written out here, so the same program always
// writes the same bytes: no clock, no randomness beyond a fixed-seed generator.
//
// Usage: compose-theme OUTPUT.mid
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kTicksPerQuarter = 480;
constexpr int kEighth = kTicksPerQuarter / 2;
constexpr int kBar = 4 * kTicksPerQuarter;
constexpr int kRest = -1;

// --- Standard MIDI File writing -------------------------------------------------------------

struct Event {
  int tick;
  int order;  // at one tick: meta and controllers first, then note-offs, then note-ons
  std::vector<std::uint8_t> bytes;
};

class Track {
 public:
  explicit Track(std::string name) { meta(0, 0x03, name); }

  void meta(int tick, std::uint8_t type, const std::string& data) {
    std::vector<std::uint8_t> bytes{0xFF, type};
    append_varlen(bytes, static_cast<std::uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    events_.push_back({tick, 0, bytes});
  }
  void tempo(int tick, int bpm) {
    const auto us = static_cast<std::uint32_t>(60'000'000 / bpm);
    meta(tick, 0x51, std::string{char(us >> 16), char((us >> 8) & 0xFF), char(us & 0xFF)});
  }
  void program(int tick, int channel, int number) {
    events_.push_back({tick, 1, {status(0xC0, channel), byte(number)}});
  }
  void controller(int tick, int channel, int number, int value) {
    events_.push_back({tick, 1, {status(0xB0, channel), byte(number), byte(value)}});
  }
  void note(int tick, int length, int channel, int key, int velocity) {
    events_.push_back({tick, 3, {status(0x90, channel), byte(key), byte(velocity)}});
    events_.push_back({tick + length, 2, {status(0x80, channel), byte(key), 0x40}});
  }

  std::vector<std::uint8_t> chunk(int end_tick) const {
    std::vector<Event> sorted = events_;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Event& a, const Event& b) {
      return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    std::vector<std::uint8_t> body;
    int now = 0;
    for (const Event& e : sorted) {
      append_varlen(body, static_cast<std::uint32_t>(e.tick - now));
      body.insert(body.end(), e.bytes.begin(), e.bytes.end());
      now = e.tick;
    }
    append_varlen(body, static_cast<std::uint32_t>(std::max(0, end_tick - now)));
    body.insert(body.end(), {0xFF, 0x2F, 0x00});

    std::vector<std::uint8_t> out{'M', 'T', 'r', 'k'};
    append_u32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }

  int last_tick() const {
    int last = 0;
    for (const Event& e : events_) last = std::max(last, e.tick);
    return last;
  }

  static void append_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t((v >> shift) & 0xFF));
  }

 private:
  static std::uint8_t byte(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 127)); }
  static std::uint8_t status(int kind, int channel) {
    return static_cast<std::uint8_t>(kind | channel);
  }
  static void append_varlen(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::array<std::uint8_t, 5> groups{};
    int n = 0;
    do {
      groups[static_cast<std::size_t>(n++)] = std::uint8_t(v & 0x7F);
      v >>= 7;
    } while (v != 0);
    while (n-- > 0)
      out.push_back(std::uint8_t(groups[static_cast<std::size_t>(n)] | (n > 0 ? 0x80 : 0)));
  }

  std::vector<Event> events_;
};

// Small, fixed-seed variation in velocities so the parts breathe the same way every run.
class Humanizer {
 public:
  int vary(int velocity, int spread) {
    state_ = state_ * 1103515245u + 12345u;
    const int offset =
        static_cast<int>((state_ >> 16) % static_cast<std::uint32_t>(2 * spread + 1)) - spread;
    return std::clamp(velocity + offset, 1, 127);
  }

 private:
  std::uint32_t state_ = 20261207u;
};

// --- Harmony ------------------------------------------------------------------------------

struct Chord {
  int root;  // pitch class, 0 = C
  bool minor;
  int third() const { return (root + (minor ? 3 : 4)) % 12; }
  int fifth() const { return (root + 7) % 12; }
};

constexpr Chord D{2, false}, E_m{4, true}, Fs_m{6, true}, G{7, false}, A{9, false}, B_m{11, true};

// The lowest key of pitch class `pc` at or above `floor`.
int at_or_above(int pc, int floor) {
  int key = floor + ((pc - floor) % 12 + 12) % 12;
  return key;
}

// --- The score ------------------------------------------------------------------------------

struct Note {
  int key;      // kRest for a rest
  int eighths;  // duration
};

enum class Groove { Intro, Straight, Ride, HalfTime, Coda };

struct Section {
  const char* name;
  std::vector<Chord> chords;  // one per bar
  std::vector<Note> melody;
  int bpm;
  Groove groove;
  int lead_program;
  int pad_program;
  bool keys;  // electric piano arpeggios
};

// Key names in D major, octave 4 = middle C's octave.
constexpr int D4 = 62, E4 = 64, Fs4 = 66, G4 = 67, A4 = 69, B4 = 71, Cs5 = 73, D5 = 74, E5 = 76,
              Fs5 = 78, G5 = 79, A5 = 81, B5 = 83;

constexpr int kFlute = 73, kVibraphone = 11, kElectricPiano = 4, kFingeredBass = 33, kWarmPad = 89,
              kStrings = 48;

std::vector<Note> theme_a(bool final_cadence) {
  std::vector<Note> m = {
      {Fs4, 2}, {A4, 2},  {D5, 3},  {Cs5, 1},           // D
      {E5, 4},  {Cs5, 2}, {A4, 2},                      // A
      {B4, 2},  {D5, 2},  {Fs5, 2}, {E5, 1},  {D5, 1},  // Bm
      {B4, 2},  {D5, 1},  {B4, 1},  {A4, 4},            // G
      {Fs4, 2}, {A4, 2},  {D5, 2},  {E5, 2},            // D
      {Fs5, 3}, {E5, 1},  {Cs5, 4},                     // A
      {D5, 2},  {Cs5, 2}, {B4, 2},  {A4, 2},            // Bm
  };
  if (final_cadence) {
    m.insert(m.end(), {{G4, 2}, {B4, 2}, {Cs5, 2}, {E5, 2}});  // G -> A, leaning home
  } else {
    m.insert(m.end(), {{G4, 2}, {B4, 2}, {A4, 4}});  // G, open
  }
  return m;
}

std::vector<Note> theme_b() {
  return {
      {B4, 1},  {D5, 1},  {G5, 2},  {Fs5, 2}, {D5, 2},  // G
      {E5, 6},  {Cs5, 2},                               // A
      {Cs5, 2}, {Fs5, 2}, {E5, 2},  {Cs5, 2},           // F#m
      {D5, 4},  {B4, 4},                                // Bm
      {G4, 1},  {A4, 1},  {B4, 2},  {D5, 2},  {G5, 2},  // G
      {Fs5, 2}, {E5, 2},  {Cs5, 2}, {A4, 2},            // A
      {Fs5, 6}, {E5, 1},  {D5, 1},                      // D
      {E5, 8},                                          // A
  };
}

std::vector<Note> bridge() {
  return {
      {Fs5, 3}, {D5, 1},    {B4, 4},            // Bm
      {D5, 3},  {B4, 1},    {G4, 4},            // G
      {A4, 2},  {D5, 2},    {Fs5, 2}, {A5, 2},  // D
      {G5, 4},  {E5, 4},                        // A
      {E5, 2},  {G5, 2},    {B5, 2},  {G5, 2},  // Em
      {A5, 3},  {Fs5, 1},   {Cs5, 4},           // F#m
      {B4, 2},  {D5, 2},    {G5, 2},  {B5, 2},  // G
      {A5, 6},  {kRest, 2},                     // A
  };
}

std::vector<Section> score() {
  const std::vector<Chord> verse = {D, A, B_m, G, D, A, B_m, G};
  std::vector<Chord> last_verse = verse;
  last_verse.back() = A;
  return {
      {"Intro", {D, A, B_m, G}, {{kRest, 32}}, 100, Groove::Intro, kFlute, kWarmPad, false},
      {"A", verse, theme_a(false), 100, Groove::Straight, kFlute, kWarmPad, false},
      {"B", {G, A, Fs_m, B_m, G, A, D, A}, theme_b(), 100, Groove::Ride, kFlute, kWarmPad, true},
      {"Bridge",
       {B_m, G, D, A, E_m, Fs_m, G, A},
       bridge(),
       88,
       Groove::HalfTime,
       kVibraphone,
       kStrings,
       true},
      {"A again", last_verse, theme_a(true), 100, Groove::Straight, kFlute, kWarmPad, true},
      {"Coda", {D, D}, {{D5, 16}}, 92, Groove::Coda, kFlute, kWarmPad, false},
  };
}

// --- Parts ----------------------------------------------------------------------------------

constexpr int kLeadChannel = 0, kBassChannel = 1, kPadChannel = 2, kKeysChannel = 3,
              kDrumChannel = 9;

enum Drum {
  Kick = 36,
  SideStick = 37,
  Snare = 38,
  ClosedHat = 42,
  OpenHat = 46,
  LowTom = 45,
  MidTom = 47,
  HighTom = 50,
  Crash = 49,
  Ride = 51
};

void write_lead(Track& t, const Section& s, int start, Humanizer& h, bool first) {
  if (first || s.lead_program != kFlute || s.groove == Groove::Straight) {
    t.program(start, kLeadChannel, s.lead_program);
  }
  int tick = start;
  for (const Note& n : s.melody) {
    const int length = n.eighths * kEighth;
    if (n.key != kRest) {
      const bool on_beat = (tick - start) % kTicksPerQuarter == 0;
      t.note(tick, length - 30, kLeadChannel, n.key, h.vary(on_beat ? 92 : 80, 6));
      // A touch of vibrato on long notes only, so short ones stay clean.
      if (n.eighths >= 4 && s.lead_program == kFlute) {
        t.controller(tick + kTicksPerQuarter, kLeadChannel, 1, 40);
        t.controller(tick + length - 30, kLeadChannel, 1, 0);
      }
    }
    tick += length;
  }
}

void write_bass(Track& t, const Section& s, int start, Humanizer& h) {
  for (std::size_t bar = 0; bar < s.chords.size(); ++bar) {
    const Chord& c = s.chords[bar];
    const int root = at_or_above(c.root, 31);  // G1 .. F#2
    const int tick = start + static_cast<int>(bar) * kBar;
    if (s.groove == Groove::Intro || s.groove == Groove::Coda) {
      t.note(tick, kBar - 40, kBassChannel, root, h.vary(88, 4));
      continue;
    }
    if (s.groove == Groove::HalfTime) {
      t.note(tick, 3 * kTicksPerQuarter - 40, kBassChannel, root, h.vary(92, 4));
      t.note(tick + 3 * kTicksPerQuarter, kTicksPerQuarter - 40, kBassChannel,
             at_or_above(c.fifth(), root), h.vary(78, 4));
      continue;
    }
    // Dotted quarter, eighth, then fifth and octave: the push that drives the verse.
    t.note(tick, 3 * kEighth - 30, kBassChannel, root, h.vary(100, 5));
    t.note(tick + 3 * kEighth, kEighth - 30, kBassChannel, root, h.vary(84, 5));
    t.note(tick + 4 * kEighth, 2 * kEighth - 30, kBassChannel, at_or_above(c.fifth(), root),
           h.vary(92, 5));
    t.note(tick + 6 * kEighth, 2 * kEighth - 30, kBassChannel, root + 12, h.vary(88, 5));
  }
}

std::array<int, 3> pad_voicing(const Chord& c) {
  std::array<int, 3> keys{at_or_above(c.root, 55), at_or_above(c.third(), 55),
                          at_or_above(c.fifth(), 55)};
  std::sort(keys.begin(), keys.end());
  return keys;
}

void write_pad(Track& t, const Section& s, int start, Humanizer& h, bool first) {
  if (first || s.pad_program != kWarmPad || s.groove == Groove::Straight) {
    t.program(start, kPadChannel, s.pad_program);
  }
  for (std::size_t bar = 0; bar < s.chords.size(); ++bar) {
    const int tick = start + static_cast<int>(bar) * kBar;
    const bool held_to_end = s.groove == Groove::Coda;
    const int length = held_to_end ? kBar * static_cast<int>(s.chords.size()) : kBar - 20;
    for (int key : pad_voicing(s.chords[bar]))
      t.note(tick, length, kPadChannel, key, h.vary(70, 3));
    if (held_to_end) break;
  }
  // Expression: the intro swells in, the coda fades out.
  const int steps = 16 * static_cast<int>(s.chords.size());
  for (int i = 0; i <= steps && (s.groove == Groove::Intro || s.groove == Groove::Coda); ++i) {
    const int tick = start + i * (kBar / 16);
    const int value = s.groove == Groove::Intro ? 40 + (87 * i) / steps : 127 - (97 * i) / steps;
    t.controller(tick, kPadChannel, 11, value);
  }
  if (s.groove == Groove::Straight || s.groove == Groove::Ride)
    t.controller(start, kPadChannel, 11, 110);
}

void write_keys(Track& t, const Section& s, int start, Humanizer& h) {
  if (!s.keys) return;
  // Broken chords: root, fifth, third up an octave, fifth, in eighths.
  static constexpr std::array<int, 8> kPattern = {0, 2, 4, 2, 3, 2, 4, 1};
  for (std::size_t bar = 0; bar < s.chords.size(); ++bar) {
    const Chord& c = s.chords[bar];
    const int root = at_or_above(c.root, 50);
    const std::array<int, 5> tones = {root, at_or_above(c.third(), root),
                                      at_or_above(c.fifth(), root), root + 12,
                                      at_or_above(c.third(), root + 12)};
    for (int i = 0; i < 8; ++i) {
      const int tick = start + static_cast<int>(bar) * kBar + i * kEighth;
      const int velocity = i % 2 == 0 ? 64 : 52;
      t.note(tick, kEighth + 60, kKeysChannel,
             tones[static_cast<std::size_t>(kPattern[static_cast<std::size_t>(i)])],
             h.vary(velocity, 5));
    }
  }
}

void write_drums(Track& t, const Section& s, int start, Humanizer& h) {
  const int bars = static_cast<int>(s.chords.size());
  auto hit = [&](int tick, int drum, int velocity) {
    t.note(tick, kEighth / 2, kDrumChannel, drum, h.vary(velocity, 6));
  };
  for (int bar = 0; bar < bars; ++bar) {
    const int b = start + bar * kBar;
    const bool fill = bar == bars - 1 && s.groove != Groove::Coda && s.groove != Groove::Intro;
    if (bar == 0 && s.groove != Groove::Intro) hit(b, Crash, 100);
    switch (s.groove) {
      case Groove::Intro:
        for (int i = 0; i < 8; ++i) hit(b + i * kEighth, ClosedHat, i % 2 == 0 ? 60 : 42);
        if (bar >= 2) hit(b, Kick, 80);
        if (bar == bars - 1) {
          hit(b + 6 * kEighth, Snare, 70);
          hit(b + 7 * kEighth, Snare, 90);
        }
        break;
      case Groove::Straight:
      case Groove::Ride: {
        const int cymbal = s.groove == Groove::Ride ? Ride : ClosedHat;
        for (int i = 0; i < (fill ? 4 : 8); ++i) {
          const bool open = s.groove == Groove::Straight && i == 7;
          hit(b + i * kEighth, open ? OpenHat : cymbal, i % 2 == 0 ? 78 : 58);
        }
        hit(b, Kick, 100);
        hit(b + 3 * kEighth, Kick, 72);
        hit(b + 4 * kEighth, Kick, 92);
        hit(b + 2 * kEighth, Snare, 96);
        if (!fill) hit(b + 6 * kEighth, Snare, 96);
        break;
      }
      case Groove::HalfTime:
        for (int i = 0; i < 4; ++i) hit(b + i * kTicksPerQuarter, Ride, i == 0 ? 70 : 52);
        hit(b, Kick, 90);
        hit(b + 5 * kEighth, Kick, 64);
        if (!fill) hit(b + 4 * kEighth, SideStick, 84);
        break;
      case Groove::Coda:
        if (bar == 0) hit(b, Kick, 96);
        break;
    }
    if (fill) {
      const std::array<int, 4> toms = {HighTom, HighTom, MidTom, LowTom};
      for (int i = 0; i < 4; ++i)
        hit(b + (4 + i) * kEighth, toms[static_cast<std::size_t>(i)], 80 + 6 * i);
    }
  }
}

void channel_setup(Track& t, int channel, int volume, int pan, int reverb, int chorus) {
  t.controller(0, channel, 0, 0);  // bank: General MIDI
  t.controller(0, channel, 7, volume);
  t.controller(0, channel, 10, pan);
  t.controller(0, channel, 91, reverb);
  t.controller(0, channel, 93, chorus);
}

std::vector<std::uint8_t> compose() {
  Track conductor("Theme");
  conductor.meta(0, 0x58, std::string{4, 2, 24, 8});  // 4/4
  conductor.meta(0, 0x59, std::string{2, 0});         // D major
  Track lead("Lead"), bass("Bass"), pad("Pad"), keys("Keys"), drums("Drums");
  channel_setup(lead, kLeadChannel, 100, 64, 60, 10);
  channel_setup(bass, kBassChannel, 108, 60, 20, 0);
  channel_setup(pad, kPadChannel, 78, 40, 80, 50);
  channel_setup(keys, kKeysChannel, 72, 92, 50, 30);
  channel_setup(drums, kDrumChannel, 96, 64, 40, 0);
  keys.program(0, kKeysChannel, kElectricPiano);
  bass.program(0, kBassChannel, kFingeredBass);

  Humanizer h;
  int start = 0;
  bool first = true;
  for (const Section& s : score()) {
    int melody_eighths = 0;
    for (const Note& n : s.melody) melody_eighths += n.eighths;
    if (melody_eighths != 8 * static_cast<int>(s.chords.size())) {
      std::fprintf(stderr, "compose-theme: section %s has %d eighths of melody for %zu bars\n",
                   s.name, melody_eighths, s.chords.size());
      return {};
    }
    conductor.meta(start, 0x06, s.name);
    conductor.tempo(start, s.bpm);
    write_lead(lead, s, start, h, first);
    write_bass(bass, s, start, h);
    write_pad(pad, s, start, h, first);
    write_keys(keys, s, start, h);
    write_drums(drums, s, start, h);
    if (s.groove == Groove::Coda) conductor.tempo(start + kBar, 80);  // the last bar slows
    start += static_cast<int>(s.chords.size()) * kBar;
    first = false;
  }

  // Every track ends together, one beat after the last bar, so the final chord can ring.
  const int end = start + kTicksPerQuarter;
  std::vector<std::uint8_t> file{'M', 'T', 'h', 'd'};
  Track::append_u32(file, 6);
  const std::vector<const Track*> tracks = {&conductor, &lead, &bass, &pad, &keys, &drums};
  file.insert(file.end(), {0, 1, 0, static_cast<std::uint8_t>(tracks.size()), kTicksPerQuarter >> 8,
                           kTicksPerQuarter & 0xFF});
  for (const Track* t : tracks) {
    const std::vector<std::uint8_t> chunk = t->chunk(std::max(end, t->last_tick()));
    file.insert(file.end(), chunk.begin(), chunk.end());
  }
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: compose-theme OUTPUT.mid\n");
    return 2;
  }
  const std::vector<std::uint8_t> file = compose();
  if (file.empty()) return 1;
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "compose-theme: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
