// A desktop audio server of the tests' own: PipeWire, WirePlumber and PipeWire's PulseAudio
// server (with a private message bus for WirePlumber) in a runtime folder of their own, one
// null sink as the default device, and a recording of that sink's monitor. Nothing of the
// user's session, desktop or sound card is used or touched. The server can be killed and
// started again while a client plays.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvan::testing {

class PrivateAudioServer {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kSampleRate = 48000;  // the null sink's rate: nothing is resampled
  static constexpr const char* kSinkName = "orvan-test-sink";
  // The server's period at kSampleRate: PipeWire's default quantum of 1024 frames.
  static constexpr double kQuantumMs = 1024.0 * 1000.0 / kSampleRate;

  // Whether PipeWire, WirePlumber, pipewire-pulse, dbus-daemon, pactl and parec are there.
  static bool installed();

  // Makes the folder and the server's configuration; starts nothing yet.
  PrivateAudioServer();
  // Stops every process it started and removes the folder.
  ~PrivateAudioServer();
  PrivateAudioServer(const PrivateAudioServer&) = delete;
  PrivateAudioServer& operator=(const PrivateAudioServer&) = delete;

  // Starts the server and returns once it accepts streams with the null sink as default
  // (false after 20 s). The time that happened is accepting_since().
  bool start();
  // Kills the server's processes at once (SIGKILL: a crash, not a shutdown) and reaps them.
  void kill_server();
  Clock::time_point accepting_since() const { return accepting_since_; }

  // Points this process's audio clients (SDL's PulseAudio driver, libpulse) at the server.
  // Call before any thread of the test starts.
  void use_in_this_process() const;
  // The variables a client program needs, as NAME=value words for a shell command line.
  std::string environment_words() const;

 private:
  pid_t spawn(const std::vector<std::string>& argv, int stdout_fd = -1) const;
  bool server_accepts() const;

  std::filesystem::path root_;
  std::map<std::string, std::string> env_;
  pid_t bus_ = -1;
  std::vector<pid_t> server_;
  Clock::time_point accepting_since_{};
  friend class MonitorRecording;
};

// Records the private server's null sink as float stereo at kSampleRate through `parec`.
// A thread reads what arrives and notes when: frame i was at the monitor no later than
// arrival_of(i).
class MonitorRecording {
 public:
  using Clock = PrivateAudioServer::Clock;
  explicit MonitorRecording(const PrivateAudioServer& server);
  ~MonitorRecording();  // stops parec
  MonitorRecording(const MonitorRecording&) = delete;
  MonitorRecording& operator=(const MonitorRecording&) = delete;

  bool running() const { return recorder_ > 0; }
  // Interleaved stereo frames recorded so far.
  std::vector<float> samples() const;
  std::size_t frames() const;
  // When frame `frame` had arrived; Clock::time_point::max() when it has not yet.
  Clock::time_point arrival_of(std::size_t frame) const;
  // Waits (up to `limit`) for the first frame from `from_frame` on above `threshold`;
  // returns its index, or -1.
  long wait_for_sound(float threshold, std::size_t from_frame,
                      std::chrono::milliseconds limit) const;

 private:
  void read_all(int fd);

  pid_t recorder_ = -1;
  int pipe_fd_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::vector<float> samples_;
  std::vector<std::pair<std::size_t, Clock::time_point>> arrivals_;  // frames so far, when
};

}  // namespace orvan::testing
