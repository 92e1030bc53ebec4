// Speed of each effect and of the four-effect chain on 48 kHz stereo, in 10 ms blocks
// as the render thread runs them. "realtime" is seconds of sound per second of CPU.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "platform/music/dsp/chorus.h"
#include "platform/music/dsp/distortion.h"
#include "platform/music/dsp/i3dl2_reverb.h"
#include "platform/music/dsp/waves_reverb.h"

namespace {

using namespace orvan::music::dsp;
using orvan::music::DSFXDISTORTION;
using orvan::music::DSFXI3DL2REVERB;

constexpr double kRate = 48000.0;
constexpr int kBlock = 480;

std::vector<float> music_like_block() {
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> dist(-0.3f, 0.3f);
  std::vector<float> block(2 * kBlock);
  for (float& v : block) v = dist(gen);
  return block;
}

void run(benchmark::State& state, std::vector<std::unique_ptr<Effect>>& chain) {
  const std::vector<float> source = music_like_block();
  std::vector<float> block = source;
  for (auto _ : state) {
    block = source;
    for (auto& effect : chain) effect->process(block.data(), kBlock);
    benchmark::DoNotOptimize(block.data());
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
  state.counters["realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kBlock / kRate, benchmark::Counter::kIsRate);
}

template <class E>
void BM_Effect(benchmark::State& state) {
  std::vector<std::unique_ptr<Effect>> chain;
  chain.push_back(std::make_unique<E>(kRate));
  run(state, chain);
}

void BM_FourEffectChain(benchmark::State& state) {
  std::vector<std::unique_ptr<Effect>> chain;
  chain.push_back(std::make_unique<Distortion>(kRate));
  chain.push_back(std::make_unique<Chorus>(kRate));
  chain.push_back(std::make_unique<WavesReverb>(kRate));
  chain.push_back(std::make_unique<I3dl2Reverb>(kRate));
  run(state, chain);
}

// A parameter change every block keeps the glides and coefficient updates busy.
void BM_ChainWithMovingParameters(benchmark::State& state) {
  auto distortion = std::make_unique<Distortion>(kRate);
  auto reverb = std::make_unique<I3dl2Reverb>(kRate);
  Distortion* d = distortion.get();
  I3dl2Reverb* r = reverb.get();
  std::vector<std::unique_ptr<Effect>> chain;
  chain.push_back(std::move(distortion));
  chain.push_back(std::make_unique<Chorus>(kRate));
  chain.push_back(std::make_unique<WavesReverb>(kRate));
  chain.push_back(std::move(reverb));
  const std::vector<float> source = music_like_block();
  std::vector<float> block;
  DSFXDISTORTION dp = d->params();
  DSFXI3DL2REVERB rp = r->params();
  int step = 0;
  for (auto _ : state) {
    dp.Edge = static_cast<float>(step % 100);
    rp.DecayTime = 0.5f + static_cast<float>(step % 40) * 0.1f;
    d->set_params(dp);
    r->set_params(rp);
    ++step;
    block = source;
    for (auto& effect : chain) effect->process(block.data(), kBlock);
    benchmark::DoNotOptimize(block.data());
  }
  state.counters["realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kBlock / kRate, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Effect<Distortion>);
BENCHMARK(BM_Effect<Chorus>);
BENCHMARK(BM_Effect<WavesReverb>);
BENCHMARK(BM_Effect<I3dl2Reverb>);
BENCHMARK(BM_FourEffectChain);
BENCHMARK(BM_ChainWithMovingParameters);

}  // namespace

BENCHMARK_MAIN();
