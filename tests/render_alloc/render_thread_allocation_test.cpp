// The render thread must never allocate nor touch a file. The manual device renders on the
// test's thread while render_watch counts both, through a real file with notifications, all
// four effects, loops, tempo and volume changes, a stop and a restart (its instruments
// downloaded as it is played); through DLS collections downloaded before and during a
// play, with program changes the download did not foresee; through a General MIDI program
// no download foresaw; and through a recording that loops, is sought, stretched and
// restarted; and through a tracker module that repeats, starts part-way and changes tempo;
// and while every kind of event is told, over a stinger and a recording fading out.
//
// Sanitizer builds bring their own allocator, so there the tests are skipped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/music/client/audio_path.h"
#include "platform/music/client/collection.h"
#include "platform/music/client/effects.h"
#include "platform/music/client/loader.h"
#include "platform/music/client/performance.h"
#include "platform/music/client/root.h"
#include "platform/music/client/segment.h"
#include "platform/music/client/segment_state.h"
#include "platform/music/client/settings.h"
#include "platform/music/client/sound_buffer.h"
#include "platform/music/output/manual_device.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/synth/dls_font.h"
#include "platform/music/synth/instrument_library.h"
#include "platform/music/synth/synth.h"
#include "tests/performance/performance_fixture.h"
#include "tests/render_alloc/render_watch.h"
#include "tests/support/dls_writer.h"
#include "tests/support/run_command.h"
#include "tests/support/smf_writer.h"
#include "tests/support/wav_file.h"
#include "tests/support/xm_writer.h"

namespace orvan::music {
namespace {

constexpr int kRate = 48000;
constexpr const char* kFile = "/usr/share/games/openttd/baseset/openmsx/busy_schedule.mid";

// Renders `frames` on this thread, adding what it did to `seen`.
void render_watched(output::ManualDevice* device, std::int64_t frames, test::RenderActivity& seen) {
  test::begin_render_watch();
  const HResult hr = device->pump(frames);
  const test::RenderActivity activity = test::end_render_watch();
  seen.allocations += activity.allocations;
  seen.file_calls += activity.file_calls;
  ASSERT_EQ(hr, com::S_OK);
}

// A performance on the manual device with the small SoundFont; capture stays off so the
// device itself has nothing to store. `events`, if given, receives what is heard.
void start_performance(const Ref<DirectX8>& root, Ref<DirectMusicPerformance8>& perf,
                       output::ManualDevice*& device,
                       std::shared_ptr<MusicEventRing> events = nullptr) {
  ASSERT_EQ(root->DirectMusicPerformanceCreate(perf), com::S_OK);
  perf->core()->set_music_events(std::move(events));
  ASSERT_EQ(music::testing::init_audio(*perf, kRate), com::S_OK);
  device = output::last_manual_device();
  ASSERT_NE(device, nullptr);
  device->set_capture_enabled(false);
}

// Every test watches what a render thread does; the allocator is replaced under sanitizers.
class RenderThread : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::render_watch_available()) GTEST_SKIP() << "sanitizer builds replace the allocator";
  }
  // start_performance() on the fixture's root, performance and device.
  void start(std::shared_ptr<MusicEventRing> events = nullptr) {
    ASSERT_NO_FATAL_FAILURE(start_performance(root, perf, device, std::move(events)));
  }

  test::RenderActivity seen;
  Ref<DirectX8> root = DirectX8::create();
  Ref<DirectMusicPerformance8> perf;
  output::ManualDevice* device = nullptr;
};

TEST_F(RenderThread, AllocatesNothingWhilePlayingLoopingAndChangingEverything) {
  ASSERT_NO_FATAL_FAILURE(start());

  // Read at the end: kept however long the renders take on a busy machine.
  perf->core()->set_notification_lifetime(std::chrono::hours(1));
  testing::CountingSink sink;
  std::int32_t handle = 0;
  ASSERT_EQ(root->CreateEvent(&sink, handle), com::S_OK);
  ASSERT_EQ(perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  ASSERT_EQ(perf->SetNotificationHandle(handle), com::S_OK);

  // All four effects on buffer 0.
  Ref<DirectMusicAudioPath8> path;
  ASSERT_EQ(perf->GetDefaultAudioPath(path), com::S_OK);
  Ref<com::Object> object;
  ASSERT_EQ(path->GetObjectInPath(DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 0, kAllObjectsText, 0,
                                  kSoundBufferInterfaceText, object),
            com::S_OK);
  Ref<DirectSoundBuffer8> buffer;
  ASSERT_EQ(com::query(object, buffer), com::S_OK);
  DSEFFECTDESC chain[4];
  chain[0].guidDSFXClass = "GUID_DSFX_STANDARD_DISTORTION";
  chain[1].guidDSFXClass = "GUID_DSFX_STANDARD_CHORUS";
  chain[2].guidDSFXClass = "GUID_DSFX_WAVES_REVERB";
  chain[3].guidDSFXClass = "GUID_DSFX_STANDARD_I3DL2REVERB";
  std::int32_t results[4] = {};
  ASSERT_EQ(path->Activate(false), com::S_OK);
  ASSERT_EQ(buffer->SetFX(4, chain, results), com::S_OK);
  ASSERT_EQ(path->Activate(true), com::S_OK);

  Ref<DirectMusicLoader8> loader;
  ASSERT_EQ(root->DirectMusicLoaderCreate(loader), com::S_OK);
  Ref<DirectMusicSegment8> segment;
  ASSERT_EQ(loader->LoadSegment(kFile, segment), com::S_OK);
  std::int32_t length = 0;
  ASSERT_EQ(segment->GetLength(length), com::S_OK);
  ASSERT_EQ(segment->SetStartPoint(length - 768 * 4), com::S_OK);  // a bar before the end
  ASSERT_EQ(segment->SetRepeats(2), com::S_OK);

  Ref<DirectMusicSegmentState8> state;
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_watched(device, kRate * 4, seen);  // start, the chase, the first loop

  ASSERT_EQ(perf->SetMasterTempo(1.7f), com::S_OK);
  ASSERT_EQ(perf->SetMasterVolume(-600), com::S_OK);
  Ref<com::Object> chorus_object;
  ASSERT_EQ(buffer->GetObjectInPath("GUID_DSFX_STANDARD_CHORUS", 0, "IID_DirectSoundFXChorus",
                                    chorus_object),
            com::S_OK);
  Ref<DirectSoundFXChorus8> chorus;
  ASSERT_EQ(com::query(chorus_object, chorus), com::S_OK);
  DSFXCHORUS chorus_params{};
  ASSERT_EQ(chorus->GetAllParameters(chorus_params), com::S_OK);
  chorus_params.Depth = 80.0f;
  ASSERT_EQ(chorus->SetAllParameters(chorus_params), com::S_OK);
  render_watched(device, kRate * 6, seen);

  ASSERT_EQ(perf->StopEx(segment, 0, 0), com::S_OK);
  render_watched(device, kRate / 2, seen);
  ASSERT_EQ(segment->SetStartPoint(0), com::S_OK);
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_watched(device, kRate * 10, seen);

  EXPECT_EQ(seen.allocations, 0);
  EXPECT_EQ(seen.file_calls, 0);
  std::int32_t position = 0;
  ASSERT_EQ(state->GetSeek(position), com::S_OK);
  EXPECT_GT(position, 0);  // the music really moved on while we counted
  EXPECT_GT(device->last_period_peak(), 0.0f);
  bool taken = true;
  DMUS_NOTIFICATION_PMSG message;
  ASSERT_EQ(perf->GetNotificationPMSG(message, taken), com::S_OK);
  EXPECT_TRUE(taken);  // notifications flowed from the render thread too

  ASSERT_EQ(root->DestroyEvent(handle), com::S_OK);
  ASSERT_EQ(perf->CloseDown(), com::S_OK);
}

// A piece busier than the channel's voice pool, played over one still sounding: the render
// thread takes up the synthesizer made for it, lets the old one ring out beside it and gives
// it back, with no allocation.
TEST_F(RenderThread, AllocatesNothingHandingOverToASynthesizerWithMoreVoices) {
  ASSERT_NO_FATAL_FAILURE(start());
  const int first_pool = perf->core()->voice_pool();

  testing::SequenceBuilder small, busy;
  small.note(0, 4 * 768, 60).note(0, 4 * 768, 64);
  for (std::uint8_t key = 20; key < 100; ++key) busy.note(0, 4 * 768, key);
  for (std::uint8_t key = 30; key < 100; ++key) busy.note(0, 4 * 768, key, 100, 1);
  Ref<DirectMusicSegmentState8> state;
  ASSERT_EQ(
      perf->PlaySegmentEx(small.segment(4 * 768), DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state),
      com::S_OK);
  render_watched(device, kRate / 2, seen);
  ASSERT_EQ(
      perf->PlaySegmentEx(busy.segment(4 * 768), DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state),
      com::S_OK);
  EXPECT_GT(perf->core()->voice_pool(), first_pool);
  render_watched(device, kRate / 2, seen);  // both sound: the new piece and the old tails
  EXPECT_GT(perf->core()->active_voices(), first_pool);
  render_watched(device, kRate * 4, seen);  // long enough for the old one to ring out and go back

  EXPECT_EQ(seen.allocations, 0);
  EXPECT_EQ(seen.file_calls, 0);
  ASSERT_EQ(perf->CloseDown(), com::S_OK);
}

// Every kind of event the render side tells (start, beats over a tempo change and a new time
// signature, a marker and a cue point, loops, the end, a stop; a recording's loop, cue points
// and end) goes into its ring without an allocation.
TEST_F(RenderThread, AllocatesNothingTellingEveryKindOfEvent) {
  const std::filesystem::path midi = std::filesystem::temp_directory_path() /
                                     ("orvan_events_" + std::to_string(getpid()) + ".mid");
  const std::filesystem::path cued = std::filesystem::temp_directory_path() /
                                     ("orvan_events_" + std::to_string(getpid()) + ".wav");
  // A second at 44.1 kHz looping over [0.25 s, 0.75 s), played twice: cue points a and b in
  // the first pass, b and c in the second.
  ASSERT_NO_FATAL_FAILURE(orvan::testing::write_cued_wav(
      cued, 44100, 1.0, 11025, 33075, {{5000, "a"}, {22050, "b"}, {40000, "c"}}));
  test::SmfWriter smf(0, 480);
  smf.add_track()
      .tempo(0, 500000)
      .program_change(0, 0, 0)
      .note_on(0, 0, 60, 100)
      .marker(480, "verse")
      .time_signature(480, 3, 2)
      .tempo(0, 400000)
      .meta(480, 0x07, {'c', 'u', 'e'})
      .note_off(480, 0, 60)
      .end_of_track(480);
  ASSERT_TRUE(smf.write_file(midi.string()));

  auto events = std::make_shared<MusicEventRing>();
  ASSERT_NO_FATAL_FAILURE(start(events));
  Ref<DirectMusicLoader8> loader;
  ASSERT_EQ(root->DirectMusicLoaderCreate(loader), com::S_OK);
  Ref<DirectMusicSegment8> segment;
  ASSERT_EQ(loader->LoadSegment(midi.string(), segment), com::S_OK);
  std::filesystem::remove(midi);
  ASSERT_EQ(segment->SetRepeats(2), com::S_OK);
  Ref<DirectMusicSegmentState8> state;
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_watched(device, kRate * 8, seen);  // three passes of 2.2 s and the end
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_watched(device, kRate * 3 / 4, seen);  // past the verse
  ASSERT_EQ(perf->StopEx(segment, 0, 0), com::S_OK);
  render_watched(device, kRate / 2, seen);
  Ref<DirectMusicSegment8> recording;
  ASSERT_EQ(loader->LoadSegment(cued.string(), recording), com::S_OK);
  std::filesystem::remove(cued);
  ASSERT_EQ(recording->SetRepeats(1), com::S_OK);
  ASSERT_EQ(perf->PlaySegmentEx(recording, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state),
            com::S_OK);
  render_watched(device, kRate * 2, seen);  // 1.25 s of it and the end
  // Once more, a stinger of itself over it from 0.1 s, and from 0.2 s the MIDI piece with
  // the recording fading out under it: the recording is told stopped, the stinger nothing.
  ASSERT_EQ(perf->PlaySegmentEx(recording, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state),
            com::S_OK);
  render_watched(device, kRate / 10, seen);
  PerformanceCore::QueuedStart stinger;
  stinger.immediate = true;
  stinger.secondary = true;
  Ref<DirectMusicSegmentState8> stinger_state;
  ASSERT_EQ(perf->core()->play(recording, stinger_state, &stinger), com::S_OK);
  render_watched(device, kRate / 10, seen);
  PerformanceCore::QueuedStart next;
  next.immediate = true;
  next.fade_frames = kRate / 2;
  ASSERT_EQ(perf->core()->play(segment, state, &next), com::S_OK);
  render_watched(device, kRate, seen);  // past the verse

  EXPECT_EQ(seen.allocations, 0);
  EXPECT_EQ(seen.file_calls, 0);
  int told[7] = {};
  MusicEvent event;
  while (events->take(event)) ++told[static_cast<int>(event.kind)];
  EXPECT_EQ(told[static_cast<int>(MusicEventKind::Started)], 3 + 2);
  EXPECT_EQ(told[static_cast<int>(MusicEventKind::Looped)], 2 + 1);
  EXPECT_EQ(told[static_cast<int>(MusicEventKind::Ended)], 1 + 1);
  EXPECT_EQ(told[static_cast<int>(MusicEventKind::Stopped)], 1 + 1);
  EXPECT_EQ(told[static_cast<int>(MusicEventKind::TransitionDone)], 1);
  // MIDI: two a pass and the verse; the recording: two a pass; then its first and the verse.
  EXPECT_EQ(told[static_cast<int>(MusicEventKind::Marker)], 7 + 4 + 2);
  EXPECT_GT(told[static_cast<int>(MusicEventKind::Beat)], 3 * 4);
  EXPECT_EQ(events->overflowed(), 0u);
  ASSERT_EQ(perf->CloseDown(), com::S_OK);
}

// Collections downloaded before a play and during it: installing one, choosing the programs
// it has and those it lacks (General MIDI below it, drums too), a program nobody foresaw,
// switching to another collection mid-note and playing a segment without one.
TEST_F(RenderThread, AllocatesAndReadsNothingWithDownloadedCollections) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("orvan-render-dls-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  ASSERT_NO_FATAL_FAILURE(start());
  Ref<DirectMusicAudioPath8> path;
  ASSERT_EQ(perf->GetDefaultAudioPath(path), com::S_OK);
  Ref<DirectMusicLoader8> loader;
  ASSERT_EQ(root->DirectMusicLoaderCreate(loader), com::S_OK);

  const auto collection = [&](const std::string& name, const test::DlsCollection& c) {
    const std::string file = (dir / name).string();
    EXPECT_TRUE(test::save_bytes(file, test::write_dls(c)));
    Ref<DirectMusicCollection8> out;
    EXPECT_EQ(loader->LoadCollection(file, out), com::S_OK);
    return out;
  };
  // Half a second per note (960 ticks a second): programs 0 and 1 from the collection, 2 and
  // 40 from General MIDI, a kick on the drum channel.
  const auto segment_of = [&](const std::string& name) {
    test::SmfWriter smf(0, 480);
    auto& track = smf.add_track();
    track.tempo_bpm(0, 120.0);
    for (int program : {0, 1, 2, 40}) {
      track.program_change(0, 0, program).note_on(0, 0, 69, 100).note_off(480, 0, 69);
    }
    track.note_on(0, 9, 36, 100).note_off(480, 9, 36).end_of_track(0);
    const std::string file = (dir / name).string();
    EXPECT_TRUE(smf.write_file(file));
    Ref<DirectMusicSegment8> segment;
    EXPECT_EQ(loader->LoadSegment(file, segment), com::S_OK);
    return segment;
  };

  test::DlsCollection square_on_zero;
  square_on_zero.waves.push_back(test::make_square_wave(440.0, 44100, 69));
  square_on_zero.instruments.push_back({.program = 0, .wave = 0, .name = "Square"});
  const auto sine_and_square = collection("c.dls", test::sine_and_square_collection());
  const auto square = collection("square.dls", square_on_zero);

  auto with = segment_of("with.mid");
  ASSERT_EQ(with->ConnectToCollection(sine_and_square), com::S_OK);
  ASSERT_EQ(with->Download(path), com::S_OK);
  render_watched(device, kRate / 10, seen);  // installed while nothing plays
  Ref<DirectMusicSegmentState8> state;
  ASSERT_EQ(perf->PlaySegmentEx(with, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_watched(device, kRate / 4, seen);
  EXPECT_GT(perf->core()->active_voices(), 0);  // the collection's sine is sounding
  // Another collection for the same segment while its note sounds.
  ASSERT_EQ(with->ConnectToCollection(square), com::S_OK);
  ASSERT_EQ(with->Download(path), com::S_OK);
  render_watched(device, kRate * 3, seen);

  auto without = segment_of("without.mid");
  ASSERT_EQ(perf->PlaySegmentEx(without, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_watched(device, kRate, seen);
  ASSERT_EQ(perf->PlaySegmentEx(with, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_watched(device, kRate, seen);

  EXPECT_EQ(seen.allocations, 0);
  EXPECT_EQ(seen.file_calls, 0);
  EXPECT_EQ(perf->core()->downloaded_collections(), 2u);
  EXPECT_GT(device->last_period_peak(), 0.0f);
  ASSERT_EQ(perf->CloseDown(), com::S_OK);
  fs::remove_all(dir);
}

// A program change that no download foresaw: FluidSynth falls back within the instruments
// downloaded (here to the piano, bank 0 program 0) without reading or allocating, and a
// note that no downloaded zone answers stays silent. Two pieces downloaded one after the
// other switch fonts mid-note without either.
TEST_F(RenderThread, AnUnforeseenProgramFallsBackToDownloadedInstrumentsWithoutReading) {
  const auto play = [](int program, int key) {
    std::unique_ptr<synth::Synth> s;
    EXPECT_EQ(synth::Synth::create(kRate, orvan::testing::kSmallSoundFont, s), com::S_OK);
    const synth::PresetUse piano_middle_c[] = {{{0, 0}, {60 << 7 | 100}}};
    struct _fluid_sfont_t* instruments = nullptr;
    EXPECT_EQ(s->library()->load_instruments(piano_middle_c, instruments), com::S_OK);
    std::vector<float> dry_l(kRate / 4), dry_r(kRate / 4), wet_l(kRate / 4), wet_r(kRate / 4);
    test::begin_render_watch();
    s->sound_fonts(instruments, nullptr);
    s->channel_message(static_cast<std::uint8_t>(0xC0), static_cast<std::uint8_t>(program), 0);
    s->channel_message(0x90, static_cast<std::uint8_t>(key), 100);
    s->render(kRate / 4, dry_l.data(), dry_r.data(), wet_l.data(), wet_r.data());
    s->flush();
    const test::RenderActivity activity = test::end_render_watch();
    EXPECT_EQ(activity.allocations, 0) << "program " << program << ", key " << key;
    EXPECT_EQ(activity.file_calls, 0) << "program " << program << ", key " << key;
    s.reset();
    synth::discard_font(instruments);
    return dry_l;
  };
  const std::vector<float> piano = play(0, 60);
  float loudest = 0.0f;
  for (float v : piano) loudest = std::max(loudest, std::abs(v));
  EXPECT_GT(loudest, 0.01f);
  EXPECT_EQ(play(40, 60), piano) << "the violin nobody downloaded falls back to the piano";
  const std::vector<float> unanswered = play(40, 21);
  EXPECT_EQ(std::count(unanswered.begin(), unanswered.end(), 0.0f),
            static_cast<std::ptrdiff_t>(unanswered.size()));

  std::unique_ptr<synth::Synth> s;
  ASSERT_EQ(synth::Synth::create(kRate, orvan::testing::kSmallSoundFont, s), com::S_OK);
  const synth::PresetUse piano_use[] = {{{0, 0}, {60 << 7 | 100}}};
  const synth::PresetUse violin_use[] = {{{0, 40}, {60 << 7 | 100}}};
  struct _fluid_sfont_t* piano_font = nullptr;
  struct _fluid_sfont_t* violin_font = nullptr;
  ASSERT_EQ(s->library()->load_instruments(piano_use, piano_font), com::S_OK);
  ASSERT_EQ(s->library()->load_instruments(violin_use, violin_font), com::S_OK);
  std::vector<float> l(kRate / 4), r(kRate / 4), wl(kRate / 4), wr(kRate / 4);
  test::begin_render_watch();
  s->sound_fonts(piano_font, nullptr);
  s->channel_message(0x90, 60, 100);
  s->render(kRate / 8, l.data(), r.data(), wl.data(), wr.data());
  s->sound_fonts(violin_font, nullptr);
  s->channel_message(0xC0, 40, 0);
  s->channel_message(0x90, 60, 100);
  s->render(kRate / 8, &l[kRate / 8], &r[kRate / 8], &wl[kRate / 8], &wr[kRate / 8]);
  s->flush();
  const bool piano_ended = s->voices_of_earlier_instruments_ended();
  const test::RenderActivity switching = test::end_render_watch();
  EXPECT_FALSE(piano_ended) << "the piano's note still sounds";
  EXPECT_EQ(switching.allocations, 0);
  EXPECT_EQ(switching.file_calls, 0);
  s.reset();
  synth::discard_font(piano_font);
  synth::discard_font(violin_font);
}

// The decoder reads the file on its own thread; the render thread only takes what it left.
TEST_F(RenderThread, AllocatesAndReadsNothingWhileARecordingPlaysAndLoops) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("orvan-render-wave-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  // 0.7 s of 44.1 kHz FLAC: every pass is resampled, and a loop falls inside a device period.
  const std::string file = (dir / "chord.flac").string();
  const auto made = orvan::testing::run_command("sox -n -r 44100 -c 2 -b 16 " + file +
                                                " synth 0.7 sine 440 sine 660 vol 0.3");
  ASSERT_EQ(made.status, 0) << made.out;

  ASSERT_NO_FATAL_FAILURE(start());
  perf->core()->set_notification_lifetime(std::chrono::hours(1));
  ASSERT_EQ(perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  Ref<DirectMusicLoader8> loader;
  ASSERT_EQ(root->DirectMusicLoaderCreate(loader), com::S_OK);
  Ref<DirectMusicSegment8> segment;
  ASSERT_EQ(loader->LoadSegment(file, segment), com::S_OK);
  ASSERT_EQ(segment->SetRepeats(4), com::S_OK);

  Ref<DirectMusicSegmentState8> state;
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_watched(device, kRate * 2, seen);  // the first pass and two loops
  ASSERT_EQ(perf->SetMasterTempo(1.25f), com::S_OK);
  ASSERT_EQ(perf->SetMasterVolume(-600), com::S_OK);
  render_watched(device, kRate, seen);  // stretched, across the next loop
  ASSERT_EQ(perf->SetMasterTempo(1.0f), com::S_OK);
  ASSERT_EQ(perf->StopEx(segment, 0, 0), com::S_OK);
  render_watched(device, kRate / 4, seen);
  ASSERT_EQ(segment->SetStartPoint(500), com::S_OK);  // a play that starts mid-file
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_watched(device, kRate * 2, seen);

  EXPECT_EQ(seen.allocations, 0);
  EXPECT_EQ(seen.file_calls, 0);
  EXPECT_GT(device->last_period_peak(), 0.0f);  // still sounding: the music really played
  int loops = 0;
  bool taken = true;
  DMUS_NOTIFICATION_PMSG message;
  while (taken) {
    ASSERT_TRUE(com::succeeded(perf->GetNotificationPMSG(message, taken)));
    loops += taken && message.notificationOption == DMUS_NOTIFICATION_SEGLOOP ? 1 : 0;
  }
  // All four loops of the first play; the second, 0.37 s from its end, loops at 0.37, 1.07
  // and 1.77 s of its two.
  EXPECT_EQ(loops, 4 + 3);
  ASSERT_EQ(perf->CloseDown(), com::S_OK);
  fs::remove_all(dir);
}

TEST_F(RenderThread, AllocatesAndReadsNothingPlayingAModule) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(perf->AddNotificationType(DMUS_NOTIFY_ON_SEGMENT), com::S_OK);
  // Two notes on 16 rows (1.92 s a pass), the second pattern-looped.
  orvan::testing::XmModule module;
  module.patterns[0].cells.resize(16);
  module.patterns[0].cells[0] = {orvan::testing::XmCell{orvan::testing::xm_note(5, 0), 1}};
  module.patterns[0].cells[4] = {orvan::testing::XmCell{},
                                 orvan::testing::XmCell{0, 0, 0x0E, 0x60}};
  module.patterns[0].cells[7] = {orvan::testing::XmCell{orvan::testing::xm_note(5, 7), 1},
                                 orvan::testing::XmCell{0, 0, 0x0E, 0x61}};
  const std::string file = ::testing::TempDir() + "render_alloc_module.xm";
  orvan::testing::save_xm(module, file);
  Ref<DirectMusicLoader8> loader;
  ASSERT_EQ(root->DirectMusicLoaderCreate(loader), com::S_OK);
  Ref<DirectMusicSegment8> segment;
  ASSERT_EQ(loader->LoadSegment(file, segment), com::S_OK);
  std::remove(file.c_str());
  ASSERT_EQ(segment->SetRepeats(2), com::S_OK);
  ASSERT_EQ(segment->SetStartPoint(768), com::S_OK);

  Ref<DirectMusicSegmentState8> state;
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_watched(device, kRate * 3, seen);  // the start, the module's own loop, a repeat
  ASSERT_EQ(perf->SetMasterTempo(1.6f), com::S_OK);
  ASSERT_EQ(perf->SetMasterVolume(-600), com::S_OK);
  render_watched(device, kRate * 2, seen);
  std::int32_t position = 0;
  ASSERT_EQ(state->GetSeek(position), com::S_OK);
  EXPECT_GT(position, 0);
  ASSERT_EQ(perf->StopEx(segment, 0, 0), com::S_OK);
  render_watched(device, kRate / 2, seen);
  ASSERT_EQ(perf->PlaySegmentEx(segment, DMUS_SEGF_DEFAULT, 0, nullptr, nullptr, state), com::S_OK);
  render_watched(device, kRate * 4, seen);  // to the end of the last pass

  EXPECT_EQ(seen.allocations, 0);
  EXPECT_EQ(seen.file_calls, 0);
  EXPECT_GT(device->last_period_peak(), 0.0f);
  ASSERT_EQ(perf->CloseDown(), com::S_OK);
}

}  // namespace
}  // namespace orvan::music
