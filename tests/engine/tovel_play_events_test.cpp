// tovel-play --events: each event of a render on its own line, in the order heard, with its
// frame and time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_command.h"
#include "tests/support/smf_writer.h"

namespace {

TEST(TovelPlayEvents, ARenderPrintsEveryEventWithItsFrameAndTime) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("orvan_play_events_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  // Four quarters at 120 BPM with a marker on the second, played twice.
  orvan::test::SmfWriter smf(0, 480);
  smf.add_track()
      .tempo(0, 500000)
      .note_on(0, 0, 60, 100)
      .marker(480, "door")
      .note_off(3 * 480, 0, 60)
      .end_of_track(0);
  const std::string midi = (dir / "door.mid").string();
  ASSERT_TRUE(smf.write_file(midi));
  const orvan::testing::CommandOutcome run = orvan::testing::run_command(
      "'" ORVAN_BINARY_DIR "/bin/tovel-play' --quiet --events --loops 1 --render '" +
      (dir / "door.wav").string() + "' '" + midi + "'");
  std::filesystem::remove_all(dir);
  ASSERT_EQ(run.status, 0) << run.out;

  std::vector<std::string> events;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("event ", 0) == 0) events.push_back(line);
  const std::vector<std::string> expected = {"event Started frame=0 time=0.000",
                                             "event Beat bar=1 beat=1 frame=0 time=0.000",
                                             "event Beat bar=1 beat=2 frame=24000 time=0.500",
                                             "event Marker name=\"door\" frame=24000 time=0.500",
                                             "event Beat bar=1 beat=3 frame=48000 time=1.000",
                                             "event Beat bar=1 beat=4 frame=72000 time=1.500",
                                             "event Looped passes_left=0 frame=96000 time=2.000",
                                             "event Beat bar=1 beat=1 frame=96000 time=2.000",
                                             "event Beat bar=1 beat=2 frame=120000 time=2.500",
                                             "event Marker name=\"door\" frame=120000 time=2.500",
                                             "event Beat bar=1 beat=3 frame=144000 time=3.000",
                                             "event Beat bar=1 beat=4 frame=168000 time=3.500",
                                             "event Ended frame=192000 time=4.000"};
  EXPECT_EQ(events, expected) << run.out;
}

}  // namespace
