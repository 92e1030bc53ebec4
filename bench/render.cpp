// Rendering real MIDI files through a performance against FluidSynth's own command-line
// renderer (fluidsynth -ni -F, same SoundFont and rate), in the same run, and the memory a
// second performance adds to the first; and the CPU that real-time playback costs against
// FluidSynth's own player.
//
// Both sides do the same job end to end: load the SoundFont and the file, synthesize, write a
// WAV file. "ratio" is our wall time over the command line's for the same file (goal <= 1.0,
// limit 1.15); "ratio_per_second" divides each by the seconds of sound it wrote, since the
// two stop their tails at slightly different points.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "bench/cpu_time.h"
#include "platform/music/client/audio_path.h"
#include "platform/music/client/loader.h"
#include "platform/music/client/performance.h"
#include "platform/music/client/root.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/settings.h"
#include "platform/music/client/sound_buffer.h"
#include "platform/music/output/output_device.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/synth/soundfont_locator.h"

namespace {

using namespace orvan::music;

constexpr int kRate = 48000;
const std::string kMusicDir = "/usr/share/games/openttd/baseset/openmsx/";
const char* const kFiles[] = {"busy_schedule.mid", "chuggachugga.mid", "5432gone_redfarn.mid"};

std::string soundfont() {
  std::string path;
  orvan::music::synth::locate_soundfont("", path);
  return path;
}

std::string scratch(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("orvan_bench_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

// Seconds of sound in a WAV file (any sample format): data bytes over bytes per second.
double wav_seconds(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char riff[12];
  if (!in.read(riff, 12)) return 0.0;
  std::uint32_t byte_rate = 0;
  for (;;) {
    char id[4];
    std::uint32_t size = 0;
    if (!in.read(id, 4) || !in.read(reinterpret_cast<char*>(&size), 4)) return 0.0;
    const std::string tag(id, 4);
    if (tag == "fmt ") {
      char fmt[16];
      in.read(fmt, 16);
      std::memcpy(&byte_rate, fmt + 8, 4);
      in.seekg(size - 16, std::ios::cur);
    } else if (tag == "data") {
      return byte_rate ? static_cast<double>(size) / byte_rate : 0.0;
    } else {
      in.seekg(size + (size & 1), std::ios::cur);
    }
  }
}

std::map<std::string, std::pair<double, double>>& cli_results() {
  static std::map<std::string, std::pair<double, double>> results;  // seconds, sound seconds
  return results;
}

long resident_kib() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

Ref<DirectMusicPerformance8> started_performance(const Ref<DirectX8>& root) {
  Ref<DirectMusicPerformance8> perf;
  root->DirectMusicPerformanceCreate(perf);
  DMUS_AUDIOPARAMS params;
  params.validData = DMUS_AUDIOPARAMS_SAMPLERATE;
  params.sampleRate = kRate;
  perf->InitAudio(0, DMUS_AUDIOF_ALL, params, nullptr, DMUS_APATH_SHARED_STEREOPLUSREVERB, 128);
  return perf;
}

// Runs first, while this process has loaded no SoundFont yet.
void BM_MemoryOfTwoPerformances(benchmark::State& state) {
  set_platform_settings({OutputKind::Manual, {}, soundfont()});
  for (auto _ : state) {
    const long before = resident_kib();
    auto root = DirectX8::create();
    auto first = started_performance(root);
    const long one = resident_kib();
    auto second = started_performance(root);
    const long two = resident_kib();
    state.counters["first_MiB"] = static_cast<double>(one - before) / 1024.0;
    state.counters["second_MiB"] = static_cast<double>(two - one) / 1024.0;
    first->CloseDown();
    second->CloseDown();
  }
}
BENCHMARK(BM_MemoryOfTwoPerformances)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_FluidsynthCommandLine(benchmark::State& state, const std::string& file) {
  const std::string out = scratch("cli.wav");
  const std::string command = "fluidsynth -ni -F '" + out + "' -r " + std::to_string(kRate) + " '" +
                              soundfont() + "' '" + kMusicDir + file + "' >/dev/null 2>&1";
  double total = 0.0;
  for (auto _ : state) {
    const auto begin = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("fluidsynth failed (is the command-line program installed?)");
      return;
    }
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  }
  const double seconds = total / static_cast<double>(state.iterations());
  cli_results()[file] = {seconds, wav_seconds(out)};
  state.counters["sound_s"] = wav_seconds(out);
  std::filesystem::remove(out);
}

// The same steps as `tovel-play FILE --render OUT.wav`.
void BM_Performance(benchmark::State& state, const std::string& file) {
  const std::string out = scratch("ours.wav");
  double total = 0.0;
  for (auto _ : state) {
    const auto begin = std::chrono::steady_clock::now();
    set_platform_settings({OutputKind::WavFile, out, soundfont()});
    auto root = DirectX8::create();
    Ref<DirectMusicLoader8> loader;
    root->DirectMusicLoaderCreate(loader);
    Ref<DirectMusicSegment8> segment;
    if (orvan::com::failed(loader->LoadSegment(kMusicDir + file, segment))) {
      state.SkipWithError("cannot load the file");
      return;
    }
    auto perf = started_performance(root);
    Ref<DirectMusicSegmentState8> playing;
    perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, playing);
    const auto& device = *perf->core()->device();
    const float silent = static_cast<float>(std::pow(10.0, -90.0 / 20.0));
    std::int64_t ended_at = -1;
    for (;;) {
      bool is_playing = false;
      perf->IsPlaying(nullptr, playing, is_playing);
      const std::int64_t frames = device.frames_rendered();
      if (!is_playing && ended_at < 0) ended_at = frames;
      if (ended_at >= 0 &&
          (device.last_period_peak() < silent || frames - ended_at >= 30 * kRate)) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    perf->CloseDown();
    perf.reset();
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  }
  const double seconds = total / static_cast<double>(state.iterations());
  const double sound = wav_seconds(out);
  state.counters["sound_s"] = sound;
  if (auto it = cli_results().find(file); it != cli_results().end() && it->second.first > 0) {
    state.counters["ratio"] = seconds / it->second.first;
    if (sound > 0 && it->second.second > 0) {
      state.counters["ratio_per_second"] =
          (seconds / sound) / (it->second.first / it->second.second);
    }
  }
  std::filesystem::remove(out);
}

int register_file_benchmarks() {
  for (const char* file : kFiles) {
    if (!std::filesystem::exists(kMusicDir + file)) continue;
    benchmark::RegisterBenchmark(("BM_FluidsynthCommandLine/" + std::string(file)).c_str(),
                                 BM_FluidsynthCommandLine, std::string(file))
        ->Iterations(3)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_Performance/" + std::string(file)).c_str(), BM_Performance,
                                 std::string(file))
        ->Iterations(3)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  return 0;
}
const int registered = register_file_benchmarks();

}  // namespace

// Real-time playback cost: CPU seconds of `tovel-play FILE` against `fluidsynth -a sdl2`
// with the same SoundFont, both playing Theme.mid for kRealTimeSeconds on SDL's dummy
// driver (paced like a sound card), start-up included. One run of each differs from the
// next by up to a tenth on a shared machine, so the two take turns kRealTimeRounds times
// and "ratio" is ours over theirs of the totals (goal <= 1.0).
constexpr int kRealTimeSeconds = 15;
constexpr int kRealTimeRounds = 4;

double cpu_of(const std::string& command) {
  const double before = orvan::bench::children_cpu();
  const std::string timed = "SDL_AUDIODRIVER=dummy timeout -s INT " +
                            std::to_string(kRealTimeSeconds) + " " + command + " >/dev/null 2>&1";
  if (std::system(timed.c_str()) == -1) return -1.0;
  return orvan::bench::children_cpu() - before;
}

void BM_RealTimeCpuAgainstFluidsynth(benchmark::State& state) {
  const std::string theme = ORVAN_BINARY_DIR "/media/Theme.mid";
  const std::string player = ORVAN_BINARY_DIR "/bin/tovel-play";
  if (!std::filesystem::exists(theme) || !std::filesystem::exists(player)) {
    state.SkipWithError("build the tovel-play and theme-mid targets first");
    return;
  }
  if (std::system("command -v fluidsynth >/dev/null 2>&1") != 0) {
    state.SkipWithError("the fluidsynth program is not installed");
    return;
  }
  double ours = 0.0, theirs = 0.0, worst = 0.0;
  for (auto _ : state) {
    for (int round = 0; round < kRealTimeRounds; ++round) {
      const double a =
          cpu_of("'" + player + "' --quiet --rate " + std::to_string(kRate) + " '" + theme + "'");
      const double b = cpu_of("fluidsynth -q -i -a sdl2 -r " + std::to_string(kRate) + " '" +
                              soundfont() + "' '" + theme + "'");
      ours += a;
      theirs += b;
      if (b > 0.0) worst = std::max(worst, a / b);
    }
  }
  const auto runs = static_cast<double>(state.iterations()) * kRealTimeRounds;
  state.counters["ours_cpu_s"] = ours / runs;
  state.counters["fluidsynth_cpu_s"] = theirs / runs;
  state.counters["ratio"] = theirs > 0.0 ? ours / theirs : 0.0;
  state.counters["worst_round_ratio"] = worst;
}
BENCHMARK(BM_RealTimeCpuAgainstFluidsynth)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
