#include "tools/tovel_play/engine_play.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ostream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "engine/orvan_music.h"
#include "orvan/status.h"
// What the interface has no member for: whether there is a sound card and why not
// (InitOrvanAudio says so only in a message box), and the silence and the longest tail
// a render waits for.
#include "platform/music/output/output_device.h"
#include "tools/tovel_play/effect_options.h"
#include "tools/tovel_play/event_log.h"

namespace orvan::tovel_play {
namespace {

using com::failed;
using com::HResult;

// Playing and rendering end once the music is over and the output has died away below
// output::kSilencePeak, or output::kLongestTailSeconds after the music's end.
// A log gets a progress line this often; a terminal sees it redrawn in place.
constexpr auto kLogLineInterval = std::chrono::seconds(5);
constexpr auto kTerminalRedrawInterval = std::chrono::milliseconds(100);

// Set by SIGINT/SIGTERM: the process-wide "please stop" the user gives with Ctrl-C.
volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void on_interrupt(int) {
  g_interrupted = 1;
}

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
  char fallback[ORVAN_STATUS_FALLBACK_SIZE];
  const char* name = orvan_status_name(hr);
  return std::string(orvan_status_describe(hr, fallback)) + " (" + (name ? name : "") + ")";
}

// Opens the channel on the render file when asked, else on the sound card, falling back to
// the render file when there is none and the caller allows it. `wav_path` is the file, or
// empty for the sound card.
bool open_output(engine::OrvanMusic& channel, const PlayRequest& request, std::string& wav_path,
                 std::ostream& err) {
  wav_path = request.render_path;
  if (wav_path.empty()) {
    // InitOrvanAudio reports a failed start only in a message box, so the device is asked
    // first: its status is the reason given. The sound libraries explain themselves on
    // stderr meanwhile; on a machine without a device the answer is our one line.
    HResult hr = com::S_OK;
    {
      QuietStderr quiet;
      std::unique_ptr<music::output::OutputDevice> probe;
      hr = music::output::open_output_device(music::output::OutputKind::RealTime, {}, request.rate,
                                             probe);
    }
    if (!failed(hr)) {
      channel.InitOrvanAudio(0, request.rate);
      // A performance that answers is the sign the start worked.
      float tempo = 0.0f;
      if (!failed(channel.GetMasterTempo(tempo))) return true;
      err << "tovel-play: the engine could not start audio output\n";
      return false;
    }
    if (request.fallback_render_path.empty()) {
      err << "tovel-play: no audio device: " << status_text(hr) << '\n';
      return false;
    }
    wav_path = request.fallback_render_path;
    err << "tovel-play: no audio device (" << status_text(hr) << "); rendering to " << wav_path
        << " instead\n";
  }
  const HResult hr = channel.InitOrvanRender(com::BStr::from_utf8(wav_path), request.rate);
  if (failed(hr)) {
    err << "tovel-play: " << wav_path << ": " << status_text(hr) << '\n';
    return false;
  }
  return true;
}

// What the output has done so far, as the channel's members answer it.
struct OutputState {
  double frames = 0.0;
  float peak = 0.0f;
  std::int32_t device_losses = 0;
  std::int32_t device_reopens = 0;
  std::int32_t late_periods = 0;
};

HResult read_output(engine::OrvanMusic& channel, OutputState& state) {
  HResult hr = channel.GetOutputFrames(state.frames);
  if (!failed(hr)) hr = channel.GetOutputPeak(state.peak);
  if (!failed(hr)) hr = channel.GetDeviceLosses(state.device_losses);
  if (!failed(hr)) hr = channel.GetDeviceReopens(state.device_reopens);
  if (!failed(hr)) hr = channel.GetLatePeriods(state.late_periods);
  return hr;
}

// The device's losses, reopens and late periods, or nothing while all are zero.
std::string output_counts_text(const OutputState& output) {
  if (output.device_losses == 0 && output.device_reopens == 0 && output.late_periods == 0)
    return {};
  return "device losses " + std::to_string(output.device_losses) + ", reopens " +
         std::to_string(output.device_reopens) + ", late periods " +
         std::to_string(output.late_periods);
}

// Position and length on stderr: redrawn in place on a terminal, and in a log (stderr not a
// terminal) one whole line every kLogLineInterval and one at the end.
class ProgressLine {
 public:
  // `length_seconds`: the piece's length in seconds, or negative when the channel has none
  // to give; the line then shows music time only.
  ProgressLine(std::ostream& err, double length_seconds, bool enabled, bool terminal)
      : err_(err), enabled_(enabled), terminal_(terminal), length_seconds_(length_seconds) {}
  // `last`: the final state, always shown.
  void show(std::int32_t position, std::int32_t length, double position_seconds,
            const OutputState& output, bool last) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    const auto interval = terminal_ ? std::chrono::steady_clock::duration(kTerminalRedrawInterval)
                                    : std::chrono::steady_clock::duration(kLogLineInterval);
    if (shown_ && !last && now - last_shown_ < interval) return;
    if (last && shown_ && position == last_position_) return;
    char line[160];
    if (length_seconds_ >= 0.0) {
      std::snprintf(line, sizeof line, "  %8d / %d   %6.1f / %.1f s ", position, length,
                    position_seconds, length_seconds_);
    } else {
      std::snprintf(line, sizeof line, "  %8d / %d ", position, length);
    }
    std::string text = line;
    if (const std::string counts = output_counts_text(output); !counts.empty())
      text += "  " + counts + " ";
    if (terminal_) {
      err_ << '\r' << text << std::flush;
      pending_newline_ = true;
    } else {
      err_ << text << '\n' << std::flush;
    }
    shown_ = true;
    last_shown_ = now;
    last_position_ = position;
  }
  void finish() {
    if (pending_newline_) err_ << '\n';
    pending_newline_ = false;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  bool terminal_;
  bool shown_ = false;
  bool pending_newline_ = false;
  std::int32_t last_position_ = -1;
  std::chrono::steady_clock::time_point last_shown_{};
  double length_seconds_;
};

// Says once per loss that the device went away, and once it is back (a progress line being
// redrawn is finished first).
void report_device_changes(const OutputState& output, std::int32_t& losses_told,
                           std::int32_t& reopens_told, ProgressLine& progress, std::ostream& err) {
  if (output.device_losses > losses_told) {
    losses_told = output.device_losses;
    progress.finish();
    err << "tovel-play: the audio device went away; the music plays on and is heard again "
           "once a device is back\n"
        << std::flush;
  }
  if (output.device_reopens > reopens_told) {
    reopens_told = output.device_reopens;
    progress.finish();
    err << "tovel-play: the audio device is back\n" << std::flush;
  }
}

// Says what a call refused, once: `status` turns 1 at the first failure and stays so.
void report_failure(HResult hr, const std::string& what, int& status, std::ostream& err) {
  if (status != 0 || !failed(hr)) return;
  err << "tovel-play: " << what << ": " << status_text(hr) << '\n';
  status = 1;
}

// The stingers not queued yet, earliest first, by the output's time.
class StingerQueue {
 public:
  explicit StingerQueue(std::vector<Stinger> stingers) : pending_(std::move(stingers)) {
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const Stinger& a, const Stinger& b) { return a.seconds < b.seconds; });
  }
  // Milliseconds of output before the next stinger is due, or -1 when none is left.
  std::int64_t next_ms() const {
    return next_ < pending_.size() ? std::llround(pending_[next_].seconds * 1000.0) : -1;
  }
  // Queues every stinger due by `output_ms` on `boundary`; false after a refused one.
  bool queue_due(engine::OrvanMusic& channel, std::int64_t output_ms, std::int32_t boundary,
                 int& status, std::ostream& err) {
    for (; next_ < pending_.size() && next_ms() <= output_ms; ++next_) {
      const Stinger& s = pending_[next_];
      report_failure(channel.PlayStinger(com::BStr::from_utf8(s.file), boundary),
                     "--stinger " + s.file + ": PlayStinger", status, err);
      if (status != 0) return false;
    }
    return true;
  }

 private:
  std::vector<Stinger> pending_;
  std::size_t next_ = 0;
};

// A render advances this much per RenderFor when nothing is due sooner: small enough that
// the render ends soon after its tail has died away.
constexpr std::int32_t kRenderStepMs = 10;

// Plays until the music is over and its tail has died away, or the user interrupts: on a
// render, by stepping the file with RenderFor; on the sound card, by watching it. Queues
// the stingers as the output reaches their times. Returns the output's last progress.
OutputState wait_for_end(engine::OrvanMusic& channel, const PlayRequest& request,
                         std::int32_t length, bool rendering, ProgressLine& progress, int& status,
                         std::ostream& err) {
  const auto poll = std::chrono::milliseconds(50);
  StingerQueue stingers(request.stingers);
  std::int64_t music_ended_at = -1;
  std::int32_t losses_told = 0;
  std::int32_t reopens_told = 0;
  std::int64_t rendered_ms = 0;
  OutputState output;
  while (!g_interrupted) {
    if (failed(read_output(channel, output))) break;
    const auto frames = static_cast<std::int64_t>(output.frames);
    const std::int64_t output_ms = rendering ? rendered_ms : frames * 1000 / request.rate;
    if (!stingers.queue_due(channel, output_ms, request.boundary, status, err)) break;
    com::VariantBool playing = com::VARIANT_FALSE;
    if (failed(channel.IsPlaying(playing))) break;
    std::int32_t position = 0;
    channel.GetCurrentPosition(position);
    double position_seconds = 0.0;
    channel.GetPositionSeconds(position_seconds);
    report_device_changes(output, losses_told, reopens_told, progress, err);
    progress.show(position, length, position_seconds, output, !playing);
    // Before the first block the music has not started yet, whatever IsPlaying says.
    if (!playing && frames > 0) {
      if (music_ended_at < 0) music_ended_at = frames;
      const auto longest_tail =
          static_cast<std::int64_t>(music::output::kLongestTailSeconds * request.rate);
      if (output.peak < music::output::kSilencePeak || frames - music_ended_at >= longest_tail)
        break;
    }
    if (rendering) {
      std::int64_t step = kRenderStepMs;
      if (const std::int64_t due = stingers.next_ms(); due >= 0)
        step = std::clamp<std::int64_t>(due - rendered_ms, 0, step);
      const HResult hr = channel.RenderFor(static_cast<std::int32_t>(step));
      // A full file (or disk) ends the render with what it holds.
      if (failed(hr)) {
        progress.finish();
        err << "tovel-play: the render stopped: " << status_text(hr) << '\n';
        break;
      }
      rendered_ms += step;
    } else {
      std::this_thread::sleep_for(poll);
    }
  }
  progress.finish();
  return output;
}

}  // namespace

int run_engine_play(const PlayRequest& request, std::ostream& out, std::ostream& err) {
  std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_interrupt);

  auto channel = com::make_ref<engine::OrvanMusic>();
  if (request.events) channel->SetEventHandler(event_printer(out, request.rate));
  int status = 0;
  const auto step = [&](HResult result, const std::string& what) {
    report_failure(result, what, status, err);
  };
  // The SoundFont is read before any audio starts, so that a bad one costs no device.
  if (!request.soundfont.empty())
    step(channel->SetSoundFont(com::BStr::from_utf8(request.soundfont)), "--soundfont");
  if (status != 0) return status;
  std::string wav_path;
  if (!open_output(*channel, request, wav_path, err)) return 1;

  std::int32_t length = 0;
  channel->Music_Load(com::BStr::from_utf8(request.file));
  if (failed(channel->GetLengh(length))) {
    err << "tovel-play: " << request.file << ": could not be loaded\n";
    status = 1;
  }
  if (status == 0 && !request.dls_file.empty()) {
    const std::int32_t slot = 0;
    step(channel->LoadDLS(com::BStr::from_utf8(request.dls_file), slot), request.dls_file);
    step(channel->ApplyDLS(slot), "--dls");
  }
  if (status == 0 && !apply_effect_options(*channel, request.effects, request.effect_settings, err))
    status = 1;
  if (status == 0 && request.tempo) step(channel->SetMasterTempo(*request.tempo), "--tempo");
  if (status == 0 && request.volume) step(channel->SetMasterVolume(*request.volume), "--volume");
  if (status == 0 && request.loop)
    step(channel->SetLoopRegion(request.loop->start, request.loop->end), "--loop: SetLoopRegion");
  // The first piece's, at the tempo set, before a piece queued with --then takes its place.
  double length_seconds = -1.0;
  channel->GetLengthSeconds(length_seconds);
  if (status == 0) step(channel->Music_Play(request.loops), "--loops");
  // Moved to before anything is heard: a render starts only in RenderFor, so it holds the
  // music from there and nothing of what comes before it.
  if (status == 0 && request.start) step(channel->SetPosition(*request.start), "--start");
  if (status == 0 && !request.then_file.empty())
    step(channel->Music_PlayNext(com::BStr::from_utf8(request.then_file), request.boundary,
                                 request.fade),
         "--then: Music_PlayNext");

  if (status == 0) {
    ProgressLine progress(err, length_seconds, request.progress, request.progress_terminal);
    const OutputState output =
        wait_for_end(*channel, request, length, !wav_path.empty(), progress, status, err);
    if (g_interrupted) err << "tovel-play: interrupted\n";
    if (wav_path.empty()) {
      err << "tovel-play: audio device losses " << output.device_losses << ", reopens "
          << output.device_reopens << ", late periods " << output.late_periods << '\n';
    }
  }

  channel->Music_Stop();
  channel->CleanupAudio();            // closes the device, which finishes the WAV file
  channel->SetEventHandler(nullptr);  // every event told before the last line
  channel.reset();
  if (status == 0 && !wav_path.empty()) out << "tovel-play: wrote " << wav_path << '\n';
  return status;
}

}  // namespace orvan::tovel_play
