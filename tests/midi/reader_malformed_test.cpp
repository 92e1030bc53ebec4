// Broken input: every kind of damage gets its own status, a reason, and no crash.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/music/midi/sequence.h"
#include "tests/midi/allocation_probe.h"
#include "tests/support/smf_writer.h"

namespace orvan::music::midi {
namespace {

using test::Bytes;
using test::SmfWriter;

SmfWriter one_note_file() {
  SmfWriter smf(0, 96);
  smf.add_track().note_on(0, 0, 60, 100).note_off(96, 0, 60).end_of_track(0);
  return smf;
}

struct Damage {
  const char* name;
  Bytes bytes;
  com::HResult expected;
};

Bytes header_only(std::uint16_t format, std::uint16_t tracks, std::uint16_t division) {
  return {'M',
          'T',
          'h',
          'd',
          0,
          0,
          0,
          6,
          static_cast<std::uint8_t>(format >> 8),
          static_cast<std::uint8_t>(format),
          static_cast<std::uint8_t>(tracks >> 8),
          static_cast<std::uint8_t>(tracks),
          static_cast<std::uint8_t>(division >> 8),
          static_cast<std::uint8_t>(division)};
}

Bytes track_file(std::initializer_list<std::uint8_t> events) {
  SmfWriter smf(0, 96);
  smf.add_track().raw(events);
  return smf.to_bytes();
}

std::vector<Damage> damaged_files() {
  const Bytes good = one_note_file().to_bytes();
  std::vector<Damage> cases;
  cases.push_back({"empty", {}, com::MUSIC_E_EMPTY_FILE});
  cases.push_back(
      {"text file", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, com::MUSIC_E_UNSUPPORTED_FORMAT});
  cases.push_back({"WAVE, not RMID", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'},
                   com::MUSIC_E_UNSUPPORTED_FORMAT});
  cases.push_back({"format 2",
                   [] {
                     SmfWriter smf(2, 96);
                     smf.add_track().end_of_track(0);
                     return smf.to_bytes();
                   }(),
                   com::MUSIC_E_UNSUPPORTED_FORMAT});
  cases.push_back({"format 7", header_only(7, 1, 96), com::MUSIC_E_UNSUPPORTED_FORMAT});
  cases.push_back({"tag cut short", Bytes{'M', 'T'}, com::MUSIC_E_TRUNCATED});
  cases.push_back(
      {"header cut short", Bytes(good.begin(), good.begin() + 11), com::MUSIC_E_TRUNCATED});
  cases.push_back(
      {"cut inside the track", Bytes(good.begin(), good.end() - 5), com::MUSIC_E_TRUNCATED});
  cases.push_back({"cut before a declared track",
                   [&] {
                     Bytes b = good;
                     b[11] = 2;  // two tracks declared, one present
                     return b;
                   }(),
                   com::MUSIC_E_TRUNCATED});
  cases.push_back({"cut inside a chunk header",
                   [&] {
                     Bytes b = good;
                     b[11] = 2;
                     b.insert(b.end(), {'M', 'T', 'r'});
                     return b;
                   }(),
                   com::MUSIC_E_TRUNCATED});
  cases.push_back({"no tracks", header_only(1, 0, 96), com::MUSIC_E_NO_TRACKS});
  cases.push_back({"zero division", header_only(0, 1, 0), com::MUSIC_E_CORRUPT});
  cases.push_back(
      {"SMPTE 23 fps", header_only(0, 1, SmfWriter::smpte_division(23, 4)), com::MUSIC_E_CORRUPT});
  cases.push_back({"track size past the end, content complete",
                   one_note_file().declare_chunk_size(0, 1000).to_bytes(),
                   com::MUSIC_E_BAD_CHUNK_SIZE});
  cases.push_back({"absurd track size",
                   one_note_file().declare_chunk_size(0, 0xFFFFFFF0u).to_bytes(),
                   com::MUSIC_E_BAD_CHUNK_SIZE});
  cases.push_back({"absurd header size",
                   [&] {
                     Bytes b = good;
                     b[4] = 0x7F;
                     return b;
                   }(),
                   com::MUSIC_E_BAD_CHUNK_SIZE});
  cases.push_back({"header size below 6",
                   [&] {
                     Bytes b = good;
                     b[7] = 4;
                     return b;
                   }(),
                   com::MUSIC_E_BAD_CHUNK_SIZE});
  cases.push_back({"foreign chunk past the end",
                   one_note_file().insert_chunk(0, "JUNK", {}).to_bytes(),
                   com::MUSIC_E_BAD_CHUNK_SIZE});
  // The empty JUNK chunk above gets an absurd size below.
  cases.back().bytes[14 + 7] = 0xFF;
  cases.back().bytes[14 + 6] = 0xFF;
  cases.push_back({"no end of track", track_file({0x00, 0x90, 60, 100, 0x10, 0x80, 60, 0}),
                   com::MUSIC_E_NO_END_OF_TRACK});
  cases.push_back({"data byte first", track_file({0x00, 60, 100, 0x00, 0xFF, 0x2F, 0x00}),
                   com::MUSIC_E_NO_RUNNING_STATUS});
  cases.push_back({"data byte after only a meta event",
                   track_file({0x00, 0xFF, 0x06, 0x01, 'A', 0x00, 60, 100, 0x00, 0xFF, 0x2F, 0x00}),
                   com::MUSIC_E_NO_RUNNING_STATUS});
  cases.push_back({"five-byte delta", track_file({0x81, 0x81, 0x81, 0x81, 0x01, 0xFF, 0x2F, 0x00}),
                   com::MUSIC_E_CORRUPT});
  cases.push_back({"system real-time byte", track_file({0x00, 0xF8, 0x00, 0xFF, 0x2F, 0x00}),
                   com::MUSIC_E_CORRUPT});
  cases.push_back({"status byte as data",
                   track_file({0x00, 0x90, 0x85, 100, 0x00, 0xFF, 0x2F, 0x00}),
                   com::MUSIC_E_CORRUPT});
  cases.push_back({"SysEx longer than the track", track_file({0x00, 0xF0, 0x20, 0x41, 0xF7}),
                   com::MUSIC_E_TRUNCATED});
  cases.push_back({"meta longer than the track", track_file({0x00, 0xFF, 0x06, 0x7F, 'A'}),
                   com::MUSIC_E_TRUNCATED});
  cases.push_back({"short tempo",
                   track_file({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1, 0x00, 0xFF, 0x2F, 0x00}),
                   com::MUSIC_E_CORRUPT});
  cases.push_back({"zero tempo",
                   track_file({0x00, 0xFF, 0x51, 0x03, 0, 0, 0, 0x00, 0xFF, 0x2F, 0x00}),
                   com::MUSIC_E_CORRUPT});
  cases.push_back({"time beyond 32-bit music time",
                   [] {
                     SmfWriter smf(0, 1);  // 768 music ticks per file tick
                     auto& track = smf.add_track();
                     for (int i = 0; i < 12; ++i) track.note_on(0x0FFFFFFF, 0, 60, 1);
                     track.end_of_track(0);
                     return smf.to_bytes();
                   }(),
                   com::MUSIC_E_FILE_TOO_LARGE});
  cases.push_back({"RMID without data chunk", Bytes{'R', 'I', 'F', 'F', 12,  0,   0, 0, 'R', 'M',
                                                    'I', 'D', 'L', 'I', 'S', 'T', 0, 0, 0,   0},
                   com::MUSIC_E_CORRUPT});
  cases.push_back({"RMID data that is no MIDI file", test::wrap_rmid({'J', 'U', 'N', 'K', 0, 0}),
                   com::MUSIC_E_CORRUPT});
  cases.push_back({"RMID cut inside the MIDI file",
                   [&] {
                     Bytes b = test::wrap_rmid(good);
                     b.resize(b.size() - 8);
                     return b;
                   }(),
                   com::MUSIC_E_TRUNCATED});
  cases.push_back({"RMID data size past the end",
                   [&] {
                     Bytes b = test::wrap_rmid(good);
                     b[19] = 0x10;  // the data chunk's size, high byte
                     return b;
                   }(),
                   com::MUSIC_E_BAD_CHUNK_SIZE});
  return cases;
}

TEST(ReaderMalformed, EachDamageHasItsStatusAndLeavesTheOutputAlone) {
  for (const Damage& d : damaged_files()) {
    SCOPED_TRACE(d.name);
    Sequence out;
    out.length = 4242;
    std::string detail;
    EXPECT_EQ(read_sequence(d.bytes, out, &detail), d.expected)
        << com::status_name(read_sequence(d.bytes, out)) << ": " << detail;
    EXPECT_FALSE(detail.empty());
    EXPECT_EQ(out.length, 4242);
    EXPECT_TRUE(out.events.empty());
  }
}

TEST(ReaderMalformed, EveryPrefixOfAGoodFileFailsCleanly) {
  SmfWriter smf(1, 120);
  smf.add_track().tempo(0, 600000).time_signature(0, 4, 2).end_of_track(0);
  smf.add_track()
      .sysex(0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
      .note_on(0, 0, 60, 1)
      .end_of_track(200);
  for (const Bytes& whole : {smf.to_bytes(), smf.to_rmid()}) {
    for (std::size_t n = 0; n < whole.size() - 1; ++n) {
      Sequence out;
      const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
      const com::HResult hr = read_sequence(prefix, out);
      EXPECT_TRUE(hr == com::MUSIC_E_TRUNCATED || hr == com::MUSIC_E_EMPTY_FILE ||
                  hr == com::MUSIC_E_BAD_CHUNK_SIZE)
          << n << " bytes: " << com::status_name(hr);
    }
  }
}

TEST(ReaderMalformed, DeclaredSizesAreNeverAllocated) {
  // A header that claims 65535 tracks and a 4 GiB chunk, holding a few bytes.
  Bytes bytes =
      one_note_file().declare_chunk_size(0, 0xFFFFFFFFu).declare_track_count(65535).to_bytes();
  Sequence out;
  test::AllocationProbe probe;
  EXPECT_EQ(read_sequence(bytes, out), com::MUSIC_E_BAD_CHUNK_SIZE);
  EXPECT_LT(probe.largest(), 4096u);
}

class ReaderFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() / ("orvan_midi_files_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

TEST_F(ReaderFiles, FileSystemFailuresAreNamed) {
  Sequence out;
  std::string detail;
  EXPECT_EQ(read_sequence_file(path("missing.mid"), out, &detail), com::MUSIC_E_CANNOT_OPEN);
  EXPECT_NE(detail.find("No such file"), std::string::npos) << detail;
  EXPECT_EQ(read_sequence_file("", out), com::MUSIC_E_CANNOT_OPEN);
  EXPECT_EQ(read_sequence_file(dir_.string(), out), com::MUSIC_E_IS_DIRECTORY);

  ASSERT_TRUE(test::write_bytes(path("empty.mid"), {}));
  EXPECT_EQ(read_sequence_file(path("empty.mid"), out), com::MUSIC_E_EMPTY_FILE);

  // A FIFO would block a naive reader forever.
  ASSERT_EQ(::mkfifo(path("pipe.mid").c_str(), 0600), 0);
  EXPECT_EQ(read_sequence_file(path("pipe.mid"), out), com::MUSIC_E_CANNOT_OPEN);

  // The name's extension means nothing: content decides.
  ASSERT_TRUE(one_note_file().write_file(path("song.txt"), true));
  EXPECT_EQ(read_sequence_file(path("song.txt"), out), com::S_OK);
  EXPECT_EQ(out.length, 768);
  ASSERT_TRUE(test::write_bytes(path("notes.mid"), {'n', 'o', 't', 'e', 's'}));
  EXPECT_EQ(read_sequence_file(path("notes.mid"), out), com::MUSIC_E_UNSUPPORTED_FORMAT);
}

TEST_F(ReaderFiles, OversizedFilesAreRefusedBeforeReading) {
  ASSERT_TRUE(test::write_bytes(path("huge.mid"), one_note_file().to_bytes()));
  std::filesystem::resize_file(path("huge.mid"), kMaxFileBytes + 1);  // sparse: no disk used
  Sequence out;
  test::AllocationProbe probe;
  EXPECT_EQ(read_sequence_file(path("huge.mid"), out), com::MUSIC_E_FILE_TOO_LARGE);
  EXPECT_LT(probe.largest(), 4096u);
}

}  // namespace
}  // namespace orvan::music::midi
