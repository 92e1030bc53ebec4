// Connection points for any component: a container that answers IConnectionPointContainer
// for an object, and one connection point per source interface, whose fire() delivers an
// event to every advised sink on the sink's own thread.
//
// Use: an object embeds a ConnectionPointContainer (constructed with its controlling
// unknown), adds its source interfaces while it is being made, answers
// IID_IConnectionPointContainer in QueryInterface with container(), and calls fire() on the
// point when something happens.
//
// Lifetime: the container and its points live inside the object; their AddRef and Release
// are the object's. A sink is held from Advise until Unadvise or the object's end.
//
// Threads: Advise, Unadvise, the enumerations and FindConnectionPoint answer only the
// object's apartment (RPC_E_WRONG_THREAD elsewhere). fire() may be called from any thread:
// it copies the arguments and posts one call to the apartment of each sink advised at that
// moment, so it allocates and takes short locks — a real-time render thread must hand its
// events to another thread (through a bounded lock-free ring) that fires them. The posted
// call runs in the sink's apartment pump; it invokes the sink only if it is still advised
// then, so Unadvise inside an event (of this sink or another), and the object's release
// inside an event, are safe: the calls already queued hold the arguments and the connection
// record, not the object. The thread that fires must stop doing so before the object goes:
// the point is part of the object.
//
// A sink whose thread stops pumping must not make its apartment's queue grow without end:
// at most `queue_bound` events wait for one sink at a time, and an event fired while its
// sink has that many waiting is not posted to it but counted (dropped()).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orvan/component_runtime.h"
#include "platform/com/runtime/apartment.h"

namespace orvan::com::runtime {

// A sink's failure: its cookie, the status its Invoke returned (the EXCEPINFO's scode for
// DISP_E_EXCEPTION when it gave one) and the exception's description, if any.
struct SinkFailure {
  DWORD cookie = 0;
  HRESULT status = S_OK;
  std::u16string description;
};
// Called on the sink's thread, once per connection: the first failure of a sink is reported,
// later ones only counted. A failing sink keeps its connection and the other sinks their
// events.
using SinkFailureReport = std::function<void(const SinkFailure&)>;

class ConnectionPointContainer;

class ConnectionPoint final : public ::IConnectionPoint {
 public:
  static constexpr std::size_t kDefaultAdviseLimit = 64;
  static constexpr std::size_t kDefaultQueueBound = 4096;

  ConnectionPoint(ConnectionPointContainer& container, const IID& iid, std::size_t advise_limit,
                  std::size_t queue_bound = kDefaultQueueBound);
  ~ConnectionPoint();
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  // --- IUnknown: its own identity, the object's lifetime -------------------------------------
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // --- IConnectionPoint -----------------------------------------------------------------------
  HRESULT GetConnectionInterface(IID* iid) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT Unadvise(DWORD cookie) override;
  HRESULT EnumConnections(IEnumConnections** connections) override;

  // --- The source's side ----------------------------------------------------------------------
  // Posts the event `dispid` with `params` (positional arguments, last first, as Invoke
  // takes them; named ones are refused with E_INVALIDARG) to every sink advised now. Any
  // thread; see the header's note. `posted` (may be null) receives how many sinks it was
  // posted to; a sink whose apartment has ended is skipped; `dropped` (may be null) how many
  // were not because they already had the queue's bound of events waiting.
  HRESULT fire(DISPID dispid, const DISPPARAMS& params, ULONG* posted = nullptr,
               ULONG* dropped = nullptr);

  // Replaces the report of failing sinks (by default a line on standard error). Set it
  // before advising; it is called on the sinks' threads.
  void set_failure_report(SinkFailureReport report);
  // Sink calls that failed, over the point's life. Any thread.
  std::uint64_t failures() const noexcept;
  // Events not posted to a sink that had the queue's bound waiting, over the point's life
  // (one per sink that missed one). Any thread.
  std::uint64_t dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }
  const IID& iid() const noexcept { return iid_; }

  struct Connection;
  struct Reporting;

 private:
  ConnectionPointContainer& container_;
  const IID iid_;
  const std::size_t advise_limit_;
  const std::size_t queue_bound_;
  std::atomic<std::uint64_t> dropped_{0};
  mutable std::mutex mutex_;  // guards connections_ and next_cookie_, held only for a copy
  std::vector<std::shared_ptr<Connection>> connections_;
  DWORD next_cookie_ = 1;
  std::shared_ptr<Reporting> reporting_;
};

class ConnectionPointContainer final : public ::IConnectionPointContainer {
 public:
  // `owner` is the object's controlling unknown: QueryInterface, AddRef and Release go to it.
  explicit ConnectionPointContainer(::IUnknown& owner) noexcept : owner_(owner) {}
  ConnectionPointContainer(const ConnectionPointContainer&) = delete;
  ConnectionPointContainer& operator=(const ConnectionPointContainer&) = delete;

  // Adds the point of the source interface `iid`; only while the object is being made.
  ConnectionPoint& add(const IID& iid,
                       std::size_t advise_limit = ConnectionPoint::kDefaultAdviseLimit,
                       std::size_t queue_bound = ConnectionPoint::kDefaultQueueBound);
  // The point of `iid`, or null.
  ConnectionPoint* find(const IID& iid) const noexcept;
  // What QueryInterface hands out for IID_IConnectionPointContainer (without a reference).
  ::IConnectionPointContainer* container() noexcept { return this; }
  const ApartmentAffinity& apartment() const noexcept { return apartment_; }

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

 private:
  ::IUnknown& owner_;
  const ApartmentAffinity apartment_;
  std::vector<std::unique_ptr<ConnectionPoint>> points_;
};

}  // namespace orvan::com::runtime
