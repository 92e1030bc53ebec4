// Statuses for calls out of range, out of order, or after shutdown.
#include <cmath>
#include <limits>

#include "tests/performance/performance_fixture.h"
#include "tests/support/sound_measure.h"

namespace orvan::music::testing {
namespace {

HResult init(const Ref<DirectMusicPerformance8>& perf, DMUS_AUDIOPARAMS& params,
             std::int32_t path_type = DMUS_APATH_SHARED_STEREOPLUSREVERB) {
  return perf->InitAudio(0, DMUS_AUDIOF_ALL, params, nullptr, path_type, 128);
}

Ref<DirectMusicPerformance8> fresh() {
  set_platform_settings({OutputKind::Manual, {}, kSmallSoundFont});
  return com::make_ref<DirectMusicPerformance8>(nullptr);
}

TEST(PerformanceStatus, InitAudioChecksRateAndPathType) {
  for (std::int32_t rate : {11024, 96001, 0, -48000}) {
    DMUS_AUDIOPARAMS params;
    params.validData = DMUS_AUDIOPARAMS_SAMPLERATE;
    params.sampleRate = rate;
    EXPECT_EQ(init(fresh(), params), com::E_INVALIDARG) << rate;
  }
  DMUS_AUDIOPARAMS params;
  params.validData = DMUS_AUDIOPARAMS_SAMPLERATE;
  params.sampleRate = 44100;
  EXPECT_EQ(init(fresh(), params, 2), com::MUSIC_E_UNSUPPORTED_PATH_TYPE);

  // Without the rate bit the record's rate is not read.
  DMUS_AUDIOPARAMS no_rate;
  no_rate.sampleRate = 1;
  auto perf = fresh();
  ASSERT_EQ(init(perf, no_rate), com::S_OK);
  EXPECT_EQ(no_rate.sampleRate, 22050);
  EXPECT_EQ(output::last_manual_device()->sample_rate(), 22050);
  EXPECT_EQ(init(perf, no_rate), com::MUSIC_E_ALREADY_INITIALIZED);

  for (std::int32_t rate : {11025, 96000}) {  // the documented limits
    DMUS_AUDIOPARAMS edge;
    edge.validData = DMUS_AUDIOPARAMS_SAMPLERATE;
    edge.sampleRate = rate;
    EXPECT_EQ(init(fresh(), edge), com::S_OK) << rate;
  }
}

TEST(PerformanceStatus, MissingSoundFontIsReported) {
  set_platform_settings({OutputKind::Manual, {}, "/nonexistent/none.sf2"});
  auto perf = com::make_ref<DirectMusicPerformance8>(nullptr);
  DMUS_AUDIOPARAMS params;
  EXPECT_EQ(init(perf, params), com::MUSIC_E_NO_SOUNDFONT);
  // A file that is no SoundFont. FluidSynth complains about it, but the platform logs
  // nothing: not a word reaches the standard streams.
  set_platform_settings({OutputKind::Manual, {}, ORVAN_SOURCE_DIR "/CMakeLists.txt"});
  auto other = com::make_ref<DirectMusicPerformance8>(nullptr);
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(init(other, params), com::MUSIC_E_SYNTH_FAILED);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(PerformanceStatus, CallsBeforeInitAndAfterCloseDown) {
  auto perf = fresh();
  auto segment = SequenceBuilder().note(0, 100, 60).segment(768);
  Ref<DirectMusicSegmentState8> state;
  Ref<DirectMusicAudioPath8> path;
  EXPECT_EQ(perf->PlaySegmentEx(segment, 0, 0, nullptr, nullptr, state),
            com::MUSIC_E_NOT_INITIALIZED);
  EXPECT_EQ(perf->StopEx(segment, 0, 0), com::MUSIC_E_NOT_INITIALIZED);
  EXPECT_EQ(perf->GetDefaultAudioPath(path), com::MUSIC_E_NOT_INITIALIZED);
  EXPECT_TRUE(state.empty());

  DMUS_AUDIOPARAMS params;
  ASSERT_EQ(init(perf, params), com::S_OK);
  ASSERT_EQ(perf->PlaySegmentEx(segment, 0, 0, nullptr, nullptr, state), com::S_OK);
  ASSERT_EQ(perf->GetDefaultAudioPath(path), com::S_OK);
  Ref<com::Object> object;
  ASSERT_EQ(path->GetObjectInPath(DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 0, kAllObjectsText, 0,
                                  kSoundBufferInterfaceText, object),
            com::S_OK);
  Ref<DirectSoundBuffer8> buffer;
  ASSERT_EQ(com::query(object, buffer), com::S_OK);
  output::last_manual_device()->pump(4096);

  ASSERT_EQ(perf->CloseDown(), com::S_OK);
  EXPECT_EQ(perf->CloseDown(), com::S_OK);
  EXPECT_EQ(perf->PlaySegmentEx(segment, 0, 0, nullptr, nullptr, state), com::MUSIC_E_CLOSED);
  EXPECT_EQ(perf->SetMasterTempo(1.0f), com::MUSIC_E_CLOSED);
  DMUS_NOTIFICATION_PMSG message;
  bool taken = true;
  EXPECT_EQ(perf->GetNotificationPMSG(message, taken), com::MUSIC_E_CLOSED);
  EXPECT_FALSE(taken);
  EXPECT_EQ(path->Activate(false), com::MUSIC_E_CLOSED);
  EXPECT_EQ(buffer->SetFX(0, nullptr, nullptr), com::MUSIC_E_CLOSED);
  // The state keeps answering where it stopped.
  std::int32_t position = -1;
  EXPECT_EQ(state->GetSeek(position), com::S_OK);
  EXPECT_GT(position, 0);
}

TEST(PerformanceStatus, MasterControlRanges) {
  auto perf = fresh();
  for (float bad : {0.0099f, 100.01f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                    std::numeric_limits<float>::infinity()}) {
    EXPECT_EQ(perf->SetMasterTempo(bad), com::E_INVALIDARG) << bad;
  }
  for (float good : {kMinMasterTempo, kMaxMasterTempo, 2.0f}) {
    EXPECT_EQ(perf->SetMasterTempo(good), com::S_OK);
    float read = 0.0f;
    ASSERT_EQ(perf->GetMasterTempo(read), com::S_OK);
    EXPECT_EQ(read, good);
  }
  for (std::int32_t bad : {-20001, 2001}) {
    EXPECT_EQ(perf->SetMasterVolume(bad), com::E_INVALIDARG);
  }
  std::int32_t volume = 1;
  ASSERT_EQ(perf->GetMasterVolume(volume), com::S_OK);
  EXPECT_EQ(volume, 0);
  EXPECT_EQ(perf->SetMasterVolume(kMinMasterVolume), com::S_OK);
  EXPECT_EQ(perf->SetMasterVolume(kMaxMasterVolume), com::S_OK);
}

TEST(PerformanceStatus, EmptyReferencesAndForeignObjects) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  bool playing = true;
  EXPECT_EQ(p.perf->IsPlaying(nullptr, nullptr, playing), com::E_POINTER);
  Ref<DirectMusicSegmentState8> state;
  EXPECT_EQ(p.perf->PlaySegmentEx(nullptr, 0, 0, nullptr, nullptr, state), com::E_POINTER);
  EXPECT_EQ(p.perf->AddNotificationType(7), com::E_INVALIDARG);
  EXPECT_EQ(p.perf->StopEx(p.perf, 0, 0), com::E_INVALIDARG);

  // Another performance's path is not ours to play on.
  Player other;
  Ref<DirectMusicAudioPath8> foreign;
  ASSERT_EQ(other.perf->GetDefaultAudioPath(foreign), com::S_OK);
  EXPECT_EQ(p.perf->PlaySegmentEx(SequenceBuilder().segment(768), 0, 0, nullptr, foreign, state),
            com::E_INVALIDARG);
}

TEST(PerformanceStatus, AudioPathAnswersOnlyForBufferZero) {
  Player p;
  ASSERT_EQ(p.status, com::S_OK);
  Ref<DirectMusicAudioPath8> path;
  ASSERT_EQ(p.perf->GetDefaultAudioPath(path), com::S_OK);
  Ref<com::Object> object;
  EXPECT_EQ(path->GetObjectInPath(0, DMUS_PATH_BUFFER, 0, kAllObjectsText, 0,
                                  kSoundBufferInterfaceText, object),
            com::E_INVALIDARG);
  EXPECT_EQ(path->GetObjectInPath(DMUS_PCHANNEL_ALL, 0x1000, 0, kAllObjectsText, 0,
                                  kSoundBufferInterfaceText, object),
            com::E_INVALIDARG);
  EXPECT_EQ(path->GetObjectInPath(DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 1, kAllObjectsText, 0,
                                  kSoundBufferInterfaceText, object),
            com::MUSIC_E_OBJECT_NOT_FOUND);
  EXPECT_EQ(path->GetObjectInPath(DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 0, kAllObjectsText, 0,
                                  "IID_Nothing", object),
            com::E_NOINTERFACE);
  EXPECT_TRUE(object.empty());

  // The same buffer whichever path object asks.
  Ref<DirectMusicAudioPath8> again;
  ASSERT_EQ(p.perf->GetDefaultAudioPath(again), com::S_OK);
  Ref<com::Object> a, b;
  ASSERT_EQ(path->GetObjectInPath(DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 0, kAllObjectsText, 0,
                                  kSoundBufferInterfaceText, a),
            com::S_OK);
  ASSERT_EQ(again->GetObjectInPath(DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 0, kAllObjectsText, 0,
                                   kSoundBufferInterfaceText, b),
            com::S_OK);
  EXPECT_EQ(a.get(), b.get());

  // The chain can only change while the path is halted.
  Ref<DirectSoundBuffer8> buffer;
  ASSERT_EQ(com::query(a, buffer), com::S_OK);
  EXPECT_EQ(buffer->SetFX(0, nullptr, nullptr), com::DSERR_INVALIDCALL);
  ASSERT_EQ(path->Activate(false), com::S_OK);
  EXPECT_EQ(buffer->SetFX(0, nullptr, nullptr), com::S_OK);
  DSEFFECTDESC unknown;
  unknown.guidDSFXClass = "GUID_DSFX_NOT_AN_EFFECT";
  std::int32_t result = 0;
  EXPECT_EQ(buffer->SetFX(1, &unknown, &result), com::REGDB_E_CLASSNOTREG);
  EXPECT_EQ(result, DSFXR_UNKNOWN);
}

TEST(PerformanceStatus, ReleasingAPlayingPerformanceShutsItDown) {
  auto segment = SequenceBuilder().note(0, 3000, 60).segment(7680);
  Ref<DirectMusicSegmentState8> state;
  {
    Player p;
    ASSERT_EQ(p.status, com::S_OK);
    state = p.play(segment, -1);
    p.render(4096);
  }
  // The state outlives its performance and still answers.
  std::int32_t position = -1;
  EXPECT_EQ(state->GetSeek(position), com::S_OK);
  EXPECT_GT(position, 0);
}

}  // namespace
}  // namespace orvan::music::testing
