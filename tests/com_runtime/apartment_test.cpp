// Apartments: per-thread initialisation counting, and objects bound to their apartment.
#include <gtest/gtest.h>

#include <thread>

#include "orvan/component_runtime.h"
#include "platform/com/runtime/apartment.h"
#include "tests/com_runtime/scratch_registry.h"
#include "tests/com_runtime/test_server_paths.h"

namespace {

using orvan::com::runtime::current_apartment;
using orvan::com::runtime::kMultithreaded;
using orvan::com::runtime::kNoApartment;
using orvan::testing::creation_status;
using Apartments = orvan::testing::ScratchRegistry;

template <typename Body>
void on_new_thread(Body body) {
  std::thread thread(body);
  thread.join();
}

}  // namespace

TEST_F(Apartments, InitialisationIsCountedPerThreadAndItsModelIsFixed) {
  ASSERT_EQ(orvan::testing::call_test_server("DllRegisterServer"), S_OK);
  on_new_thread([] {
    EXPECT_EQ(creation_status(), CO_E_NOTINITIALIZED);
    IUnknown* factory = nullptr;
    EXPECT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown,
                               reinterpret_cast<void**>(&factory)),
              CO_E_NOTINITIALIZED);

    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
    int reserved = 0;
    EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
    EXPECT_EQ(creation_status(), S_OK);
    CoUninitialize();
    EXPECT_EQ(creation_status(), S_OK) << "one CoInitialize is still outstanding";
    CoUninitialize();
    EXPECT_EQ(creation_status(), CO_E_NOTINITIALIZED);
    CoUninitialize();  // unbalanced: ignored

    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(current_apartment(), kMultithreaded);
    CoUninitialize();
    EXPECT_EQ(current_apartment(), kNoApartment);
  });
  CoFreeUnusedLibraries();
}

TEST_F(Apartments, AnObjectAnswersOnlyItsOwnApartment) {
  ASSERT_EQ(orvan::testing::call_test_server("DllRegisterServer"), S_OK);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  const auto first_apartment = current_apartment();
  ITestCounter* counter = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                             reinterpret_cast<void**>(&counter)),
            S_OK);
  LONG total = 0;
  EXPECT_EQ(counter->Add(1, &total), S_OK);

  on_new_thread([&] {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_NE(current_apartment(), first_apartment);
    LONG other = 0;
    EXPECT_EQ(counter->Add(1, &other), RPC_E_WRONG_THREAD);
    CoUninitialize();
  });
  EXPECT_EQ(counter->Add(1, &total), S_OK);
  EXPECT_EQ(total, 2) << "the refused call changed the object";
  counter->Release();

  // A thread that leaves its apartment and starts a new one is a new apartment.
  CoUninitialize();
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_NE(current_apartment(), first_apartment);
  CoUninitialize();

  // Objects of the multithreaded apartment answer every thread of it.
  ITestCounter* shared = nullptr;
  on_new_thread([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                     reinterpret_cast<void**>(&shared));
    CoUninitialize();
  });
  ASSERT_NE(shared, nullptr);
  on_new_thread([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    LONG value = 0;
    EXPECT_EQ(shared->Add(4, &value), S_OK);
    EXPECT_EQ(value, 4);
    CoUninitialize();
  });
  shared->Release();
  CoFreeUnusedLibraries();
}
