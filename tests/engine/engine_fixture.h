// Shared set-up of the engine tests: the manual output device, a small SoundFont, a
// presenter that records every message box, MIDI files written on the spot, and a view of
// an engine object's state record.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "engine/orvan_music.h"
#include "platform/music/client/settings.h"
#include "platform/music/output/manual_device.h"
#include "platform/ui/message_box.h"

namespace orvan::engine::testing {

struct ShownBox {
  std::string text;
  std::string caption;
  ui::MessageIcon icon;
};

class RecordingPresenter final : public ui::MessagePresenter {
 public:
  void present(const std::string& text, const std::string& caption, ui::MessageIcon icon) override {
    std::lock_guard lock(mutex_);
    boxes_.push_back({text, caption, icon});
    shown_.notify_all();
  }
  std::vector<ShownBox> boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
  }
  int count(const std::string& text) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const ShownBox& box : boxes_) n += box.text == text ? 1 : 0;
    return n;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    boxes_.clear();
  }
  // Boxes may come from the notification thread: waits (bounded) until `n` were shown.
  bool wait_for(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return shown_.wait_for(lock, limit, [&] { return boxes_.size() >= n; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable shown_;
  std::vector<ShownBox> boxes_;
};

// An engine object whose state record the tests may read.
class Channel : public OrvanMusic {
 public:
  using OrvanMusic::DLSCollections;
  using OrvanMusic::DX;
  using OrvanMusic::Loader;
  using OrvanMusic::MaxDLS;
  using OrvanMusic::NotifyEvent;
  using OrvanMusic::Perf;
  using OrvanMusic::Seg;
  using OrvanMusic::SegState;
};

// `notes` notes of `ticks_each` one after the other on one instrument, as a format-0 file at
// 480 ticks per quarter and 120 beats per minute (one quarter = 0.5 s = 768 music time).
void write_note_midi(const std::filesystem::path& path, int program, int key, int notes,
                     int ticks_each);
void write_bytes(const std::filesystem::path& path, const std::string& bytes);

double rms(const std::vector<float>& samples, std::size_t first = 0, std::size_t count = SIZE_MAX);

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates a channel and initialises it at `rate` Hz; fails the test when no device opened.
  com::Ref<Channel> make_initialised_channel(std::int32_t rate = 48000);
  // The manual device of the most recently initialised channel (looked up afresh: a
  // re-initialised channel has a new one).
  music::output::ManualDevice& device();
  // Pumps `seconds` of audio and returns the RMS of what was rendered.
  double pump_seconds(double seconds);

  std::filesystem::path temp_path(const std::string& name) const { return dir_ / name; }
  static com::BStr bstr(const std::filesystem::path& p) { return com::BStr::from_utf8(p.string()); }

  std::shared_ptr<RecordingPresenter> boxes_ = std::make_shared<RecordingPresenter>();
  std::filesystem::path dir_;
  std::filesystem::path organ_;  // a sustained organ note, 8 quarters (4 s), for level tests
  std::filesystem::path piano_;  // 16 piano quarter notes (8 s), sound wherever it starts

 private:
  std::unique_ptr<ui::ScopedMessagePresenter> scoped_;
};

}  // namespace orvan::engine::testing
