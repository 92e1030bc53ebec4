// What a client pays for the engine's calls: bringing a channel up and down, loading the
// demo music, and the position query a player window makes every timer tick.
#include <benchmark/benchmark.h>

#include "engine/orvan_music.h"
#include "platform/music/client/settings.h"
#include "platform/music/output/manual_device.h"
#include "platform/ui/message_box.h"

namespace {

using namespace orvan;

class SilentPresenter final : public ui::MessagePresenter {
 public:
  void present(const std::string&, const std::string&, ui::MessageIcon) override {}
};

const com::BStr& theme() {
  static const com::BStr path = com::BStr::from_utf8(ORVAN_BINARY_DIR "/media/Theme.mid");
  return path;
}

void use_manual_output() {
  music::PlatformSettings settings;
  settings.output = music::OutputKind::Manual;
  settings.soundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  music::set_platform_settings(settings);
}

// create, InitOrvanAudio, CleanupAudio, release: the whole life of an idle channel.
void BM_ChannelLifetime(benchmark::State& state) {
  use_manual_output();
  ui::ScopedMessagePresenter quiet(std::make_shared<SilentPresenter>());
  const std::int32_t hwnd = 0;
  for (auto _ : state) {
    auto channel = com::make_ref<engine::OrvanMusic>();
    channel->InitOrvanAudio(hwnd);
    channel->CleanupAudio();
  }
}
BENCHMARK(BM_ChannelLifetime)->Unit(benchmark::kMillisecond);

void BM_LoadTheme(benchmark::State& state) {
  use_manual_output();
  ui::ScopedMessagePresenter quiet(std::make_shared<SilentPresenter>());
  auto channel = com::make_ref<engine::OrvanMusic>();
  const std::int32_t hwnd = 0;
  channel->InitOrvanAudio(hwnd);
  for (auto _ : state) channel->Music_Load(theme());
  channel->CleanupAudio();
}
BENCHMARK(BM_LoadTheme)->Unit(benchmark::kMicrosecond);

// GetCurrentPosition and IsPlaying while the music plays, as a 10 ms player timer asks.
void BM_PositionQuery(benchmark::State& state) {
  use_manual_output();
  ui::ScopedMessagePresenter quiet(std::make_shared<SilentPresenter>());
  auto channel = com::make_ref<engine::OrvanMusic>();
  const std::int32_t hwnd = 0;
  channel->InitOrvanAudio(hwnd);
  channel->Music_Load(theme());
  channel->Music_Play();
  music::output::last_manual_device()->pump(4800);
  std::int32_t position = 0;
  com::VariantBool playing = 0;
  for (auto _ : state) {
    channel->GetCurrentPosition(position);
    channel->IsPlaying(playing);
    benchmark::DoNotOptimize(position);
    benchmark::DoNotOptimize(playing);
  }
  channel->CleanupAudio();
}
BENCHMARK(BM_PositionQuery);

}  // namespace

BENCHMARK_MAIN();
