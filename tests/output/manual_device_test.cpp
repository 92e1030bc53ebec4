// The manual device renders exactly what a test pumps, in periods, and can be found through
// its registry when an engine object opened it out of sight.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "platform/music/client/settings.h"
#include "platform/music/output/manual_device.h"
#include "test_sources.h"

using namespace orvan;
using namespace orvan::music;
using namespace orvan::music::output;
using orvan::music::output::testing::SineSource;

TEST(ManualDevice, PumpRendersExactlyTheFramesAskedInPeriods) {
  ManualDevice device(48000, 256);
  SineSource source(1000.0, 48000);
  ASSERT_EQ(device.start(&source), com::S_OK);

  ASSERT_EQ(device.pump(1000), com::S_OK);
  EXPECT_EQ(source.call_sizes, (std::vector<int>{256, 256, 256, 232}));
  ASSERT_EQ(device.pump(0), com::S_OK);
  ASSERT_EQ(device.pump(256), com::S_OK);
  ASSERT_EQ(device.pump(1), com::S_OK);
  EXPECT_EQ(source.call_sizes.size(), 6u);
  EXPECT_EQ(device.frames_rendered(), 1257);

  // The capture holds every frame once, in order, continuous across pumps and periods.
  ASSERT_EQ(device.captured_frames(), 1257);
  const std::vector<float>& pcm = device.capture();
  for (std::int64_t f = 0; f < 1257; ++f) {
    ASSERT_FLOAT_EQ(pcm[static_cast<std::size_t>(2 * f)], source.expected(f)) << f;
    ASSERT_FLOAT_EQ(pcm[static_cast<std::size_t>(2 * f + 1)], -source.expected(f)) << f;
  }
  // The peak is that of the last period only: one frame at 1257 * 1000 / 48000 cycles.
  EXPECT_FLOAT_EQ(device.last_period_peak(), std::fabs(source.expected(1256)));
  EXPECT_FLOAT_EQ(device.last_period_end_peak(), std::fabs(source.expected(1256)));
  // The end peak covers the period's last 64 frames only; the whole-period peak, all of it.
  ASSERT_EQ(device.pump(256), com::S_OK);
  float whole = 0.0f, end = 0.0f;
  for (std::int64_t f = 1257; f < 1257 + 256; ++f) {
    whole = std::max(whole, std::fabs(source.expected(f)));
    if (f >= 1257 + 256 - 64) end = std::max(end, std::fabs(source.expected(f)));
  }
  EXPECT_FLOAT_EQ(device.last_period_peak(), whole);
  EXPECT_FLOAT_EQ(device.last_period_end_peak(), end);

  device.clear_capture();
  device.set_capture_enabled(false);
  ASSERT_EQ(device.pump(48000), com::S_OK);
  EXPECT_EQ(device.captured_frames(), 0);
  EXPECT_EQ(device.frames_rendered(), 1257 + 256 + 48000);
  EXPECT_NEAR(device.last_period_peak(), 0.5f, 0.01f);
}

TEST(ManualDevice, CallsInTheWrongStateAreRefused) {
  ManualDevice device(22050);
  SineSource source(440.0, 22050);
  EXPECT_EQ(device.pump(10), com::DSERR_INVALIDCALL);
  EXPECT_EQ(device.start(nullptr), com::E_POINTER);
  ASSERT_EQ(device.start(&source), com::S_OK);
  EXPECT_EQ(device.start(&source), com::DSERR_INVALIDCALL);
  EXPECT_EQ(device.pump(-1), com::E_INVALIDARG);
  device.stop();
  device.stop();
  EXPECT_EQ(device.pump(10), com::DSERR_INVALIDCALL);
  EXPECT_EQ(source.calls.load(), 0);
  EXPECT_EQ(device.frames_rendered(), 0);
  // Stopped devices start again.
  ASSERT_EQ(device.start(&source), com::S_OK);
  EXPECT_EQ(device.pump(10), com::S_OK);
  EXPECT_EQ(source.calls.load(), 1);
}

TEST(ManualDevice, PeriodIsAPowerOfTwoOfAtMost25Milliseconds) {
  for (int rate : {11025, 22050, 44100, 48000, 96000}) {
    ManualDevice device(rate);
    const int period = device.period_frames();
    EXPECT_EQ(period & (period - 1), 0) << rate;
    EXPECT_LE(period * 40, rate) << rate;
    EXPECT_GT(period * 2 * 40, rate) << rate;  // not needlessly short either
    EXPECT_EQ(device.sample_rate(), rate);
  }
}

TEST(ManualDevice, RegistryListsOpenDevicesInOpeningOrder) {
  const int before = manual_device_count();

  std::unique_ptr<OutputDevice> first;
  std::unique_ptr<OutputDevice> second;
  ASSERT_EQ(open_output_device(OutputKind::Manual, {}, 44100, first), com::S_OK);
  ASSERT_EQ(open_output_device(OutputKind::Manual, {}, 48000, second), com::S_OK);
  EXPECT_EQ(manual_device_count(), before + 2);
  EXPECT_EQ(manual_device(before), first.get());
  EXPECT_EQ(manual_device(before + 1), second.get());
  EXPECT_EQ(last_manual_device(), second.get());
  EXPECT_EQ(last_manual_device()->sample_rate(), 48000);
  EXPECT_EQ(manual_device(-1), nullptr);
  EXPECT_EQ(manual_device(before + 2), nullptr);

  second.reset();
  EXPECT_EQ(last_manual_device(), first.get());
  first.reset();
  EXPECT_EQ(manual_device_count(), before);
}

TEST(OutputDevice, SampleRateOutsideTheSupportedRangeIsRefused) {
  const auto open_output_device = [](int rate, std::unique_ptr<OutputDevice>& device) {
    return output::open_output_device(OutputKind::Manual, {}, rate, device);
  };
  std::unique_ptr<OutputDevice> device;
  EXPECT_EQ(open_output_device(11024, device), com::E_INVALIDARG);
  EXPECT_EQ(open_output_device(96001, device), com::E_INVALIDARG);
  EXPECT_EQ(open_output_device(0, device), com::E_INVALIDARG);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(open_output_device(11025, device), com::S_OK);
  EXPECT_EQ(open_output_device(96000, device), com::S_OK);
}

TEST(PlatformSettings, DefaultIsRealTimeAndAChoiceIsKeptWhole) {
  set_platform_settings(PlatformSettings{});
  EXPECT_EQ(platform_settings().output, OutputKind::RealTime);
  PlatformSettings chosen;
  chosen.output = OutputKind::WavFile;
  chosen.wav_path = "/tmp/out.wav";
  chosen.soundfont = "/tmp/x.sf2";
  set_platform_settings(chosen);
  const PlatformSettings read = platform_settings();
  EXPECT_EQ(read.output, OutputKind::WavFile);
  EXPECT_EQ(read.wav_path, "/tmp/out.wav");
  EXPECT_EQ(read.soundfont, "/tmp/x.sf2");
  set_platform_settings(PlatformSettings{});
}
