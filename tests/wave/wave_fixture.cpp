#include "tests/wave/wave_fixture.h"

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/music/dsp/output_stage.h"
#include "tests/support/run_command.h"

namespace orvan::music::testing {

namespace {

constexpr const char* kPiece = "/usr/share/games/openttd/baseset/openmsx/the_fast_route.mid";
constexpr double kClipSeconds = 3.0;

struct Scratch {
  std::string path;
  Scratch() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvan-wave-test-XXXXXX").string();
    path = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~Scratch() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};

}  // namespace

const std::string& scratch_dir() {
  static Scratch scratch;
  return scratch.path;
}

void must_run(const std::string& command) {
  const auto outcome = orvan::testing::run_command(command);
  ASSERT_EQ(outcome.status, 0) << command << "\n" << outcome.out;
}

Audio read_audio(const std::string& path) {
  Audio audio;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) {
    ADD_FAILURE() << "cannot read " << path;
    return audio;
  }
  audio.rate = info.samplerate;
  audio.channels = info.channels;
  audio.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
  const sf_count_t got = sf_readf_float(file, audio.samples.data(), info.frames);
  audio.samples.resize(static_cast<std::size_t>(got * info.channels));
  sf_close(file);
  return audio;
}

void write_wav(const std::string& path, const Audio& audio, bool as_float) {
  SF_INFO info{};
  info.samplerate = audio.rate;
  info.channels = audio.channels;
  info.format = SF_FORMAT_WAV | (as_float ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << path;
  sf_writef_float(file, audio.samples.data(), audio.frames());
  sf_close(file);
}

const std::string& music_wav(int rate) {
  static std::map<int, std::string> made;
  auto found = made.find(rate);
  if (found != made.end()) return found->second;
  const std::string path = scratch_dir() + "/music_" + std::to_string(rate) + ".wav";
  {
    Player player(nullptr, rate);
    Ref<DirectMusicSegment8> piece = load(kPiece);
    Audio audio;
    audio.rate = rate;
    audio.channels = 2;
    if (piece) audio.samples = play_and_render(player, piece, 0, std::llround(kClipSeconds * rate));
    write_wav(path, audio);
  }
  return made.emplace(rate, path).first->second;
}

std::vector<float> dc_blocked(const std::vector<float>& stereo, int rate, std::int64_t from) {
  dsp::DcBlocker blocker(rate);
  std::vector<float> out(stereo.begin() + 2 * from, stereo.end());
  for (std::size_t i = 0; i + 1 < out.size(); i += 2) blocker.process(out[i], out[i + 1]);
  return out;
}

Ref<DirectMusicSegment8> load(const std::string& path, HResult expected) {
  auto loader = com::make_ref<DirectMusicLoader8>();
  Ref<DirectMusicSegment8> segment;
  EXPECT_EQ(loader->LoadSegment(path, segment), expected) << path;
  return segment;
}

std::vector<float> play_and_render(Player& player, const Ref<DirectMusicSegment8>& segment,
                                   std::int32_t repeats, std::int64_t frames) {
  player.play(segment, repeats);
  return player.render(frames);
}

namespace {

// Correlation, and level of b over a, of `frames` frames at one lag.
Match compare_at(const std::vector<float>& a, std::int64_t from, const std::vector<float>& b,
                 std::int64_t frames, int lag) {
  const auto na = static_cast<std::int64_t>(a.size() / 2);
  const auto nb = static_cast<std::int64_t>(b.size() / 2);
  double ab = 0.0, aa = 0.0, bb = 0.0;
  for (std::int64_t i = 0; i < frames; ++i) {
    const std::int64_t ia = from + i, ib = i + lag;
    if (ia < 0 || ia >= na || ib < 0 || ib >= nb) continue;
    for (int c = 0; c < 2; ++c) {
      const double x = a[static_cast<std::size_t>(2 * ia + c)];
      const double y = b[static_cast<std::size_t>(2 * ib + c)];
      ab += x * y;
      aa += x * x;
      bb += y * y;
    }
  }
  Match m;
  m.lag = lag;
  m.correlation = aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
  m.level_db = aa > 0 && bb > 0 ? 10.0 * std::log10(bb / aa) : -999.0;
  return m;
}

}  // namespace

Match compare(const std::vector<float>& a, std::int64_t from, const std::vector<float>& b,
              std::int64_t frames, int max_lag) {
  // The lag is found on a stretch of music, the match then measured over all of it.
  constexpr std::int64_t kSearchFrames = 8192;
  const std::int64_t search_from = from + frames / 3;
  Match best;
  best.correlation = -2.0;
  for (int lag = -max_lag; lag <= max_lag; ++lag) {
    const Match m = compare_at(a, search_from, b, std::min(frames, kSearchFrames),
                               lag + static_cast<int>(frames / 3));
    if (m.correlation > best.correlation) best = m;
  }
  return compare_at(a, from, b, frames, best.lag - static_cast<int>(frames / 3));
}

}  // namespace orvan::music::testing
