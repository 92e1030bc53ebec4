#include "tools/tovel_play/engine_play.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ostream>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "engine/orvan_music.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/output/output_device.h"
#include "platform/music/performance_core.h"
#include "platform/music/settings.h"
#include "tools/tovel_play/effect_options.h"

namespace orvan::tovel_play {
namespace {

using com::failed;
using com::HResult;

// A render ends once the music is over and the output has died away below this level,
// or this long after the music's end, whichever comes first.
constexpr double kSilencePeak = 3.1623e-5;  // -90 dBFS
constexpr double kLongestTailSeconds = 30.0;

// Set by SIGINT/SIGTERM: the process-wide "please stop" the user gives with Ctrl-C.
volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void on_interrupt(int) {
  g_interrupted = 1;
}

// The player reaches the channel's output device through the state record, as the
// platform's own tool may: it needs the rendered frames and level to end a render.
class PlayerChannel : public engine::OrvanMusic {
 public:
  const music::output::OutputDevice* device() const {
    return Perf && Perf->core() ? Perf->core()->device() : nullptr;
  }
};

// Hides what the sound libraries print to stderr while the player only asks whether a
// device exists: on a machine without one, the answer should be our one line, not theirs.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    std::fflush(stderr);
    if (saved_ >= 0) {
      dup2(saved_, STDERR_FILENO);
      close(saved_);
    }
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

std::string status_text(HResult hr) {
  return com::describe_status(hr) + " (" + std::string(com::status_name(hr)) + ")";
}

// Picks the output before the engine initialises: the WAV device when asked, else the
// sound card, falling back to a WAV file when there is none and the caller allows it.
bool choose_output(const PlayRequest& request, std::string& wav_path, std::ostream& err) {
  music::PlatformSettings settings = music::platform_settings();
  wav_path = request.render_path;
  if (wav_path.empty()) {
    settings.output = music::OutputKind::RealTime;
    music::set_platform_settings(settings);
    HResult hr = com::S_OK;
    {
      QuietStderr quiet;
      std::unique_ptr<music::output::OutputDevice> probe;
      hr = music::output::open_output_device(request.rate, probe);
    }
    if (!failed(hr)) return true;
    if (request.fallback_render_path.empty()) {
      err << "tovel-play: no audio device: " << status_text(hr) << '\n';
      return false;
    }
    wav_path = request.fallback_render_path;
    err << "tovel-play: no audio device (" << status_text(hr) << "); rendering to " << wav_path
        << " instead\n";
  }
  settings.output = music::OutputKind::WavFile;
  settings.wav_path = wav_path;
  music::set_platform_settings(settings);
  return true;
}

class ProgressLine {
 public:
  ProgressLine(std::ostream& err, const std::string& file, bool enabled)
      : err_(err), enabled_(enabled) {
    // Seconds come from the file's own tempo map; without it the line shows music time only.
    has_tempo_ = !failed(music::midi::read_sequence_file(file, sequence_, nullptr));
  }
  void show(std::int32_t position, std::int32_t length, float tempo) {
    if (!enabled_) return;
    char line[160];
    if (has_tempo_) {
      const double scale = tempo > 0.0f ? 1.0 / static_cast<double>(tempo) : 1.0;
      std::snprintf(line, sizeof line, "\r  %8d / %d   %6.1f / %.1f s ", position, length,
                    sequence_.tempo.seconds_at(position) * scale,
                    sequence_.tempo.seconds_at(length) * scale);
    } else {
      std::snprintf(line, sizeof line, "\r  %8d / %d ", position, length);
    }
    err_ << line << std::flush;
    shown_ = true;
  }
  void finish() {
    if (shown_) err_ << '\n';
    shown_ = false;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  bool shown_ = false;
  bool has_tempo_ = false;
  music::midi::Sequence sequence_;
};

// Plays until the music is over and its tail has died away, or the user interrupts.
void wait_for_end(PlayerChannel& channel, std::int32_t length, bool rendering,
                  ProgressLine& progress) {
  const auto poll = rendering ? std::chrono::milliseconds(2) : std::chrono::milliseconds(50);
  float tempo = 1.0f;
  channel.GetMasterTempo(tempo);
  const music::output::OutputDevice* device = channel.device();
  const std::int64_t longest_tail =
      device ? static_cast<std::int64_t>(kLongestTailSeconds * device->sample_rate()) : 0;
  std::int64_t music_ended_at = -1;
  auto last_shown = std::chrono::steady_clock::time_point{};
  while (!g_interrupted) {
    com::VariantBool playing = com::VARIANT_FALSE;
    if (failed(channel.IsPlaying(playing))) break;
    std::int32_t position = 0;
    channel.GetCurrentPosition(position);
    const auto now = std::chrono::steady_clock::now();
    if (now - last_shown >= std::chrono::milliseconds(100) || !playing) {
      progress.show(position, length, tempo);
      last_shown = now;
    }
    if (!playing) {
      if (!device) break;
      const std::int64_t frames = device->frames_rendered();
      if (music_ended_at < 0) music_ended_at = frames;
      if (device->last_period_peak() < kSilencePeak || frames - music_ended_at >= longest_tail)
        break;
    }
    std::this_thread::sleep_for(poll);
  }
  progress.finish();
}

}  // namespace

int run_engine_play(const PlayRequest& request, std::ostream& out, std::ostream& err) {
  std::string wav_path;
  if (!choose_output(request, wav_path, err)) return 1;

  std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_interrupt);

  auto channel = com::make_ref<PlayerChannel>();
  const std::int32_t no_window = 0;
  channel->InitOrvanAudio(no_window, request.rate);
  float tempo = 0.0f;
  // The engine reports a failed start with its message box only; a performance that
  // answers is the sign it worked.
  if (failed(channel->GetMasterTempo(tempo))) {
    err << "tovel-play: the engine could not start audio output\n";
    return 1;
  }

  int status = 0;
  std::int32_t length = 0;
  channel->Music_Load(com::BStr::from_utf8(request.file));
  HResult hr = channel->GetLengh(length);
  if (failed(hr)) {
    err << "tovel-play: " << request.file << ": could not be loaded\n";
    status = 1;
  }
  const auto step = [&](HResult result, const char* what) {
    if (status == 0 && failed(result)) {
      err << "tovel-play: " << what << ": " << status_text(result) << '\n';
      status = 1;
    }
  };
  if (status == 0 && !request.dls_file.empty()) {
    const std::int32_t slot = 0;
    const HResult loaded = channel->LoadDLS(com::BStr::from_utf8(request.dls_file), slot);
    if (failed(loaded)) {
      err << "tovel-play: " << request.dls_file << ": " << status_text(loaded) << '\n';
      status = 1;
    }
    step(channel->ApplyDLS(slot), "--dls");
  }
  if (status == 0 && !apply_effect_options(*channel, request.effects, request.effect_settings, err))
    status = 1;
  if (status == 0 && request.tempo) step(channel->SetMasterTempo(*request.tempo), "--tempo");
  if (status == 0 && request.volume) step(channel->SetMasterVolume(*request.volume), "--volume");
  if (status == 0) step(channel->Music_Play(request.loops), "--loops");
  if (status == 0 && request.start) step(channel->SetPosition(*request.start), "--start");

  if (status == 0) {
    ProgressLine progress(err, request.file, request.progress);
    wait_for_end(*channel, length, !wav_path.empty(), progress);
    if (g_interrupted) err << "tovel-play: interrupted\n";
  }

  channel->Music_Stop();
  channel->CleanupAudio();  // closes the device, which finishes the WAV file
  channel.reset();
  if (status == 0 && !wav_path.empty()) out << "tovel-play: wrote " << wav_path << '\n';
  return status;
}

}  // namespace orvan::tovel_play
