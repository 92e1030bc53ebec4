// How many busy MIDI channels one output holds in real time, rendered on one thread and on
// two (render_pool.h). Every channel of a process renders through the one shared output;
// SDL's "disk" driver with no delay asks for periods as fast as they are rendered, so music
// seconds per wall second with N channels playing is the headroom the real device would
// have. A channel count is held when the
// output renders at least 1.25 times real time: a quarter left for the scheduler, the
// decoder and whatever else the game runs on that core.
//
// Counters per channel count: realtime_x (music seconds per wall second), cpu_ms_per_s
// (process CPU per second of music per channel), cores (process CPU over wall time, which
// shows whether more than one core took part), held (1 when realtime_x >= 1.25) and
// per_core (the channels of this cost that 80 % of one core renders in real time: beyond the
// 16 one output takes, what a core could carry).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/cpu_time.h"
#include "platform/music/client/audio_path.h"
#include "platform/music/client/loader.h"
#include "platform/music/client/performance.h"
#include "platform/music/client/root.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/settings.h"
#include "platform/music/client/sound_buffer.h"
#include "platform/music/output/sdl_device.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/synth/soundfont_locator.h"

namespace {

using namespace orvan::music;

constexpr int kRate = 48000;
constexpr double kMeasureSeconds = 4.0;
const std::string kMusicDir = "/usr/share/games/openttd/baseset/openmsx/";
// The busiest pieces of the set (most notes at once), taken in turn by the channels.
const char* const kFiles[] = {"busy_schedule.mid", "chuggachugga.mid", "5432gone_redfarn.mid"};

struct Channel {
  Ref<DirectMusicPerformance8> perf;
  Ref<DirectMusicSegment8> piece;
  Ref<DirectMusicSegmentState8> playing;
};

bool start_channel(const Ref<DirectX8>& root, const std::string& file, Channel& channel) {
  Ref<DirectMusicLoader8> loader;
  root->DirectMusicLoaderCreate(loader);
  if (orvan::com::failed(loader->LoadSegment(kMusicDir + file, channel.piece))) return false;
  channel.piece->SetRepeats(1000);  // longer than any measurement
  root->DirectMusicPerformanceCreate(channel.perf);
  DMUS_AUDIOPARAMS params;
  params.validData = DMUS_AUDIOPARAMS_SAMPLERATE;
  params.sampleRate = kRate;
  if (orvan::com::failed(channel.perf->InitAudio(0, DMUS_AUDIOF_ALL, params, nullptr,
                                                 DMUS_APATH_SHARED_STEREOPLUSREVERB, 128))) {
    return false;
  }
  return !orvan::com::failed(channel.perf->PlaySegmentEx(channel.piece, DMUS_SEGF_DEFAULT, 0,
                                                         nullptr, nullptr, channel.playing));
}

void BM_ChannelsOnOneOutput(benchmark::State& state) {
  for (const char* file : kFiles) {
    if (!std::filesystem::exists(kMusicDir + file)) {
      state.SkipWithError("needs openttd-openmsx");
      return;
    }
  }
  // The disk driver writes what it is given and, with no delay, asks for the next period at
  // once: the render thread is never paced.
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  setenv("SDL_DISKAUDIODELAY", "0", 1);
  std::string soundfont;
  synth::locate_soundfont("", soundfont);
  set_platform_settings({OutputKind::RealTime, {}, soundfont});

  const int count = static_cast<int>(state.range(0));
  // 1: every channel on SDL's thread; 2: half of them on the output's second render thread.
  output::set_render_threads(static_cast<int>(state.range(1)));
  for (auto _ : state) {
    auto root = DirectX8::create();
    std::vector<Channel> channels(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      if (!start_channel(root, kFiles[i % std::size(kFiles)], channels[i])) {
        state.SkipWithError("a channel did not start (is the disk driver in this SDL?)");
        return;
      }
    }
    // Let every channel's first notes and instruments settle before measuring.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto& device = *channels.front().perf->core()->device();
    const std::int64_t frames_before = device.frames_rendered();
    const double cpu_before = orvan::bench::process_cpu();
    const auto wall_before = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(kMeasureSeconds));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
    const double cpu = orvan::bench::process_cpu() - cpu_before;
    const double music = static_cast<double>(device.frames_rendered() - frames_before) / kRate;
    for (Channel& channel : channels) channel.perf->CloseDown();

    state.counters["realtime_x"] = music / wall;
    state.counters["cpu_ms_per_s"] = music > 0 ? 1000.0 * cpu / music / count : 0.0;
    state.counters["cores"] = cpu / wall;
    state.counters["held"] = music / wall >= 1.25 ? 1 : 0;
    state.counters["per_core"] = music > 0 && cpu > 0 ? 0.8 * music * count / cpu : 0.0;
  }
}
BENCHMARK(BM_ChannelsOnOneOutput)
    ->ArgsProduct({{1, 4, 8, 12, 16}, {1, 2}})  // 16: every channel one output takes
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
