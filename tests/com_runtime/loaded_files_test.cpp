// Files named in the registry that must not be loaded: type libraries that are no regular
// file, are relative or are another library than the one asked for, and servers cut short.
#include <elf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/com/auto_string.h"
#include "platform/com/runtime/registry.h"
#include "platform/com/typelib/load.h"
#include "tests/com_runtime/scratch_registry.h"
#include "tests/com_runtime/test_server_paths.h"
#include "tests/support/run_command.h"

namespace reg = orvan::com::registry;
using orvan::testing::creation_status;
using orvan::testing::register_class_at;
using orvan::testing::test_server_path;
using LoadedFiles = orvan::testing::ScratchRegistry;

namespace {

const std::string kStdoleFile = "TypeLib\\{00020430-0000-0000-C000-000000000046}\\2.0\\0\\win32";

HRESULT load_stdole(GUID* loaded_libid = nullptr) {
  ITypeLib* lib = nullptr;
  const HRESULT hr = LoadRegTypeLib(LIBID_stdole2, 2, 0, 0, &lib);
  if (lib) {
    TLIBATTR* attr = nullptr;
    if (loaded_libid && SUCCEEDED(lib->GetLibAttr(&attr))) {
      *loaded_libid = attr->guid;
      lib->ReleaseTLibAttr(attr);
    }
    lib->Release();
  }
  return hr;
}

// Where the file bytes of the library's last loadable segment end.
std::uint64_t loadable_end(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Elf64_Ehdr header{};
  in.read(reinterpret_cast<char*>(&header), sizeof header);
  std::uint64_t end = 0;
  for (int i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment{};
    in.seekg(static_cast<std::streamoff>(header.e_phoff + i * sizeof segment));
    in.read(reinterpret_cast<char*>(&segment), sizeof segment);
    if (segment.p_type == PT_LOAD) end = std::max(end, segment.p_offset + segment.p_filesz);
  }
  return end;
}

}  // namespace

TEST_F(LoadedFiles, ARegisteredTypeLibraryMustBeAnAbsoluteRegularFileOfTheLibraryAskedFor) {
  const std::string runtime = orvan::typelib::runtime_library_path();
  GUID libid{};
  ASSERT_EQ(reg::set_value(kStdoleFile, "", runtime + "\\1"), S_OK);
  ASSERT_EQ(load_stdole(&libid), S_OK);
  EXPECT_EQ(libid, LIBID_stdole2);

  // The runtime's other built-in library (DxVBLibA) registered as stdole2.
  ASSERT_EQ(reg::set_value(kStdoleFile, "", runtime + "\\2"), S_OK);
  EXPECT_EQ(load_stdole(), TYPE_E_LIBNOTREGISTERED);

  // A FIFO would block the open; a relative name would be opened from the working folder.
  const std::string fifo = (dir_ / "stdole.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::copy_file(runtime, dir_ / "stdole.tlb");
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  for (const std::string& path : {fifo, fifo + "\\1", std::string("stdole.tlb\\1"),
                                  std::string("./stdole.tlb\\1"), dir_.string()}) {
    ASSERT_EQ(reg::set_value(kStdoleFile, "", path), S_OK);
    EXPECT_EQ(load_stdole(), TYPE_E_CANTLOADLIBRARY) << path;
  }
  std::filesystem::current_path(saved);
  ITypeLib* lib = nullptr;
  EXPECT_EQ(LoadTypeLib(orvan::com::utf8_to_utf16(fifo).c_str(), &lib), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(lib, nullptr);

  // A store that cannot be believed is a failure, not a reason to fall back to the
  // built-in library.
  ASSERT_EQ(chmod(store_.c_str(), 0606), 0);
  EXPECT_EQ(load_stdole(), REGDB_E_READREGDB);
  ASSERT_EQ(chmod(store_.c_str(), 0600), 0);
}

// A copy of the server cut inside its loadable segments would kill the process with
// SIGBUS as it is mapped: it is refused before loading, by the runtime and orvan-regsvr.
TEST_F(LoadedFiles, AServerCutShortIsRefusedBeforeItIsLoaded) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  const std::uint64_t end = loadable_end(test_server_path());
  ASSERT_GT(end, 8192u);
  const std::string cut = (dir_ / "cut.so").string();
  for (const std::uint64_t length : {std::uint64_t{4096}, end - 1}) {
    std::filesystem::copy_file(test_server_path(), cut,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(cut, length);
    register_class_at(CLSID_TestCounter, cut);
    EXPECT_EQ(creation_status(), CO_E_ERRORINDLL) << length;
    const auto regsvr = orvan::testing::run_command(orvan::testing::regsvr_path() + " " + cut);
    EXPECT_EQ(regsvr.status, 2) << regsvr.out;
    EXPECT_NE(regsvr.out.find("not a whole ELF library"), std::string::npos) << regsvr.out;
  }
  const std::string fifo = (dir_ / "server.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  register_class_at(CLSID_TestCounter, fifo);
  EXPECT_EQ(creation_status(), CO_E_DLLNOTFOUND);

  // The whole copy loads, through the descriptor it was checked on.
  std::filesystem::copy_file(test_server_path(), cut,
                             std::filesystem::copy_options::overwrite_existing);
  register_class_at(CLSID_TestCounter, cut);
  EXPECT_EQ(creation_status(), S_OK);

  // Loaded that way, a server registering itself still names the path it was loaded from,
  // not the descriptor's.
  register_class_at(CLSID_TestCounter, test_server_path());
  EXPECT_EQ(creation_status(), S_OK);
  ASSERT_EQ(orvan::testing::call_test_server("DllRegisterServer"), S_OK);
  EXPECT_EQ(reg::read_value("CLSID\\" + reg::guid_text(CLSID_TestCounter) + "\\InprocServer32", ""),
            test_server_path());
  CoUninitialize();
  CoFreeUnusedLibraries();
}
