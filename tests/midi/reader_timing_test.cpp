// Timing of what the reader produces: music time, real time, ordering and event content.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/music/midi/sequence.h"
#include "tests/support/smf_writer.h"

namespace orvan::music::midi {
namespace {

using test::Bytes;
using test::SmfWriter;

Sequence read_ok(const Bytes& bytes) {
  Sequence seq;
  std::string detail;
  const com::HResult hr = read_sequence(bytes, seq, &detail);
  EXPECT_EQ(hr, com::S_OK) << detail;
  return seq;
}

std::vector<const Event*> channel_events(const Sequence& seq) {
  std::vector<const Event*> out;
  for (const Event& e : seq.events) {
    if (e.is_channel()) out.push_back(&e);
  }
  return out;
}

TEST(ReaderTiming, TempoChangesGiveExactLengthAndSeconds) {
  // 480 ticks per quarter: 2 quarters at 120 BPM (1 s), 4 quarters at 60 BPM (4 s), then
  // 3 quarters at 180 BPM (1 s). The longest track ends at 9 quarters.
  SmfWriter smf(1, 480);
  smf.add_track().tempo(0, 500000).tempo(960, 1000000).tempo(1920, 333333).end_of_track(0);
  smf.add_track().note_on(0, 0, 60, 100).note_off(4320, 0, 60).end_of_track(0);
  smf.add_track().note_on(0, 1, 64, 90).end_of_track(100);
  const Sequence seq = read_ok(smf.to_bytes());

  EXPECT_EQ(seq.format, 1);
  EXPECT_EQ(seq.track_count, 3);
  EXPECT_EQ(seq.length, 9 * 768);
  const double expected = 1.0 + 4.0 + 3 * 0.333333;
  EXPECT_NEAR(seq.length_seconds, expected, 1e-9);
  EXPECT_NEAR(seq.tempo.seconds_at(seq.length), expected, 1e-9);
  EXPECT_EQ(seq.tempo_changes, 3);
  EXPECT_EQ(seq.tempo.tempo_at(6 * 768 - 1), 1000000u);
  EXPECT_EQ(seq.tempo.tempo_at(6 * 768), 333333u);
  EXPECT_NEAR(seq.tempo.music_time_at(3.0), 2 * 768 + 2 * 768, 1e-6);
}

TEST(ReaderTiming, AbsoluteTicksConvertWithoutDrift) {
  // 7 ticks per quarter does not divide 768: summing rounded deltas would drift by
  // thousands of music ticks over 20000 events.
  SmfWriter smf(0, 7);
  auto& track = smf.add_track();
  for (int i = 0; i < 10000; ++i) track.note_on(1, 0, 60, 100).note_off(1, 0, 60);
  track.end_of_track(3);
  const Sequence seq = read_ok(smf.to_bytes());

  const auto events = channel_events(seq);
  ASSERT_EQ(events.size(), 20000u);
  for (std::size_t i = 0; i < events.size(); i += 997) {
    const double exact = static_cast<double>(i + 1) * 768.0 / 7.0;
    EXPECT_EQ(events[i]->time, static_cast<std::int32_t>(std::lround(exact))) << "event " << i;
  }
  EXPECT_EQ(seq.length, static_cast<std::int32_t>(std::lround(20003 * 768.0 / 7.0)));
  EXPECT_NEAR(seq.length_seconds, 20003 / 7.0 * 0.5, 1e-9);
}

TEST(ReaderTiming, SmpteDivisionsConvertThroughRealTime) {
  struct Case {
    int fps, ticks_per_frame;
    std::uint32_t end_ticks;
    double seconds;
  };
  const Case cases[] = {
      {25, 40, 3000, 3.0},                      // 1000 ticks a second
      {24, 2, 480, 10.0},                       // 48 ticks a second
      {30, 100, 4500, 1.5},                     // 3000 ticks a second
      {29, 10, 2997, 2997.0 * 1001 / 300000.0}  // 29.97 frames a second
  };
  for (const Case& c : cases) {
    SmfWriter smf(1, SmfWriter::smpte_division(c.fps, c.ticks_per_frame));
    // A tempo event cannot change an SMPTE file's timing.
    smf.add_track()
        .tempo(0, 250000)
        .note_on(c.end_ticks / 2, 0, 60, 1)
        .end_of_track(c.end_ticks - c.end_ticks / 2);
    const Sequence seq = read_ok(smf.to_bytes());
    SCOPED_TRACE(c.fps);
    EXPECT_NEAR(seq.length_seconds, c.seconds, 1e-9);
    EXPECT_EQ(seq.length, static_cast<std::int32_t>(std::lround(c.seconds * 1536)));
    EXPECT_NEAR(seq.tempo.seconds_at(seq.length), c.seconds, 0.5 / 1536);
    EXPECT_EQ(seq.tempo_changes, 0);
    const auto note = channel_events(seq);
    ASSERT_EQ(note.size(), 1u);
    EXPECT_EQ(note[0]->time, static_cast<std::int32_t>(
                                 std::lround(c.seconds * (c.end_ticks / 2) / c.end_ticks * 1536)));
    for (const Event& e : seq.events)
      EXPECT_FALSE(e.status == kMetaStatus && e.data1 == kMetaTempo);
  }
}

TEST(ReaderTiming, RunningStatusCarriesAcrossMetaAndSysEx) {
  SmfWriter smf(0, 96);
  smf.add_track()
      .raw({0x00, 0x90, 60, 100})  // note on with its status
      .raw({0x10, 62, 101})        // running status
      .marker(0, "verse")          // a meta event between
      .raw({0x00, 64, 102})        // running status still note on
      .sysex(0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
      .raw({0x05, 65, 0})             // and after SysEx
      .raw({0x00, 0xC3, 5, 0x01, 7})  // program change twice, one data byte each
      .end_of_track(0);
  const Sequence seq = read_ok(smf.to_bytes());
  const auto events = channel_events(seq);
  ASSERT_EQ(events.size(), 6u);
  const int keys[] = {60, 62, 64, 65};
  const int times[] = {0, 16 * 8, 16 * 8, 21 * 8};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(events[i]->status, 0x90);
    EXPECT_EQ(events[i]->data1, keys[i]);
    EXPECT_EQ(events[i]->time, times[i]);
  }
  EXPECT_EQ(events[3]->data2, 0);
  EXPECT_EQ(events[4]->status, 0xC3);
  EXPECT_EQ(events[4]->data1, 5);
  EXPECT_EQ(events[5]->status, 0xC3);
  EXPECT_EQ(events[5]->data1, 7);
  EXPECT_EQ(events[5]->time, 22 * 8);
}

TEST(ReaderTiming, SysExAndMetaPayloadsAreKept) {
  SmfWriter smf(0, 480);
  smf.add_track()
      .track_name(0, "dropped")
      .time_signature(0, 3, 2)
      .sysex(0, {0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7})
      .sysex_escape(10, {0xF0, 0x43, 0xF7})
      .marker(20, "chorus")
      .end_of_track(0);
  const Sequence seq = read_ok(smf.to_bytes());
  ASSERT_EQ(seq.events.size(), 4u);  // the name is dropped, the end is not an event

  const Event& sig = seq.events[0];
  EXPECT_EQ(sig.status, kMetaStatus);
  EXPECT_EQ(sig.data1, kMetaTimeSignature);
  EXPECT_EQ(Bytes(seq.payload_of(sig).begin(), seq.payload_of(sig).end()), (Bytes{3, 2, 24, 8}));

  const Event& sysex = seq.events[1];
  EXPECT_EQ(sysex.status, kSysExStatus);
  const auto sx = seq.payload_of(sysex);
  EXPECT_EQ(Bytes(sx.begin(), sx.end()), (Bytes{0x41, 0x10, 0x42, 0x12, 0xF7}));

  const Event& escape = seq.events[2];
  EXPECT_EQ(escape.status, kSysExEscapeStatus);
  EXPECT_EQ(escape.time, 16);
  const auto esc = seq.payload_of(escape);
  EXPECT_EQ(Bytes(esc.begin(), esc.end()), (Bytes{0xF0, 0x43, 0xF7}));

  const Event& marker = seq.events[3];
  EXPECT_EQ(marker.data1, kMetaMarker);
  const auto text = seq.payload_of(marker);
  EXPECT_EQ(std::string(text.begin(), text.end()), "chorus");
  EXPECT_EQ(seq.length, 48);
}

TEST(ReaderTiming, TracksMergeByTimeWithTiesInTrackThenFileOrder) {
  SmfWriter smf(1, 768);
  smf.add_track().note_on(10, 0, 1, 1).note_on(0, 0, 2, 1).end_of_track(0);
  smf.add_track().note_on(5, 1, 3, 1).note_on(5, 1, 4, 1).note_on(0, 1, 5, 1).end_of_track(50);
  smf.add_track().note_on(10, 2, 6, 1).end_of_track(0);
  const Sequence seq = read_ok(smf.to_bytes());
  const auto events = channel_events(seq);
  std::vector<int> keys;
  for (const Event* e : events) keys.push_back(e->data1);
  EXPECT_EQ(keys, (std::vector<int>{3, 1, 2, 4, 5, 6}));
  EXPECT_EQ(events[1]->track, 0);
  EXPECT_EQ(events[3]->track, 1);
  EXPECT_EQ(events[5]->track, 2);
  EXPECT_EQ(seq.length, 60);  // the latest end-of-track, not the last event
}

TEST(ReaderTiming, RmidWrappingReadsLikeTheBareFile) {
  SmfWriter smf(1, 192);
  smf.add_track().tempo(0, 400000).end_of_track(0);
  smf.add_track()
      .program_change(0, 2, 40)
      .note_on(0, 2, 70, 80)
      .note_off(193, 2, 70)
      .end_of_track(0);
  const Sequence bare = read_ok(smf.to_bytes());
  Bytes rmid = smf.to_rmid();
  ASSERT_EQ(smf.to_bytes().size() % 2, 1u) << "the fixture should exercise the pad byte";
  const Sequence wrapped = read_ok(rmid);
  EXPECT_EQ(wrapped.length, bare.length);
  EXPECT_EQ(wrapped.events.size(), bare.events.size());
  EXPECT_DOUBLE_EQ(wrapped.length_seconds, bare.length_seconds);
  EXPECT_EQ(bare.length, 193 * 4);

  // Other RIFF chunks before 'data' are skipped.
  Bytes with_info(rmid.begin(), rmid.begin() + 12);
  const Bytes info = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  with_info.insert(with_info.end(), info.begin(), info.end());
  with_info.insert(with_info.end(), rmid.begin() + 12, rmid.end());
  EXPECT_EQ(read_ok(with_info).length, bare.length);
}

TEST(ReaderTiming, ForeignChunksAndTrailingBytesAreSkipped) {
  SmfWriter smf(1, 96);
  smf.add_track().note_on(96, 0, 60, 1).end_of_track(0);
  smf.add_track().note_on(0, 1, 61, 1).end_of_track(192);
  smf.insert_chunk(1, "XFIH", {1, 2, 3, 4, 5});
  Bytes bytes = smf.to_bytes();
  bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE});  // junk after the last declared track
  const Sequence seq = read_ok(bytes);
  EXPECT_EQ(seq.track_count, 2);
  EXPECT_EQ(seq.length, 192 * 8);
  EXPECT_EQ(channel_events(seq).size(), 2u);
}

TEST(TempoMap, ConvertsBothWaysAcrossChanges) {
  const TempoMap map({{768, 1000000, 0}, {0, 250000, 0}, {768, 600000, 0}, {2304, 500000, 0}});
  ASSERT_EQ(map.points().size(), 3u);  // the later point at 768 replaced the earlier one
  EXPECT_DOUBLE_EQ(map.seconds_at(768), 0.25);
  EXPECT_DOUBLE_EQ(map.seconds_at(2304), 0.25 + 2 * 0.6);
  EXPECT_DOUBLE_EQ(map.seconds_at(2304 + 768), 1.45 + 0.5);
  for (double t : {0.0, 100.0, 767.5, 1500.0, 2304.0, 90000.0}) {
    EXPECT_NEAR(map.music_time_at(map.seconds_at(t)), t, 1e-6);
  }

  // Before the first given point, 120 BPM holds.
  const TempoMap late({{1536, 1000000, 0}});
  EXPECT_DOUBLE_EQ(late.seconds_at(1536), 1.0);
  EXPECT_DOUBLE_EQ(late.seconds_at(3072), 3.0);
  EXPECT_EQ(TempoMap().tempo_at(123456), kDefaultTempo);
}

}  // namespace
}  // namespace orvan::music::midi
