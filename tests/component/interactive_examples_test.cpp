// The C examples of interactive music, run with -o as a user runs them: what they render is
// measured: its length, the loop's seams, where the next piece starts and how the first
// fades.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "tests/component/component_fixture.h"
#include "tests/support/run_command.h"
#include "tests/support/sound_measure.h"
#include "tests/support/soundfont_writer.h"
#include "tests/support/tone_analysis.h"
#include "tests/support/wav_file.h"

namespace orvan::component_test {
namespace {

using Wav = testing::StereoWav;

constexpr int kRate = 48000;       // the examples' rate
constexpr long kPerSecond = 1536;  // music time of a second of a recording

// A mono WAV of steady tones `seconds` each, a whole number of periods apiece so that any
// seam between them is click-free, with a sampler loop [loop_start, loop_end) in frames
// when loop_end > 0.
void write_tones(const std::filesystem::path& path, const std::vector<int>& hz, int seconds,
                 sf_count_t loop_start = 0, sf_count_t loop_end = 0) {
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(out, nullptr) << sf_strerror(nullptr);
  if (loop_end > 0) {
    testing::set_sampler_loop(out, loop_start, loop_end);
  }
  for (int f : hz) {
    const std::vector<short> tone =
        test::sine_periods(static_cast<std::uint32_t>(seconds * kRate), f * seconds, 0.25);
    sf_writef_short(out, tone.data(), static_cast<sf_count_t>(tone.size()));
  }
  sf_close(out);
}

// Which of `hz` is loudest in the middle half of each second of the render's left channel.
std::vector<int> tone_each_second(const Wav& wav, const std::vector<int>& hz) {
  const std::vector<float> left = testing::channel_of(wav.samples, 0);
  std::vector<int> heard;
  for (std::size_t at = 0; at + kRate <= left.size(); at += kRate) {
    const auto middle = std::span<const float>(left).subspan(at + kRate / 4, kRate / 2);
    heard.push_back(*std::max_element(hz.begin(), hz.end(), [&](int a, int b) {
      return test::tone_level(middle, kRate, a) < test::tone_level(middle, kRate, b);
    }));
  }
  return heard;
}

// The largest difference between the render's frames from `a` and from `b` seconds on, for
// `seconds`, leaving out the first tenth, where the output's DC filter settles differently
// after different music. A repeat of the same source frames differs by 3e-5 after that; a
// frame lost or doubled at the seam shifts all that follows, by 0.02 for these tones.
double largest_difference(const Wav& wav, double a, double b, double seconds) {
  double worst = 0.0;
  const auto frame = [](double at) { return static_cast<std::size_t>(at * kRate); };
  for (std::size_t f = frame(0.1); f < frame(seconds); ++f) {
    for (std::size_t c = 0; c < 2; ++c) {
      worst = std::max(worst, static_cast<double>(std::abs(wav.samples[2 * (frame(a) + f) + c] -
                                                           wav.samples[2 * (frame(b) + f) + c])));
    }
  }
  return worst;
}

class InteractiveExamples : public ComponentTest {
 protected:
  // Runs an example with -o into `wav` under this test's registry and reads what it rendered.
  testing::CommandOutcome run(const char* example, const std::string& wav,
                              const std::string& arguments) {
    return testing::run_command("ORVAN_REGISTRY='" + registry_.string() + "' '" + example +
                                "' -o '" + (dir_ / wav).string() + "' " + arguments);
  }
  Wav rendered(const std::string& wav) { return testing::read_stereo_wav(dir_ / wav); }
};

// Seconds of 300, 450, 600 and 750 Hz, the file's sampler loop on the middle two. With two
// repeats from the file's loop: 300, then 450 600 three times, then 750; with the region set
// by hand to the third second and one repeat: 300 450 600 600 750. Each pass repeats the
// last one's frames.
TEST_F(InteractiveExamples, IntroAndLoopPlaysTheIntroOnceAndTheRegionEachRepeat) {
  const std::vector<int> tones = {300, 450, 600, 750};
  const std::string file = (dir_ / "tones.wav").string();
  ASSERT_NO_FATAL_FAILURE(write_tones(file, tones, 1, kRate, 3 * kRate));

  const testing::CommandOutcome marked = run(ORVAN_INTRO_EXAMPLE_PATH, "marked.wav", file + " 2");
  ASSERT_EQ(marked.status, 0) << marked.out;
  EXPECT_NE(marked.out.find("loop 1536 .. 4608 of 6144, 2 repeats\n"), std::string::npos)
      << marked.out;
  const Wav looped = rendered("marked.wav");
  // The play ends at 8 s; the example renders a quarter second at a time and sees it stopped
  // after the quarter that follows.
  EXPECT_EQ(looped.frames(), 33u * kRate / 4);
  EXPECT_EQ(tone_each_second(looped, tones),
            (std::vector<int>{300, 450, 600, 450, 600, 450, 600, 750}));
  EXPECT_LT(largest_difference(looped, 1.0, 3.0, 2.0), 1e-3);
  EXPECT_LT(largest_difference(looped, 3.0, 5.0, 2.0), 1e-3);

  const testing::CommandOutcome by_hand =
      run(ORVAN_INTRO_EXAMPLE_PATH, "by_hand.wav",
          file + " 1 " + std::to_string(2 * kPerSecond) + " " + std::to_string(3 * kPerSecond));
  ASSERT_EQ(by_hand.status, 0) << by_hand.out;
  EXPECT_NE(by_hand.out.find("loop 3072 .. 4608 of 6144, 1 repeats\n"), std::string::npos)
      << by_hand.out;
  const Wav region = rendered("by_hand.wav");
  EXPECT_EQ(region.frames(), 21u * kRate / 4);
  EXPECT_EQ(tone_each_second(region, tones), (std::vector<int>{300, 450, 600, 600, 750}));
  EXPECT_LT(largest_difference(region, 2.0, 3.0, 1.0), 1e-3);

  // A region the piece cannot have is refused with its status, not played.
  const testing::CommandOutcome backwards =
      run(ORVAN_INTRO_EXAMPLE_PATH, "refused.wav", file + " 1 4608 3072");
  EXPECT_EQ(backwards.status, 1);
  EXPECT_NE(backwards.out.find("could not play " + file + ": The parameter is incorrect."),
            std::string::npos)
      << backwards.out;
}

// An 8 s tone of 440 Hz (four bars at the recording's default 120 beats a minute in 4), the
// next piece a second of 1000 Hz queued 2.25 s in: it starts on bar 3 at 4 s, where the
// first begins its half-second fade, and the render ends a quarter second after it at 5 s.
// The first piece rendered alone by the other example is what the onset is measured against.
TEST_F(InteractiveExamples, NextOnBarStartsTheNextPieceOnTheBarLineUnderTheFirstsFade) {
  const std::string first = (dir_ / "first.wav").string(), next = (dir_ / "next.wav").string();
  ASSERT_NO_FATAL_FAILURE(write_tones(first, {440}, 8));
  ASSERT_NO_FATAL_FAILURE(write_tones(next, {1000}, 1));
  const testing::CommandOutcome alone = run(ORVAN_INTRO_EXAMPLE_PATH, "alone.wav", first + " 0");
  ASSERT_EQ(alone.status, 0) << alone.out;
  const testing::CommandOutcome played =
      run(ORVAN_NEXT_EXAMPLE_PATH, "next_on_bar.wav", first + " " + next + " 2.25 500");
  ASSERT_EQ(played.status, 0) << played.out;
  EXPECT_NE(played.out.find("   2.00 s  bar 2 beat 1\n   2.25 s  " + next +
                            " queued for the next bar\n   4.25 s  " + next + " started\n"),
            std::string::npos)
      << played.out;

  const Wav reference = rendered("alone.wav"), with = rendered("next_on_bar.wav");
  ASSERT_EQ(reference.frames(), 33u * kRate / 4);
  ASSERT_EQ(with.frames(), 21u * kRate / 4);
  long onset = -1;
  for (std::size_t f = 0; f < with.frames() && onset < 0; ++f) {
    if (std::abs(with.samples[2 * f] - reference.samples[2 * f]) > 1e-4f)
      onset = static_cast<long>(f);
  }
  EXPECT_LT(std::abs(onset - 4 * kRate), 64) << onset;

  const std::vector<float> left = testing::channel_of(with.samples, 0);
  const auto level = [&](double at, double hz) {
    return test::tone_level(
        std::span<const float>(left).subspan(static_cast<std::size_t>(at * kRate), kRate / 20),
        kRate, hz);
  };
  const double before = level(3.9, 440.0);
  ASSERT_GT(before, 0.05);
  // Linear in gain over 500 ms: half way at 4.25 s, gone from 4.5 s.
  EXPECT_NEAR(level(4.225, 440.0) / before, 0.5, 0.05);
  EXPECT_LT(level(4.55, 440.0), before / 100);
  EXPECT_LT(level(3.9, 1000.0), before / 100);
  EXPECT_GT(level(4.55, 1000.0), before / 2);

  // A next piece that cannot be loaded is refused at the call, with its status.
  const testing::CommandOutcome missing =
      run(ORVAN_NEXT_EXAMPLE_PATH, "missing.wav", first + " " + next + ".absent 0.5");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("could not play " + next + ".absent: The file could not be opened."),
            std::string::npos)
      << missing.out;
}

// A 440 Hz backing and a 1000 Hz layer, rendered by the layer example into one file: called at
// 2 s, the layer joins on the backing's next beat (the recording's default 120 beats a
// minute), 2.5 s, against the backing rendered alone by the other example; the file holds
// both channels to its end, 2 + 4 s.
TEST_F(InteractiveExamples, LayerOnBeatJoinsTheBackingOnItsNextBeatInOneFile) {
  const std::string backing = (dir_ / "backing.wav").string(),
                    layer = (dir_ / "layer.wav").string();
  ASSERT_NO_FATAL_FAILURE(write_tones(backing, {440}, 8));
  ASSERT_NO_FATAL_FAILURE(write_tones(layer, {1000}, 8));
  const testing::CommandOutcome alone = run(ORVAN_INTRO_EXAMPLE_PATH, "alone.wav", backing + " 0");
  ASSERT_EQ(alone.status, 0) << alone.out;
  const std::string both = (dir_ / "both.wav").string();
  const testing::CommandOutcome played = testing::run_command(
      "ORVAN_REGISTRY='" + registry_.string() + "' '" + ORVAN_LAYER_EXAMPLE_PATH + "' '" + backing +
      "' '" + layer + "' '" + both + "' 4");
  ASSERT_EQ(played.status, 0) << played.out;

  const Wav reference = rendered("alone.wav"), with = rendered("both.wav");
  ASSERT_EQ(with.frames(), 6u * kRate);
  long onset = -1;
  for (std::size_t f = 0; f < with.frames() && onset < 0; ++f) {
    if (std::abs(with.samples[2 * f] - reference.samples[2 * f]) > 1e-4f)
      onset = static_cast<long>(f);
  }
  EXPECT_LT(std::abs(onset - 5 * kRate / 2), 64) << onset;
  const std::vector<float> left = testing::channel_of(with.samples, 0);
  const auto level = [&](double at, double hz) {
    return test::tone_level(
        std::span<const float>(left).subspan(static_cast<std::size_t>(at * kRate), kRate / 20),
        kRate, hz);
  };
  EXPECT_GT(level(5.9, 1000.0), 0.05);  // both still there at the end
  EXPECT_GT(level(5.9, 440.0), 0.05);
}

}  // namespace
}  // namespace orvan::component_test
