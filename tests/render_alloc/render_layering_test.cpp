// The render side must not depend on client objects: no file under platform/music/render/
// (nor the play sources and tracker modules it runs) includes one under client/.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

TEST(RenderLayering, RenderSideIncludesNothingFromClient) {
  namespace fs = std::filesystem;
  int files = 0;
  for (const char* folder : {"render", "sources", "module"}) {
    const fs::path dir = fs::path(ORVAN_SOURCE_DIR) / "platform/music" / folder;
    for (const auto& entry : fs::directory_iterator(dir)) {
      ++files;
      std::ifstream in(entry.path());
      std::string line;
      while (std::getline(in, line)) {
        EXPECT_EQ(line.find("#include \"platform/music/client/"), std::string::npos)
            << entry.path().string() << ": " << line;
      }
    }
  }
  EXPECT_GT(files, 10);  // the folders were found
}

}  // namespace
