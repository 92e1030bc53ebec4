// orvan-typelib prints what a client sees, and says so plainly when a file has nothing.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

#ifdef ORVAN_TYPELIB_TOOL
struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun run(const std::string& arguments) {
  ToolRun r;
  const std::string command = std::string(ORVAN_TYPELIB_TOOL) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(OrvanTypelibTool, PrintsTheLibraryItsTypesAndItsVersionInformation) {
  const ToolRun r = run("/proc/" + std::to_string(getpid()) + "/exe");
  ASSERT_EQ(r.status, 0) << r.out;
  const char* expected[] = {
      "uuid(5A7C1D20-3B4E-4F61-9A82-0C1D2E3F4A5B)",
      "version(17.2)",
      "library TypeLibTest",
      "importlib(\"stdole2\");",
      "importlib(\"DxVBLibA\");",
      "interface _TestCalc : IDispatch {",
      "[id(0x60030006)]\n    HRESULT Configure(\n"
      "        [in, out, optional, defaultvalue(48000)] long* SampleRate,\n"
      "        [in, out, optional] long* Loops);  // entry 13",
      "[in, optional, defaultvalue(\"none\")] BSTR Text,",
      "[out, retval] VARIANT_BOOL* result",
      "[in] TEST_PHASE Phase,",
      "[default] interface _TestCalc;\n    interface DirectXEvent8;",
      "[helpstring(\"PHASE_NEG\")] PHASE_NEG = -5",
      "} TEST_PHASE;",
      "FILEVERSION 3,0,0,9",
      "TRANSLATION 0x0409, 1200",
      "VALUE \"OLESelfRegister\", \"\"",
  };
  for (const char* text : expected) EXPECT_NE(r.out.find(text), std::string::npos) << text;
}

TEST(OrvanTypelibTool, FilesWithoutATypeLibraryFailWithAReason) {
  ToolRun r = run("/bin/sh");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("has no type library"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("TYPE_E_CANTLOADLIBRARY"), std::string::npos) << r.out;
  r = run("/no/such/file.so");
  EXPECT_EQ(r.status, 1);
  r = run("");
  EXPECT_EQ(r.status, 2);
  // The runtime's second built-in library, by resource number.
  r = run(std::string("'") + ORVAN_COMRT_PATH + "\\2'");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("interface DirectXEvent8 : IUnknown {"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("HRESULT DXCallback(\n        [in] long eventid);  // entry 3"),
            std::string::npos)
      << r.out;
}
#endif

}  // namespace
