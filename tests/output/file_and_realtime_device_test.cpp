// The WAV file device writes what its source renders, at the right rate and shape; the
// real-time device runs on SDL's dummy driver and reports a missing driver distinctly.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/music/output/output_device.h"
#include "platform/music/output/sdl_device.h"
#include "platform/music/output/wav_device.h"
#include "test_sources.h"
#include "tests/support/wav_file.h"

using namespace orvan;
using namespace orvan::music;
using namespace orvan::music::output;
using orvan::music::output::testing::ConstantSource;
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
  SineSource source(440.0, 44100);
  std::int64_t rendered = 0;
  {
    std::unique_ptr<OutputDevice> device;
    ASSERT_EQ(open_output_device(OutputKind::WavFile, path.string(), 44100, device), com::S_OK);
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
  const orvan::testing::StereoWav written = orvan::testing::read_stereo_wav(path);
  EXPECT_EQ(static_cast<std::int64_t>(written.frames()), total);
  EXPECT_EQ(written.rate, 22050);
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
  EXPECT_EQ(source.call_sizes, (std::vector<int>{512, 488}));
  device.reset();

  EXPECT_EQ(orvan::testing::read_stereo_wav(path).frames(), 1000u);
  std::filesystem::remove(path);

  EXPECT_EQ(WavDevice::open(path.string(), 22050, device, WavDevice::kMaxFrames + 1),
            com::E_INVALIDARG);
}

TEST(SdlDevice, DummyDriverRendersUntilStopped) {
  ScopedAudioDriver driver("dummy");
  std::unique_ptr<OutputDevice> device;
  ASSERT_EQ(open_output_device(OutputKind::RealTime, {}, 48000, device), com::S_OK);
  EXPECT_EQ(device->sample_rate(), 48000);
  EXPECT_LE(device->period_frames() * 40, 48000);  // 25 ms or less

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

TEST(SdlDevice, DevicesShareSdlAndOutliveEachOther) {
  // Two channels in one process, opened and closed from different threads, on a driver
  // that opens one device only: both must sound, and closing one must not silence the
  // other.
  ScopedAudioDriver driver("dummy");
  std::unique_ptr<OutputDevice> first;
  std::unique_ptr<OutputDevice> second;
  std::thread opener([&] { EXPECT_EQ(SdlDevice::open(44100, first), com::S_OK); });
  ASSERT_EQ(SdlDevice::open(48000, second), com::S_OK);
  opener.join();
  ASSERT_NE(first, nullptr);
  // They play through one SDL device, at the rate of whichever opened it.
  EXPECT_EQ(first->sample_rate(), second->sample_rate());
  EXPECT_TRUE(first->sample_rate() == 44100 || first->sample_rate() == 48000);

  SineSource a(440.0, first->sample_rate());
  SineSource b(220.0, second->sample_rate());
  ASSERT_EQ(first->start(&a), com::S_OK);
  ASSERT_EQ(second->start(&b), com::S_OK);
  ASSERT_TRUE(wait_until([&] { return a.calls.load() > 0 && b.calls.load() > 0; }));
  std::thread closer([&] { first.reset(); });
  closer.join();
  const int before = b.calls.load();
  EXPECT_TRUE(wait_until([&] { return b.calls.load() > before + 2; }));
  second.reset();
}

TEST(SdlDevice, StartedDevicesAreMixedIntoTheOutput) {
  // SDL's disk driver writes what the device plays to a file, so the mix can be read back.
  const std::filesystem::path raw = temp_wav("mix").replace_extension(".raw");
  ::setenv("SDL_DISKAUDIOFILE", raw.string().c_str(), 1);
  ::setenv("SDL_DISKAUDIODELAY", "1", 1);
  {
    ScopedAudioDriver driver("disk");
    std::unique_ptr<OutputDevice> first;
    std::unique_ptr<OutputDevice> second;
    ASSERT_EQ(SdlDevice::open(48000, first), com::S_OK);
    ASSERT_EQ(SdlDevice::open(48000, second), com::S_OK);
    ConstantSource a(0.25f);
    ConstantSource b(0.125f);
    ASSERT_EQ(first->start(&a), com::S_OK);
    ASSERT_EQ(second->start(&b), com::S_OK);
    ASSERT_TRUE(wait_until([&] { return a.calls.load() > 4 && b.calls.load() > 4; }));
    first->stop();
    const int b_calls = b.calls.load();
    ASSERT_TRUE(wait_until([&] { return b.calls.load() > b_calls + 4; }));
  }
  ::unsetenv("SDL_DISKAUDIOFILE");
  ::unsetenv("SDL_DISKAUDIODELAY");

  std::vector<float> pcm(std::filesystem::file_size(raw) / sizeof(float));
  std::FILE* file = std::fopen(raw.string().c_str(), "rb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fread(pcm.data(), sizeof(float), pcm.size(), file), pcm.size());
  std::fclose(file);
  std::filesystem::remove(raw);

  int both = 0;
  int second_alone = 0;
  for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
    const float left = pcm[i];
    ASSERT_EQ(pcm[i + 1], -left) << i;
    if (left == 0.375f) ++both;
    if (left == 0.125f) ++second_alone;
    ASSERT_TRUE(left == 0.0f || left == 0.25f || left == 0.125f || left == 0.375f) << left;
  }
  EXPECT_GT(both, 0);
  EXPECT_GT(second_alone, 0);
}

TEST(SdlDevice, OpenDevicesAreLimitedAndAClosedOneFreesItsPlace) {
  ScopedAudioDriver driver("dummy");
  std::vector<std::unique_ptr<OutputDevice>> devices(SdlDevice::kMaxOpen);
  for (auto& device : devices) ASSERT_EQ(SdlDevice::open(48000, device), com::S_OK);
  std::unique_ptr<OutputDevice> extra;
  EXPECT_EQ(SdlDevice::open(48000, extra), com::MUSIC_E_DEVICE_FAILED);
  devices[3].reset();
  EXPECT_EQ(SdlDevice::open(48000, extra), com::S_OK);
}

namespace {

// Notes, for each period it renders, where the period starts on the shared output and when
// it rendered among every source of the test (a ticket drawn from one counter).
class OrderedSource final : public RenderSource {
 public:
  OrderedSource(int rank, std::atomic<int>& tickets) : rank_(rank), tickets_(tickets) {
    periods.reserve(256);
  }
  void render(float* out, int frames) noexcept override {
    std::fill_n(out, 2 * frames, 0.0f);
    if (periods.size() < periods.capacity()) {
      periods.push_back({device->output_frame(), tickets_.fetch_add(1)});
    }
    calls.fetch_add(1);
  }
  int render_rank() const noexcept override { return rank_; }

  struct Period {
    std::int64_t frame;
    int ticket;
  };
  OutputDevice* device = nullptr;
  std::vector<Period> periods;  // read only once rendering has stopped
  std::atomic<int> calls{0};

 private:
  int rank_;
  std::atomic<int>& tickets_;
};

}  // namespace

TEST(SdlDevice, SourcesShareOneOutputClockAndRenderLowerRanksFirstInEveryPeriod) {
  ScopedAudioDriver driver("dummy");
  std::unique_ptr<OutputDevice> first, second;
  ASSERT_EQ(SdlDevice::open(48000, first), com::S_OK);
  ASSERT_EQ(SdlDevice::open(48000, second), com::S_OK);
  ASSERT_NE(first->shared_output(), nullptr);
  EXPECT_EQ(first->shared_output(), second->shared_output());
  // The follower takes the first place, so that only its rank puts it second.
  std::atomic<int> tickets{0};
  OrderedSource follower(1, tickets), leader(0, tickets);
  follower.device = first.get();
  leader.device = second.get();
  ASSERT_EQ(first->start(&follower), com::S_OK);
  ASSERT_EQ(second->start(&leader), com::S_OK);
  ASSERT_TRUE(wait_until([&] { return leader.calls.load() >= 8; }));
  first->stop();
  second->stop();

  int shared_periods = 0;
  for (const auto& led : leader.periods) {
    for (const auto& followed : follower.periods) {
      if (followed.frame != led.frame) continue;
      ++shared_periods;
      EXPECT_LT(led.ticket, followed.ticket) << led.frame;
    }
  }
  EXPECT_GE(shared_periods, 7);
  // One period after another on the one clock.
  for (std::size_t i = 1; i < leader.periods.size(); ++i) {
    EXPECT_EQ(leader.periods[i].frame - leader.periods[i - 1].frame, first->period_frames());
  }
}

TEST(SdlDevice, NoUsableDriverIsReportedAsNoDriver) {
  ScopedAudioDriver driver("no-such-driver");
  std::unique_ptr<OutputDevice> device;
  EXPECT_EQ(open_output_device(OutputKind::RealTime, {}, 48000, device), com::DSERR_NODRIVER);
  EXPECT_EQ(device, nullptr);
  // The failure leaves nothing behind: the dummy driver opens afterwards.
  ScopedAudioDriver dummy("dummy");
  EXPECT_EQ(open_output_device(OutputKind::RealTime, {}, 48000, device), com::S_OK);
}
