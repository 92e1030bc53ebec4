// The root's events: handles, one callback per signal, and what DestroyEvent and the root's
// destruction promise while callbacks are arriving.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/music/client/event_hub.h"
#include "platform/music/client/root.h"
#include "wait_until.h"

using namespace orvan;
using namespace orvan::music;
using namespace std::chrono_literals;

namespace {

// Records every callback; can sleep inside it or run an action there.
class RecordingSink final : public EventSink {
 public:
  HResult DXCallback(std::int32_t eventid) override {
    inside.store(true);
    last_eventid.store(eventid);
    if (closed.load()) late_calls.fetch_add(1);
    if (on_call) on_call();
    if (sleep_inside.count() > 0) std::this_thread::sleep_for(sleep_inside);
    if (closed.load()) late_calls.fetch_add(1);
    thread = std::this_thread::get_id();
    inside.store(false);
    calls.fetch_add(1);  // last, so a test that saw the count sees the whole callback
    return com::S_OK;
  }

  std::atomic<int> calls{0};
  std::atomic<bool> inside{false};
  std::atomic<bool> closed{false};  // set by the test once delivery must have stopped
  std::atomic<int> late_calls{0};
  std::atomic<std::int32_t> last_eventid{0};
  std::thread::id thread;
  std::chrono::milliseconds sleep_inside{0};
  std::function<void()> on_call;
};

}  // namespace

TEST(RootEvents, HandlesAreDistinctPositiveAndCheckedOnEveryCall) {
  Ref<DirectX8> dx = DirectX8::create();
  RecordingSink sink;
  std::set<std::int32_t> handles;
  for (int i = 0; i < 50; ++i) {
    std::int32_t h = 0;
    ASSERT_EQ(dx->CreateEvent(&sink, h), com::S_OK);
    EXPECT_GT(h, 0);
    handles.insert(h);
  }
  EXPECT_EQ(handles.size(), 50u);

  std::int32_t untouched = 77;
  EXPECT_EQ(dx->CreateEvent(nullptr, untouched), com::E_POINTER);
  EXPECT_EQ(untouched, 77);

  const std::int32_t first = *handles.begin();
  ASSERT_EQ(dx->DestroyEvent(first), com::S_OK);
  for (std::int32_t bad : {0, -1, first, first ^ (1 << 20), 0x7FFFFFFF}) {
    EXPECT_EQ(dx->DestroyEvent(bad), com::MUSIC_E_UNKNOWN_EVENT) << bad;
    EXPECT_EQ(dx->SetEvent(bad), com::MUSIC_E_UNKNOWN_EVENT) << bad;
  }
  // A later event may reuse the slot but never the destroyed handle.
  for (int i = 0; i < EventHub::kCapacity; ++i) {
    std::int32_t h = 0;
    if (dx->CreateEvent(&sink, h) != com::S_OK) break;
    EXPECT_NE(h, first);
  }
  EXPECT_EQ(sink.calls.load(), 0);
}

TEST(RootEvents, TableFullIsRefusedAndAFreedSlotIsUsedAgain) {
  std::shared_ptr<EventHub> hub = EventHub::create();
  RecordingSink sink;
  std::vector<std::int32_t> handles;
  for (int i = 0; i < EventHub::kCapacity; ++i) {
    std::int32_t h = 0;
    ASSERT_EQ(hub->create_event(&sink, h), com::S_OK) << i;
    handles.push_back(h);
  }
  std::int32_t h = 0;
  EXPECT_EQ(hub->create_event(&sink, h), com::E_OUTOFMEMORY);
  ASSERT_EQ(hub->destroy_event(handles[500]), com::S_OK);
  ASSERT_EQ(hub->create_event(&sink, h), com::S_OK);
  EXPECT_NE(h, handles[500]);
  // The new event works and the old handle still does not.
  EXPECT_EQ(hub->signal(handles[500]), com::MUSIC_E_UNKNOWN_EVENT);
  EXPECT_EQ(hub->signal(h), com::S_OK);
  EXPECT_TRUE(wait_until([&] { return sink.calls.load() == 1; }));
  EXPECT_EQ(sink.last_eventid.load(), h);
}

TEST(RootEvents, EverySignalGivesExactlyOneCallbackOnAnotherThread) {
  Ref<DirectX8> dx = DirectX8::create();
  RecordingSink a;
  RecordingSink b;
  std::int32_t ha = 0;
  std::int32_t hb = 0;
  ASSERT_EQ(dx->CreateEvent(&a, ha), com::S_OK);
  ASSERT_EQ(dx->CreateEvent(&b, hb), com::S_OK);

  // The first callback holds the thread while more signals arrive: they must be counted,
  // not merged.
  std::atomic<bool> release{false};
  a.on_call = [&] {
    while (!release.load()) std::this_thread::sleep_for(1ms);
  };
  ASSERT_EQ(dx->SetEvent(ha), com::S_OK);
  ASSERT_TRUE(wait_until([&] { return a.inside.load(); }));
  for (int i = 0; i < 199; ++i) ASSERT_EQ(dx->SetEvent(ha), com::S_OK);
  for (int i = 0; i < 30; ++i) ASSERT_EQ(dx->SetEvent(hb), com::S_OK);
  release.store(true);

  EXPECT_TRUE(wait_until([&] { return a.calls.load() == 200 && b.calls.load() == 30; }));
  // Destroying waits for anything in flight, so the counts are final afterwards.
  ASSERT_EQ(dx->DestroyEvent(ha), com::S_OK);
  ASSERT_EQ(dx->DestroyEvent(hb), com::S_OK);
  EXPECT_EQ(a.calls.load(), 200);
  EXPECT_EQ(b.calls.load(), 30);
  EXPECT_EQ(a.last_eventid.load(), ha);
  EXPECT_EQ(b.last_eventid.load(), hb);
  EXPECT_NE(a.thread, std::this_thread::get_id());
}

TEST(RootEvents, NoCallbackReachesTheSinkAfterDestroyEventReturns) {
  Ref<DirectX8> dx = DirectX8::create();
  for (int round = 0; round < 20; ++round) {
    RecordingSink sink;
    sink.sleep_inside = 1ms;
    std::int32_t h = 0;
    ASSERT_EQ(dx->CreateEvent(&sink, h), com::S_OK);

    std::atomic<bool> stop{false};
    std::atomic<int> refused{0};
    std::thread signaller([&] {
      while (!stop.load()) {
        if (dx->SetEvent(h) == com::MUSIC_E_UNKNOWN_EVENT) refused.fetch_add(1);
        std::this_thread::yield();
      }
    });
    ASSERT_TRUE(wait_until([&] { return sink.calls.load() >= 2 + round % 3; }));
    ASSERT_EQ(dx->DestroyEvent(h), com::S_OK);
    sink.closed.store(true);
    EXPECT_FALSE(sink.inside.load());
    const int calls_at_destroy = sink.calls.load();

    ASSERT_TRUE(wait_until([&] { return refused.load() > 0; }));
    std::this_thread::sleep_for(5ms);
    stop.store(true);
    signaller.join();
    EXPECT_EQ(sink.calls.load(), calls_at_destroy);
    EXPECT_EQ(sink.late_calls.load(), 0);
  }
}

TEST(RootEvents, DestroyEventFromInsideItsOwnCallbackDropsPendingSignals) {
  Ref<DirectX8> dx = DirectX8::create();
  RecordingSink sink;
  std::int32_t h = 0;
  ASSERT_EQ(dx->CreateEvent(&sink, h), com::S_OK);
  std::atomic<bool> release{false};
  std::atomic<HResult> destroyed{com::E_FAIL};
  sink.on_call = [&] {
    while (!release.load()) std::this_thread::sleep_for(1ms);
    destroyed.store(dx->DestroyEvent(h));
  };
  for (int i = 0; i < 5; ++i) ASSERT_EQ(dx->SetEvent(h), com::S_OK);
  ASSERT_TRUE(wait_until([&] { return sink.inside.load(); }));
  release.store(true);
  ASSERT_TRUE(wait_until([&] { return sink.calls.load() == 1; }));
  EXPECT_EQ(destroyed.load(), com::S_OK);

  // The thread is still alive for other events after that.
  RecordingSink other;
  std::int32_t h2 = 0;
  ASSERT_EQ(dx->CreateEvent(&other, h2), com::S_OK);
  ASSERT_EQ(dx->SetEvent(h2), com::S_OK);
  EXPECT_TRUE(wait_until([&] { return other.calls.load() == 1; }));
  EXPECT_EQ(sink.calls.load(), 1);
}

TEST(RootEvents, ReleasingTheRootWaitsForTheCallbackInFlightAndEndsDelivery) {
  Ref<DirectX8> dx = DirectX8::create();
  RecordingSink slow;
  RecordingSink idle;
  slow.sleep_inside = 30ms;
  std::int32_t hs = 0;
  std::int32_t hi = 0;
  ASSERT_EQ(dx->CreateEvent(&slow, hs), com::S_OK);
  ASSERT_EQ(dx->CreateEvent(&idle, hi), com::S_OK);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(dx->SetEvent(hs), com::S_OK);
  ASSERT_TRUE(wait_until([&] { return slow.inside.load(); }));

  dx.reset();
  slow.closed.store(true);
  EXPECT_FALSE(slow.inside.load());
  const int calls = slow.calls.load();
  EXPECT_LT(calls, 10);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(slow.calls.load(), calls);
  EXPECT_EQ(slow.late_calls.load(), 0);
  EXPECT_EQ(idle.calls.load(), 0);
}

TEST(RootEvents, LastRootReferenceDroppedInsideACallbackDoesNotDeadlock) {
  Ref<DirectX8> dx = DirectX8::create();
  // Nobody can wait for this callback to return (its thread is the one that drops the
  // root), so the sink must outlive the test.
  static RecordingSink sink;
  std::int32_t h = 0;
  ASSERT_EQ(dx->CreateEvent(&sink, h), com::S_OK);
  static Ref<DirectX8> held_by_callback;
  held_by_callback = dx;
  DirectX8* root = dx.get();
  dx.reset();
  static std::atomic<bool> go;
  static std::atomic<bool> released;
  go.store(false);
  released.store(false);
  sink.calls.store(0);
  sink.on_call = [] {
    while (!go.load()) std::this_thread::sleep_for(1ms);
    held_by_callback.reset();
    released.store(true);
  };
  sink.sleep_inside = 5ms;
  // The second signal is still pending when the root goes: it must not be delivered.
  ASSERT_EQ(root->SetEvent(h), com::S_OK);
  ASSERT_EQ(root->SetEvent(h), com::S_OK);
  go.store(true);
  ASSERT_TRUE(wait_until([&] { return sink.calls.load() == 1; }));
  EXPECT_TRUE(released.load());
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(sink.calls.load(), 1);
}

TEST(RootEvents, AHubThatOutlivesItsShutdownSignalsNothing) {
  // What a performance holding the hub sees once its root is gone.
  std::shared_ptr<EventHub> hub = EventHub::create();
  RecordingSink sink;
  std::int32_t h = 0;
  ASSERT_EQ(hub->create_event(&sink, h), com::S_OK);
  hub->shutdown();
  EXPECT_EQ(hub->signal(h), com::MUSIC_E_UNKNOWN_EVENT);
  EXPECT_EQ(hub->destroy_event(h), com::MUSIC_E_UNKNOWN_EVENT);
  EXPECT_EQ(hub->create_event(&sink, h), com::MUSIC_E_CLOSED);
  EXPECT_EQ(hub->event_count(), 0);
  hub->shutdown();
  EXPECT_EQ(sink.calls.load(), 0);
}

namespace {

// Knows which handles it was given and counts callbacks naming any other.
class ChurnSink final : public EventSink {
 public:
  HResult DXCallback(std::int32_t eventid) override {
    {
      std::lock_guard lock(mutex);
      if (!mine.contains(eventid)) foreign.fetch_add(1);
    }
    calls.fetch_add(1);
    return com::S_OK;
  }
  void own(std::int32_t handle) {
    std::lock_guard lock(mutex);
    mine.insert(handle);
  }

  std::mutex mutex;
  std::set<std::int32_t> mine;
  std::atomic<int> calls{0};
  std::atomic<int> foreign{0};
};

}  // namespace

TEST(RootEvents, ManySignallersAndEventsChurningTogether) {
  // Events are destroyed and created again while several threads signal them: a signal
  // must never reach the sink of an event that took over a destroyed one's slot.
  Ref<DirectX8> dx = DirectX8::create();
  constexpr int kEvents = 8;
  std::vector<ChurnSink> sinks(kEvents);
  std::vector<std::atomic<std::int32_t>> handles(kEvents);
  auto create = [&](std::size_t i) {
    std::int32_t h = 0;
    ASSERT_EQ(dx->CreateEvent(&sinks[i], h), com::S_OK);
    sinks[i].own(h);
    handles[i].store(h);
  };
  for (std::size_t i = 0; i < kEvents; ++i) create(i);

  std::atomic<bool> stop{false};
  std::atomic<int> accepted{0};
  std::vector<std::thread> signallers;
  for (int t = 0; t < 3; ++t) {
    signallers.emplace_back([&, t] {
      for (int n = t; !stop.load(); ++n) {
        if (dx->SetEvent(handles[static_cast<std::size_t>(n % kEvents)].load()) == com::S_OK) {
          accepted.fetch_add(1);
        }
      }
    });
  }
  for (int round = 0; round < 300; ++round) {
    const auto i = static_cast<std::size_t>(round % kEvents);
    ASSERT_EQ(dx->DestroyEvent(handles[i].load()), com::S_OK);
    create(i);
    if (round % 50 == 0) std::this_thread::sleep_for(1ms);
  }
  stop.store(true);
  for (std::thread& t : signallers) t.join();

  // The survivors still deliver.
  for (std::size_t i = 0; i < kEvents; ++i) ASSERT_EQ(dx->SetEvent(handles[i].load()), com::S_OK);
  EXPECT_TRUE(wait_until([&] {
    return std::all_of(sinks.begin(), sinks.end(),
                       [](const ChurnSink& s) { return s.calls.load() > 0; });
  }));
  for (auto& h : handles) ASSERT_EQ(dx->DestroyEvent(h.load()), com::S_OK);
  int delivered = 0;
  for (const ChurnSink& s : sinks) {
    delivered += s.calls.load();
    EXPECT_EQ(s.foreign.load(), 0);
  }
  // Signals pending at a DestroyEvent are dropped, never delivered twice.
  EXPECT_LE(delivered, accepted.load() + kEvents);
}
