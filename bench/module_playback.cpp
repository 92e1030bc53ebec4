// Tracker modules: what a play costs per second of music, rendered by the module source as
// the render thread runs it (libopenmpt, 48 kHz stereo, 1024-frame periods, tempo 1.0 and
// 1.25), beside libopenmpt's own command-line player rendering the same file to raw audio
// in the same run. The module (8 channels, 8 patterns of 64 rows, a note on every channel
// every other row, about 61 s) is written when the benchmark starts and removed at exit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/cpu_time.h"
#include "platform/music/module/module_content.h"
#include "platform/music/module/module_source.h"
#include "tests/support/xm_writer.h"

namespace {

using namespace orvan::music;
using orvan::bench::children_cpu;
using orvan::bench::process_cpu;

constexpr int kRate = 48000;
constexpr int kPeriod = 1024;

orvan::testing::XmModule busy_module() {
  orvan::testing::XmModule module;
  module.channels = 8;
  module.orders.clear();
  module.patterns.clear();
  for (int p = 0; p < 8; ++p) {
    module.orders.push_back(static_cast<std::uint8_t>(p));
    orvan::testing::XmPattern pattern;
    pattern.rows = 64;
    pattern.cells.resize(64);
    for (int row = 0; row < 64; row += 2) {
      for (int channel = 0; channel < 8; ++channel) {
        const int note = 37 + (p * 5 + row + channel * 7) % 36;
        pattern.cells[static_cast<std::size_t>(row)].push_back(
            {static_cast<std::uint8_t>(note), 1, 0, 0});
      }
    }
    module.patterns.push_back(std::move(pattern));
  }
  return module;
}

struct File {
  std::string path;
  File() {
    path = (std::filesystem::temp_directory_path() / "orvan-module-bench.xm").string();
    orvan::testing::save_xm(busy_module(), path);
  }
  ~File() { std::remove(path.c_str()); }
};

const File& file() {
  static File f;
  return f;
}

class Listener final : public PlayListener {
 public:
  void on_loop() noexcept override {}
  void on_end() noexcept override {}
  void on_starved(int /*frames*/) noexcept override {}
};

// The whole module through the play source, period by period: its decode thread and this one.
void BM_ModuleSource(benchmark::State& state) {
  const double tempo = static_cast<double>(state.range(0)) / 100.0;
  std::shared_ptr<const ModuleContent> content;
  if (orvan::com::failed(ModuleContent::load(file().path, content))) {
    state.SkipWithError("the module did not load");
    return;
  }
  std::vector<float> left(kPeriod), right(kPeriod);
  double cpu = 0.0, music_seconds = 0.0;
  for (auto _ : state) {
    PlayOptions options;
    options.output_rate = kRate;
    options.clockless = true;  // waits for the decode thread instead of rendering silence
    options.master_tempo = static_cast<float>(tempo);
    const double start = process_cpu();
    std::unique_ptr<ModuleSource> source;
    if (orvan::com::failed(ModuleSource::open(*content, options, source))) {
      state.SkipWithError("the module did not open");
      return;
    }
    source->begin();
    Listener listener;
    while (source->active()) {
      source->render(left.data(), right.data(), kPeriod, tempo, listener);
    }
    source.reset();
    cpu += process_cpu() - start;
    music_seconds += content->info().seconds;
  }
  state.counters["ms_cpu_per_s_of_music"] = 1000.0 * cpu / music_seconds;
}
BENCHMARK(BM_ModuleSource)->Arg(100)->Arg(125)->Unit(benchmark::kMillisecond)->Iterations(3);

// libopenmpt's own player rendering the same file to raw float stereo, thrown away.
void BM_Openmpt123Render(benchmark::State& state) {
  std::shared_ptr<const ModuleContent> content;
  if (orvan::com::failed(ModuleContent::load(file().path, content))) {
    state.SkipWithError("the module did not load");
    return;
  }
  const std::string command = "openmpt123 --batch --quiet --stdout --samplerate 48000 --float " +
                              file().path + " > /dev/null 2>&1";
  double cpu = 0.0, music_seconds = 0.0;
  for (auto _ : state) {
    const double start = children_cpu();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("openmpt123 failed");
      return;
    }
    cpu += children_cpu() - start;
    music_seconds += content->info().seconds;
  }
  state.counters["ms_cpu_per_s_of_music"] = 1000.0 * cpu / music_seconds;
}
BENCHMARK(BM_Openmpt123Render)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
