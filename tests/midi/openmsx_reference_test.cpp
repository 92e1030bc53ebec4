// Real files nobody here wrote, against values an independent reader computed
// (tests/data/make_midi_reference.py, committed as tests/data/openmsx_reference.json).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/music/midi/sequence.h"

namespace orvan::music::midi {
namespace {

nlohmann::json load_reference() {
  std::ifstream in(ORVAN_SOURCE_DIR "/tests/data/openmsx_reference.json");
  return nlohmann::json::parse(in);
}

TEST(OpenMsxFiles, MatchTheIndependentReference) {
  const nlohmann::json table = load_reference();
  const std::filesystem::path folder = table.at("folder").get<std::string>();
  if (!std::filesystem::exists(folder)) GTEST_SKIP() << folder << " is not installed";
  ASSERT_GE(table.at("files").size(), 30u);

  for (const nlohmann::json& ref : table.at("files")) {
    const std::string name = ref.at("file");
    SCOPED_TRACE(name);
    Sequence seq;
    std::string detail;
    ASSERT_EQ(read_sequence_file((folder / name).string(), seq, &detail), com::S_OK) << detail;

    EXPECT_EQ(seq.format, ref.at("format").get<int>());
    EXPECT_EQ(seq.track_count, ref.at("tracks").get<int>());
    EXPECT_EQ(seq.division, ref.at("division").get<int>());
    EXPECT_EQ(seq.tempo_changes, ref.at("tempo_changes").get<int>());
    EXPECT_NEAR(seq.length, ref.at("length").get<double>(), 1.0);
    const double seconds = ref.at("seconds").get<double>();
    EXPECT_NEAR(seq.length_seconds, seconds, 1e-3);
    // The tempo map, working in music time, must agree with the exact figure too.
    EXPECT_NEAR(seq.tempo.seconds_at(seq.length), seconds, 1e-3);
    EXPECT_NEAR(seq.tempo.music_time_at(seconds), seq.length, 1.0);
  }
}

}  // namespace
}  // namespace orvan::music::midi
