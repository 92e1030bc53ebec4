// Self-registration through the library's own entry points, what it leaves in the registry,
// what the library exports, and the client example run against a throwaway registry.
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "platform/com/auto_string.h"
#include "platform/com/runtime/registry.h"
#include "tests/component/component_fixture.h"
#include "tests/support/run_command.h"

namespace orvan::component_test {
namespace {

namespace registry = com::registry;
using Registration = ComponentTest;

std::string value(const std::string& key, const std::string& name = "") {
  return registry::read_value(key, name).value_or("<absent>");
}

TEST_F(Registration, WritesTheClassItsProgIdTheTypeLibraryAndTheMarshaller) {
  const std::string clsid = "{2157ED08-4B0C-427B-8475-85D754B974CA}";
  const std::string libid = "{E46ACAF1-C583-45FD-8F2E-67FBAB330611}";
  const std::string iid = "{224964E1-4A40-4379-A5E7-81573BE3D5CB}";
  EXPECT_EQ(value("CLSID\\" + clsid + "\\InprocServer32"), kTovelPath);
  EXPECT_EQ(value("CLSID\\" + clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(value("CLSID\\" + clsid + "\\ProgID"), "OrvanMusicEngine.OrvanMusic");
  EXPECT_EQ(value("CLSID\\" + clsid + "\\TypeLib"), libid);
  EXPECT_EQ(value("OrvanMusicEngine.OrvanMusic\\CLSID"), clsid);
  EXPECT_EQ(value("TypeLib\\" + libid + "\\35.1\\409\\win32"), kTovelPath);
  EXPECT_EQ(value("Interface\\" + iid + "\\ProxyStubClsid32"),
            "{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(value("Interface\\" + iid + "\\TypeLib"), libid);
  // The second interface is served by the same marshaller.
  const std::string iid2 = "{85046B63-B545-4F94-9B49-EF341B01E2E8}";
  EXPECT_EQ(value("Interface\\" + iid2 + "\\ProxyStubClsid32"),
            "{00020424-0000-0000-C000-000000000046}");

  // Clients find the class both ways.
  CLSID found{};
  ASSERT_EQ(CLSIDFromProgID(u"OrvanMusicEngine.OrvanMusic", &found), S_OK);
  EXPECT_TRUE(found == CLSID_OrvanMusic);
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadRegTypeLib(LIBID_OrvanMusicEngine, 53, 0, 0x0409, lib.out()), S_OK);
}

TEST_F(Registration, TwiceChangesNothingAndUnregisteringRestoresTheStore) {
  ASSERT_EQ(call_library_function("DllUnregisterServer"), S_OK);
  // Neighbours that are not ours: unregistering must leave them alone.
  ASSERT_EQ(registry::set_value("CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32", "",
                                "/usr/lib/other.so"),
            com::S_OK);
  ASSERT_EQ(registry::set_value("Interface\\{11111111-2222-3333-4444-555555555555}", "", "IOther"),
            com::S_OK);
  ASSERT_EQ(registry::set_value("TypeLib\\{11111111-2222-3333-4444-555555555555}\\1.0\\0\\win32",
                                "", "/usr/lib/other.so"),
            com::S_OK);
  const std::vector<registry::Entry> before = registry::dump();

  ASSERT_EQ(call_library_function("DllRegisterServer"), S_OK);
  const std::vector<registry::Entry> once = registry::dump();
  EXPECT_GT(once.size(), before.size() + 8);
  ASSERT_EQ(call_library_function("DllRegisterServer"), S_OK);
  EXPECT_EQ(registry::dump(), once);

  ASSERT_EQ(call_library_function("DllUnregisterServer"), S_OK);
  EXPECT_EQ(registry::dump(), before);
  // Nothing left to remove is not a failure.
  EXPECT_EQ(call_library_function("DllUnregisterServer"), S_OK);
  EXPECT_EQ(registry::dump(), before);
  ComPtr<_OrvanMusic> music;
  EXPECT_EQ(CoCreateInstance(CLSID_OrvanMusic, nullptr, CLSCTX_INPROC_SERVER, IID__OrvanMusic,
                             music.out_void()),
            REGDB_E_CLASSNOTREG);
}

TEST_F(Registration, AStoreThatCannotBeWrittenIsReportedAsFailure) {
  // A store path below a regular file can never be opened, whoever runs the test.
  const std::filesystem::path blocker = dir_ / "not_a_folder";
  { std::ofstream(blocker) << "x"; }
  ::setenv("ORVAN_REGISTRY", (blocker / "registry.sqlite3").c_str(), 1);
  EXPECT_EQ(call_library_function("DllRegisterServer"), SELFREG_E_TYPELIB);
  EXPECT_EQ(call_library_function("DllUnregisterServer"), SELFREG_E_CLASS);
  // The store that was in use before is untouched by either.
  ::setenv("ORVAN_REGISTRY", registry_.c_str(), 1);
  EXPECT_EQ(value("OrvanMusicEngine.OrvanMusic\\CLSID"), "{2157ED08-4B0C-427B-8475-85D754B974CA}");
}

TEST(TovelExports, ExactlyTheFourEntryPoints) {
  const testing::CommandOutcome nm =
      testing::run_command("nm -D --defined-only '" + kTovelPath + "'");
  ASSERT_EQ(nm.status, 0) << nm.out;
  std::set<std::string> functions;
  std::set<std::string> others;
  std::istringstream lines(nm.out);
  std::string address, kind, name;
  while (lines >> address >> kind >> name) (kind == "T" ? functions : others).insert(name);
  EXPECT_EQ(functions, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject",
                                              "DllRegisterServer", "DllUnregisterServer"}));
  EXPECT_TRUE(others.empty()) << *others.begin();
}

TEST(ClientExample, TheReadmeShowsTheCommittedSource) {
  const std::string examples = std::string(ORVAN_SOURCE_DIR) + "/examples/";
  EXPECT_EQ(readme_block("## Using the component", "cpp"),
            testing::file_bytes(examples + "play_by_class_id.cpp"));
  EXPECT_EQ(readme_block("## Using the component", "c"),
            testing::file_bytes(examples + "play_by_class_id.c"));
  EXPECT_EQ(readme_block("### Events", "c"), testing::file_bytes(examples + "print_beats.c"));
}

// Runs an example client on the silent device: it plays while it reports, and says what is
// missing once the class is unregistered.
void check_example_plays(const std::string& example, const std::string& registry,
                         const std::string& music) {
  const std::string env = "ORVAN_REGISTRY='" + registry + "' SDL_AUDIODRIVER=dummy ";
  const testing::CommandOutcome run =
      testing::run_command(env + "'" + example + "' '" + music + "' 1");
  ASSERT_EQ(run.status, 0) << run.out;
  // Four progress lines, the position moving on while the music plays.
  expect_organ_progress(run.out);

  // Without the registration the example says what is missing.
  ASSERT_EQ(call_library_function("DllUnregisterServer"), S_OK);
  const testing::CommandOutcome unregistered =
      testing::run_command(env + "'" + example + "' '" + music + "' 1");
  EXPECT_EQ(unregistered.status, 1);
  EXPECT_NE(unregistered.out.find("registered"), std::string::npos) << unregistered.out;
}

// The C++ and the C example, one after the other.
TEST_F(Registration, TheClientExamplesCreateTheEngineByClassIdentityAndPlay) {
  for (const char* example : {ORVAN_EXAMPLE_PATH, ORVAN_C_EXAMPLE_PATH}) {
    SCOPED_TRACE(example);
    ASSERT_EQ(call_library_function("DllRegisterServer"), S_OK);
    check_example_plays(example, registry_.string(), organ_.string());
  }
}

}  // namespace
}  // namespace orvan::component_test
