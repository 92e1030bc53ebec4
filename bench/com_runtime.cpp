// The component runtime's costs: creating an object of a loaded server (one registry read
// with the store's trust checks over the thread's open connection, and a factory call;
// the target is under 20 us), a registry read from one store and through both layers, and
// one registration transaction. On a loaded machine, compare CPU times.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "orvan/component_runtime.h"
#include "platform/com/runtime/registry.h"
#include "tests/com_runtime/test_server/test_server.h"

namespace {

namespace reg = orvan::com::registry;

// A fresh store for the whole program, with the test server registered in it.
class BenchStore {
 public:
  BenchStore() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvan-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir_ = pattern;
    setenv("ORVAN_REGISTRY", (dir_ + "/registry.sqlite3").c_str(), 1);
    void* server = dlopen(ORVAN_BINARY_DIR "/lib/liborvan_test_server.so", RTLD_NOW);
    auto* register_server =
        server ? reinterpret_cast<LPFNREGISTERSERVER>(dlsym(server, "DllRegisterServer")) : nullptr;
    if (!register_server || FAILED(register_server())) std::abort();
  }
  ~BenchStore() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

 private:
  std::string dir_;
};

BenchStore& store() {
  static BenchStore instance;
  return instance;
}

void BM_CreateInstanceOfLoadedServer(benchmark::State& state) {
  store();
  CoInitialize(nullptr);
  for (auto _ : state) {
    IUnknown* object = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(&object)))) {
      state.SkipWithError("CoCreateInstance failed");
      break;
    }
    object->Release();
  }
  CoUninitialize();
}
BENCHMARK(BM_CreateInstanceOfLoadedServer);

void BM_RegistryRead(benchmark::State& state) {
  store();
  const std::string key = "CLSID\\" + reg::guid_text(CLSID_TestCounter) + "\\InprocServer32";
  for (auto _ : state) benchmark::DoNotOptimize(reg::read_value(key, ""));
}
BENCHMARK(BM_RegistryRead);

// A read that goes through both layers (absent from the per-user store, found in the
// system store): two stores' trust checks and two lookups.
void BM_LayeredRegistryRead(benchmark::State& state) {
  store();
  const std::string single = std::getenv("ORVAN_REGISTRY");
  const std::string dir = single.substr(0, single.rfind('/'));
  unsetenv("ORVAN_REGISTRY");
  setenv("XDG_DATA_HOME", (dir + "/user").c_str(), 1);
  setenv("ORVAN_SYSTEM_REGISTRY", (dir + "/system/registry.sqlite3").c_str(), 1);
  if (FAILED(reg::set_value("Per\\User", "", "u", reg::Scope::user)) ||
      FAILED(reg::set_value("In\\System", "", "s", reg::Scope::system))) {
    state.SkipWithError("cannot write the layered stores");
  }
  for (auto _ : state) benchmark::DoNotOptimize(reg::read_value("In\\System", ""));
  unsetenv("XDG_DATA_HOME");
  unsetenv("ORVAN_SYSTEM_REGISTRY");
  setenv("ORVAN_REGISTRY", single.c_str(), 1);
}
BENCHMARK(BM_LayeredRegistryRead);

// One committed transaction of eight values, synced to disk.
void BM_RegistrationTransaction(benchmark::State& state) {
  store();
  reg::ServerRecord record;
  record.project = "BenchProject";
  record.libid = LIBID_TestServer;
  record.major = 1;
  record.classes.push_back({"Bench", IID_ITestCounter, IID_ITestCounter});
  for (auto _ : state) {
    if (FAILED(reg::register_server(record, "/opt/bench/libBench.so"))) {
      state.SkipWithError("registration failed");
      break;
    }
  }
}
BENCHMARK(BM_RegistrationTransaction);

}  // namespace

BENCHMARK_MAIN();
