// Buffer 0's effect chain through the platform: SetFX and GetObjectInPath on the sound
// buffer, and the chain audibly running in the render pipeline.
#include <cmath>

#include "platform/music/client/effects.h"
#include "tests/performance/performance_fixture.h"

namespace orvan::music::testing {
namespace {

struct PathAndBuffer {
  Ref<DirectMusicAudioPath8> path;
  Ref<DirectSoundBuffer8> buffer;
};

PathAndBuffer buffer_of(Player& player) {
  PathAndBuffer out;
  EXPECT_EQ(player.perf->GetDefaultAudioPath(out.path), com::S_OK);
  Ref<com::Object> object;
  EXPECT_EQ(out.path->GetObjectInPath(DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 0, kAllObjectsText, 0,
                                      kSoundBufferInterfaceText, object),
            com::S_OK);
  EXPECT_EQ(com::query(object, out.buffer), com::S_OK);
  return out;
}

DSEFFECTDESC described(const char* effect_class) {
  DSEFFECTDESC d;
  d.guidDSFXClass = effect_class;
  return d;
}

TEST(BufferEffects, SetFXReplacesTheWholeChainOrNothing) {
  Player player;
  ASSERT_EQ(player.status, com::S_OK);
  auto [path, buffer] = buffer_of(player);
  const DSEFFECTDESC chain[] = {described("GUID_DSFX_STANDARD_CHORUS"),
                                described("GUID_DSFX_STANDARD_DISTORTION"),
                                described("GUID_DSFX_STANDARD_CHORUS")};
  std::int32_t results[3] = {};
  EXPECT_EQ(buffer->SetFX(3, chain, results), com::DSERR_INVALIDCALL);  // the path is active

  ASSERT_EQ(path->Activate(false), com::S_OK);
  const DSEFFECTDESC with_unknown[] = {described("GUID_DSFX_STANDARD_CHORUS"),
                                       described("GUID_DSFX_SOMETHING_ELSE")};
  EXPECT_EQ(buffer->SetFX(2, with_unknown, results), com::REGDB_E_CLASSNOTREG);
  EXPECT_EQ(results[1], DSFXR_UNKNOWN);
  Ref<com::Object> found;
  EXPECT_EQ(
      buffer->GetObjectInPath("GUID_DSFX_STANDARD_CHORUS", 0, "IID_DirectSoundFXChorus", found),
      com::MUSIC_E_OBJECT_NOT_FOUND);

  EXPECT_EQ(buffer->SetFX(3, chain, results), com::S_OK);
  EXPECT_EQ(results[0], DSFXR_LOCSOFTWARE);
  EXPECT_EQ(results[2], DSFXR_LOCSOFTWARE);
  Ref<com::Object> first, second;
  EXPECT_EQ(
      buffer->GetObjectInPath("GUID_DSFX_STANDARD_CHORUS", 0, "IID_DirectSoundFXChorus", first),
      com::S_OK);
  EXPECT_EQ(
      buffer->GetObjectInPath("GUID_DSFX_STANDARD_CHORUS", 1, "IID_DirectSoundFXChorus", second),
      com::S_OK);
  EXPECT_FALSE(first == second);
  EXPECT_EQ(
      buffer->GetObjectInPath("GUID_DSFX_STANDARD_CHORUS", 2, "IID_DirectSoundFXChorus", found),
      com::MUSIC_E_OBJECT_NOT_FOUND);
  EXPECT_EQ(
      buffer->GetObjectInPath("GUID_DSFX_STANDARD_CHORUS", 0, "IID_DirectSoundFXDistortion", found),
      com::E_NOINTERFACE);
  EXPECT_EQ(
      buffer->GetObjectInPath("GUID_DSFX_STANDARD_CHORUS", -1, "IID_DirectSoundFXChorus", found),
      com::E_INVALIDARG);

  EXPECT_EQ(buffer->SetFX(0, nullptr, nullptr), com::S_OK);
  EXPECT_EQ(
      buffer->GetObjectInPath("GUID_DSFX_STANDARD_CHORUS", 0, "IID_DirectSoundFXChorus", found),
      com::MUSIC_E_OBJECT_NOT_FOUND);
}

TEST(BufferEffects, EffectObjectsCheckTheirParameters) {
  Player player;
  ASSERT_EQ(player.status, com::S_OK);
  auto [path, buffer] = buffer_of(player);
  path->Activate(false);
  const DSEFFECTDESC chain[] = {described("GUID_DSFX_STANDARD_DISTORTION")};
  std::int32_t results[1] = {};
  ASSERT_EQ(buffer->SetFX(1, chain, results), com::S_OK);
  Ref<com::Object> object;
  buffer->GetObjectInPath("GUID_DSFX_STANDARD_DISTORTION", 0, "IID_DirectSoundFXDistortion",
                          object);
  Ref<DirectSoundFXDistortion8> distortion;
  ASSERT_EQ(com::query(object, distortion), com::S_OK);

  DSFXDISTORTION p{};
  distortion->GetAllParameters(p);
  EXPECT_EQ(p.Gain, -18.0f);
  p.Edge = 101.0f;
  EXPECT_EQ(distortion->SetAllParameters(p), com::E_INVALIDARG);
  p.Edge = 60.0f;
  EXPECT_EQ(distortion->SetAllParameters(p), com::S_OK);  // 8000 Hz is below 16000 Hz
  DSFXDISTORTION now{};
  distortion->GetAllParameters(now);
  EXPECT_EQ(now.Edge, 60.0f);
}

// A held organ chord: its level with and without a distortion turned all the way down,
// and back after the chain is emptied.
TEST(BufferEffects, TheChainShapesWhatThePerformancePlays) {
  Player player;
  ASSERT_EQ(player.status, com::S_OK);
  auto [path, buffer] = buffer_of(player);
  SequenceBuilder music;
  // Little reverb send: buffer 1 (the synthesizer's reverb return) does not pass through
  // buffer 0's chain, so what it carries stays when the chain silences the dry music.
  music.program(0, 16).cc(0, 91, 0).cc(0, 93, 0).note(0, 768 * 16, 60).note(0, 768 * 16, 64);
  player.play(music.segment(768 * 16));

  const auto level = [&] {
    const std::vector<float> out = player.render(12000);
    double sum = 0;
    for (size_t i = out.size() / 2; i < out.size(); ++i) sum += double{out[i]} * out[i];
    return std::sqrt(sum / static_cast<double>(out.size() / 2));
  };
  const double open = level();
  ASSERT_GT(open, 1e-3);

  path->Activate(false);
  const DSEFFECTDESC chain[] = {described("GUID_DSFX_STANDARD_DISTORTION")};
  std::int32_t results[1] = {};
  ASSERT_EQ(buffer->SetFX(1, chain, results), com::S_OK);
  Ref<com::Object> object;
  buffer->GetObjectInPath("GUID_DSFX_STANDARD_DISTORTION", 0, "IID_DirectSoundFXDistortion",
                          object);
  Ref<DirectSoundFXDistortion8> distortion;
  ASSERT_EQ(com::query(object, distortion), com::S_OK);
  DSFXDISTORTION p{};
  distortion->GetAllParameters(p);
  p.Gain = -60.0f;
  p.Edge = 0.0f;
  ASSERT_EQ(distortion->SetAllParameters(p), com::S_OK);
  path->Activate(true);
  level();  // the glide to -60 dB
  EXPECT_LT(20.0 * std::log10(level() / open), -20.0);

  path->Activate(false);
  ASSERT_EQ(buffer->SetFX(0, nullptr, nullptr), com::S_OK);
  path->Activate(true);
  level();
  EXPECT_NEAR(20.0 * std::log10(level() / open), 0.0, 6.0);
}

}  // namespace
}  // namespace orvan::music::testing
