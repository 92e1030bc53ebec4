#include "tests/engine/engine_fixture.h"
#include <unistd.h>
#include "tests/support/wav_file.h"

#include <fstream>

namespace orvan::engine::testing {
namespace {

void put_u32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void put_varlen(std::string& out, std::uint32_t v) {
  std::string groups;
  do {
    groups.insert(groups.begin(), static_cast<char>((v & 0x7F) | (groups.empty() ? 0 : 0x80)));
    v >>= 7;
  } while (v != 0);
  out += groups;
}

}  // namespace

void write_bytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void write_note_midi(const std::filesystem::path& path, int program, int key, int notes,
                     int ticks_each) {
  std::string track;
  track += std::string("\x00\xFF\x51\x03\x07\xA1\x20", 7);  // 500000 us per quarter
  track += std::string{'\x00', '\xC0', static_cast<char>(program)};
  for (int i = 0; i < notes; ++i) {
    track += std::string{'\x00', '\x90', static_cast<char>(key), '\x64'};
    put_varlen(track, static_cast<std::uint32_t>(ticks_each));
    track += std::string{'\x80', static_cast<char>(key), '\x40'};
  }
  track += std::string("\x00\xFF\x2F\x00", 4);

  std::string file = "MThd";
  put_u32(file, 6);
  file += std::string("\x00\x00\x00\x01\x01\xE0", 6);  // format 0, one track, 480 per quarter
  file += "MTrk";
  put_u32(file, static_cast<std::uint32_t>(track.size()));
  file += track;
  write_bytes(path, file);
}

double rms(const std::vector<float>& samples, std::size_t first, std::size_t count) {
  const std::size_t end =
      count == SIZE_MAX ? samples.size() : std::min(samples.size(), first + count);
  if (first >= end) return 0.0;
  double sum = 0.0;
  for (std::size_t i = first; i < end; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  return std::sqrt(sum / static_cast<double>(end - first));
}

void EngineTest::SetUp() {
  music::PlatformSettings settings;
  settings.output = music::OutputKind::Manual;
  settings.soundfont = orvan::testing::kSmallSoundFont;
  music::set_platform_settings(settings);
  scoped_ = std::make_unique<ui::ScopedMessagePresenter>(boxes_);

  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  dir_ = std::filesystem::temp_directory_path() /
         (std::string("orvan_engine_") + info->test_suite_name() + "_" + info->name() + "_" +
          std::to_string(::getpid()));
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
  organ_ = dir_ / "organ.mid";
  write_note_midi(organ_, 19, 60, 1, 8 * 480);
  piano_ = dir_ / "piano.mid";
  write_note_midi(piano_, 0, 60, 16, 480);
}

void EngineTest::TearDown() {
  scoped_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

com::Ref<Channel> EngineTest::make_initialised_channel(std::int32_t rate) {
  auto channel = com::make_ref<Channel>();
  const std::int32_t hwnd = 0;
  EXPECT_EQ(channel->InitOrvanAudio(hwnd, rate), com::S_OK);
  EXPECT_NE(music::output::last_manual_device(), nullptr);
  return channel;
}

music::output::ManualDevice& EngineTest::device() {
  auto* device = music::output::last_manual_device();
  if (!device) throw std::runtime_error("no manual device open");
  return *device;
}

double EngineTest::pump_seconds(double seconds) {
  device().clear_capture();
  const auto frames = static_cast<std::int64_t>(seconds * device().sample_rate());
  EXPECT_EQ(device().pump(frames), com::S_OK);
  return rms(device().capture());
}

}  // namespace orvan::engine::testing
