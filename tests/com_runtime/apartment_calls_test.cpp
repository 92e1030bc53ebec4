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

// What posted calls did: each run notes its number and thread; each release counts.
struct CallLog {
  std::mutex mutex;
  std::vector<int> ran;
  std::vector<std::thread::id> threads;
  std::atomic<int> released{0};
  std::vector<std::thread::id> release_threads;
};

struct NumberedCall {
  CallLog* log;
  int number;
};

void run_numbered(void* context) {
  auto* call = static_cast<NumberedCall*>(context);
  std::lock_guard lock(call->log->mutex);
  call->log->ran.push_back(call->number);
  call->log->threads.push_back(std::this_thread::get_id());
}

void release_numbered(void* context) {
  auto* call = static_cast<NumberedCall*>(context);
  {
    std::lock_guard lock(call->log->mutex);
    call->log->release_threads.push_back(std::this_thread::get_id());
  }
  ++call->log->released;
  delete call;
}

HRESULT post(ORVAN_APARTMENT apartment, CallLog& log, int number) {
  auto* call = new NumberedCall{&log, number};
  const HRESULT hr = OrvanPostToApartment(apartment, run_numbered, release_numbered, call);
  if (FAILED(hr)) delete call;
  return hr;
}

bool readable(int descriptor) {
  pollfd watch{descriptor, POLLIN, 0};
  return poll(&watch, 1, 0) == 1 && (watch.revents & POLLIN) != 0;
}

ORVAN_APARTMENT this_apartment() {
  ORVAN_APARTMENT apartment = 0;
  EXPECT_EQ(OrvanGetCurrentApartment(&apartment), S_OK);
  return apartment;
}

// A second single-threaded apartment on a thread of its own, which pumps only when told.
class OtherApartment {
 public:
  OtherApartment()
      : thread_([this] {
          CoInitialize(nullptr);
          id_.set_value(this_apartment());
          pump_.get_future().wait();
          ULONG ran = 0;
          OrvanPumpApartment(0, &ran);
          ran_.set_value(ran);
          CoUninitialize();
        }) {}
  ~OtherApartment() {
    if (thread_.joinable()) {
      pump();
      thread_.join();
    }
  }
  ORVAN_APARTMENT id() { return id_future_.get(); }
  std::thread::id thread_id() const { return thread_.get_id(); }
  // Lets it pump once, then end; answers how many calls ran.
  ULONG pump() {
    pump_.set_value();
    const ULONG ran = ran_.get_future().get();
    thread_.join();
    return ran;
  }

 private:
  std::promise<ORVAN_APARTMENT> id_;
  std::shared_future<ORVAN_APARTMENT> id_future_ = id_.get_future().share();
  std::promise<void> pump_;
  std::promise<ULONG> ran_;
  std::thread thread_;
};

class ApartmentCalls : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(ApartmentCalls, RunOnlyInsideThePumpOfTheirOwnApartmentInOrder) {
  CallLog log;
  OtherApartment other;
  const ORVAN_APARTMENT mine = this_apartment();
  const ORVAN_APARTMENT theirs = other.id();
  ASSERT_NE(mine, theirs);
  std::thread([&] {
    for (int n : {1, 2, 3}) EXPECT_EQ(post(mine, log, n), S_OK);
    EXPECT_EQ(post(theirs, log, 10), S_OK);
  }).join();
  EXPECT_TRUE(log.ran.empty()) << "a call ran before anyone pumped";

  ULONG ran = 99;
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_OK);
  EXPECT_EQ(ran, 3u);
  EXPECT_EQ(log.ran, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(log.threads, std::vector<std::thread::id>(3, std::this_thread::get_id()));
  EXPECT_EQ(log.released, 3);

  const std::thread::id other_thread = other.thread_id();
  EXPECT_EQ(other.pump(), 1u);
  EXPECT_EQ(log.ran, (std::vector<int>{1, 2, 3, 10}));
  EXPECT_EQ(log.threads.back(), other_thread);
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_FALSE);
  EXPECT_EQ(ran, 0u);
}

TEST_F(ApartmentCalls, RefuseWhatNoSingleThreadedApartmentCanRun) {
  CallLog log;
  EXPECT_EQ(OrvanPostToApartment(this_apartment(), nullptr, release_numbered, nullptr), E_POINTER);
  std::thread([&] {
    int descriptor = -1;
    ORVAN_APARTMENT none = 0;
    EXPECT_EQ(OrvanGetCurrentApartment(&none), CO_E_NOTINITIALIZED);
    EXPECT_EQ(OrvanPumpApartment(0, nullptr), CO_E_NOTINITIALIZED);
    EXPECT_EQ(OrvanGetApartmentDescriptor(&descriptor), CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(post(this_apartment(), log, 1), RPC_E_DISCONNECTED);
    EXPECT_EQ(OrvanPumpApartment(0, nullptr), RPC_E_WRONG_THREAD);
    EXPECT_EQ(OrvanGetApartmentDescriptor(&descriptor), RPC_E_WRONG_THREAD);
    CoUninitialize();
  }).join();
  EXPECT_EQ(post(0, log, 2), RPC_E_DISCONNECTED);
  EXPECT_EQ(log.released, 0) << "a refused call stays the caller's";
}

TEST_F(ApartmentCalls, DescriptorIsReadableExactlyWhileCallsAreQueued) {
  int descriptor = -1;
  ASSERT_EQ(OrvanGetApartmentDescriptor(&descriptor), S_OK);
  const ORVAN_APARTMENT mine = this_apartment();
  CallLog log;
  EXPECT_FALSE(readable(descriptor));
  ASSERT_EQ(post(mine, log, 1), S_OK);
  ASSERT_EQ(post(mine, log, 2), S_OK);
  EXPECT_TRUE(readable(descriptor));

  // A call that posts another: the new one waits for the next pump, and the descriptor
  // stays readable for it.
  struct Chain {
    CallLog* log;
    ORVAN_APARTMENT apartment;
  } chain{&log, mine};
  ASSERT_EQ(OrvanPostToApartment(
                mine,
                [](void* context) {
                  auto* c = static_cast<Chain*>(context);
                  EXPECT_EQ(post(c->apartment, *c->log, 4), S_OK);
                },
                nullptr, &chain),
            S_OK);
  ULONG ran = 0;
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_OK);
  EXPECT_EQ(ran, 3u);
  EXPECT_TRUE(readable(descriptor));
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_OK);
  EXPECT_EQ(ran, 1u);
  EXPECT_EQ(log.ran, (std::vector<int>{1, 2, 4}));
  EXPECT_FALSE(readable(descriptor));

  // Waiting: a short timeout on an empty queue runs nothing; an unbounded one returns with
  // the call another thread posts while it waits.
  EXPECT_EQ(OrvanPumpApartment(20, &ran), S_FALSE);
  EXPECT_EQ(ran, 0u);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(post(mine, log, 5), S_OK);
  });
  EXPECT_EQ(OrvanPumpApartment(ORVAN_INFINITE, &ran), S_OK);
  late.join();
  EXPECT_EQ(ran, 1u);
  EXPECT_EQ(log.ran.back(), 5);
  EXPECT_FALSE(readable(descriptor));
}

TEST_F(ApartmentCalls, AnApartmentThatEndsReleasesWhatItNeverRanOnItsOwnThread) {
  CallLog log;
  std::promise<ORVAN_APARTMENT> id;
  std::promise<void> posted;
  std::thread::id ending_thread;
  std::thread ending([&] {
    CoInitialize(nullptr);
    CoInitialize(nullptr);
    ending_thread = std::this_thread::get_id();
    id.set_value(this_apartment());
    posted.get_future().wait();
    CoUninitialize();
    EXPECT_EQ(log.released, 0) << "the apartment ended before its last CoUninitialize";
    CoUninitialize();
  });
  const ORVAN_APARTMENT doomed = id.get_future().get();
  for (int n = 1; n <= 5; ++n) ASSERT_EQ(post(doomed, log, n), S_OK);
  posted.set_value();
  ending.join();
  EXPECT_TRUE(log.ran.empty());
  EXPECT_EQ(log.released, 5);
  EXPECT_EQ(log.release_threads, std::vector<std::thread::id>(5, ending_thread));
  EXPECT_EQ(post(doomed, log, 6), RPC_E_DISCONNECTED);

  // A thread that exits still inside its apartment ends it as well.
  std::promise<ORVAN_APARTMENT> exiting_id;
  std::promise<void> exit_now;
  std::thread exiting([&] {
    CoInitialize(nullptr);
    exiting_id.set_value(this_apartment());
    exit_now.get_future().wait();
  });
  const ORVAN_APARTMENT exiting_apartment = exiting_id.get_future().get();
  ASSERT_EQ(post(exiting_apartment, log, 7), S_OK);
  ASSERT_EQ(post(exiting_apartment, log, 8), S_OK);
  exit_now.set_value();
  exiting.join();
  EXPECT_EQ(log.released, 7);
  EXPECT_TRUE(log.ran.empty());
}

}  // namespace
