// Call-sequence fuzzing of the engine: the input bytes become a sequence of calls on up to
// three OrvanMusic objects, with hostile arguments (NaN, infinities, the ends of the integer
// range, negative indexes, and file names that are missing, empty, garbage, a directory, a
// pipe without a writer, a device or hold a NUL) and several sample rates, rendering on the
// manual device between calls. After every step it checks that
//   - every rendered sample is finite,
//   - a position the engine answers lies within 0 .. the segment's length,
//   - a call that failed left the channel's state as it was,
//   - the step finished within a time bound (a watchdog aborts a step that hangs),
//   - a second pause answers S_FALSE, a resume with nothing paused never S_OK, and a fade
//     over no time or the longest time there is leaves GetMasterVolume answering its target.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/component/interface/orvan_music_description.h"
#include "engine/orvan_music.h"
#include "fuzz/engine_start_up.h"
#include "platform/music/output/manual_device.h"
#include "platform/music/render/performance_core.h"

namespace {

namespace fs = std::filesystem;
using namespace orvan;
using com::HResult;

// The effects' fault at low sample rates is known and being mended elsewhere: distortion is
// not switched on below this rate until then, so that the target reports new findings.
constexpr int kDistortionMinRate = 16000;
// A single call, or one render between calls, that takes longer than this is a finding.
constexpr auto kStepLimit = std::chrono::seconds(20);
constexpr int kObjects = 3;
constexpr int kMaxSteps = 48;

class Channel : public engine::OrvanMusic {
 public:
  using OrvanMusic::DLSCollections;
  using OrvanMusic::EffectCount;
  using OrvanMusic::MaxDLS;
  using OrvanMusic::Perf;
  using OrvanMusic::Seg;
  using OrvanMusic::SegState;
};

// Reads the input front to back; past its end every read gives zeros.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t word() {
    std::uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = (w << 8) | byte();
    return w;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// --- files -------------------------------------------------------------------------------

void put32(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
}

// A format-0 file at 768 ticks per quarter: a tempo, `ticks` long, a note per quarter.
std::string midi_file(std::uint32_t usec_per_quarter, std::uint32_t ticks) {
  std::string track;
  track += std::string("\x00\xFF\x51\x03", 4);
  track += static_cast<char>(usec_per_quarter >> 16);
  track += static_cast<char>(usec_per_quarter >> 8);
  track += static_cast<char>(usec_per_quarter);
  std::uint32_t at = 0;
  const auto delta = [&](std::uint32_t d) {
    // Variable-length quantity.
    std::string v(1, static_cast<char>(d & 0x7F));
    while (d >>= 7) v.insert(v.begin(), static_cast<char>(0x80 | (d & 0x7F)));
    track += v;
  };
  for (std::uint32_t q = 0; q + 768 <= ticks; q += 768) {
    delta(q - at);
    track += std::string("\x90\x3C\x64", 3);
    delta(384);
    track += std::string("\x80\x3C\x00", 3);
    at = q + 384;
  }
  delta(ticks - at);
  track += std::string("\xFF\x2F\x00", 3);
  std::string file = std::string("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x03\x00", 14) + "MTrk";
  put32(file, static_cast<std::uint32_t>(track.size()));
  return file + track;
}

struct Files {
  fs::path dir;
  std::vector<std::string> names;  // what the calls may be given, hostile ones included
  std::string swap;                // a collection that a step swaps for a pipe and back
  std::string swap_bytes;
  bool swapped = false;
};

void write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

Files& files() {
  static Files f = [] {
    Files made;
    made.dir = fs::temp_directory_path() / ("orvan-fuzz-engine-" + std::to_string(::getpid()));
    fs::create_directories(made.dir);
    const auto in = [&](const char* name) { return (made.dir / name).string(); };
    write(in("music.mid"), midi_file(500000, 4 * 768));
    write(in("fast.mid"), midi_file(1, 4 * 768));  // a pass of 4 microseconds
    write(in("tick.mid"), midi_file(1, 1));        // the shortest segment there is
    std::ifstream seed(ORVAN_SOURCE_DIR "/fuzz/seeds/dls_collection/level1.dls", std::ios::binary);
    made.swap_bytes.assign(std::istreambuf_iterator<char>(seed), {});
    write(in("sine.dls"), made.swap_bytes);
    write(in("swap.dls"), made.swap_bytes);
    made.swap = in("swap.dls");
    write(in("garbage.bin"), "RIFF\x10\x00\x00\x00DLS not really");
    write(in("empty.mid"), "");
    ::mkfifo(in("pipe").c_str(), 0600);
    made.names = {in("music.mid"),
                  in("fast.mid"),
                  in("tick.mid"),
                  in("sine.dls"),
                  made.swap,
                  in("garbage.bin"),
                  in("empty.mid"),
                  made.dir.string(),
                  in("pipe"),
                  "/dev/null",
                  "/dev/zero",
                  in("missing"),
                  in("sine.dls") + std::string(1, '\0') + "x",
                  in("music.mid") + std::string(1, '\0') + "x",
                  "",
                  "relative-name-that-is-not-there"};
    return made;
  }();
  return f;
}

// --- hostile values ----------------------------------------------------------------------

std::int32_t hostile_int(Bytes& in) {
  static constexpr std::int32_t kValues[] = {
      0,    1,      -1,     2,    4,     16, 100,     768,     3072,        -2,         -100,
      2000, -20000, -10000, 1000, 48000, 5,  INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1};
  const std::uint8_t pick = in.byte();
  if (pick < sizeof kValues / sizeof kValues[0]) return kValues[pick];
  if (pick < 200) return static_cast<std::int32_t>(pick) - 100;
  return static_cast<std::int32_t>(in.word());
}

float hostile_float(Bytes& in) {
  static const float kValues[] = {0.0f,
                                  -0.0f,
                                  1.0f,
                                  -1.0f,
                                  0.5f,
                                  0.01f,
                                  100.0f,
                                  100.5f,
                                  0.009f,
                                  std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  std::numeric_limits<float>::max(),
                                  std::numeric_limits<float>::lowest(),
                                  std::numeric_limits<float>::denorm_min(),
                                  std::numeric_limits<float>::min(),
                                  20000.0f,
                                  8000.0f,
                                  3000.0f,
                                  -96.0f};
  const std::uint8_t pick = in.byte();
  if (pick < sizeof kValues / sizeof kValues[0]) return kValues[pick];
  if (pick < 160) return static_cast<float>(pick) - 80.0f;
  const std::uint32_t bits = in.word();
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

std::int32_t hostile_rate(Bytes& in) {
  static constexpr std::int32_t kRates[] = {11025, 16000, 22050, 32000, 44100, 48000,   96000,
                                            0,     -1,    8000,  11024, 96001, INT_MAX, INT_MIN};
  return kRates[in.byte() % (sizeof kRates / sizeof kRates[0])];
}

// A boundary: mostly one of the enumeration's, else a value outside it.
std::int32_t hostile_boundary(Bytes& in) {
  static constexpr std::int32_t kOutside[] = {-1, INT_MIN, INT_MAX, 1 << 16};
  const auto inside = static_cast<std::int32_t>(interface_description::kBoundary.count);
  const std::uint8_t pick = in.byte();
  return pick < 192 ? pick % inside : (pick & 1 ? inside : kOutside[pick % std::size(kOutside)]);
}

com::BStr hostile_name(Bytes& in) {
  const auto& names = files().names;
  const std::string& name = names[in.byte() % names.size()];
  return com::BStr::from_utf8(name);
}

// What the members that take bytes or a stream are given: the bytes of one of the files
// above, or bytes of the input itself, handed over whole, in short pieces, or by a source
// that fails part way, or that is no byte array or stream at all.
class HostileBytes final : public music::ByteSource {
 public:
  HostileBytes(std::string bytes, std::uint32_t piece, int fail_at, HResult status)
      : bytes_(std::move(bytes)), piece_(piece), fail_at_(fail_at), status_(status) {}
  HResult status() const override { return status_; }
  HResult read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) const override {
    got = 0;
    if (fail_at_ && ++reads_ >= fail_at_) return com::E_FAIL;
    const std::size_t count = std::min<std::size_t>({size, piece_, bytes_.size() - at_});
    std::memcpy(into, bytes_.data() + at_, count);
    at_ += count;
    got = static_cast<std::uint32_t>(count);
    return com::S_OK;
  }

 private:
  std::string bytes_;
  std::uint32_t piece_;
  int fail_at_;
  HResult status_;
  mutable std::size_t at_ = 0;
  mutable int reads_ = 0;
};

std::string hostile_content(Bytes& in) {
  const Files& f = files();
  switch (in.byte() % 6) {
    case 0:
      return midi_file(500000, 4 * 768);
    case 1:
      return f.swap_bytes;  // a collection
    case 2:
      return std::string("RIFF\x10\x00\x00\x00", 8) + "DLS not really";
    case 3:
      return {};
    default: {
      std::string taken(in.byte(), '\0');
      for (char& c : taken) c = static_cast<char>(in.byte());
      return taken;
    }
  }
}

HostileBytes hostile_bytes(Bytes& in) {
  return HostileBytes(hostile_content(in), UINT32_MAX, 0,
                      in.byte() % 8 == 0 ? com::E_INVALIDARG : com::S_OK);
}

HostileBytes hostile_stream(Bytes& in) {
  static constexpr HResult kStatuses[] = {com::S_OK, com::S_OK, com::E_POINTER, com::E_NOINTERFACE};
  std::string content = hostile_content(in);
  const std::uint32_t piece = 1 + in.byte();
  const int fail_at = in.byte() % 8;
  return HostileBytes(std::move(content), piece, fail_at, kStatuses[in.byte() % 4]);
}

// Where InitOrvanRender may write: a file of its own, or names no file can be made at. The
// other hostile names are the inputs of later calls and must not be written over.
com::BStr hostile_render_name(Bytes& in) {
  const fs::path& dir = files().dir;
  const std::string names[] = {(dir / "render.wav").string(), dir.string(), "",
                               (dir / "missing" / "render.wav").string(),
                               (dir / "render.wav").string() + std::string(1, '\0') + "x"};
  return com::BStr::from_utf8(names[in.byte() % std::size(names)]);
}

// RenderFor's time: the ends of the range, which must be refused at once, or a short render.
std::int32_t hostile_render_time(Bytes& in) {
  static constexpr std::int32_t kEnds[] = {INT_MAX, INT_MIN, -1, 0};
  const std::uint8_t pick = in.byte();
  return pick < std::size(kEnds) ? kEnds[pick] : pick;
}

// --- the watchdog ------------------------------------------------------------------------

std::atomic<std::int64_t> g_step_started{0};  // steady-clock ns; 0 between steps
std::atomic<int> g_step_kind{-1};

std::int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void start_watchdog() {
  std::thread([] {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      const std::int64_t started = g_step_started.load();
      if (started != 0 && now_ns() - started > std::chrono::nanoseconds(kStepLimit).count()) {
        std::fprintf(stderr, "engine_calls: step %d has run for more than %lld s\n",
                     g_step_kind.load(), static_cast<long long>(kStepLimit.count()));
        std::abort();
      }
    }
  }).detach();
}

// ORVAN_FUZZ_TRACE=1 prints every step's operation and duration, to see where a slow
// input spends its time.
const bool g_trace = std::getenv("ORVAN_FUZZ_TRACE") != nullptr;

class StepTimer {
 public:
  explicit StepTimer(int kind) {
    g_step_kind.store(kind);
    g_step_started.store(now_ns());
  }
  ~StepTimer() {
    if (g_trace) {
      std::fprintf(stderr, "engine_calls: operation %d took %.1f ms\n", g_step_kind.load(),
                   static_cast<double>(now_ns() - g_step_started.load()) / 1e6);
    }
    g_step_started.store(0);
  }
  StepTimer(const StepTimer&) = delete;
  StepTimer& operator=(const StepTimer&) = delete;
};

[[noreturn]] void finding(const char* what, int op) {
  std::fprintf(stderr, "engine_calls: %s (operation %d)\n", what, op);
  std::abort();
}

// --- state that a failed call must leave alone ---------------------------------------------

struct Snapshot {
  const void* seg = nullptr;
  const void* seg_state = nullptr;
  std::int32_t max_dls = 0;
  std::vector<const void*> slots;
  float tempo = 0.0f;
  std::int32_t volume = 0;
  bool has_perf = false;

  bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(Channel& c) {
  Snapshot s;
  s.seg = c.Seg.get();
  s.seg_state = c.SegState.get();
  s.max_dls = c.MaxDLS;
  for (const auto& slot : c.DLSCollections) s.slots.push_back(slot.get());
  s.has_perf = static_cast<bool>(c.Perf);
  if (c.Perf) {
    c.GetMasterTempo(s.tempo);
    c.GetMasterVolume(s.volume);
  }
  return s;
}

int device_rate(Channel& c) {
  return c.Perf && c.Perf->core() ? c.Perf->core()->sample_rate() : 0;
}

// --- one step ---------------------------------------------------------------------------

struct Slot {
  com::Ref<Channel> channel;
  bool distortion_listed = false;  // the effect list holds a distortion
};

// Operation n below kMemberOps calls member n of the interfaces (the 50 of _OrvanMusic, then
// _OrvanMusic2's), so a member added to the description is called with no change here; the
// target's own operations follow.
constexpr int kMemberOps = static_cast<int>(interface_description::kMemberCount);
constexpr int kTempoAndPlay = kMemberOps;
constexpr int kFadeAtTheEnds = kMemberOps + 1;
constexpr int kPauseTwice = kMemberOps + 2;
constexpr int kResumeUnpaused = kMemberOps + 3;
constexpr int kOperations = kMemberOps + 4;

constexpr int op_of(std::string_view member) {
  return static_cast<int>(interface_description::member_index(member));
}

// Another channel for the members that take one: none, `c` itself, one of another
// apartment, or one its client let go of.
engine::OrvanMusic* hostile_leader(Bytes& in, Channel& c);

// Member `op` called on the engine class as the interface describes it, with hostile
// arguments (fuzz/engine_calls_members.inc, generated from the description).
HResult call_member(int op, Channel& c, Bytes& in) {
  com::VariantBool flag = 0;
  std::int32_t number = 0;
  float real = 0.0f;
  double precise = 0.0;
  switch (op) {
#include "fuzz/engine_calls_members.inc"
    default:
      return com::S_OK;
  }
}

// Calls operation `op` on `c`; `checked` says whether a failure must leave the state alone.
HResult call(int op, Slot& slot, Bytes& in, bool& checked) {
  Channel& c = *slot.channel;
  checked = true;
  const bool low_rate = device_rate(c) > 0 && device_rate(c) < kDistortionMinRate;
  const auto effect_on = [&](HResult (Channel::*on)()) -> HResult {
    if (low_rate && slot.distortion_listed) return com::S_OK;
    checked = false;  // the list keeps the new entry when applying it fails
    return (c.*on)();
  };
  switch (op) {
    case op_of("InitOrvanAudio"): {
      const std::int32_t hwnd = hostile_int(in);
      const std::int32_t rate = hostile_rate(in);
      checked = false;
      return c.InitOrvanAudio(hwnd, rate);
    }
    case op_of("InitOrvanRender"): {
      const com::BStr name = hostile_render_name(in);
      checked = false;
      return c.InitOrvanRender(name, hostile_rate(in));
    }
    case op_of("RenderFor"):
      return c.RenderFor(hostile_render_time(in));
    case op_of("CleanupAudio"):
      checked = false;
      return c.CleanupAudio();
    case op_of("Music_Load"):
      checked = false;  // a box, never a status; a success replaces the segment
      return c.Music_Load(hostile_name(in));
    case op_of("Effect_DistortionOn"):
      if (low_rate) return com::S_OK;
      slot.distortion_listed = true;
      return effect_on(&Channel::Effect_DistortionOn);
    case op_of("Effect_ChorusOn"):
      return effect_on(&Channel::Effect_ChorusOn);
    case op_of("Effect_ReverbOn"):
      return effect_on(&Channel::Effect_ReverbOn);
    case op_of("Effect_3DReverb_On"):
      return effect_on(&Channel::Effect_3DReverb_On);
    case op_of("Effect_Clear"):
      slot.distortion_listed = false;
      checked = false;
      return c.Effect_Clear();
    case op_of("ApplyDLS"):
      checked = false;  // a connection made stays made when the download fails
      return c.ApplyDLS(hostile_int(in));
    case kTempoAndPlay:
      // The master tempo at its top, then play: the shortest segments loop fastest.
      checked = false;
      c.SetMasterTempo(100.0f);
      return c.Music_Play(-1);
    case kFadeAtTheEnds: {
      // A fade over no time, or over longer than any count of frames holds.
      const std::int32_t volume = hostile_int(in);
      const HResult hr = c.FadeTo(volume, in.byte() % 2 ? INT_MAX : 0);
      std::int32_t target = 0;
      if (com::succeeded(hr) && (com::failed(c.GetMasterVolume(target)) || target != volume))
        finding("GetMasterVolume does not answer the fade's target", op);
      return hr;
    }
    case kPauseTwice: {
      checked = false;  // the first may have paused
      const HResult first = c.Music_Pause();
      const HResult second = c.Music_Pause();
      if (first == com::S_OK && second != com::S_FALSE)
        finding("a second pause did not answer S_FALSE", op);
      return second;
    }
    case kResumeUnpaused: {
      checked = false;  // the first may have resumed
      c.Music_Resume();
      const HResult again = c.Music_Resume();  // nothing is paused now
      if (again == com::S_OK) finding("a resume without a pause answered S_OK", op);
      return again;
    }
    default:
      return call_member(op, c, in);
  }
}

// Channels the members that take a leader are handed, besides none and the caller itself.
struct Leaders {
  com::Ref<Channel> passing;   // made for one call and released after it
  com::Ref<Channel> released;  // its client let go: only the target's reference is left
};

Leaders& leaders() {
  static Leaders l;
  return l;
}

// A channel made, opened on the manual device and playing on a thread of its own, which
// keeps it to the end of the process: another apartment's object, which only that thread
// may call. Made at start-up, before any input.
Channel* foreign_channel() {
  static Channel* const channel = [] {
    std::promise<Channel*> made;
    std::future<Channel*> ready = made.get_future();
    std::thread([made = std::move(made)]() mutable {
      const com::Ref<Channel> own = com::make_ref<Channel>();
      const std::int32_t hwnd = 0, rate = 22050, repeats = 1000;
      own->InitOrvanAudio(hwnd, rate);
      own->Music_Load(com::BStr::from_utf8(files().names.front()));
      own->Music_Play(repeats);
      made.set_value(own.get());
      for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }).detach();
    return ready.get();
  }();
  return channel;
}

// Through the component a leader that is no OrvanMusic object of this library (any other
// IDispatch) arrives as no channel at all.
engine::OrvanMusic* hostile_leader(Bytes& in, Channel& c) {
  switch (in.byte() % 5) {
    case 0:
      return nullptr;
    case 1:
      return &c;
    case 2:
      return foreign_channel();
    case 3:
      if (leaders().released) return leaders().released.get();
      [[fallthrough]];
    default:
      leaders().passing = com::make_ref<Channel>();
      return leaders().passing.get();
  }
}

// Renders on the object's device and checks what came out.
void render_and_check(Channel& c, std::int64_t frames) {
  if (!c.Perf || !c.Perf->core()) return;
  auto* device = dynamic_cast<music::output::ManualDevice*>(c.Perf->core()->device());
  if (!device) return;
  device->clear_capture();
  if (com::failed(device->pump(frames))) return;
  for (float sample : device->capture()) {
    if (!std::isfinite(sample)) finding("a rendered sample is not finite", -1);
  }
  device->clear_capture();
}

void check_position(Channel& c) {
  std::int32_t position = 0;
  if (!c.SegState || com::failed(c.GetCurrentPosition(position))) return;
  std::int32_t length = 0;
  if (com::failed(c.SegState->segment()->GetLength(length))) return;
  if (position < 0 || position > length) finding("a position outside 0 .. length", 6);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start_engine_fuzzing();
  files();
  foreign_channel();
  start_watchdog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes in(data, size);
  std::array<Slot, kObjects> slots;
  Files& f = files();
  for (int step = 0; step < kMaxSteps && !in.empty(); ++step) {
    const std::uint8_t head = in.byte();
    Slot& slot = slots[head % kObjects];
    const int op = in.byte() % (kOperations + 3);
    if (op == kOperations) {  // let go of the object; the one let go before ends now
      const StepTimer timer(op);
      leaders().released = std::move(slot.channel);
      slot = Slot{};
      continue;
    }
    if (op == kOperations + 1) {  // swap the loaded collection's file for a pipe, or back
      fs::remove(f.swap);
      if (f.swapped) {
        write(f.swap, f.swap_bytes);
      } else {
        ::mkfifo(f.swap.c_str(), 0600);
      }
      f.swapped = !f.swapped;
      continue;
    }
    if (!slot.channel) slot.channel = com::make_ref<Channel>();
    Channel& c = *slot.channel;
    if (op == kOperations + 2) {  // render a while on this object's device
      const StepTimer timer(op);
      render_and_check(c, 64 * (1 + in.byte() % 64));
      check_position(c);
      continue;
    }
    const Snapshot before = snapshot(c);
    bool checked = true;
    HResult hr;
    {
      const StepTimer timer(op);
      hr = call(op, slot, in, checked);
    }
    if (checked && com::failed(hr) && !(snapshot(c) == before)) {
      finding("a failed call changed the channel's state", op);
    }
    {
      const StepTimer timer(-op - 1);
      render_and_check(c, 64 * (1 + (head >> 2) % 8));
    }
    check_position(c);
    leaders().passing.reset();
  }
  for (Slot& slot : slots) {
    if (slot.channel) slot.channel->CleanupAudio();
  }
  leaders() = Leaders{};
  // Put the swapped collection back, so every input starts from the same files.
  if (f.swapped) {
    fs::remove(f.swap);
    write(f.swap, f.swap_bytes);
    f.swapped = false;
  }
  return 0;
}
