// Feeds arbitrary bytes to the recorded-music loader and, when it accepts them, plays them
// through a decode stream: every step must return a status or end the play, never crash or
// hang, and what it delivers (audio, cue points) must be finite and placed inside the file.
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/music/wave/cue_points.h"
#include "platform/music/wave/wave_source.h"
#include "platform/music/wave/wave_stream.h"

namespace {

// Enough to reach past the decoded head into the decoder, resampler and stretcher.
constexpr std::int64_t kMostFrames = 200000;

void play_through(const std::shared_ptr<const orvan::music::wave::WaveSource>& source,
                  float tempo_value) {
  using namespace orvan::music::wave;
  std::atomic<float> tempo{tempo_value};
  WaveStream::Options options;
  options.output_rate = 48000;
  options.master_tempo = &tempo;
  options.repeats = 1;
  std::unique_ptr<WaveStream> stream;
  if (orvan::com::failed(WaveStream::open(source, options, stream))) return;
  std::vector<float> left(8192), right(8192);
  std::int64_t delivered = 0;
  const auto frames = static_cast<double>(source->info().frames);
  while (delivered < kMostFrames) {
    const Span* span = stream->peek_span();
    if (!span) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      continue;
    }
    const Span s = *span;
    stream->pop_span();
    if (s.marks & kEndMark) return;
    if (s.frames < 0 || s.frames > 8192) std::abort();
    if (!(s.source_start >= 0.0) || s.source_start > frames + 1.0) std::abort();
    std::fill_n(left.begin(), s.frames, 0.0f);
    std::fill_n(right.begin(), s.frames, 0.0f);
    stream->mix_frames(left.data(), right.data(), s.frames, 1.0f);
    // The decoder reads whatever a file holds (float samples, or a codec's output from
    // damaged data) as finite samples.
    for (int i = 0; i < s.frames; ++i) {
      if (!std::isfinite(left[static_cast<std::size_t>(i)]) ||
          !std::isfinite(right[static_cast<std::size_t>(i)])) {
        std::abort();
      }
    }
    delivered += s.frames;
  }
}

}  // namespace

// libsndfile gives up on some broken Ogg Vorbis headers without freeing the codec setup
// libvorbis allocated for them (one block per refused file, inside the library's own open).
// The leak is theirs: it is suppressed so that the fuzzer looks for faults of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libvorbis.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = memfd_create("wave", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) {
    ::close(fd);
    return 0;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  std::shared_ptr<const orvan::music::wave::WaveSource> source;
  const auto hr = orvan::music::wave::open_wave_source(path, source);
  ::close(fd);
  if (orvan::com::failed(hr)) return 0;
  const auto& info = source->info();
  if (info.frames <= 0 || info.length < 0 || info.channels < 1 ||
      info.channels > orvan::music::wave::kMaxChannels || source->head_frames() <= 0) {
    std::abort();
  }
  // Cue points, whatever their chunks claim: few, in order, inside the file, names bounded.
  if (info.cues.size() > orvan::music::wave::kMostCuePoints) std::abort();
  for (std::size_t i = 0; i < info.cues.size(); ++i) {
    const auto& cue = info.cues[i];
    if (cue.frame < 0 || cue.frame > info.frames ||
        cue.name.size() > orvan::music::wave::kLongestCueName ||
        (i > 0 && cue.frame < info.cues[i - 1].frame)) {
      std::abort();
    }
  }
  // The first byte picks the tempo: 1 (no stretcher) or a stretch.
  play_through(source, data[0] & 1 ? 1.0f : 1.25f);
  return 0;
}
