// Creating objects of registered in-process servers, the failures on the way, and unloading.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "orvan/component_runtime.h"
#include "tests/com_runtime/scratch_registry.h"
#include "tests/com_runtime/test_server_paths.h"

namespace {

using orvan::testing::call_test_server;
using orvan::testing::register_class_at;
using orvan::testing::test_server_path;

class ClassLoading : public orvan::testing::ScratchRegistry {
 protected:
  void SetUp() override {
    ScratchRegistry::SetUp();
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
    ScratchRegistry::TearDown();
  }
};

ITestCounter* create_counter(HRESULT* status = nullptr) {
  ITestCounter* counter = nullptr;
  const HRESULT hr = CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ITestCounter, reinterpret_cast<void**>(&counter));
  if (status) *status = hr;
  return counter;
}

// Whether the server's file is mapped into this process right now.
bool server_mapped() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find("liborvan_test_server.so") != std::string::npos) return true;
  }
  return false;
}

CLSID numbered_clsid(std::uint32_t n) {
  return {0x7E570000u + n, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44}};
}

HRESULT create_status(const CLSID& clsid, DWORD context = CLSCTX_INPROC_SERVER) {
  IUnknown* object = reinterpret_cast<IUnknown*>(0x1);  // must be emptied on failure
  const HRESULT hr =
      CoCreateInstance(clsid, nullptr, context, IID_IUnknown, reinterpret_cast<void**>(&object));
  EXPECT_EQ(object, nullptr);
  return hr;
}

}  // namespace

TEST_F(ClassLoading, CreatesARegisteredClassAndNamesEveryReasonItCannot) {
  HRESULT hr = S_OK;
  EXPECT_EQ(create_counter(&hr), nullptr);
  EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);

  ASSERT_EQ(call_test_server("DllRegisterServer"), S_OK);
  ITestCounter* counter = create_counter(&hr);
  ASSERT_EQ(hr, S_OK);
  LONG total = 0;
  EXPECT_EQ(counter->Add(2, &total), S_OK);
  EXPECT_EQ(counter->Add(3, &total), S_OK);
  EXPECT_EQ(total, 5);
  IUnknown* unknown = nullptr;
  EXPECT_EQ(counter->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&unknown)),
            E_NOINTERFACE);
  counter->Release();

  CLSID by_name{};
  EXPECT_EQ(CLSIDFromProgID(u"OrvanTestServer.Counter", &by_name), S_OK);
  EXPECT_EQ(by_name, CLSID_TestCounter);
  EXPECT_EQ(CLSIDFromProgID(u"OrvanTestServer.Nothing", &by_name), CO_E_CLASSSTRING);
  EXPECT_EQ(create_status(CLSID_TestCounter, CLSCTX_LOCAL_SERVER), REGDB_E_CLASSNOTREG);

  const std::string garbage = (dir_ / "garbage.so").string();
  orvan::testing::write_text_file(garbage, "not a shared library\n");
  const std::pair<std::string, HRESULT> broken[] = {
      {(dir_ / "missing.so").string(), CO_E_DLLNOTFOUND},
      {"liborvan_test_server.so", CO_E_DLLNOTFOUND},  // relative: never searched for
      {dir_.string(), CO_E_DLLNOTFOUND},              // a folder
      {garbage, CO_E_ERRORINDLL},
      {ORVAN_BINARY_DIR "/lib/liborvan_com.so", CO_E_ERRORINDLL},  // no entry points
  };
  std::uint32_t n = 0;
  for (const auto& [path, expected] : broken) {
    register_class_at(numbered_clsid(++n), path);
    EXPECT_EQ(create_status(numbered_clsid(n)), expected) << path;
  }
}

TEST_F(ClassLoading, UnloadsOnlyWithNoObjectOrLockOutstandingAndLoadsAgain) {
  ASSERT_EQ(call_test_server("DllRegisterServer"), S_OK);
  ASSERT_FALSE(server_mapped());

  ITestCounter* counter = create_counter();
  ASSERT_NE(counter, nullptr);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(server_mapped()) << "unloaded under a live object";
  counter->Release();

  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  ASSERT_EQ(factory->LockServer(1), S_OK);
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(server_mapped()) << "unloaded under a factory lock";
  factory->LockServer(0);

  CoFreeUnusedLibraries();
  EXPECT_FALSE(server_mapped());

  counter = create_counter();
  ASSERT_NE(counter, nullptr);
  LONG total = 0;
  EXPECT_EQ(counter->Add(7, &total), S_OK);
  EXPECT_EQ(total, 7);
  counter->Release();
}

TEST_F(ClassLoading, HandsTheOuterUnknownToTheFactory) {
  ASSERT_EQ(call_test_server("DllRegisterServer"), S_OK);
  IUnknown* outer = reinterpret_cast<IUnknown*>(&outer);  // never called by the server
  IUnknown* inner = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&inner)),
            S_OK);
  void* library = dlopen(test_server_path().c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr);
  auto last_outer = reinterpret_cast<TestServerLastOuterFn>(dlsym(library, "TestServerLastOuter"));
  ASSERT_NE(last_outer, nullptr);
  EXPECT_EQ(last_outer(), outer);
  dlclose(library);
  inner->Release();

  ITestCounter* counter = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, outer, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                             reinterpret_cast<void**>(&counter)),
            CLASS_E_NOAGGREGATION);
}

// Threads in their own apartments race to load the server; it is loaded once and goes
// when the last of them has released its objects.
TEST_F(ClassLoading, ThreadsShareOneLoadOfTheServer) {
  ASSERT_EQ(call_test_server("DllRegisterServer"), S_OK);
  constexpr int kThreads = 4;
  constexpr int kRounds = 20;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&failures] {
      CoInitialize(nullptr);
      for (int i = 0; i < kRounds; ++i) {
        ITestCounter* counter = create_counter();
        LONG total = 0;
        if (!counter || counter->Add(1, &total) != S_OK || total != 1) ++failures;
        if (counter) counter->Release();
      }
      CoUninitialize();
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_TRUE(server_mapped());
  CoFreeUnusedLibraries();
  EXPECT_FALSE(server_mapped());
}
