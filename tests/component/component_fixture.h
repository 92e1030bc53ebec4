// Shared set-up of the component tests: a throwaway registry with libTovel.so registered
// through its own entry point, the manual output device and a small SoundFont for every
// engine channel, a recorder for the engine's message boxes, and a client apartment.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "orvan/tovel.h"
#include "platform/music/output/manual_device.h"
#include "platform/ui/message_box.h"

namespace orvan::component_test {

// Holds one reference to an interface, as a client does.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { reset(); }
  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T** out() {
    reset();
    return &p_;
  }
  void** out_void() { return reinterpret_cast<void**>(out()); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

class BoxRecorder final : public ui::MessagePresenter {
 public:
  void present(const std::string& text, const std::string&, ui::MessageIcon) override {
    std::lock_guard lock(mutex_);
    texts_.push_back(text);
  }
  int count(const std::string& text) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const std::string& t : texts_) n += t == text ? 1 : 0;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

inline const std::string kTovelPath = ORVAN_TOVEL_PATH;
inline constexpr const char* kFarewell = "Thank you for using 'Orvan Music Engine' ";
inline constexpr const char* kLoadFailed = "Couldn't load this file";

// Calls one of the library's exported functions the way a registration tool does: load the
// library, find the function, call it, let go of the library.
HRESULT call_library_function(const char* name);
// True while the process has libTovel.so loaded.
bool tovel_loaded();

// An example client's output while it plays the organ note: four progress lines
// "position / length state", the length the note's, the state playing, the position moving on.
void expect_organ_progress(const std::string& out);

// The first block fenced as ```fence after the README's heading `section`: what it shows of
// an example, which its test holds to the example's file. A missing heading or block fails.
std::string readme_block(const std::string& section, const std::string& fence);

// A UTF-16 automation string a test owns.
class Bstr {
 public:
  explicit Bstr(std::u16string_view text);
  explicit Bstr(const std::string& utf8);
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR* ptr() { return &b_; }
  BSTR get() const { return b_; }

 private:
  BSTR b_ = nullptr;
};

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates an OrvanMusic object by its class identity through the registry.
  ComPtr<_OrvanMusic> create();
  // The same, asked for the second interface.
  ComPtr<_OrvanMusic2> create2();
  // Initialises `music` on the manual device at `rate` and loads the organ note.
  void init_and_load(_OrvanMusic* music, LONG rate = 48000);
  // RMS of `seconds` of audio pumped through manual device `index` (opening order).
  double pump_rms(int index, double seconds);

  std::filesystem::path dir_;
  std::filesystem::path registry_;
  std::filesystem::path organ_;  // one sustained organ note, 4 s
  std::shared_ptr<BoxRecorder> boxes_ = std::make_shared<BoxRecorder>();

 private:
  std::unique_ptr<ui::ScopedMessagePresenter> presenter_;
  bool apartment_ = false;
};

}  // namespace orvan::component_test
