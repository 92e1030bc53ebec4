// Many channels created, played and destroyed in a row, with callbacks arriving: nothing
// may crash, race or grow.
#include <unistd.h>
#include <fstream>

#include "tests/engine/engine_fixture.h"

namespace orvan::engine::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Resident memory of this process in bytes.
std::int64_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::int64_t pages_total = 0, pages_resident = 0;
  statm >> pages_total >> pages_resident;
  return pages_resident * sysconf(_SC_PAGESIZE);
}

class CountingPresenter final : public ui::MessagePresenter {
 public:
  void present(const std::string&, const std::string&, ui::MessageIcon) override {
    shown.fetch_add(1);
  }
  std::atomic<int> shown{0};
};

TEST_F(EngineTest, ThousandChannelLifetimesStayCleanAndFlat) {
  auto counter = std::make_shared<CountingPresenter>();
  ui::ScopedMessagePresenter scoped(counter);
  constexpr int kCycles = 1000;
  constexpr int kWarmUp = 50;
  const std::int32_t hwnd = 0;
  const std::int32_t rate = 22050;
  const com::BStr music = bstr(organ_);
  std::int64_t after_warm_up = 0;
  const int devices_before = music::output::manual_device_count();

  for (int cycle = 0; cycle < kCycles; ++cycle) {
    auto channel = com::make_ref<Channel>();
    channel->InitOrvanAudio(hwnd, rate);
    ASSERT_TRUE(channel->Perf) << "cycle " << cycle;
    channel->Music_Load(music);
    channel->Music_Play();
    auto* device = music::output::last_manual_device();
    ASSERT_NE(device, nullptr);
    device->set_capture_enabled(false);
    ASSERT_EQ(device->pump(2048), com::S_OK);  // queues the start notification
    (void)channel->DX->SetEvent(channel->NotifyEvent);
    if (cycle % 2 == 0) channel->CleanupAudio();  // every other channel goes without
    channel.reset();
    if (cycle == kWarmUp) after_warm_up = resident_bytes();
  }
  EXPECT_EQ(music::output::manual_device_count(), devices_before) << "every performance shut down";
  // One farewell per object at least; spurious-signal boxes depend on timing.
  EXPECT_GE(counter->shown.load(), kCycles);
  if (!kSanitized) {
    const std::int64_t growth = resident_bytes() - after_warm_up;
    RecordProperty("resident_growth_bytes", std::to_string(growth));
    EXPECT_LT(growth, 16 * 1024 * 1024) << "resident memory grew by " << growth << " bytes";
  }
}

}  // namespace
}  // namespace orvan::engine::testing
