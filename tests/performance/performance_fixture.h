// Shared set-up for the performance tests: a performance on the manual device with the
// small General MIDI SoundFont, segments built event by event, rendering by hand, and event
// sinks that count what they are signalled.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/music/client/audio_path.h"
#include "platform/music/client/event_hub.h"
#include "platform/music/client/performance.h"
#include "platform/music/client/root.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/settings.h"
#include "platform/music/client/sound_buffer.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/output/manual_device.h"
#include "tests/support/wav_file.h"

namespace orvan::music::testing {

inline constexpr int kRate = 48000;
// At the default 120 beats per minute: 768 ticks per half second.
inline constexpr double kFramesPerTick = kRate * 0.5 / midi::kTicksPerQuarter;
using orvan::testing::kLargeSoundFont;
using orvan::testing::kOpenMsxFolder;
using orvan::testing::kSmallSoundFont;

inline std::int64_t frame_of_tick(std::int32_t tick) {
  return static_cast<std::int64_t>(tick * kFramesPerTick);
}

class SequenceBuilder {
 public:
  SequenceBuilder& event(std::int32_t tick, std::uint8_t status, std::uint8_t data1,
                         std::uint8_t data2 = 0) {
    midi::Event e;
    e.time = tick;
    e.status = status;
    e.data1 = data1;
    e.data2 = data2;
    seq_.events.push_back(e);
    return *this;
  }
  SequenceBuilder& note(std::int32_t tick, std::int32_t duration, std::uint8_t key,
                        std::uint8_t velocity = 100, std::uint8_t channel = 0) {
    event(tick, static_cast<std::uint8_t>(0x90 | channel), key, velocity);
    return event(tick + duration, static_cast<std::uint8_t>(0x80 | channel), key, 0);
  }
  SequenceBuilder& program(std::int32_t tick, std::uint8_t program, std::uint8_t channel = 0) {
    return event(tick, static_cast<std::uint8_t>(0xC0 | channel), program);
  }
  SequenceBuilder& cc(std::int32_t tick, std::uint8_t controller, std::uint8_t value,
                      std::uint8_t channel = 0) {
    return event(tick, static_cast<std::uint8_t>(0xB0 | channel), controller, value);
  }
  SequenceBuilder& tempo(std::int32_t tick, std::uint32_t usec_per_quarter) {
    midi::Event e;
    e.time = tick;
    e.status = midi::kMetaStatus;
    e.data1 = midi::kMetaTempo;
    e.payload_offset = static_cast<std::uint32_t>(seq_.payload.size());
    e.payload_size = 3;
    seq_.payload.push_back(static_cast<std::uint8_t>(usec_per_quarter >> 16));
    seq_.payload.push_back(static_cast<std::uint8_t>(usec_per_quarter >> 8));
    seq_.payload.push_back(static_cast<std::uint8_t>(usec_per_quarter));
    seq_.events.push_back(e);
    return *this;
  }
  Ref<DirectMusicSegment8> segment(std::int32_t length) {
    auto seq = std::make_shared<midi::Sequence>(seq_);
    std::stable_sort(seq->events.begin(), seq->events.end(),
                     [](const midi::Event& a, const midi::Event& b) { return a.time < b.time; });
    seq->length = length;
    seq->format = 0;
    seq->track_count = 1;
    seq->division = 96;
    return com::make_ref<DirectMusicSegment8>(std::move(seq));
  }

 private:
  midi::Sequence seq_;
};

// Opens `perf` on the standard audio path at `rate`, with `soundfont` (empty: the system's),
// on a device of `kind` (a WAV file names `wav_path`). The manual device it opened is
// output::last_manual_device().
inline HResult init_audio(DirectMusicPerformance8& perf, int rate = kRate,
                          const std::string& soundfont = kSmallSoundFont,
                          OutputKind kind = OutputKind::Manual, const std::string& wav_path = {}) {
  set_platform_settings({kind, wav_path, soundfont});
  DMUS_AUDIOPARAMS params;
  params.validData = DMUS_AUDIOPARAMS_SAMPLERATE;
  params.sampleRate = rate;
  return perf.InitAudio(0, DMUS_AUDIOF_ALL, params, nullptr, DMUS_APATH_SHARED_STEREOPLUSREVERB,
                        128);
}

// A sink that counts its signals.
class CountingSink final : public EventSink {
 public:
  HResult DXCallback(std::int32_t) override {
    calls.fetch_add(1);
    return com::S_OK;
  }
  std::atomic<int> calls{0};
};

// A sink that takes one message per signal, as the engine's callback does.
class TakingSink final : public EventSink {
 public:
  HResult DXCallback(std::int32_t) override {
    DMUS_NOTIFICATION_PMSG message;
    bool got = false;
    const HResult hr = perf->GetNotificationPMSG(message, got);
    (got ? taken : empty).fetch_add(1);
    return com::succeeded(hr) ? com::S_OK : hr;
  }
  DirectMusicPerformance8* perf = nullptr;
  std::atomic<int> taken{0};
  std::atomic<int> empty{0};
};

// A performance on the manual device, ready to play. `soundfont` empty: the system's.
class Player {
 public:
  explicit Player(std::shared_ptr<EventHub> hub = nullptr, int rate = kRate,
                  const std::string& soundfont = kSmallSoundFont) {
    perf = com::make_ref<DirectMusicPerformance8>(std::move(hub));
    status = init_audio(*perf, rate, soundfont);
    device = output::last_manual_device();
  }

  Ref<DirectMusicSegmentState8> play(const Ref<DirectMusicSegment8>& segment,
                                     std::int32_t repeats = 0) {
    EXPECT_EQ(segment->SetRepeats(repeats), com::S_OK);
    Ref<DirectMusicSegmentState8> state;
    EXPECT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state),
              com::S_OK);
    return state;
  }
  // Renders `frames` frames (interleaved stereo).
  std::vector<float> render(std::int64_t frames) {
    device->clear_capture();
    EXPECT_EQ(device->pump(frames), com::S_OK);
    return device->capture();
  }
  std::int32_t seek(const Ref<DirectMusicSegmentState8>& state) {
    std::int32_t position = -1;
    EXPECT_EQ(state->GetSeek(position), com::S_OK);
    return position;
  }
  bool playing(const Ref<DirectMusicSegmentState8>& state) {
    bool answer = false;
    EXPECT_EQ(perf->IsPlaying(nullptr, state, answer), com::S_OK);
    return answer;
  }

  Ref<DirectMusicPerformance8> perf;
  output::ManualDevice* device = nullptr;
  HResult status = com::E_FAIL;
};

}  // namespace orvan::music::testing
