// What channels cost in memory and in the time their callers wait, with the General MIDI
// SoundFont a game would ship (FluidR3, 141 MB) at 48 kHz on the manual device: the first
// channel playing Theme.mid, each further channel playing another piece, InitOrvanAudio of
// the first and of a further channel, the first channel's time from InitOrvanAudio to its
// first music (Music_Load and Music_Play, which downloads the piece's instruments),
// CleanupAudio of the last, and what the process keeps once every channel is gone. Memory is the
// growth of the resident set and of the allocator's own count of bytes in use (mallinfo2: heap plus
// mmapped blocks).
//
// The first channel's figures hold only in a fresh process, so each benchmark runs once and
// the program is meant to run whole: `bench_memory` (no filter).
//
// BM_FurtherChannelParts takes one further channel apart: FluidSynth's own synthesizer
// (voices, their event queue, mixer and reverb) with the voice pool a channel starts with,
// and the instruments each piece downloads, each measured by the allocator.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/orvan_music.h"
#include "platform/music/client/settings.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/output/manual_device.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/synth/dls_font.h"
#include "platform/music/synth/instrument_library.h"
#include "platform/music/synth/synth.h"
#include "platform/ui/message_box.h"

namespace {

using namespace orvan;
using Clock = std::chrono::steady_clock;

constexpr std::int32_t kRate = 48000;
constexpr const char* kSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
const std::string kMusicDir = "/usr/share/games/openttd/baseset/openmsx/";
const char* const kFurtherPieces[] = {"busy_schedule.mid", "chuggachugga.mid",
                                      "5432gone_redfarn.mid"};
constexpr double kMiB = 1024.0 * 1024.0;

class SilentPresenter final : public ui::MessagePresenter {
 public:
  void present(const std::string&, const std::string&, ui::MessageIcon) override {}
};

struct Usage {
  double resident = 0;   // bytes
  double allocated = 0;  // bytes the allocator has handed out and not had back
};

Usage usage_now() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  const struct mallinfo2 info = mallinfo2();
  return {static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)),
          static_cast<double>(info.uordblks + info.hblkhd)};
}

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool have_inputs() {
  return std::filesystem::exists(kSoundFont) &&
         std::filesystem::exists(ORVAN_BINARY_DIR "/media/Theme.mid") &&
         std::all_of(std::begin(kFurtherPieces), std::end(kFurtherPieces),
                     [](const char* f) { return std::filesystem::exists(kMusicDir + f); });
}

// One channel brought up, loaded and playing for a second of music.
struct Channel {
  com::Ref<engine::OrvanMusic> music = com::make_ref<engine::OrvanMusic>();
  double init_ms = 0;
  // From InitOrvanAudio to Music_Play's return, when the first block of music is queued
  // with its instruments downloaded.
  double to_first_sound_ms = 0;
};

Channel open_and_play(const std::string& file) {
  Channel channel;
  const std::int32_t hwnd = 0;
  const auto start = Clock::now();
  channel.music->InitOrvanAudio(hwnd, kRate);
  channel.init_ms = ms_since(start);
  channel.music->Music_Load(com::BStr::from_utf8(file));
  channel.music->Music_Play();
  channel.to_first_sound_ms = ms_since(start);
  if (auto* device = music::output::last_manual_device()) device->pump(kRate);
  return channel;
}

void BM_ChannelMemoryAndOpeningTime(benchmark::State& state) {
  if (!have_inputs()) {
    state.SkipWithError("needs fluid-soundfont-gm, openttd-openmsx and the theme-mid target");
    return;
  }
  music::PlatformSettings settings;
  settings.output = music::OutputKind::Manual;
  settings.soundfont = kSoundFont;
  music::set_platform_settings(settings);
  ui::ScopedMessagePresenter quiet(std::make_shared<SilentPresenter>());

  for (auto _ : state) {
    const Usage before = usage_now();
    std::vector<Channel> channels;
    channels.push_back(open_and_play(ORVAN_BINARY_DIR "/media/Theme.mid"));
    const Usage first = usage_now();
    const double init_first_ms = channels.back().init_ms;
    const double first_sound_ms = channels.back().to_first_sound_ms;

    double further_resident = 0, further_allocated = 0, worst_resident = 0;
    double further_init = 0, worst_init = 0;
    Usage last = first;
    for (const char* piece : kFurtherPieces) {
      channels.push_back(open_and_play(kMusicDir + piece));
      const Usage now = usage_now();
      further_resident += now.resident - last.resident;
      further_allocated += now.allocated - last.allocated;
      worst_resident = std::max(worst_resident, now.resident - last.resident);
      further_init += channels.back().init_ms;
      worst_init = std::max(worst_init, channels.back().init_ms);
      last = now;
    }
    const double further = static_cast<double>(std::size(kFurtherPieces));

    while (channels.size() > 1) {
      channels.back().music->CleanupAudio();
      channels.pop_back();
    }
    const auto cleanup_start = Clock::now();
    channels.back().music->CleanupAudio();
    const double cleanup_last_ms = ms_since(cleanup_start);
    channels.clear();
    const Usage after = usage_now();

    state.counters["first_rss_MiB"] = (first.resident - before.resident) / kMiB;
    state.counters["first_alloc_MiB"] = (first.allocated - before.allocated) / kMiB;
    state.counters["further_rss_MiB"] = further_resident / further / kMiB;
    state.counters["further_alloc_MiB"] = further_allocated / further / kMiB;
    state.counters["further_rss_worst_MiB"] = worst_resident / kMiB;
    state.counters["init_first_ms"] = init_first_ms;
    state.counters["first_sound_ms"] = first_sound_ms;
    state.counters["init_further_ms"] = further_init / further;
    state.counters["init_further_worst_ms"] = worst_init;
    state.counters["cleanup_last_ms"] = cleanup_last_ms;
    state.counters["kept_rss_MiB"] = (after.resident - before.resident) / kMiB;
    state.counters["kept_alloc_MiB"] = (after.allocated - before.allocated) / kMiB;
  }
}

BENCHMARK(BM_ChannelMemoryAndOpeningTime)->Iterations(1)->Unit(benchmark::kMillisecond);

// One further channel taken apart: FluidSynth's synthesizer (voices, their event queue,
// mixer and reverb) and, for each further piece, the instruments it downloads while Theme's
// are held, as a channel playing Theme would hold them: preset tables and whatever samples
// no earlier piece had loaded.
void BM_FurtherChannelParts(benchmark::State& state) {
  if (!have_inputs()) {
    state.SkipWithError("needs fluid-soundfont-gm, openttd-openmsx and the theme-mid target");
    return;
  }
  for (auto _ : state) {
    std::shared_ptr<music::synth::InstrumentLibrary> library;
    music::synth::InstrumentLibrary::open(kSoundFont, library);
    std::vector<struct _fluid_sfont_t*> held;
    const auto download = [&](const std::string& file) {
      music::midi::Sequence sequence;
      music::midi::read_sequence_file(file, sequence);
      const auto presets = library->presets_used_by(sequence);
      struct _fluid_sfont_t* font = nullptr;
      library->load_instruments(presets, font);
      held.push_back(font);
      return presets.size();
    };
    download(ORVAN_BINARY_DIR "/media/Theme.mid");

    const Usage start = usage_now();
    std::unique_ptr<music::synth::Synth> synth;
    music::synth::Synth::create(kRate, kSoundFont, music::PerformanceCore::kInitialVoices, synth);
    const Usage with_synth = usage_now();
    double presets = 0;
    for (const char* piece : kFurtherPieces)
      presets += static_cast<double>(download(kMusicDir + piece));
    const Usage with_instruments = usage_now();
    synth.reset();
    for (auto* font : held) music::synth::discard_font(font);

    const double further = static_cast<double>(std::size(kFurtherPieces));
    state.counters["synth_alloc_MiB"] = (with_synth.allocated - start.allocated) / kMiB;
    state.counters["instruments_alloc_MiB"] =
        (with_instruments.allocated - with_synth.allocated) / further / kMiB;
    state.counters["presets"] = presets / further;
    state.counters["polyphony"] = music::PerformanceCore::kInitialVoices;
  }
}
BENCHMARK(BM_FurtherChannelParts)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
