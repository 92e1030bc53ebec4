#include "tests/support/private_audio_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "tests/support/run_command.h"

extern char** environ;

namespace orvan::testing {
namespace {

// The null sink, made by PipeWire itself from its configuration, so that a server started
// again has it from the start, under the same name.
constexpr const char* kNullSinkConfig = R"(context.objects = [
  { factory = adapter
    args = {
      factory.name   = support.null-audio-sink
      node.name      = "orvan-test-sink"
      media.class    = Audio/Sink
      audio.position = [ FL FR ]
      audio.rate     = 48000
      monitor.channel-volumes = true
    }
  }
]
)";

bool on_path(const std::string& program) {
  return run_command("command -v " + program + " >/dev/null").status == 0;
}

void stop_process(pid_t& pid, int signal_number) {
  if (pid <= 0) return;
  kill(pid, signal_number);
  int status = 0;
  waitpid(pid, &status, 0);
  pid = -1;
}

bool wait_until(const std::chrono::milliseconds limit, auto ready) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ready();
}

}  // namespace

bool PrivateAudioServer::installed() {
  for (const char* program :
       {"pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon", "pactl", "parec"}) {
    if (!on_path(program)) return false;
  }
  return true;
}

PrivateAudioServer::PrivateAudioServer() {
  char pattern[] = "/tmp/orvan-audio-server-XXXXXX";
  if (!mkdtemp(pattern)) return;
  root_ = pattern;
  const auto run = root_ / "run";
  std::filesystem::create_directories(root_ / "config/pipewire/pipewire.conf.d");
  std::filesystem::create_directories(run);
  std::filesystem::create_directories(root_ / "state");
  std::filesystem::permissions(run, std::filesystem::perms::owner_all);
  std::ofstream(root_ / "config/pipewire/pipewire.conf.d/null-sink.conf") << kNullSinkConfig;
  env_ = {{"XDG_RUNTIME_DIR", run.string()},
          {"XDG_CONFIG_HOME", (root_ / "config").string()},
          {"XDG_STATE_HOME", (root_ / "state").string()},
          {"PULSE_RUNTIME_PATH", (run / "pulse").string()},
          {"PULSE_SERVER", "unix:" + (run / "pulse/native").string()},
          {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (root_ / "bus").string()}};
  // WirePlumber leaves the server at once without a session bus; a bus of our own keeps
  // the tests off the user's.
  bus_ = spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                "--address=unix:path=" + (root_ / "bus").string()});
  wait_until(std::chrono::seconds(5), [&] { return std::filesystem::exists(root_ / "bus"); });
}

PrivateAudioServer::~PrivateAudioServer() {
  for (auto it = server_.rbegin(); it != server_.rend(); ++it) stop_process(*it, SIGTERM);
  server_.clear();
  stop_process(bus_, SIGTERM);
  std::error_code ignored;
  if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
}

pid_t PrivateAudioServer::spawn(const std::vector<std::string>& argv, int stdout_fd) const {
  std::vector<std::string> env_strings;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    if (!env_.contains(text.substr(0, text.find('=')))) env_strings.push_back(text);
  }
  for (const auto& [name, value] : env_) env_strings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& s : args) argp.push_back(s.data());
  argp.push_back(nullptr);

  // The server's chatter goes to a log in the folder, where a failing test can be read up.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string log = (root_ / (argv[0] + ".log")).string();
  if (stdout_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

bool PrivateAudioServer::server_accepts() const {
  std::string command;
  for (const auto& [name, value] : env_) command += name + "='" + value + "' ";
  const CommandOutcome info = run_command(command + "pactl info");
  return info.status == 0 &&
         info.out.find(std::string("Default Sink: ") + kSinkName) != std::string::npos;
}

bool PrivateAudioServer::start() {
  if (root_.empty() || bus_ <= 0) return false;
  server_.push_back(spawn({"pipewire"}));
  wait_until(std::chrono::seconds(5),
             [&] { return std::filesystem::exists(root_ / "run/pipewire-0"); });
  server_.push_back(spawn({"wireplumber"}));
  server_.push_back(spawn({"pipewire-pulse"}));
  if (!wait_until(std::chrono::seconds(20), [&] { return server_accepts(); })) return false;
  accepting_since_ = Clock::now();
  return true;
}

void PrivateAudioServer::kill_server() {
  for (pid_t& pid : server_) stop_process(pid, SIGKILL);
  server_.clear();
  // A killed server leaves its sockets; the next one replaces them.
  std::error_code ignored;
  std::filesystem::remove(root_ / "run/pipewire-0", ignored);
  std::filesystem::remove(root_ / "run/pipewire-0.lock", ignored);
  std::filesystem::remove(root_ / "run/pulse/native", ignored);
}

void PrivateAudioServer::use_in_this_process() const {
  for (const auto& [name, value] : env_) setenv(name.c_str(), value.c_str(), 1);
  setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
}

std::string PrivateAudioServer::environment_words() const {
  std::string words = "SDL_AUDIODRIVER=pulseaudio";
  for (const auto& [name, value] : env_) words += " " + name + "='" + value + "'";
  return words;
}

MonitorRecording::MonitorRecording(const PrivateAudioServer& server) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  recorder_ = server.spawn(
      {"parec", "--raw", "--format=float32le",
       "--rate=" + std::to_string(PrivateAudioServer::kSampleRate), "--channels=2",
       "--latency-msec=5", std::string("--device=") + PrivateAudioServer::kSinkName + ".monitor"},
      fds[1]);
  close(fds[1]);
  pipe_fd_ = fds[0];
  reader_ = std::thread([this] { read_all(pipe_fd_); });
}

MonitorRecording::~MonitorRecording() {
  stop_process(recorder_, SIGTERM);
  if (reader_.joinable()) reader_.join();
  if (pipe_fd_ >= 0) close(pipe_fd_);
}

void MonitorRecording::read_all(int fd) {
  std::vector<char> buffer(1 << 16);
  std::string pending;  // bytes of a frame not whole yet
  constexpr std::size_t kFrameBytes = 2 * sizeof(float);
  for (;;) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    const auto now = Clock::now();
    pending.append(buffer.data(), static_cast<std::size_t>(n));
    const std::size_t whole = pending.size() / kFrameBytes * kFrameBytes;
    std::lock_guard lock(mutex_);
    const std::size_t at = samples_.size();
    samples_.resize(at + whole / sizeof(float));
    std::memcpy(samples_.data() + at, pending.data(), whole);
    pending.erase(0, whole);
    arrivals_.emplace_back(samples_.size() / 2, now);
  }
}

std::vector<float> MonitorRecording::samples() const {
  std::lock_guard lock(mutex_);
  return samples_;
}

std::size_t MonitorRecording::frames() const {
  std::lock_guard lock(mutex_);
  return samples_.size() / 2;
}

MonitorRecording::Clock::time_point MonitorRecording::arrival_of(std::size_t frame) const {
  std::lock_guard lock(mutex_);
  const auto it = std::upper_bound(arrivals_.begin(), arrivals_.end(), frame,
                                   [](std::size_t f, const auto& a) { return f < a.first; });
  return it == arrivals_.end() ? Clock::time_point::max() : it->second;
}

long MonitorRecording::wait_for_sound(float threshold, std::size_t from_frame,
                                      std::chrono::milliseconds limit) const {
  const auto end = Clock::now() + limit;
  std::size_t checked = from_frame;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      for (; checked < samples_.size() / 2; ++checked) {
        if (std::fabs(samples_[checked * 2]) > threshold ||
            std::fabs(samples_[checked * 2 + 1]) > threshold)
          return static_cast<long>(checked);
      }
    }
    if (Clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace orvan::testing
