// Reading throughput of the MIDI reader on real files (Debian's openttd-openmsx), from
// memory so that the disk is not measured.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/music/midi/sequence.h"

namespace {

const char* const kFolder = "/usr/share/games/openttd/baseset/openmsx";

std::vector<std::vector<std::uint8_t>> load_files() {
  std::vector<std::vector<std::uint8_t>> files;
  if (!std::filesystem::is_directory(kFolder)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(kFolder)) {
    if (entry.path().extension() != ".mid") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

void BM_ReadOpenMsxFiles(benchmark::State& state) {
  static const auto files = load_files();
  if (files.empty()) {
    state.SkipWithError("openttd-openmsx is not installed");
    return;
  }
  std::int64_t bytes = 0;
  std::int64_t events = 0;
  for (auto _ : state) {
    for (const auto& file : files) {
      orvan::music::midi::Sequence seq;
      if (orvan::com::failed(orvan::music::midi::read_sequence(file, seq))) {
        state.SkipWithError("a file failed to read");
        return;
      }
      benchmark::DoNotOptimize(seq.length);
      bytes += static_cast<std::int64_t>(file.size());
      events += static_cast<std::int64_t>(seq.events.size());
    }
  }
  state.SetBytesProcessed(bytes);
  state.counters["files"] = static_cast<double>(files.size());
  state.counters["events/s"] =
      benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadOpenMsxFiles)->Unit(benchmark::kMillisecond);

// One long file of dense running-status notes: the inner loop without per-file overhead.
void BM_ReadDenseTrack(benchmark::State& state) {
  std::vector<std::uint8_t> file = {'M',  'T', 'h', 'd', 0,   0, 0, 6, 0, 0,    0,    1,  0x01,
                                    0xE0, 'M', 'T', 'r', 'k', 0, 0, 0, 0, 0x00, 0x90, 60, 100};
  for (int i = 0; i < 200000; ++i) {
    file.insert(file.end(), {0x01, static_cast<std::uint8_t>(40 + i % 40), 100});
  }
  file.insert(file.end(), {0x00, 0xFF, 0x2F, 0x00});
  const std::size_t size = file.size() - 22;
  for (int i = 0; i < 4; ++i) file[18 + i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
  for (auto _ : state) {
    orvan::music::midi::Sequence seq;
    benchmark::DoNotOptimize(orvan::music::midi::read_sequence(file, seq));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_ReadDenseTrack)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
