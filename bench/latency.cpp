// Latency of the real-time path: from PlaySegmentEx returning to the first sounding frame
// handed to the device, and from SetMasterVolume returning to the first period handed over
// that ends at the new level (a change glides over one block from the start of a period). Goal: no
// more than one device period plus one 64-frame synthesizer block.
//
// On the SDL device (SDL_AUDIODRIVER=dummy unless set) the client thread watches the
// device's meter, which records each period as it is handed to SDL; on the manual device the
// test pumps periods itself, so its figures are in frames of rendering, not wall time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/music/client/audio_path.h"
#include "platform/music/client/performance.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/settings.h"
#include "platform/music/client/sound_buffer.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/output/manual_device.h"
#include "platform/music/output/output_device.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/synth/soundfont_locator.h"

namespace {

using namespace orvan::music;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 48000;
constexpr int kBlockFrames = 64;
constexpr float kSounding = 1e-4f;        // -80 dBFS
constexpr std::int32_t kQuieter = -2000;  // 20 dB down: a gain of 0.1

// One organ note held for ten seconds from music time 0: a steady level to watch.
Ref<DirectMusicSegment8> held_note() {
  auto seq = std::make_shared<midi::Sequence>();
  auto add = [&](std::int32_t time, std::uint8_t status, std::uint8_t d1, std::uint8_t d2) {
    midi::Event e;
    e.time = time;
    e.status = status;
    e.data1 = d1;
    e.data2 = d2;
    seq->events.push_back(e);
  };
  add(0, 0xC0, 16, 0);
  add(0, 0x90, 69, 110);
  add(15360, 0x80, 69, 0);
  seq->length = 15360;
  seq->format = 0;
  seq->track_count = 1;
  seq->division = 96;
  return orvan::com::make_ref<DirectMusicSegment8>(std::move(seq));
}

Ref<DirectMusicPerformance8> open_performance(OutputKind kind) {
  std::string soundfont;
  synth::locate_soundfont("", soundfont);
  set_platform_settings({kind, {}, soundfont});
  auto perf = orvan::com::make_ref<DirectMusicPerformance8>(nullptr);
  DMUS_AUDIOPARAMS params;
  params.validData = DMUS_AUDIOPARAMS_SAMPLERATE;
  params.sampleRate = kRate;
  if (orvan::com::failed(perf->InitAudio(0, DMUS_AUDIOF_ALL, params, nullptr,
                                         DMUS_APATH_SHARED_STEREOPLUSREVERB, 128)))
    return nullptr;
  return perf;
}

void play(const Ref<DirectMusicPerformance8>& perf, const Ref<DirectMusicSegment8>& segment) {
  Ref<DirectMusicSegmentState8> state;
  perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state);
}

// Waits until `done` says so about the device's meter; the time it took, in ms.
template <class Done>
double wait_for(const output::OutputDevice& device, Clock::time_point since, Done done) {
  const auto give_up = since + std::chrono::seconds(2);
  while (!done(device) && Clock::now() < give_up) std::this_thread::yield();
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// The wall-clock latencies of a benchmark's iterations, reported with the device's budget.
struct LatencyTally {
  double total = 0.0, worst = 0.0;

  void add(double ms) {
    total += ms;
    worst = std::max(worst, ms);
  }
  void report(benchmark::State& state, const output::OutputDevice& device) const {
    state.counters["latency_ms"] = total / static_cast<double>(state.iterations());
    state.counters["worst_ms"] = worst;
    state.counters["period_frames"] = device.period_frames();
    state.counters["budget_ms"] =
        1000.0 * (device.period_frames() + kBlockFrames) / device.sample_rate();
  }
};

void BM_SdlPlayToSound(benchmark::State& state) {
  auto perf = open_performance(OutputKind::RealTime);
  if (!perf) {
    state.SkipWithError("no SDL audio device");
    return;
  }
  const output::OutputDevice& device = *perf->core()->device();
  const auto segment = held_note();
  LatencyTally tally;
  for (auto _ : state) {
    perf->StopEx(nullptr, 0, 0);
    // Silence first, so the next sounding period is this play's.
    wait_for(device, Clock::now(), [](const auto& d) { return d.last_period_peak() == 0.0f; });
    play(perf, segment);
    const double ms = wait_for(device, Clock::now(),
                               [](const auto& d) { return d.last_period_peak() > kSounding; });
    tally.add(ms);
  }
  tally.report(state, device);
  perf->CloseDown();
}
BENCHMARK(BM_SdlPlayToSound)->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_SdlVolumeToNewLevel(benchmark::State& state) {
  auto perf = open_performance(OutputKind::RealTime);
  if (!perf) {
    state.SkipWithError("no SDL audio device");
    return;
  }
  const output::OutputDevice& device = *perf->core()->device();
  play(perf, held_note());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past the attack
  LatencyTally tally;
  for (auto _ : state) {
    perf->SetMasterVolume(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const float loud = device.last_period_peak();
    perf->SetMasterVolume(kQuieter);
    // The period that takes the change up starts at the old level and ends near a tenth of
    // it.
    const double ms = wait_for(device, Clock::now(), [loud](const auto& d) {
      return d.last_period_end_peak() < 0.15f * loud;
    });
    tally.add(ms);
  }
  tally.report(state, device);
  perf->CloseDown();
}
BENCHMARK(BM_SdlVolumeToNewLevel)->Iterations(20)->Unit(benchmark::kMillisecond);

// The manual device: frames rendered after the call until the first sounding frame, and
// until the first frame at the new level.
void BM_ManualPlayAndVolumeFrames(benchmark::State& state) {
  auto perf = open_performance(OutputKind::Manual);
  auto* device = output::last_manual_device();
  if (!perf || !device) {
    state.SkipWithError("no manual device");
    return;
  }
  const auto segment = held_note();
  long play_frames = -1, volume_frames = -1;
  for (auto _ : state) {
    perf->StopEx(nullptr, 0, 0);
    perf->SetMasterVolume(0);
    device->pump(kRate);  // the previous note dies away
    device->clear_capture();
    play(perf, segment);
    device->pump(kRate / 2);
    const auto& sound = device->capture();
    play_frames = -1;
    for (std::size_t i = 0; i < sound.size(); ++i) {
      if (std::fabs(sound[i]) > kSounding) {
        play_frames = static_cast<long>(i / 2);
        break;
      }
    }
    // The level before the change, then the first frame from which every later frame of a
    // cycle is at the new level (within the note's own ripple).
    float loud = 0.0f;
    for (std::size_t i = sound.size() - 2 * 480; i < sound.size(); ++i)
      loud = std::max(loud, std::fabs(sound[i]));
    device->clear_capture();
    perf->SetMasterVolume(kQuieter);
    device->pump(kRate / 10);
    const auto& after = device->capture();
    volume_frames = -1;
    for (std::size_t frame = 0; frame + 480 < after.size() / 2; ++frame) {
      float peak = 0.0f;
      for (std::size_t i = 2 * frame; i < 2 * (frame + 480); ++i)
        peak = std::max(peak, std::fabs(after[i]));
      if (peak < 0.12f * loud) {
        volume_frames = static_cast<long>(frame);
        break;
      }
    }
  }
  state.counters["play_frames"] = static_cast<double>(play_frames);
  state.counters["volume_frames"] = static_cast<double>(volume_frames);
  state.counters["period_frames"] = device->period_frames();
  state.counters["budget_frames"] = device->period_frames() + kBlockFrames;
  perf->CloseDown();
}
BENCHMARK(BM_ManualPlayAndVolumeFrames)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // Paced like a sound card without needing one.
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
