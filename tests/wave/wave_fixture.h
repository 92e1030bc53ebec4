// Shared set-up of the recorded-music tests: real music (an openmsx MIDI file rendered by the
// engine) written as WAV and encoded with the system's encoders at test time, played back on
// the manual device, and compared with what went in.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/music/client/loader.h"
#include "tests/performance/performance_fixture.h"

namespace orvan::music::testing {

// Interleaved stereo (or `channels`-channel) audio as read from a file.
struct Audio {
  int rate = 0;
  int channels = 0;
  std::vector<float> samples;
  std::int64_t frames() const {
    return channels ? static_cast<std::int64_t>(samples.size()) / channels : 0;
  }
};

// A scratch folder for this test program, emptied at exit.
const std::string& scratch_dir();
// Three seconds of an openmsx piece rendered at `rate`, stored as 16-bit stereo WAV; made
// once per rate and program run.
const std::string& music_wav(int rate);
// Runs a shell command that must succeed (an encoder); fails the test otherwise.
void must_run(const std::string& command);
Audio read_audio(const std::string& path);
// 16-bit PCM, or 32-bit float (which holds any value, infinities included) when `as_float`.
void write_wav(const std::string& path, const Audio& audio, bool as_float = false);
Ref<DirectMusicSegment8> load(const std::string& path, HResult expected = com::S_OK);

// Plays `segment` from the start point set on it with `repeats`, rendering `frames` frames.
std::vector<float> play_and_render(Player& player, const Ref<DirectMusicSegment8>& segment,
                                   std::int32_t repeats, std::int64_t frames);

// What the engine's output stage does to music at this level: its DC blocker (the limiter
// does not act below -0.3 dBFS). Interleaved stereo from frame `from`, the blocker fresh there.
std::vector<float> dc_blocked(const std::vector<float>& stereo, int rate, std::int64_t from = 0);

struct Match {
  double correlation = 0.0;  // normalised cross-correlation at the best lag
  int lag = 0;               // frames by which `b` is later than `a`
  double level_db = 0.0;     // RMS of b over RMS of a, over the compared frames
};
// Compares interleaved stereo `b` with `a` over `frames` frames from `a`'s frame `from`,
// trying lags -max_lag..max_lag.
Match compare(const std::vector<float>& a, std::int64_t from, const std::vector<float>& b,
              std::int64_t frames, int max_lag);

}  // namespace orvan::music::testing
