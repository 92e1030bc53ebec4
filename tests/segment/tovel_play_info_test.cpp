// The command line's --info, run as the real program on fixture files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/smf_writer.h"

namespace {

struct ProgramRun {
  int exit_status = -1;
  std::string out;
  std::string err;
};

std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TovelPlayInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() / ("orvan_tovel_play_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    ASSERT_TRUE(std::filesystem::exists(ORVAN_BINARY_DIR "/bin/tovel-play"))
        << "build the tovel-play target first";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }

  ProgramRun run(const std::string& args) const {
    const std::string command = std::string("'" ORVAN_BINARY_DIR "/bin/tovel-play' ") + args +
                                " >'" + path("stdout") + "' 2>'" + path("stderr") + "'";
    ProgramRun result;
    const int status = std::system(command.c_str());
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_text(dir_ / "stdout");
    result.err = read_text(dir_ / "stderr");
    return result;
  }

  std::filesystem::path dir_;
};

TEST_F(TovelPlayInfo, DescribesAFileAsOneJsonObject) {
  // 240 ticks per quarter: 4 quarters at 120 BPM (2 s), then 2 at 100 BPM (1.2 s).
  orvan::test::SmfWriter smf(1, 240);
  smf.add_track().tempo_bpm(0, 120).tempo_bpm(960, 100).end_of_track(0);
  smf.add_track().note_on(0, 9, 36, 100).note_off(1440, 9, 36).end_of_track(0);
  ASSERT_TRUE(smf.write_file(path("two tempos.rmi"), true));

  const ProgramRun r = run("--info '" + path("two tempos.rmi") + "'");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  const nlohmann::json info = nlohmann::json::parse(r.out);
  EXPECT_EQ(info.at("format"), 1);
  EXPECT_EQ(info.at("tracks"), 2);
  EXPECT_EQ(info.at("division"), 240);
  EXPECT_EQ(info.at("length"), 6 * 768);
  EXPECT_NEAR(info.at("seconds").get<double>(), 3.2, 1e-9);
  EXPECT_EQ(info.at("tempo_changes"), 2);
  ASSERT_EQ(info.at("tempo_map").size(), 2u);
  EXPECT_EQ(info.at("tempo_map")[1].at("time"), 4 * 768);
  EXPECT_NEAR(info.at("tempo_map")[1].at("bpm").get<double>(), 100.0, 1e-9);
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line of JSON";
}

TEST_F(TovelPlayInfo, ReportsSmpteTiming) {
  orvan::test::SmfWriter smf(0, orvan::test::SmfWriter::smpte_division(25, 40));
  smf.add_track().note_on(0, 0, 60, 1).end_of_track(2500);
  ASSERT_TRUE(smf.write_file(path("smpte.mid")));
  const ProgramRun r = run("--info " + path("smpte.mid"));
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const nlohmann::json info = nlohmann::json::parse(r.out);
  EXPECT_EQ(info.at("timing").at("smpte_fps"), 25);
  EXPECT_EQ(info.at("timing").at("ticks_per_frame"), 40);
  EXPECT_NEAR(info.at("seconds").get<double>(), 2.5, 1e-9);
  EXPECT_EQ(info.at("length"), 2.5 * 1536);
}

TEST_F(TovelPlayInfo, UnreadableFilesGiveOneLineAndFailure) {
  orvan::test::SmfWriter cut(0, 96);
  cut.add_track().note_on(0, 0, 60, 100).end_of_track(10);
  orvan::test::Bytes bytes = cut.to_bytes();
  bytes.resize(bytes.size() - 2);
  ASSERT_TRUE(orvan::test::write_bytes(path("cut.mid"), bytes));

  for (const std::string& file : {path("missing.mid"), path("cut.mid"), dir_.string()}) {
    SCOPED_TRACE(file);
    const ProgramRun r = run("--info '" + file + "'");
    EXPECT_NE(r.exit_status, 0);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  EXPECT_NE(run("--info '" + path("cut.mid") + "'").err.find("MUSIC_E_TRUNCATED"),
            std::string::npos);
}

TEST_F(TovelPlayInfo, HelpNamesEveryOption) {
  const ProgramRun r = run("--help");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_NE(r.out.find("--info FILE"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--help"), std::string::npos) << r.out;
  EXPECT_NE(run("--no-such-option").exit_status, 0);
}

}  // namespace
