// The C example that plays music out of a zip archive through a stream of its own: the README
// shows it as it is, and it plays a piece packed at test time.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/component/component_fixture.h"
#include "tests/support/run_command.h"

namespace orvan::component_test {
namespace {

TEST(ZipExample, TheReadmeShowsTheCommittedSource) {
  EXPECT_EQ(readme_block("### Loading from memory and from an archive", "c"),
            testing::file_bytes(std::string(ORVAN_SOURCE_DIR) + "/examples/play_from_zip.c"));
}

class ZipExampleRun : public ComponentTest {};

TEST_F(ZipExampleRun, PlaysAMemberOfAnArchiveAndSaysWhatIsMissing) {
#ifndef ORVAN_ZIP_EXAMPLE_PATH
  GTEST_SKIP() << "libzip-dev is not installed: the example was not built";
#else
  // The organ note deflated into an archive, under a folder as a game packs it.
  const std::string zip = (dir_ / "assets.zip").string();
  const testing::CommandOutcome packed = testing::run_command(
      "cd '" + dir_.string() + "' && mkdir -p music && cp organ.mid music/ && " +
      "python3 -m zipfile -c assets.zip music");
  ASSERT_EQ(packed.status, 0) << packed.out;

  const std::string run = "ORVAN_REGISTRY='" + registry_.string() +
                          "' SDL_AUDIODRIVER=dummy '" ORVAN_ZIP_EXAMPLE_PATH "' '" + zip + "' ";
  const testing::CommandOutcome played = testing::run_command(run + "music/organ.mid 1");
  ASSERT_EQ(played.status, 0) << played.out;
  // Four progress lines while the organ plays, the position moving on.
  expect_organ_progress(played.out);

  const testing::CommandOutcome missing = testing::run_command(run + "music/missing.mid 1");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("has no member music/missing.mid"), std::string::npos) << missing.out;
#endif
}

}  // namespace
}  // namespace orvan::component_test
