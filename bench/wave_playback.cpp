// Recorded music: what decoding costs per second of audio for each codec (44.1 kHz files
// played at 48 kHz, at master tempo 1.0 and 1.25) beside a command-line decoder of the same
// file in the same run, the render thread's worst period while a FLAC file plays, and how
// much memory a 60-minute FLAC file takes to play beside a 1-minute one.
//
// The files are made when the benchmark starts (sox, then each codec's encoder) in a
// scratch folder, and removed at exit. CPU times are process CPU (every thread: the decode
// thread does the work) and, for the reference decoders, the children's CPU.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "bench/cpu_time.h"
#include "platform/music/client/audio_path.h"
#include "platform/music/client/loader.h"
#include "platform/music/client/performance.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/settings.h"
#include "platform/music/client/sound_buffer.h"
#include "platform/music/output/manual_device.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/wave/wave_stream.h"

namespace {

using namespace orvan;
using namespace orvan::music;
using orvan::bench::children_cpu;
using orvan::bench::process_cpu;
using orvan::bench::thread_cpu;

constexpr int kRate = 48000;
constexpr int kSourceSeconds = 20;

struct Scratch {
  std::string dir;
  Scratch() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvan-wave-bench-XXXXXX").string();
    dir = mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

const std::string& scratch() {
  static Scratch s;
  return s.dir;
}

bool run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// Music-like content: chords of slowly sweeping tones over quiet noise, 44.1 kHz stereo.
std::string source_file(int seconds, const std::string& name) {
  const std::string wav = scratch() + "/" + name + ".wav";
  if (!std::filesystem::exists(wav)) {
    run("sox -n -r 44100 -c 2 -b 16 " + wav + " synth " + std::to_string(seconds) +
        " sine 220-440 sine 330-660 sine 440-880 pinknoise remix 1,3v0.3 2,3v0.3 vol 0.3 "
        "2>/dev/null");
  }
  return wav;
}

struct Codec {
  const char* name;
  const char* encode;     // {in} {out}
  const char* reference;  // {in}: decodes to nothing
};

const Codec kCodecs[] = {
    {"wav", "cp {in} {out}", "sox {in} -t null /dev/null rate -h 48000"},
    {"flac", "flac -s -f -o {out} {in}", "sox {in} -t null /dev/null rate -h 48000"},
    {"vorbis", "oggenc -Q -o {out} {in}", "sox {in} -t null /dev/null rate -h 48000"},
    // sox on Debian has no Opus reader: opus-tools' own decoder instead.
    {"opus", "opusenc --quiet {in} {out}", "opusdec --quiet --rate 48000 {in} /dev/null"},
    {"mp3", "lame --quiet -b 192 {in} {out}", "sox {in} -t null /dev/null rate -h 48000"},
};

std::string fill(std::string text, const std::string& in, const std::string& out = "") {
  text.replace(text.find("{in}"), 4, in);
  if (const auto at = text.find("{out}"); at != std::string::npos) text.replace(at, 5, out);
  return text;
}

std::string encoded(const Codec& codec) {
  const std::string out = scratch() + "/music." + codec.name;
  if (!std::filesystem::exists(out))
    run(fill(codec.encode, source_file(kSourceSeconds, "music"), out) + " 2>/dev/null");
  return out;
}

Ref<DirectMusicSegment8> load(const std::string& path) {
  auto loader = com::make_ref<DirectMusicLoader8>();
  Ref<DirectMusicSegment8> segment;
  loader->LoadSegment(path, segment);
  return segment;
}

// Decoding, conversion and stretching of a whole file on its decode thread, drained here.
void BM_DecodeStream(benchmark::State& state) {
  const Codec& codec = kCodecs[state.range(0)];
  const float tempo_value = static_cast<float>(state.range(1)) / 100.0f;
  state.SetLabel(std::string(codec.name) + " tempo " + std::to_string(tempo_value).substr(0, 4));
  auto segment = load(encoded(codec));
  if (!segment || !segment->wave()) {
    state.SkipWithError("no file");
    return;
  }
  std::atomic<float> tempo{tempo_value};
  double cpu = 0.0;
  std::vector<float> left(8192), right(8192);
  for (auto _ : state) {
    const double before = process_cpu();
    wave::WaveStream::Options options;
    options.output_rate = kRate;
    options.master_tempo = &tempo;
    std::unique_ptr<wave::WaveStream> stream;
    wave::WaveStream::open(segment->wave(), options, stream);
    for (;;) {
      const wave::Span* span = stream->peek_span();
      if (!span) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        continue;
      }
      const wave::Span s = *span;
      stream->pop_span();
      if (s.marks & wave::kEndMark) break;
      stream->mix_frames(left.data(), right.data(), s.frames, 1.0f);
    }
    stream.reset();
    cpu += process_cpu() - before;
  }
  const double audio = static_cast<double>(state.iterations()) * kSourceSeconds;
  state.counters["cpu_ms_per_audio_s"] = cpu * 1e3 / audio;
}

void BM_ReferenceDecoder(benchmark::State& state) {
  const Codec& codec = kCodecs[state.range(0)];
  const std::string command = fill(codec.reference, encoded(codec)) + " 2>/dev/null";
  state.SetLabel(std::string(codec.name) + ": " + command.substr(0, command.find(' ')));
  double cpu = 0.0;
  for (auto _ : state) {
    const double before = children_cpu();
    if (!run(command)) {
      state.SkipWithError("reference decoder failed");
      return;
    }
    cpu += children_cpu() - before;
  }
  const double audio = static_cast<double>(state.iterations()) * kSourceSeconds;
  state.counters["cpu_ms_per_audio_s"] = cpu * 1e3 / audio;
}

void codec_args(benchmark::internal::Benchmark* b) {
  for (int c = 0; c < 5; ++c) b->Args({c, 100});
  for (int c = 0; c < 5; ++c) b->Args({c, 125});
}

BENCHMARK(BM_DecodeStream)->Apply(codec_args)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReferenceDecoder)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->UseRealTime();

struct ManualPerformance {
  Ref<DirectMusicPerformance8> perf;
  output::ManualDevice* device = nullptr;
  ManualPerformance() {
    set_platform_settings({OutputKind::Manual, {}, "/usr/share/sounds/sf2/TimGM6mb.sf2"});
    perf = com::make_ref<DirectMusicPerformance8>(nullptr);
    DMUS_AUDIOPARAMS params;
    params.validData = DMUS_AUDIOPARAMS_SAMPLERATE;
    params.sampleRate = kRate;
    perf->InitAudio(0, DMUS_AUDIOF_ALL, params, nullptr, DMUS_APATH_SHARED_STEREOPLUSREVERB, 128);
    device = output::last_manual_device();
    device->set_capture_enabled(false);
  }
  ~ManualPerformance() { perf->CloseDown(); }
};

// The render thread's own CPU time for each 1024-frame period (21.3 ms) of a FLAC play, at
// tempo 1.0 and 1.25: the worst and the mean.
void BM_RenderPeriod(benchmark::State& state) {
  auto segment = load(encoded(kCodecs[1]));
  ManualPerformance p;
  p.perf->SetMasterTempo(static_cast<float>(state.range(0)) / 100.0f);
  double worst = 0.0, total = 0.0;
  std::int64_t periods = 0;
  for (auto _ : state) {
    segment->SetRepeats(-1);
    Ref<DirectMusicSegmentState8> playing;
    p.perf->PlaySegmentEx(segment, 0, 0, nullptr, nullptr, playing);
    // Real time: the decoder gets its period's worth of wall time, as with a sound card.
    for (int i = 0; i < 100; ++i) {
      const auto next = std::chrono::steady_clock::now() + std::chrono::microseconds(21333);
      const double before = thread_cpu();
      p.device->pump(1024);
      const double spent = thread_cpu() - before;
      worst = std::max(worst, spent);
      total += spent;
      ++periods;
      std::this_thread::sleep_until(next);
    }
  }
  state.counters["worst_period_ms"] = worst * 1e3;
  state.counters["mean_period_ms"] = total * 1e3 / static_cast<double>(periods);
  state.counters["silent_frames"] = static_cast<double>(p.perf->core()->wave_silent_frames());
}

BENCHMARK(BM_RenderPeriod)
    ->Arg(100)
    ->Arg(125)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

long rss_kib() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long value = 0;
      status >> value;
      return value;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

// A client's stream over its own archive, as the engine sees one that seeks: read in place,
// a piece at a time, under the stream's one position.
class ArchiveStream final : public wave::ByteStore {
 public:
  explicit ArchiveStream(const std::string& path)
      : in_(path, std::ios::binary),
        size_(static_cast<std::int64_t>(std::filesystem::file_size(path))) {}
  std::int64_t size() const noexcept override { return size_; }
  std::int64_t read_at(void* out, std::int64_t count, std::int64_t offset) const noexcept override {
    std::lock_guard lock(mutex_);
    in_.clear();
    in_.seekg(offset);
    in_.read(static_cast<char*>(out), count);
    return in_.gcount();
  }

 private:
  mutable std::ifstream in_;
  const std::int64_t size_;
  mutable std::mutex mutex_;
};

// The growth of the process's resident memory from before loading to after 10 s of play
// (from the start, then 10 s from near the end) of a 1-minute and a 60-minute FLAC file, read
// from its file (way 0) and from a stream read in place (way 1).
void BM_PlayMemory(benchmark::State& state) {
  const int minutes = static_cast<int>(state.range(0));
  const bool from_stream = state.range(1) != 0;
  const std::string flac = scratch() + "/long_" + std::to_string(minutes) + ".flac";
  if (!std::filesystem::exists(flac)) {
    run("sox -n -r 44100 -c 2 -b 16 -t wav - synth " + std::to_string(minutes * 60) +
        " sine 220-440 pinknoise remix 1,2v0.3 1,2v0.3 vol 0.3 2>/dev/null | flac -s -f -o " +
        flac + " - 2>/dev/null");
  }
  ManualPerformance p;
  long growth = 0;
  for (auto _ : state) {
    const long before = rss_kib();
    Ref<DirectMusicSegment8> segment;
    if (from_stream) {
      com::make_ref<DirectMusicLoader8>()->LoadRecording(std::make_shared<ArchiveStream>(flac),
                                                         segment);
    } else {
      segment = load(flac);
    }
    if (!segment) {
      state.SkipWithError("no file");
      return;
    }
    Ref<DirectMusicSegmentState8> playing;
    p.perf->PlaySegmentEx(segment, 0, 0, nullptr, nullptr, playing);
    p.device->pump(10 * kRate);
    std::int32_t length = 0;
    segment->GetLength(length);
    segment->SetStartPoint(length - 15 * 1536);
    p.perf->PlaySegmentEx(segment, 0, 0, nullptr, nullptr, playing);
    p.device->pump(10 * kRate);
    growth = rss_kib() - before;
    p.perf->StopEx(nullptr, 0, 0);
    p.device->pump(1024);
  }
  state.counters["rss_growth_MiB"] = static_cast<double>(growth) / 1024.0;
  state.counters["file_MiB"] =
      static_cast<double>(std::filesystem::file_size(flac)) / (1024.0 * 1024.0);
}

BENCHMARK(BM_PlayMemory)
    ->ArgsProduct({{1, 60}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
