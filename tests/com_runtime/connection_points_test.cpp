// Connection points: advising and its refusals, the enumerators, and events delivered to
// sinks on their own thread, in order, through the apartment's pump.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "orvan/component_runtime.h"
#include "platform/com/runtime/connection_point.h"

namespace {

using orvan::com::runtime::ConnectionPoint;
using orvan::com::runtime::ConnectionPointContainer;
using orvan::com::runtime::SinkFailure;

ORVAN_DEFINE_GUID(IID_ITestEvents, 0x5D0C61B2, 0x2A7E, 0x4C41, 0x9E, 0x50, 0x1B, 0x6F, 0x3A, 0x8D,
                  0x27, 0xC4)
ORVAN_DEFINE_GUID(IID_IOtherEvents, 0x5D0C61B3, 0x2A7E, 0x4C41, 0x9E, 0x50, 0x1B, 0x6F, 0x3A, 0x8D,
                  0x27, 0xC4)
constexpr std::size_t kAdviseLimit = 3;
constexpr std::size_t kQueueBound = 4;

// An object with one source interface, counted so a test sees it go.
class Source final : public IUnknown {
 public:
  explicit Source(std::atomic<int>& alive) : alive_(alive) {
    ++alive_;
    events_.add(IID_ITestEvents, kAdviseLimit, kQueueBound);
  }
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown) {
      *object = static_cast<IUnknown*>(this);
    } else if (riid == IID_IConnectionPointContainer) {
      *object = events_.container();
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  ConnectionPoint& point() { return *events_.find(IID_ITestEvents); }

 private:
  ~Source() { --alive_; }
  std::atomic<ULONG> refs_{1};
  std::atomic<int>& alive_;
  ConnectionPointContainer events_{*this};
};

// A sink of ITestEvents (or of nothing, when it lacks the interface): every event's
// identifier and first argument go to the shared log, with the thread it came on.
struct Delivery {
  int sink;
  DISPID event;
  LONG value;
  std::thread::id thread;
  friend bool operator==(const Delivery&, const Delivery&) = default;
};

class Sink final : public IDispatch {
 public:
  Sink(int number, std::vector<Delivery>& log, bool has_interface = true)
      : number_(number), log_(log), has_interface_(has_interface) {}
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch ||
        (has_interface_ && riid == IID_ITestEvents)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { return --refs_; }  // lives on the test's stack
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO* info,
                 UINT*) override {
    log_.push_back({number_, id, params->cArgs ? params->rgvarg[params->cArgs - 1].lVal : -1,
                    std::this_thread::get_id()});
    if (on_event) on_event();
    if (fail) {
      info->scode = E_INVALIDARG;
      info->bstrDescription = SysAllocString(u"handler raised");
      return DISP_E_EXCEPTION;
    }
    return S_OK;
  }
  ULONG refs() const { return refs_; }

  std::function<void()> on_event;
  bool fail = false;

 private:
  const int number_;
  std::vector<Delivery>& log_;
  const bool has_interface_;
  std::atomic<ULONG> refs_{1};
};

class ConnectionPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    source_ = new Source(alive_);
    ASSERT_EQ(source_->QueryInterface(IID_IConnectionPointContainer,
                                      reinterpret_cast<void**>(&container_)),
              S_OK);
    ASSERT_EQ(container_->FindConnectionPoint(IID_ITestEvents, &point_), S_OK);
    container_->Release();  // the point keeps the object alive
  }
  void TearDown() override {
    if (point_) point_->Release();
    if (source_ref_) source_->Release();
    OrvanPumpApartment(0, nullptr);
    CoUninitialize();
  }

  // Fires `event` with one long argument from a thread of its own, as a source's delivery
  // thread would.
  void fire_elsewhere(DISPID event, LONG value, ULONG expected_sinks, ULONG expected_dropped = 0) {
    std::thread([&] {
      VARIANT arg;
      VariantInit(&arg);
      arg.vt = VT_I4;
      arg.lVal = value;
      DISPPARAMS params{&arg, nullptr, 1, 0};
      ULONG posted = 0, dropped = 0;
      EXPECT_EQ(source_->point().fire(event, params, &posted, &dropped), S_OK);
      EXPECT_EQ(posted, expected_sinks);
      EXPECT_EQ(dropped, expected_dropped);
    }).join();
  }

  std::atomic<int> alive_{0};
  Source* source_ = nullptr;
  bool source_ref_ = true;  // the test still holds the object's first reference
  IConnectionPointContainer* container_ = nullptr;
  IConnectionPoint* point_ = nullptr;
  std::vector<Delivery> log_;

  // A sink that outlives the object, which releases the sinks still advised when it goes.
  Sink& sink(int number, bool has_interface = true) {
    return sinks_.emplace_back(number, log_, has_interface);
  }
  std::deque<Sink> sinks_;
};

TEST_F(ConnectionPoints, AdviseCountsItsLimitAndUnadviseKnowsItsCookies) {
  IConnectionPoint* other = nullptr;
  EXPECT_EQ(container_->FindConnectionPoint(IID_IOtherEvents, &other), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(container_->FindConnectionPoint(IID_ITestEvents, nullptr), E_POINTER);
  IID iid = IID_NULL;
  EXPECT_EQ(point_->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(iid == IID_ITestEvents);

  Sink* sinks[4] = {&sink(1), &sink(2), &sink(3), &sink(4)};
  Sink& stranger = sink(9, /*has_interface=*/false);
  DWORD cookie = 77;
  EXPECT_EQ(point_->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(point_->Advise(sinks[0], nullptr), E_POINTER);
  EXPECT_EQ(point_->Advise(&stranger, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(stranger.refs(), 1u);
  std::thread([&] {
    CoInitialize(nullptr);
    DWORD elsewhere = 0;
    EXPECT_EQ(point_->Advise(sinks[0], &elsewhere), RPC_E_WRONG_THREAD);
    CoUninitialize();
  }).join();

  DWORD cookies[3] = {};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(point_->Advise(sinks[i], &cookies[i]), S_OK);
  EXPECT_EQ(point_->Advise(sinks[3], &cookie), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(sinks[3]->refs(), 1u);
  EXPECT_EQ(sinks[0]->refs(), 2u);

  EXPECT_EQ(point_->Unadvise(cookies[1]), S_OK);
  EXPECT_EQ(point_->Unadvise(cookies[1]), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point_->Unadvise(0), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(sinks[1]->refs(), 1u);
  ASSERT_EQ(point_->Advise(sinks[3], &cookie), S_OK) << "the unadvised place is free again";
  EXPECT_NE(cookie, cookies[1]) << "a cookie is never handed out twice";

  // The enumerator is a snapshot: 0, 2 and 3 in the order they were advised.
  IEnumConnections* connections = nullptr;
  ASSERT_EQ(point_->EnumConnections(&connections), S_OK);
  EXPECT_EQ(point_->Unadvise(cookie), S_OK);
  EXPECT_EQ(sinks[3]->refs(), 2u) << "the enumerator holds what it lists";
  CONNECTDATA got[4] = {};
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(4, got, nullptr), E_POINTER);
  EXPECT_EQ(connections->Skip(1), S_OK);
  EXPECT_EQ(connections->Next(4, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(got[0].dwCookie, cookies[2]);
  EXPECT_EQ(got[1].dwCookie, cookie);
  EXPECT_EQ(got[1].pUnk, static_cast<IUnknown*>(sinks[3]));
  for (ULONG i = 0; i < fetched; ++i) got[i].pUnk->Release();
  EXPECT_EQ(connections->Skip(1), S_FALSE);
  IEnumConnections* copy = nullptr;
  ASSERT_EQ(connections->Reset(), S_OK);
  ASSERT_EQ(connections->Clone(&copy), S_OK);
  connections->Release();
  EXPECT_EQ(copy->Next(1, got, nullptr), S_OK);
  EXPECT_EQ(got[0].dwCookie, cookies[0]);
  got[0].pUnk->Release();
  copy->Release();
  EXPECT_EQ(sinks[3]->refs(), 1u);

  IEnumConnectionPoints* points = nullptr;
  ASSERT_EQ(container_->EnumConnectionPoints(&points), S_OK);
  IConnectionPoint* listed[2] = {};
  EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(listed[0], point_);
  listed[0]->Release();
  points->Release();
}

TEST_F(ConnectionPoints, EventsReachEverySinkInOrderOnItsThreadAndAFailureStopsNoOther) {
  Sink& failing = sink(1);
  Sink& steady = sink(2);
  failing.fail = true;
  std::vector<SinkFailure> reports;
  source_->point().set_failure_report([&](const SinkFailure& f) { reports.push_back(f); });
  DWORD failing_cookie = 0, steady_cookie = 0;
  ASSERT_EQ(point_->Advise(&failing, &failing_cookie), S_OK);
  ASSERT_EQ(point_->Advise(&steady, &steady_cookie), S_OK);

  fire_elsewhere(5, 11, 2);
  fire_elsewhere(6, 22, 2);
  fire_elsewhere(5, 33, 2);
  EXPECT_TRUE(log_.empty()) << "an event ran before its thread pumped";
  ULONG ran = 0;
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_OK);
  EXPECT_EQ(ran, 6u);
  const auto me = std::this_thread::get_id();
  const std::vector<Delivery> expected = {{1, 5, 11, me}, {2, 5, 11, me}, {1, 6, 22, me},
                                          {2, 6, 22, me}, {1, 5, 33, me}, {2, 5, 33, me}};
  EXPECT_EQ(log_, expected);
  EXPECT_EQ(source_->point().failures(), 3u);
  ASSERT_EQ(reports.size(), 1u) << "a failing sink is reported once";
  EXPECT_EQ(reports[0].cookie, failing_cookie);
  EXPECT_EQ(reports[0].status, E_INVALIDARG);
  EXPECT_EQ(reports[0].description, u"handler raised");
}

// A sink whose thread does not pump holds at most the bound of events waiting; those fired
// beyond it are counted, and every event it has run makes room for one more.
TEST_F(ConnectionPoints, ASinkThatIsNotPumpedKeepsTheBoundAndTheRestAreCounted) {
  Sink& slow = sink(1);
  DWORD cookie = 0;
  ASSERT_EQ(point_->Advise(&slow, &cookie), S_OK);
  for (LONG value = 1; value <= 6; ++value) {
    const bool room = value <= static_cast<LONG>(kQueueBound);
    fire_elsewhere(8, value, room ? 1 : 0, room ? 0 : 1);
  }
  EXPECT_EQ(source_->point().dropped(), 2u);
  ULONG ran = 0;
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_OK);
  EXPECT_EQ(ran, kQueueBound);
  fire_elsewhere(8, 7, 1);
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_OK);
  EXPECT_EQ(ran, 1u);
  std::vector<LONG> values;
  for (const Delivery& d : log_) values.push_back(d.value);
  EXPECT_EQ(values, (std::vector<LONG>{1, 2, 3, 4, 7}));
  EXPECT_EQ(source_->point().dropped(), 2u);
}

TEST_F(ConnectionPoints, UnadviseAndTheObjectsEndInsideAnEventAreSafe) {
  Sink& first = sink(1);
  Sink& second = sink(2);
  Sink& third = sink(3);
  DWORD cookies[3] = {};
  ASSERT_EQ(point_->Advise(&first, &cookies[0]), S_OK);
  ASSERT_EQ(point_->Advise(&second, &cookies[1]), S_OK);
  ASSERT_EQ(point_->Advise(&third, &cookies[2]), S_OK);
  // The first sink's first event unadvises the second sink; the third's first event drops
  // the last references to the object.
  first.on_event = [&] {
    if (log_.size() == 1) {
      EXPECT_EQ(point_->Unadvise(cookies[1]), S_OK);
    }
  };
  third.on_event = [&] {
    if (point_) {
      point_->Release();
      point_ = nullptr;
      source_->Release();
      source_ref_ = false;
    }
  };
  fire_elsewhere(7, 1, 3);
  fire_elsewhere(7, 2, 3);
  ULONG ran = 0;
  EXPECT_EQ(OrvanPumpApartment(0, &ran), S_OK);
  EXPECT_EQ(ran, 6u);
  const auto me = std::this_thread::get_id();
  // The second sink was unadvised before its first event ran: it gets none. The object's
  // end disconnects the rest: events already queued for them are not delivered.
  const std::vector<Delivery> expected = {{1, 7, 1, me}, {3, 7, 1, me}};
  EXPECT_EQ(log_, expected);
  EXPECT_EQ(alive_, 0);
  for (const Sink* sink : {&first, &second, &third}) EXPECT_EQ(sink->refs(), 1u);
}

}  // namespace
