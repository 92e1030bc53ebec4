// The WAV file device writes what its source renders, at the right rate and shape; the
// real-time device runs on SDL's dummy driver and reports a missing driver distinctly.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/music/output/output_device.h"
#include "platform/music/output/sdl_device.h"
#include "platform/music/output/wav_device.h"
#include "platform/music/settings.h"
#include "test_sources.h"

using namespace orvan;
using namespace orvan::music;
using namespace orvan::music::output;
using orvan::music::output::testing::SineSource;
using namespace std::chrono_literals;

namespace {

std::filesystem::path temp_wav(const std::string& name) {
  return std::filesystem::temp_directory_path() /
         ("orvan_" + name + "_" + std::to_string(::getpid()) + ".wav");
}

template <class Condition>
bool wait_until(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Chooses an SDL driver for one test and puts the environment back afterwards.
class ScopedAudioDriver {
 public:
  explicit ScopedAudioDriver(const char* name) {
    if (const char* old = std::getenv("SDL_AUDIODRIVER")) saved_ = old;
    had_ = std::getenv("SDL_AUDIODRIVER") != nullptr;
    ::setenv("SDL_AUDIODRIVER", name, 1);
  }
  ~ScopedAudioDriver() {
    if (had_) {
      ::setenv("SDL_AUDIODRIVER", saved_.c_str(), 1);
    } else {
      ::unsetenv("SDL_AUDIODRIVER");
    }
  }

 private:
  std::string saved_;
  bool had_ = false;
};

}  // namespace

TEST(WavDevice, WritesEveryRenderedFrameAtTheDeviceRate) {
  const std::filesystem::path path = temp_wav("sine");
  PlatformSettings settings;
  settings.output = OutputKind::WavFile;
  settings.wav_path = path.string();
  set_platform_settings(settings);

  SineSource source(440.0, 44100);
  std::int64_t rendered = 0;
  {
    std::unique_ptr<OutputDevice> device;
    ASSERT_EQ(open_output_device(44100, device), com::S_OK);
    EXPECT_EQ(device->sample_rate(), 44100);
    ASSERT_EQ(device->start(&source), com::S_OK);
    EXPECT_EQ(device->start(&source), com::DSERR_INVALIDCALL);
    ASSERT_TRUE(wait_until([&] { return device->frames_rendered() >= 44100; }));
    device->stop();
    rendered = device->frames_rendered();
    EXPECT_NEAR(device->last_period_peak(), 0.5f, 0.01f);
    // Nothing renders once stop() has returned.
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(device->frames_rendered(), rendered);
  }
  set_platform_settings(PlatformSettings{});

  SF_INFO info{};
  SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(info.samplerate, 44100);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  ASSERT_EQ(info.frames, rendered);
  std::vector<float> pcm(static_cast<std::size_t>(info.frames) * 2);
  ASSERT_EQ(sf_readf_float(file, pcm.data(), info.frames), info.frames);
  sf_close(file);
  std::filesystem::remove(path);
  for (std::int64_t f = 0; f < rendered; f += 97) {
    ASSERT_FLOAT_EQ(pcm[static_cast<std::size_t>(2 * f)], source.expected(f)) << f;
    ASSERT_FLOAT_EQ(pcm[static_cast<std::size_t>(2 * f + 1)], -source.expected(f)) << f;
  }
}

TEST(WavDevice, AFileThatCannotBeWrittenIsADeviceFailure) {
  std::unique_ptr<OutputDevice> device;
  EXPECT_EQ(WavDevice::open("", 48000, device), com::MUSIC_E_DEVICE_FAILED);
  EXPECT_EQ(WavDevice::open("/nonexistent-dir/out.wav", 48000, device), com::MUSIC_E_DEVICE_FAILED);
  EXPECT_EQ(WavDevice::open(std::filesystem::temp_directory_path().string(), 48000, device),
            com::MUSIC_E_DEVICE_FAILED);
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(WavDevice::open("/dev/full", 48000, device), com::MUSIC_E_DEVICE_FAILED);
  }
  EXPECT_EQ(device, nullptr);
}

TEST(WavDevice, StopsPromptlyAndCanRunAgainIntoTheSameFile) {
  const std::filesystem::path path = temp_wav("restart");
  SineSource source(100.0, 22050);
  std::int64_t total = 0;
  {
    std::unique_ptr<OutputDevice> device;
    ASSERT_EQ(WavDevice::open(path.string(), 22050, device), com::S_OK);
    device->stop();  // harmless before start
    for (int run = 0; run < 3; ++run) {
      ASSERT_EQ(device->start(&source), com::S_OK);
      ASSERT_TRUE(wait_until([&] { return device->frames_rendered() > total; }));
      device->stop();
      total = device->frames_rendered();
    }
  }
  SF_INFO info{};
  SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(info.frames, total);
  EXPECT_EQ(info.samplerate, 22050);
  sf_close(file);
  std::filesystem::remove(path);
}

TEST(WavDevice, AFullFileEndsTheRenderAndTheThreadWaitsToBeStopped) {
  const std::filesystem::path path = temp_wav("full");
  SineSource source(440.0, 22050);
  std::unique_ptr<OutputDevice> device;
  ASSERT_EQ(WavDevice::open(path.string(), 22050, device, 1000), com::S_OK);
  auto& wav = static_cast<WavDevice&>(*device);
  ASSERT_EQ(device->start(&source), com::S_OK);
  ASSERT_TRUE(wait_until([&] { return wav.write_stopped(); }));
  const int calls = source.calls.load();
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(source.calls.load(), calls);  // idle, not spinning
  EXPECT_EQ(device->frames_rendered(), 1000);
  EXPECT_EQ(source.call_sizes, (std::vector<int>{128, 128, 128, 128, 128, 128, 128, 104}));
  device.reset();

  SF_INFO info{};
  SNDFILE* file = sf_open(path.string().c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(info.frames, 1000);
  sf_close(file);
  std::filesystem::remove(path);

  EXPECT_EQ(WavDevice::open(path.string(), 22050, device, WavDevice::kMaxFrames + 1),
            com::E_INVALIDARG);
}

TEST(SdlDevice, DummyDriverRendersUntilStopped) {
  ScopedAudioDriver driver("dummy");
  PlatformSettings settings;
  settings.output = OutputKind::RealTime;
  set_platform_settings(settings);
  std::unique_ptr<OutputDevice> device;
  ASSERT_EQ(open_output_device(48000, device), com::S_OK);
  EXPECT_EQ(device->sample_rate(), 48000);
  EXPECT_LE(device->period_frames() * 100, 48000 + 48000 / 10);  // about 10 ms or less

  SineSource source(440.0, 48000);
  ASSERT_EQ(device->start(&source), com::S_OK);
  ASSERT_TRUE(wait_until([&] { return source.calls.load() >= 3; }));
  device->stop();
  const int calls = source.calls.load();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(source.calls.load(), calls);
  EXPECT_GT(device->frames_rendered(), 0);
  for (int size : source.call_sizes) EXPECT_LE(size, device->period_frames());

  // A second start after a stop works; closing while running stops first.
  ASSERT_EQ(device->start(&source), com::S_OK);
  ASSERT_TRUE(wait_until([&] { return source.calls.load() > calls; }));
  device.reset();
}

TEST(SdlDevice, NoUsableDriverIsReportedAsNoDriver) {
  ScopedAudioDriver driver("no-such-driver");
  PlatformSettings settings;
  settings.output = OutputKind::RealTime;
  set_platform_settings(settings);
  std::unique_ptr<OutputDevice> device;
  EXPECT_EQ(open_output_device(48000, device), com::DSERR_NODRIVER);
  EXPECT_EQ(device, nullptr);
  // The failure leaves nothing behind: the dummy driver opens afterwards.
  ScopedAudioDriver dummy("dummy");
  EXPECT_EQ(open_output_device(48000, device), com::S_OK);
}
