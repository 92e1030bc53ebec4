// What a signal costs the thread that sends it (the render thread, for a performance), and
// how much a manual device adds around its source.
#include <benchmark/benchmark.h>

#include <atomic>

#include "platform/music/client/event_hub.h"
#include "platform/music/client/root.h"
#include "platform/music/output/manual_device.h"

using namespace orvan;
using namespace orvan::music;

namespace {

class CountingSink final : public EventSink {
 public:
  HResult DXCallback(std::int32_t) override {
    calls.fetch_add(1, std::memory_order_relaxed);
    return com::S_OK;
  }
  std::atomic<std::int64_t> calls{0};
};

class SilentSource final : public output::RenderSource {
 public:
  void render(float* out, int frames) noexcept override {
    for (int i = 0; i < frames * 2; ++i) out[i] = 0.0f;
  }
};

}  // namespace

// Signals a live event while the notification thread delivers them.
static void BM_SignalLiveEvent(benchmark::State& state) {
  std::shared_ptr<EventHub> hub = EventHub::create();
  CountingSink sink;
  std::int32_t handle = 0;
  hub->create_event(&sink, handle);
  for (auto _ : state) benchmark::DoNotOptimize(hub->signal(handle));
  hub->destroy_event(handle);
  state.counters["delivered"] = static_cast<double>(sink.calls.load());
}
BENCHMARK(BM_SignalLiveEvent);

static void BM_SignalUnknownHandle(benchmark::State& state) {
  std::shared_ptr<EventHub> hub = EventHub::create();
  for (auto _ : state) benchmark::DoNotOptimize(hub->signal(12345));
}
BENCHMARK(BM_SignalUnknownHandle);

// One second at 48 kHz through the manual device, capture off.
static void BM_ManualPumpOneSecond(benchmark::State& state) {
  output::ManualDevice device(48000);
  SilentSource source;
  device.start(&source);
  device.set_capture_enabled(false);
  for (auto _ : state) device.pump(48000);
  state.SetItemsProcessed(state.iterations() * 48000);
}
BENCHMARK(BM_ManualPumpOneSecond);

BENCHMARK_MAIN();
