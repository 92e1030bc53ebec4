// An engine object on the manual output device, with its effect members in view and every
// message box recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/orvan_music.h"
#include "platform/music/client/settings.h"
#include "platform/ui/message_box.h"
#include "tests/support/wav_file.h"

namespace orvan::engine::testing {

class BoxRecorder final : public ui::MessagePresenter {
 public:
  void present(const std::string& text, const std::string& /*caption*/,
               ui::MessageIcon /*icon*/) override {
    texts.push_back(text);
  }
  std::vector<std::string> texts;
};

// Opens the effect members of the channel's state record to the tests.
class Channel final : public OrvanMusic {
 public:
  using OrvanMusic::ChorusParams;
  using OrvanMusic::DistortionParams;
  using OrvanMusic::DSBuffer;
  using OrvanMusic::EffectCount;
  using OrvanMusic::EffectDescs;
  using OrvanMusic::EffectResults;
  using OrvanMusic::FXChorus;
  using OrvanMusic::FXDistortion;
  using OrvanMusic::Perf;
  using OrvanMusic::Reverb3DParams;
  using OrvanMusic::WavesReverbParams;
};

class EngineEffects : public ::testing::Test {
 protected:
  EngineEffects() {
    music::set_platform_settings({music::OutputKind::Manual, {}, orvan::testing::kSmallSoundFont});
  }
  ~EngineEffects() override { channel.reset(); }

  void init() {
    ASSERT_EQ(channel->InitOrvanAudio(0, 48000), com::S_OK);
    ASSERT_TRUE(boxes->texts.empty()) << boxes->texts.front();
    ASSERT_FALSE(channel->Perf.empty());
  }

  // The class texts the table holds in slots 0 to EffectCount - 1.
  std::vector<std::string> listed() const {
    std::vector<std::string> classes;
    for (std::int32_t i = 0; i < channel->EffectCount; ++i)
      classes.push_back(channel->EffectDescs[static_cast<std::size_t>(i)].guidDSFXClass);
    return classes;
  }

  // How many effects of a class the buffer's chain holds now.
  int in_chain(const char* effect_class, const char* interface_id) const {
    int n = 0;
    com::Ref<com::Object> found;
    while (channel->DSBuffer &&
           com::succeeded(channel->DSBuffer->GetObjectInPath(effect_class, n, interface_id, found)))
      ++n;
    return n;
  }

  // The platform's record for the index-th effect of a class in the chain.
  template <class Fx, class Record>
  Record platform_params(const char* effect_class, const char* interface_id, int index = 0) {
    com::Ref<com::Object> found;
    EXPECT_EQ(channel->DSBuffer->GetObjectInPath(effect_class, index, interface_id, found),
              com::S_OK);
    com::Ref<Fx> fx;
    EXPECT_EQ(com::query(found, fx), com::S_OK);
    Record r{};
    EXPECT_EQ(fx->GetAllParameters(r), com::S_OK);
    return r;
  }

  std::shared_ptr<BoxRecorder> boxes = std::make_shared<BoxRecorder>();
  ui::ScopedMessagePresenter presenter{boxes};
  com::Ref<Channel> channel = com::make_ref<Channel>();
};

}  // namespace orvan::engine::testing
