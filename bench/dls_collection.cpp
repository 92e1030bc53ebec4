// Cost of taking a DLS collection in: the structure check alone (bytes per second), and a
// whole LoadCollection (check plus the synthesizer library's trial read) for a small and a
// General-MIDI-sized collection of 128 instruments.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/music/client/collection.h"
#include "platform/music/client/loader.h"
#include "platform/music/synth/collection_check.h"
#include "tests/support/dls_writer.h"

namespace {

using namespace orvan;

// `instruments` programs, each with its own wave of one second at 22050 Hz.
test::DlsCollection many_instruments(int instruments) {
  test::DlsCollection collection;
  for (int i = 0; i < instruments; ++i) {
    test::DlsWave wave = test::make_sine_wave(441.0, 22050, 69);
    wave.samples.resize(22050, 0);
    collection.waves.push_back(std::move(wave));
    collection.instruments.push_back({.program = static_cast<std::uint32_t>(i % 128),
                                      .bank_msb = static_cast<std::uint8_t>(i / 128),
                                      .wave = static_cast<std::uint32_t>(i),
                                      .name = "Instrument " + std::to_string(i)});
  }
  return collection;
}

void BM_CheckCollection(benchmark::State& state) {
  const test::Bytes bytes = test::write_dls(many_instruments(static_cast<int>(state.range(0))));
  music::CollectionSummary summary;
  for (auto _ : state) {
    benchmark::DoNotOptimize(music::check_collection(bytes, summary));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_CheckCollection)->Arg(2)->Arg(128);

void BM_LoadCollection(benchmark::State& state) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("orvan-bench-" + std::to_string(::getpid()) + ".dls"))
                               .string();
  const test::Bytes bytes = test::write_dls(many_instruments(static_cast<int>(state.range(0))));
  if (!test::save_bytes(path, bytes)) {
    state.SkipWithError("cannot write the collection");
    return;
  }
  auto loader = com::make_ref<music::DirectMusicLoader8>();
  for (auto _ : state) {
    com::Ref<music::DirectMusicCollection8> collection;
    if (com::failed(loader->LoadCollection(path, collection))) {
      state.SkipWithError("LoadCollection failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
  std::filesystem::remove(path);
}
BENCHMARK(BM_LoadCollection)->Arg(2)->Arg(128)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
