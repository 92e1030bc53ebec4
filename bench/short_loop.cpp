// What one 64-frame synthesizer block costs the render thread when the playing segment is
// far shorter than the block: the worst a file or a master tempo can ask of it. A block
// lasts 1.33 ms at 48 kHz; the report gives each case's CPU time per block and as a share
// of the block ("share_of_block", 1.0 = all of it), and the passes that fell in each block.
// CPU time is the rendering thread's own cost: on a shared machine the wall-clock time also
// counts the waits for a free core.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench/cpu_time.h"
#include "platform/music/client/audio_path.h"
#include "platform/music/client/performance.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/settings.h"
#include "platform/music/client/sound_buffer.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/output/manual_device.h"
#include "platform/music/render/performance_core.h"

namespace {

using namespace orvan;
using namespace orvan::music;

constexpr int kRate = 48000;
constexpr int kBlock = 64;
constexpr int kBlocksPerIteration = 75;  // 100 ms of audio

// `ticks` long at `usec_per_quarter`, with a note on every quarter it holds.
Ref<DirectMusicSegment8> segment(std::int32_t ticks, std::uint32_t usec_per_quarter) {
  auto seq = std::make_shared<midi::Sequence>();
  midi::Event tempo;
  tempo.status = midi::kMetaStatus;
  tempo.data1 = midi::kMetaTempo;
  tempo.payload_size = 3;
  seq->payload = {static_cast<std::uint8_t>(usec_per_quarter >> 16),
                  static_cast<std::uint8_t>(usec_per_quarter >> 8),
                  static_cast<std::uint8_t>(usec_per_quarter)};
  seq->events.push_back(tempo);
  for (std::int32_t q = 0; q + midi::kTicksPerQuarter <= ticks; q += midi::kTicksPerQuarter) {
    midi::Event on;
    on.time = q;
    on.status = 0x90;
    on.data1 = 60;
    on.data2 = 100;
    seq->events.push_back(on);
    midi::Event off = on;
    off.time = q + midi::kTicksPerQuarter / 2;
    off.status = 0x80;
    off.data2 = 0;
    seq->events.push_back(off);
  }
  seq->length = ticks;
  seq->format = 0;
  seq->track_count = 1;
  return com::make_ref<DirectMusicSegment8>(std::move(seq));
}

// Arguments: segment length in ticks, microseconds per quarter, master tempo x 100.
void BM_ShortLoopBlock(benchmark::State& state) {
  set_platform_settings({OutputKind::Manual, {}, "/usr/share/sounds/sf2/TimGM6mb.sf2"});
  auto perf = com::make_ref<DirectMusicPerformance8>(nullptr);
  DMUS_AUDIOPARAMS params;
  params.validData = DMUS_AUDIOPARAMS_SAMPLERATE;
  params.sampleRate = kRate;
  if (com::failed(perf->InitAudio(0, DMUS_AUDIOF_ALL, params, nullptr,
                                  DMUS_APATH_SHARED_STEREOPLUSREVERB, 128))) {
    state.SkipWithError("no performance");
    return;
  }
  auto* device = output::last_manual_device();
  device->set_capture_enabled(false);
  const auto ticks = static_cast<std::int32_t>(state.range(0));
  const auto usec = static_cast<std::uint32_t>(state.range(1));
  const float tempo = static_cast<float>(state.range(2)) / 100.0f;
  perf->SetMasterTempo(tempo);
  auto music = segment(ticks, usec);
  music->SetRepeats(-1);
  Ref<DirectMusicSegmentState8> playing;
  perf->PlaySegmentEx(music, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, playing);
  device->pump(kBlock);

  const double begin = orvan::bench::thread_cpu();
  for (auto _ : state) device->pump(kBlock * kBlocksPerIteration);
  // The manual device renders on this thread, so its CPU time is the render thread's.
  const double cpu = orvan::bench::thread_cpu() - begin;
  const double blocks = static_cast<double>(state.iterations()) * kBlocksPerIteration;
  state.counters["cpu_us_per_block"] = cpu / blocks * 1e6;
  state.counters["share_of_block"] = cpu / (blocks * kBlock / kRate);
  state.counters["passes_per_block"] =
      static_cast<double>(ticks > 0 ? kBlock * 768e6 * tempo / (double(ticks) * usec * kRate) : 0);
  state.counters["busiest_block_passes"] =
      static_cast<double>(perf->core()->busiest_block().passes);
  perf->CloseDown();
}
// The shortest segment at the highest tempo; the case from the field (four quarters at
// 1 us, master tempo 1); and an ordinary four-second phrase for comparison.
BENCHMARK(BM_ShortLoopBlock)
    ->Args({1, 1, 10000})
    ->Args({4 * 768, 1, 100})
    ->Args({4 * 768, 100, 100})
    ->Args({8 * 768, 500000, 100})
    ->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
