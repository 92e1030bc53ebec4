// The object's events through its connection point: what a render made with InitOrvanRender
// and RenderFor tells a sink (beats on the grid of the tempo map, markers, loops, the end), and
// how the events reach sinks: only in the pump of the apartment that advised, a failing sink
// reported once without stopping the others, and a sink that unadvises, releases the object
// or closes the channel from inside an event.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/music/client/settings.h"
#include "tests/component/component_fixture.h"
#include "tests/component/recording_sink.h"
#include "tests/support/run_command.h"
#include "tests/support/smf_writer.h"
#include "tests/support/wav_file.h"

namespace orvan::component_test {
namespace {

constexpr double kRate = 48000.0;
constexpr HRESULT kObjectNotSet = static_cast<HRESULT>(0x800A005Bu);

class Events : public ComponentTest {
 protected:
  // Opens a render at `rate`, loads `midi` (or a recording) and plays it with `loops`
  // repetitions.
  void play(_OrvanMusic2* music, const std::filesystem::path& midi, LONG loops = 0,
            double rate = kRate) {
    Bstr wav((dir_ / (midi.stem().string() + "_out.wav")).string()), file(midi.string());
    ASSERT_EQ(music->InitOrvanRender(wav.get(), static_cast<LONG>(rate)), S_OK);
    ASSERT_EQ(music->Music_Load(file.ptr()), S_OK);
    ASSERT_EQ(music->Music_Play(&loops), S_OK);
  }
  static ULONG pump() {
    ULONG ran = 0;
    EXPECT_TRUE(SUCCEEDED(OrvanPumpApartment(0, &ran)));
    return ran;
  }
  // Writes a piece of one track: `build` adds its events (480 ticks a quarter), and the track
  // ends `end_delta` ticks after the last of them.
  std::filesystem::path piece(const std::string& name, std::uint32_t end_delta,
                              const std::function<void(test::SmfTrack&)>& build) {
    const std::filesystem::path path = dir_ / name;
    test::SmfWriter smf(0, 480);
    test::SmfTrack& track = smf.add_track();
    build(track);
    track.end_of_track(end_delta);
    EXPECT_TRUE(smf.write_file(path.string()));
    return path;
  }

  struct Beat {
    LONG bar, beat;
    double seconds;
  };
  // Plays `midi` to its end and checks every beat, in order, within 64 frames, then the end.
  void expect_beats(const std::filesystem::path& midi, const std::vector<Beat>& expected,
                    double end_seconds) {
    ComPtr<_OrvanMusic2> music = create2();
    RecordingSink sink;
    ComPtr<IConnectionPoint> point = music_events_point(music.get());
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    play(music.get(), midi);
    ASSERT_EQ(music->RenderFor(static_cast<LONG>(end_seconds * 1000) + 500), S_OK);
    EXPECT_TRUE(sink.heard.empty()) << "called outside the pump";
    EXPECT_GT(pump(), 0u);
    const std::vector<Heard> beats = sink.of(DISPID_OrvanMusicEvent_Beat);
    ASSERT_EQ(beats.size(), expected.size());
    for (std::size_t i = 0; i < beats.size(); ++i) {
      EXPECT_EQ(std::make_pair(beats[i].a, beats[i].b),
                std::make_pair(expected[i].bar, expected[i].beat))
          << "beat " << i;
      EXPECT_NEAR(beats[i].frame, expected[i].seconds * kRate, 64.0) << "beat " << i;
    }
    ASSERT_GE(sink.heard.size(), 2u);
    EXPECT_EQ(sink.heard.front().id, DISPID_OrvanMusicEvent_Started);
    EXPECT_NEAR(sink.heard.front().frame, 0.0, 64.0);
    EXPECT_EQ(sink.heard.back().id, DISPID_OrvanMusicEvent_Ended);
    EXPECT_NEAR(sink.heard.back().frame, end_seconds * kRate, 64.0);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
  }

  // An event other than a beat: its kind, name, `a` (Looped: passes left) and time in seconds.
  using Told = std::tuple<DISPID, std::u16string, LONG, double>;
  // Checks every event but the beats, in order, each within 64 frames at `rate`.
  static void expect_told(const RecordingSink& sink, const std::vector<Told>& expected,
                          double rate) {
    std::vector<Told> told;
    for (const Heard& h : sink.heard)
      if (h.id != DISPID_OrvanMusicEvent_Beat) told.emplace_back(h.id, h.name, h.a, h.frame);
    ASSERT_EQ(told.size(), expected.size());
    for (std::size_t i = 0; i < told.size(); ++i) {
      EXPECT_EQ(std::get<0>(told[i]), std::get<0>(expected[i])) << i;
      EXPECT_EQ(std::get<1>(told[i]), std::get<1>(expected[i])) << i;
      EXPECT_EQ(std::get<2>(told[i]), std::get<2>(expected[i])) << i;
      EXPECT_NEAR(std::get<3>(told[i]), std::get<3>(expected[i]) * rate, 64.0) << i;
    }
  }
};

TEST_F(Events, TheClassNamesItsSourceAndAnAdvisedSinkIsHeld) {
  ComPtr<_OrvanMusic2> music = create2();
  ComPtr<IProvideClassInfo2> info;
  ASSERT_EQ(music->QueryInterface(IID_IProvideClassInfo2, info.out_void()), S_OK);
  GUID source = IID_NULL;
  ASSERT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISPIID, &source), S_OK);
  EXPECT_TRUE(source == DIID___OrvanMusic);
  ComPtr<ITypeInfo> cls;
  ASSERT_EQ(info->GetClassInfo(cls.out()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == CLSID_OrvanMusic);
  cls->ReleaseTypeAttr(attr);
  info.reset();  // the provider is the object itself

  RecordingSink sink;
  {
    ComPtr<IConnectionPoint> point = music_events_point(music.get());
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    EXPECT_EQ(sink.refs, 2u);
  }
  music.reset();
  EXPECT_EQ(sink.refs, 1u) << "the object's end lets go of its sinks";
}

TEST_F(Events, BeatsFollowTheTempoMapAndTheTimeSignatures) {
  // 100 BPM in 4/4 (a beat is 0.6 s), three bars.
  std::vector<Beat> steady;
  for (int i = 0; i < 12; ++i) steady.push_back({i / 4 + 1, i % 4 + 1, 0.6 * i});
  expect_beats(piece("steady.mid", 12 * 480,
                     [](test::SmfTrack& t) {
                       t.tempo(0, 600000).time_signature(0, 4, 2).note_on(0, 0, 60, 100);
                     }),
               steady, 7.2);

  // A bar of 4/4 at 120 BPM, a bar of 3/4 at 60 BPM, a bar of 4/4: beats at 0, 0.5, 1, 1.5,
  // then a second each.
  expect_beats(piece("changing.mid", 4 * 480,
                     [](test::SmfTrack& t) {
                       t.tempo(0, 500000)
                           .time_signature(0, 4, 2)
                           .note_on(0, 0, 60, 100)
                           .time_signature(4 * 480, 3, 2)
                           .tempo(0, 1000000)
                           .time_signature(3 * 480, 4, 2);
                     }),
               {{1, 1, 0.0},
                {1, 2, 0.5},
                {1, 3, 1.0},
                {1, 4, 1.5},
                {2, 1, 2.0},
                {2, 2, 3.0},
                {2, 3, 4.0},
                {3, 1, 5.0},
                {3, 2, 6.0},
                {3, 3, 7.0},
                {3, 4, 8.0}},
               9.0);
}

TEST_F(Events, MarkersAndLoopsArriveWithTheirFramesAndAStopIsTold) {
  // Two seconds at 120 BPM: a marker at 0.5 s, a cue point at 1.5 s; played three times.
  const auto midi = piece("marked.mid", 480, [](test::SmfTrack& t) {
    t.tempo(0, 500000)
        .note_on(0, 0, 60, 100)
        .marker(480, "verse")
        .meta(2 * 480, 0x07, {'d', 'o', 'o', 'r'});
  });
  RecordingSink sink;  // outlives the object, which lets go of it when it ends
  ComPtr<_OrvanMusic2> music = create2();
  ComPtr<IConnectionPoint> point = music_events_point(music.get());
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  play(music.get(), midi, 2);
  ASSERT_EQ(music->RenderFor(6500), S_OK);
  pump();
  expect_told(sink,
              {{DISPID_OrvanMusicEvent_Started, u"", 0, 0.0},
               {DISPID_OrvanMusicEvent_Marker, u"verse", 0, 0.5},
               {DISPID_OrvanMusicEvent_Marker, u"door", 0, 1.5},
               {DISPID_OrvanMusicEvent_Looped, u"", 1, 2.0},
               {DISPID_OrvanMusicEvent_Marker, u"verse", 0, 2.5},
               {DISPID_OrvanMusicEvent_Marker, u"door", 0, 3.5},
               {DISPID_OrvanMusicEvent_Looped, u"", 0, 4.0},
               {DISPID_OrvanMusicEvent_Marker, u"verse", 0, 4.5},
               {DISPID_OrvanMusicEvent_Marker, u"door", 0, 5.5},
               {DISPID_OrvanMusicEvent_Ended, u"", 0, 6.0}},
              kRate);

  // Played again and stopped 300 ms later: frames go on counting from InitOrvanRender.
  sink.heard.clear();
  LONG once = 0;
  ASSERT_EQ(music->Music_Play(&once), S_OK);
  ASSERT_EQ(music->RenderFor(300), S_OK);
  ASSERT_EQ(music->Music_Stop(), S_OK);
  ASSERT_EQ(music->RenderFor(100), S_OK);
  pump();
  ASSERT_GE(sink.heard.size(), 2u);
  EXPECT_EQ(sink.heard.front().id, DISPID_OrvanMusicEvent_Started);
  EXPECT_NEAR(sink.heard.front().frame, 6.5 * kRate, 64.0);
  EXPECT_EQ(sink.heard.back().id, DISPID_OrvanMusicEvent_Stopped);
  EXPECT_NEAR(sink.heard.back().frame, 6.8 * kRate, 64.0);
  EXPECT_EQ(sink.of(DISPID_OrvanMusicEvent_Ended).size(), 0u);
}

// A recording tells its loops at the seam of its sampler loop, its end, and its cue points by
// name, each at the output frame that plays it, whether it is resampled or not; a piece queued
// for its next marker starts on its next cue point.
TEST_F(Events, ARecordingTellsItsLoopsEndAndCuePointsAtTheirFrames) {
  // Two seconds at 44.1 kHz looping over [0.5 s, 1.5 s), played three times: from 0 to 1.5 s,
  // from 0.5 to 1.5 s, from 0.5 s to the end. The third cue point has no label, the fourth's
  // label is the fourth identifier's.
  constexpr int kFile = 44100;
  const std::filesystem::path cued = dir_ / "cued.wav";
  ASSERT_NO_FATAL_FAILURE(testing::write_cued_wav(cued, kFile, 2.0, kFile / 2, kFile * 3 / 2,
                                                  {{kFile / 4, "intro"},
                                                   {kFile * 4 / 5, "verse"},
                                                   {kFile * 6 / 5, ""},
                                                   {kFile * 9 / 5, "coda"}}));
  for (const double rate : {44100.0, 48000.0}) {
    SCOPED_TRACE(rate);
    RecordingSink sink;  // outlives the object, which lets go of it when it ends
    ComPtr<_OrvanMusic2> music = create2();
    ComPtr<IConnectionPoint> point = music_events_point(music.get());
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    play(music.get(), cued, 2, rate);
    ASSERT_EQ(music->RenderFor(4500), S_OK);
    pump();
    expect_told(sink,
                {{DISPID_OrvanMusicEvent_Started, u"", 0, 0.0},
                 {DISPID_OrvanMusicEvent_Marker, u"intro", 0, 0.25},
                 {DISPID_OrvanMusicEvent_Marker, u"verse", 0, 0.8},
                 {DISPID_OrvanMusicEvent_Marker, u"", 0, 1.2},
                 {DISPID_OrvanMusicEvent_Looped, u"", 1, 1.5},
                 {DISPID_OrvanMusicEvent_Marker, u"verse", 0, 1.8},
                 {DISPID_OrvanMusicEvent_Marker, u"", 0, 2.2},
                 {DISPID_OrvanMusicEvent_Looped, u"", 0, 2.5},
                 {DISPID_OrvanMusicEvent_Marker, u"verse", 0, 2.8},
                 {DISPID_OrvanMusicEvent_Marker, u"", 0, 3.2},
                 {DISPID_OrvanMusicEvent_Marker, u"coda", 0, 3.8},
                 {DISPID_OrvanMusicEvent_Ended, u"", 0, 4.0}},
                rate);

    // Played again from 4.5 s and a piece queued 0.5 s in for the next marker: "verse".
    sink.heard.clear();
    LONG once = 0;
    ASSERT_EQ(music->Music_Play(&once), S_OK);
    ASSERT_EQ(music->RenderFor(500), S_OK);
    Bstr next(cued.string());
    ASSERT_EQ(music->Music_PlayNext(next.get(), OBND_MARKER, 0), S_OK);
    ASSERT_EQ(music->RenderFor(1000), S_OK);
    pump();
    const std::vector<Heard> done = sink.of(DISPID_OrvanMusicEvent_TransitionDone);
    ASSERT_EQ(done.size(), 1u);
    // A start lands within a synthesizer block after its boundary, and the boundary is the
    // cue point on music time's grid (1536 a second).
    EXPECT_GE(done[0].frame, (4.5 + 0.8) * rate - rate / 1536);
    EXPECT_LE(done[0].frame, (4.5 + 0.8) * rate + rate / 1536 + 64.0);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
  }
}

// A piece queued for the next bar takes over there: the old one stops, the new one starts
// and TransitionDone says so, all at the bar's frame; the new piece's markers have names.
TEST_F(Events, APieceQueuedForTheBarIsToldDoneAtTheBar) {
  // 100 BPM in 4/4: bars every 2.4 s. Queued at 1 s, the next bar is at 2.4 s.
  const auto tune = [](test::SmfTrack& t) {
    t.tempo(0, 600000).time_signature(0, 4, 2).note_on(0, 0, 60, 100);
  };
  const auto first = piece("first.mid", 12 * 480, tune);
  const auto next = piece("next.mid", 12 * 480, [&](test::SmfTrack& t) {
    tune(t);
    t.marker(240, "verse");  // half a beat in: 2.7 s
  });
  RecordingSink sink;  // outlives the object, which lets go of it when it ends
  ComPtr<_OrvanMusic2> music = create2();
  ComPtr<IConnectionPoint> point = music_events_point(music.get());
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  play(music.get(), first);
  ASSERT_EQ(music->RenderFor(1000), S_OK);
  Bstr file(next.string());
  ASSERT_EQ(music->Music_PlayNext(file.get(), OBND_BAR, 0), S_OK);
  ASSERT_EQ(music->RenderFor(2000), S_OK);
  pump();
  const std::vector<Heard> done = sink.of(DISPID_OrvanMusicEvent_TransitionDone);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_NEAR(done[0].frame, 2.4 * kRate, 64.0);
  const std::vector<Heard> started = sink.of(DISPID_OrvanMusicEvent_Started);
  const std::vector<Heard> stopped = sink.of(DISPID_OrvanMusicEvent_Stopped);
  ASSERT_EQ(started.size(), 2u);
  ASSERT_EQ(stopped.size(), 1u);
  EXPECT_EQ(started[1].frame, done[0].frame);
  EXPECT_EQ(stopped[0].frame, done[0].frame);
  const std::vector<Heard> markers = sink.of(DISPID_OrvanMusicEvent_Marker);
  ASSERT_EQ(markers.size(), 1u);
  EXPECT_EQ(markers[0].name, u"verse");
  EXPECT_NEAR(markers[0].frame, 2.7 * kRate, 64.0);
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

// Only the channel's piece is told. A stinger sounds over it untold; a recording that fades
// out under the next piece is told Stopped at the boundary, as a MIDI piece that stops there
// is, and nothing of its tail: not its later cue points, not its end.
TEST_F(Events, NeitherAStingerNorAPieceFadingOutUnderTheNextIsTold) {
  constexpr int kFile = 48000;
  const std::filesystem::path cued = dir_ / "cued.wav", sting = dir_ / "sting.wav";
  ASSERT_NO_FATAL_FAILURE(testing::write_cued_wav(cued, kFile, 2.0, 0, 0,
                                                  {{kFile / 4, "intro"},
                                                   {kFile * 3 / 4, "verse"},
                                                   {kFile * 5 / 4, "bridge"},
                                                   {kFile * 7 / 4, "coda"}}));
  ASSERT_NO_FATAL_FAILURE(testing::write_cued_wav(sting, kFile, 0.5, 0, 0, {{kFile / 10, "hit"}}));
  // 120 BPM for two seconds, a marker half a second in.
  const auto next = piece("next.mid", 3 * 480, [](test::SmfTrack& t) {
    t.tempo(0, 500000).note_on(0, 0, 60, 100).marker(480, "door");
  });
  // Each queued 0.5 s in for the recording's next cue point, "verse" at 0.75 s.
  const auto told_with = [&](const std::function<void(_OrvanMusic2*)>& queue) {
    RecordingSink sink;  // outlives the object, which lets go of it when it ends
    ComPtr<_OrvanMusic2> music = create2();
    ComPtr<IConnectionPoint> point = music_events_point(music.get());
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(&sink, &cookie), S_OK);
    play(music.get(), cued);
    EXPECT_EQ(music->RenderFor(500), S_OK);
    queue(music.get());
    EXPECT_EQ(music->RenderFor(2500), S_OK);
    pump();
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    return sink;
  };

  // The stinger sounds from 0.75 s to 1.25 s, its own cue point at 0.85 s.
  const RecordingSink stung = told_with([&](_OrvanMusic2* music) {
    Bstr file(sting.string());
    EXPECT_EQ(music->PlayStinger(file.get(), OBND_MARKER), S_OK);
  });
  expect_told(stung,
              {{DISPID_OrvanMusicEvent_Started, u"", 0, 0.0},
               {DISPID_OrvanMusicEvent_Marker, u"intro", 0, 0.25},
               {DISPID_OrvanMusicEvent_Marker, u"verse", 0, 0.75},
               {DISPID_OrvanMusicEvent_Marker, u"bridge", 0, 1.25},
               {DISPID_OrvanMusicEvent_Marker, u"coda", 0, 1.75},
               {DISPID_OrvanMusicEvent_Ended, u"", 0, 2.0}},
              kRate);

  // A fade of 1.5 s: the recording sounds on under the next piece to its own end at 2 s.
  const RecordingSink faded = told_with([&](_OrvanMusic2* music) {
    Bstr file(next.string());
    EXPECT_EQ(music->Music_PlayNext(file.get(), OBND_MARKER, 1500), S_OK);
  });
  expect_told(faded,
              {{DISPID_OrvanMusicEvent_Started, u"", 0, 0.0},
               {DISPID_OrvanMusicEvent_Marker, u"intro", 0, 0.25},
               {DISPID_OrvanMusicEvent_Marker, u"verse", 0, 0.75},  // the boundary itself
               {DISPID_OrvanMusicEvent_Stopped, u"", 0, 0.75},
               {DISPID_OrvanMusicEvent_Started, u"", 0, 0.75},
               {DISPID_OrvanMusicEvent_TransitionDone, u"", 0, 0.75},
               {DISPID_OrvanMusicEvent_Marker, u"door", 0, 1.25},
               {DISPID_OrvanMusicEvent_Ended, u"", 0, 2.75}},
              kRate);
  EXPECT_EQ(faded.of(DISPID_OrvanMusicEvent_Beat).size(), 4u);  // the next piece's only
}

// Delivery: each sink on the thread that advised it, a failing one reported once.
TEST_F(Events, SinksAreCalledOnlyInTheirOwnApartmentAndAFailureStopsNoOther) {
  const auto midi = piece("four.mid", 4 * 480,
                          [](test::SmfTrack& t) { t.tempo(0, 500000).note_on(0, 0, 60, 100); });
  ComPtr<_OrvanMusic2> music = create2();
  RecordingSink failing, here, there;
  failing.status = E_FAIL;
  ComPtr<IConnectionPoint> point = music_events_point(music.get());
  DWORD cookies[2] = {};
  ASSERT_EQ(point->Advise(&failing, &cookies[0]), S_OK);
  ASSERT_EQ(point->Advise(&here, &cookies[1]), S_OK);

  // Another apartment advises through the same point (its thread is free to call it: the
  // point answers only the object's own apartment, so that refusal is checked too).
  std::thread other([&] {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(&there, &cookie), RPC_E_WRONG_THREAD);
    CoUninitialize();
  });
  other.join();
  EXPECT_EQ(there.refs, 1u);

  ::testing::internal::CaptureStderr();
  play(music.get(), midi);
  ASSERT_EQ(music->RenderFor(2500), S_OK);
  pump();
  const std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(failing.heard.size(), here.heard.size());
  EXPECT_EQ(here.of(DISPID_OrvanMusicEvent_Beat).size(), 4u);
  EXPECT_EQ(here.heard.back().id, DISPID_OrvanMusicEvent_Ended);
  for (const Heard& h : here.heard) EXPECT_EQ(h.thread, std::this_thread::get_id());
  std::size_t reports = 0;
  for (std::size_t at = report.find("event sink"); at != std::string::npos;
       at = report.find("event sink", at + 1))
    ++reports;
  EXPECT_EQ(reports, 1u) << report;
  EXPECT_EQ(point->Unadvise(cookies[0]), S_OK);
  EXPECT_EQ(point->Unadvise(cookies[1]), S_OK);
}

TEST_F(Events, ASinkMayUnadviseReleaseTheObjectOrCloseTheChannelInsideAnEvent) {
  const auto midi = piece("eight.mid", 8 * 480,
                          [](test::SmfTrack& t) { t.tempo(0, 500000).note_on(0, 0, 60, 100); });
  // Unadvise from inside the first beat: nothing more for that sink, the other hears all.
  {
    ComPtr<_OrvanMusic2> music = create2();
    ComPtr<IConnectionPoint> point = music_events_point(music.get());
    RecordingSink leaving, staying;
    DWORD cookie = 0, other = 0;
    ASSERT_EQ(point->Advise(&leaving, &cookie), S_OK);
    ASSERT_EQ(point->Advise(&staying, &other), S_OK);
    leaving.on_event = [&](const Heard& h) {
      if (h.id == DISPID_OrvanMusicEvent_Beat) {
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
      }
    };
    play(music.get(), midi);
    ASSERT_EQ(music->RenderFor(4500), S_OK);
    pump();
    EXPECT_EQ(leaving.of(DISPID_OrvanMusicEvent_Beat).size(), 1u);
    EXPECT_EQ(staying.of(DISPID_OrvanMusicEvent_Beat).size(), 8u);
    EXPECT_EQ(leaving.refs, 1u);
    EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(other), S_OK);
  }
  // The last reference released inside the first beat: the events already queued go
  // nowhere, and the sink is let go.
  {
    const int farewells = boxes_->count(kFarewell);
    ComPtr<_OrvanMusic2> music = create2();
    RecordingSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(music_events_point(music.get())->Advise(&sink, &cookie), S_OK);
    sink.on_event = [&](const Heard& h) {
      if (h.id == DISPID_OrvanMusicEvent_Beat && music) music.reset();
    };
    play(music.get(), midi);
    ASSERT_EQ(music->RenderFor(4500), S_OK);
    pump();
    EXPECT_FALSE(music);
    EXPECT_EQ(sink.of(DISPID_OrvanMusicEvent_Beat).size(), 1u);
    EXPECT_EQ(sink.refs, 1u);
    EXPECT_EQ(boxes_->count(kFarewell), farewells + 1);
  }
  // CleanupAudio inside the first beat: what was rendered before still arrives, and the
  // channel is closed.
  {
    ComPtr<_OrvanMusic2> music = create2();
    ComPtr<IConnectionPoint> point = music_events_point(music.get());
    RecordingSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    sink.on_event = [&](const Heard& h) {
      if (h.id == DISPID_OrvanMusicEvent_Beat && h.a == 1 && h.b == 1) {
        EXPECT_EQ(music->CleanupAudio(), S_OK);
      }
    };
    play(music.get(), midi);
    ASSERT_EQ(music->RenderFor(4500), S_OK);
    pump();
    EXPECT_EQ(sink.of(DISPID_OrvanMusicEvent_Beat).size(), 8u);
    EXPECT_EQ(music->RenderFor(100), kObjectNotSet);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
  }
}

// On a device (here the manual one, pumped by the test) nobody calls RenderFor: the channel's
// own thread takes the events off the render side and posts them.
TEST_F(Events, OnADeviceTheChannelsOwnThreadHandsTheEventsOver) {
  RecordingSink sink;  // outlives the object, which lets go of it when it ends
  ComPtr<_OrvanMusic2> music = create2();
  DWORD cookie = 0;
  ComPtr<IConnectionPoint> point = music_events_point(music.get());
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  ASSERT_NO_FATAL_FAILURE(init_and_load(music.get()));
  LONG once = 0;
  ASSERT_EQ(music->Music_Play(&once), S_OK);
  music::output::ManualDevice* device = music::output::last_manual_device();
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->pump(static_cast<std::int64_t>(4.5 * kRate)), S_OK);
  // The organ note: eight quarters at 120 BPM.
  for (int wait = 0;
       wait < 200 && (sink.heard.empty() || sink.heard.back().id != DISPID_OrvanMusicEvent_Ended);
       ++wait) {
    OrvanPumpApartment(50, nullptr);
  }
  EXPECT_EQ(sink.of(DISPID_OrvanMusicEvent_Beat).size(), 8u);
  ASSERT_FALSE(sink.heard.empty());
  EXPECT_EQ(sink.heard.back().id, DISPID_OrvanMusicEvent_Ended);
  EXPECT_NEAR(sink.heard.back().frame, 4.0 * kRate, 64.0);
  for (const Heard& h : sink.heard) EXPECT_EQ(h.thread, std::this_thread::get_id());
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

// On SDL's dummy driver, a client that stops pumping for five seconds while a piece fires a
// beat every 45 frames: a sink's apartment keeps the first 4096 events (the stated bound),
// every one after them is counted, and what it hears plus what is counted is what the tempo
// map fires.
TEST_F(Events, AStalledPumpKeepsTheBoundAndTheDroppedCountSaysExactlyWhatWasLost) {
  constexpr std::size_t kBound = 4096;
  struct DummyDriver {
    const char* saved = std::getenv("SDL_AUDIODRIVER");
    const std::string value = saved ? saved : "";
    DummyDriver() { ::setenv("SDL_AUDIODRIVER", "dummy", 1); }
    ~DummyDriver() {
      if (saved) {
        ::setenv("SDL_AUDIODRIVER", value.c_str(), 1);
      } else {
        ::unsetenv("SDL_AUDIODRIVER");
      }
    }
  } dummy;
  music::PlatformSettings settings = music::platform_settings();
  settings.output = music::OutputKind::RealTime;
  music::set_platform_settings(settings);

  // 4/64 at 4000 BPM: a beat (30 file ticks) every 937.5 us, 45 frames at 48 kHz.
  constexpr double kBeatFrames = 45.0;
  const auto stall = [&](int beats) {
    SCOPED_TRACE(beats);
    const auto fired = static_cast<std::size_t>(beats) + 2;  // and Started and Ended
    const std::size_t expected_dropped = fired > kBound ? fired - kBound : 0;
    const auto midi = piece("fast" + std::to_string(beats) + ".mid", 30 * beats,
                            [](test::SmfTrack& t) { t.tempo(0, 15000).time_signature(0, 4, 6); });
    RecordingSink sink;  // outlives the object, which lets go of it when it ends
    ComPtr<_OrvanMusic2> music = create2();
    ComPtr<IConnectionPoint> point = music_events_point(music.get());
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    LONG hwnd = 0, rate = static_cast<LONG>(kRate), once = 0;
    ASSERT_EQ(music->InitOrvanAudio(&hwnd, &rate), S_OK);
    Bstr file(midi.string());
    ASSERT_EQ(music->Music_Load(file.ptr()), S_OK);
    ASSERT_EQ(music->Music_Play(&once), S_OK);

    // No pump for five seconds, nor until the piece has ended and its events were handed on.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    LONG dropped = 0;
    VARIANT_BOOL playing = VARIANT_TRUE;
    for (int wait = 0; wait < 400; ++wait) {
      ASSERT_EQ(music->IsPlaying(&playing), S_OK);
      ASSERT_EQ(music->GetDroppedEvents(&dropped), S_OK);
      if (!playing && static_cast<std::size_t>(dropped) >= expected_dropped) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(sink.heard.empty());
    for (int wait = 0; wait < 100 && sink.heard.size() + static_cast<std::size_t>(dropped) < fired;
         ++wait) {
      OrvanPumpApartment(50, nullptr);
    }
    EXPECT_EQ(music->GetDroppedEvents(&dropped), S_OK);
    EXPECT_EQ(static_cast<std::size_t>(dropped), expected_dropped);
    ASSERT_EQ(sink.heard.size(), fired - expected_dropped);

    // The first events fired are the ones kept, in order, at the frames of the tempo map.
    const std::vector<Heard>& heard = sink.heard;
    EXPECT_EQ(heard.front().id, DISPID_OrvanMusicEvent_Started);
    for (std::size_t i = 1; i < heard.size(); ++i) {
      const bool end = expected_dropped == 0 && i + 1 == heard.size();
      EXPECT_EQ(heard[i].id, end ? DISPID_OrvanMusicEvent_Ended : DISPID_OrvanMusicEvent_Beat) << i;
      const auto beat = static_cast<LONG>(end ? beats : i - 1);
      if (!end) {
        EXPECT_EQ(std::make_pair(heard[i].a, heard[i].b),
                  std::make_pair(beat / 4 + 1, beat % 4 + 1))
            << i;
      }
      EXPECT_NEAR(heard[i].frame - heard.front().frame, beat * kBeatFrames, 64.0) << i;
    }
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
  };
  // Started, 4094 beats and Ended: exactly the bound, in 3.84 s. Then 4600 beats in 4.31 s.
  stall(4094);
  stall(4600);
}

// The C example's sink prints each beat of the organ note (four quarters at 120 BPM) and the end.
TEST_F(Events, TheCExamplePrintsTheBeatsItsSinkIsTold) {
  const std::string env = "ORVAN_REGISTRY='" + registry_.string() + "' ";
  const testing::CommandOutcome run =
      testing::run_command(env + "'" ORVAN_BEATS_EXAMPLE_PATH "' '" + organ_.string() + "' '" +
                           (dir_ / "beats.wav").string() + "'");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("  0.000 s  bar 1 beat 1\n  0.500 s  bar 1 beat 2\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  3.500 s  bar 2 beat 4\n  4.000 s  end\n"), std::string::npos)
      << run.out;
}

}  // namespace
}  // namespace orvan::component_test
