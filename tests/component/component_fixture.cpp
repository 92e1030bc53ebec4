#include "tests/component/component_fixture.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "platform/com/auto_string.h"
#include "platform/music/client/settings.h"
#include "tests/support/smf_writer.h"
#include "tests/support/wav_file.h"

namespace orvan::component_test {

HRESULT call_library_function(const char* name) {
  void* library = ::dlopen(kTovelPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    ADD_FAILURE() << ::dlerror();
    return E_FAIL;
  }
  auto* function = reinterpret_cast<HRESULT (*)()>(::dlsym(library, name));
  const HRESULT hr = function ? function() : E_FAIL;
  ::dlclose(library);
  return hr;
}

bool tovel_loaded() {
  void* library = ::dlopen(kTovelPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!library) return false;
  ::dlclose(library);
  return true;
}

Bstr::Bstr(std::u16string_view text)
    : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
Bstr::Bstr(const std::string& utf8) : Bstr(std::u16string_view(com::utf8_to_utf16(utf8))) {}

std::string readme_block(const std::string& section, const std::string& fence) {
  const std::string readme = testing::file_bytes(std::string(ORVAN_SOURCE_DIR) + "/README.md");
  const std::size_t at = readme.find(section);
  EXPECT_NE(at, std::string::npos) << section;
  const std::size_t begin = at == std::string::npos ? at : readme.find("```" + fence + "\n", at);
  EXPECT_NE(begin, std::string::npos) << fence << " block after " << section;
  if (begin == std::string::npos) return {};
  const std::size_t code = begin + 4 + fence.size();
  const std::size_t end = readme.find("```\n", code);
  EXPECT_NE(end, std::string::npos);
  return end == std::string::npos ? std::string() : readme.substr(code, end - code);
}

void ComponentTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  dir_ = std::filesystem::temp_directory_path() /
         (std::string("orvan_component_") + info->test_suite_name() + "_" + info->name() + "_" +
          std::to_string(::getpid()));
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
  registry_ = dir_ / "registry.sqlite3";
  ::setenv("ORVAN_REGISTRY", registry_.c_str(), 1);

  music::PlatformSettings settings;
  settings.output = music::OutputKind::Manual;
  settings.soundfont = testing::kSmallSoundFont;
  music::set_platform_settings(settings);
  presenter_ = std::make_unique<ui::ScopedMessagePresenter>(boxes_);

  organ_ = dir_ / "organ.mid";
  test::SmfWriter smf(0, 480);
  smf.add_track()
      .tempo(0, 500000)
      .program_change(0, 0, 19)
      .note_on(0, 0, 60, 100)
      .note_off(8 * 480, 0, 60)
      .end_of_track(0);
  ASSERT_TRUE(smf.write_file(organ_.string()));

  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  apartment_ = true;
  ASSERT_EQ(call_library_function("DllRegisterServer"), S_OK);
}

void ComponentTest::TearDown() {
  if (apartment_) {
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  presenter_.reset();
  ::unsetenv("ORVAN_REGISTRY");
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

ComPtr<_OrvanMusic> ComponentTest::create() {
  ComPtr<_OrvanMusic> music;
  EXPECT_EQ(CoCreateInstance(CLSID_OrvanMusic, nullptr, CLSCTX_INPROC_SERVER, IID__OrvanMusic,
                             music.out_void()),
            S_OK);
  return music;
}

ComPtr<_OrvanMusic2> ComponentTest::create2() {
  ComPtr<_OrvanMusic2> music;
  EXPECT_EQ(CoCreateInstance(CLSID_OrvanMusic, nullptr, CLSCTX_INPROC_SERVER, IID__OrvanMusic2,
                             music.out_void()),
            S_OK);
  return music;
}

void expect_organ_progress(const std::string& out) {
  std::istringstream lines(out);
  std::string line;
  long first = -1, last = -1;
  int progress = 0;
  while (std::getline(lines, line)) {
    long position = 0, length = 0;
    char state[16] = {};
    if (std::sscanf(line.c_str(), "%ld / %ld %15s", &position, &length, state) != 3) continue;
    EXPECT_EQ(length, 8 * 768);
    EXPECT_STREQ(state, "playing");
    if (first < 0) first = position;
    last = position;
    ++progress;
  }
  EXPECT_EQ(progress, 4) << out;
  EXPECT_GT(last, first);
}

void ComponentTest::init_and_load(_OrvanMusic* music, LONG rate) {
  LONG hwnd = 0;
  ASSERT_EQ(music->InitOrvanAudio(&hwnd, &rate), S_OK);
  Bstr file(organ_.string());
  ASSERT_EQ(music->Music_Load(file.ptr()), S_OK);
  LONG length = 0;
  ASSERT_EQ(music->GetLengh(&length), S_OK) << "the organ note did not load";
}

double ComponentTest::pump_rms(int index, double seconds) {
  music::output::ManualDevice* device = music::output::manual_device(index);
  if (!device) {
    ADD_FAILURE() << "no manual device " << index;
    return 0.0;
  }
  device->clear_capture();
  EXPECT_EQ(device->pump(static_cast<std::int64_t>(seconds * device->sample_rate())), S_OK);
  double sum = 0.0;
  for (float s : device->capture()) sum += static_cast<double>(s) * s;
  return device->capture().empty() ? 0.0
                                   : std::sqrt(sum / static_cast<double>(device->capture().size()));
}

}  // namespace orvan::component_test
