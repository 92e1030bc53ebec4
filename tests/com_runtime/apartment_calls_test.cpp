// Calls posted to single-threaded apartments: where and when they run, the descriptor that
// tells an event loop about them, and what an apartment that ends does with those it never ran.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "orvan/component_runtime.h"

namespace {

// What posted calls did: each run notes its number and thread; each release its thread.
struct CallLog {
  std::mutex mutex;
  std::vector<int> ran;
  std::vector<std::thread::id> ran_on, released_on;
};

struct NumberedCall {
  CallLog* log;
  int number;
};

HRESULT post(ORVAN_APARTMENT apartment, CallLog& log, int number) {
  auto* call = new NumberedCall{&log, number};
  const HRESULT hr = OrvanPostToApartment(
      apartment,
      [](void* context) {
        auto* c = static_cast<NumberedCall*>(context);
        std::lock_guard lock(c->log->mutex);
        c->log->ran.push_back(c->number);
        c->log->ran_on.push_back(std::this_thread::get_id());
      },
      [](void* context) {
        auto* c = static_cast<NumberedCall*>(context);
        std::lock_guard lock(c->log->mutex);
        c->log->released_on.push_back(std::this_thread::get_id());
        delete c;
      },
      call);
  if (FAILED(hr)) delete call;
  return hr;
}

ORVAN_APARTMENT this_apartment() {
  ORVAN_APARTMENT apartment = 0;
  EXPECT_EQ(OrvanGetCurrentApartment(&apartment), S_OK);
  return apartment;
}

bool readable(int descriptor) {
  pollfd watch{descriptor, POLLIN, 0};
  return poll(&watch, 1, 0) == 1;
}

class ApartmentCalls : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override { CoUninitialize(); }
  CallLog log_;
};

// Calls for this apartment and for another one, whose thread never pumps and then ends
// (the inner CoUninitialize of two does not end it; the thread's exit would, as well).
TEST_F(ApartmentCalls, RunOnlyInTheirOwnApartmentsPumpAndAreReleasedWhenItEnds) {
  std::promise<ORVAN_APARTMENT> other_id;
  std::promise<void> end_now;
  std::thread::id other_thread;
  std::thread other([&] {
    CoInitialize(nullptr);
    CoInitialize(nullptr);
    other_thread = std::this_thread::get_id();
    other_id.set_value(this_apartment());
    end_now.get_future().wait();
    CoUninitialize();
    EXPECT_TRUE(log_.released_on.size() == 3) << "the apartment ended too early";
    CoUninitialize();
  });
  const ORVAN_APARTMENT mine = this_apartment(), theirs = other_id.get_future().get();
  std::thread([&] {
    for (int n : {1, 2, 3}) EXPECT_EQ(post(mine, log_, n), S_OK);
    for (int n : {10, 11}) EXPECT_EQ(post(theirs, log_, n), S_OK);
  }).join();
  EXPECT_TRUE(log_.ran.empty()) << "a call ran before its thread pumped";

  ULONG ran = 99;
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_OK);
  EXPECT_EQ(ran, 3u);
  EXPECT_EQ(log_.ran, (std::vector<int>{1, 2, 3}));
  const auto me = std::this_thread::get_id();
  EXPECT_EQ(log_.ran_on, std::vector<std::thread::id>(3, me));
  end_now.set_value();
  other.join();
  EXPECT_EQ(log_.ran.size(), 3u) << "the other apartment's calls ran";
  EXPECT_EQ(log_.released_on,
            (std::vector<std::thread::id>{me, me, me, other_thread, other_thread}));
  EXPECT_EQ(post(theirs, log_, 12), RPC_E_DISCONNECTED);
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_FALSE);
  EXPECT_EQ(ran, 0u);
}

TEST_F(ApartmentCalls, RefuseWhatNoSingleThreadedApartmentCanRun) {
  EXPECT_EQ(OrvanPostToApartment(this_apartment(), nullptr, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(post(0, log_, 1), RPC_E_DISCONNECTED);
  std::thread([&] {
    int descriptor = -1;
    EXPECT_EQ(OrvanPumpApartment(0, nullptr), CO_E_NOTINITIALIZED);
    EXPECT_EQ(OrvanGetApartmentDescriptor(&descriptor), CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(post(this_apartment(), log_, 2), RPC_E_DISCONNECTED);
    EXPECT_EQ(OrvanPumpApartment(0, nullptr), RPC_E_WRONG_THREAD);
    EXPECT_EQ(OrvanGetApartmentDescriptor(&descriptor), RPC_E_WRONG_THREAD);
    CoUninitialize();
  }).join();
  EXPECT_TRUE(log_.released_on.empty()) << "a refused call stays the caller's";
}

TEST_F(ApartmentCalls, DescriptorIsReadableExactlyWhileCallsAreQueued) {
  int descriptor = -1;
  ASSERT_EQ(OrvanGetApartmentDescriptor(&descriptor), S_OK);
  const ORVAN_APARTMENT mine = this_apartment();
  EXPECT_FALSE(readable(descriptor));
  ASSERT_EQ(post(mine, log_, 1), S_OK);
  EXPECT_TRUE(readable(descriptor));
  // A call that posts another: the new one waits for the next pump, readable meanwhile.
  struct Chain {
    CallLog* log;
    ORVAN_APARTMENT apartment;
  } chain{&log_, mine};
  const auto post_next = [](void* context) {
    auto* c = static_cast<Chain*>(context);
    EXPECT_EQ(post(c->apartment, *c->log, 3), S_OK);
  };
  ASSERT_EQ(OrvanPostToApartment(mine, post_next, nullptr, &chain), S_OK);
  ULONG ran = 0;
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_OK);
  EXPECT_EQ(ran, 2u);
  EXPECT_TRUE(readable(descriptor));
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_OK);
  EXPECT_EQ(ran, 1u);
  EXPECT_FALSE(readable(descriptor));

  // Waiting: a timeout on an empty queue runs nothing; an unbounded wait returns with the
  // call another thread posts meanwhile.
  EXPECT_EQ(OrvanPumpApartment(20, &ran), S_FALSE);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(post(mine, log_, 4), S_OK);
  });
  EXPECT_EQ(OrvanPumpApartment(ORVAN_INFINITE, &ran), S_OK);
  late.join();
  EXPECT_EQ(ran, 1u);
  EXPECT_EQ(log_.ran, (std::vector<int>{1, 3, 4}));
  EXPECT_FALSE(readable(descriptor));
}

}  // namespace
