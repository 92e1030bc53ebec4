// Connection points: advising, enumerating and firing events into the sinks' apartments.
#include "platform/com/runtime/connection_point.h"

#include <cstdio>
#include <string>

#include "platform/com/auto_string.h"
#include "platform/com/runtime/snapshot_enumerator.h"

namespace orvan::com::runtime {

// One advised sink. The point's list and every event posted to the sink share it; `sink`
// empties when the sink is unadvised (or the point ends), and an event that finds it empty
// is not delivered.
struct ConnectionPoint::Connection {
  Connection(DWORD cookie_, ApartmentToken apartment_, IDispatch* sink_)
      : cookie(cookie_), apartment(apartment_), sink(sink_) {}
  const DWORD cookie;
  const ApartmentToken apartment;
  std::mutex mutex;
  IDispatch* sink;                      // the connection's reference; null once disconnected
  std::atomic<bool> reported{false};    // its first failure has been reported
  std::atomic<std::size_t> waiting{0};  // events posted to it and not yet run or dropped
};

// How failures are told: shared with the posted events, which may outlive the point.
struct ConnectionPoint::Reporting {
  std::mutex mutex;
  SinkFailureReport report;
  std::atomic<std::uint64_t> failures{0};
};

namespace {

void report_on_standard_error(const SinkFailure& failure) {
  char fallback[ORVAN_STATUS_FALLBACK_SIZE];
  const std::string description = utf16_to_utf8(failure.description);
  std::fprintf(stderr, "orvan: an event sink (connection %u) failed: %s%s%s\n",
               static_cast<unsigned>(failure.cookie),
               orvan_status_describe(failure.status, fallback), description.empty() ? "" : " ",
               description.c_str());
}

// An event's arguments, copied once when it is fired; each sink gets its own copy of them
// in its apartment, so a sink that changes what it was given changes nothing for the next.
class EventArguments {
 public:
  EventArguments(DISPID dispid, const DISPPARAMS& params) : dispid_(dispid) {
    values_.resize(params.cArgs);
    for (VARIANT& v : values_) VariantInit(&v);
    for (UINT i = 0; i < params.cArgs && SUCCEEDED(status_); ++i)
      status_ = VariantCopy(&values_[i], &params.rgvarg[i]);
  }
  ~EventArguments() {
    for (VARIANT& v : values_) VariantClear(&v);
  }
  EventArguments(const EventArguments&) = delete;
  EventArguments& operator=(const EventArguments&) = delete;

  HRESULT status() const noexcept { return status_; }
  DISPID dispid() const noexcept { return dispid_; }
  const std::vector<VARIANT>& values() const noexcept { return values_; }

 private:
  DISPID dispid_;
  std::vector<VARIANT> values_;
  HRESULT status_ = S_OK;
};

void clear_excepinfo(EXCEPINFO& info) {
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  info = EXCEPINFO{};
}

// Runs in the sink's apartment: one event into one sink, if it is still connected.
void deliver(ConnectionPoint::Connection& connection, const EventArguments& event,
             ConnectionPoint::Reporting& reporting) {
  IDispatch* sink = nullptr;
  {
    std::lock_guard lock(connection.mutex);
    sink = connection.sink;
    if (!sink) return;
    sink->AddRef();  // an Unadvise from inside the call must not free the sink under it
  }
  std::vector<VARIANT> args(event.values().size());
  HRESULT hr = S_OK;
  for (std::size_t i = 0; i < args.size(); ++i) {
    VariantInit(&args[i]);
    if (SUCCEEDED(hr)) hr = VariantCopy(&args[i], &event.values()[i]);
  }
  EXCEPINFO info{};
  if (SUCCEEDED(hr)) {
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    VARIANT result;
    VariantInit(&result);
    UINT arg_err = 0;
    try {
      hr = sink->Invoke(event.dispid(), IID_NULL, 0, DISPATCH_METHOD, &params, &result, &info,
                        &arg_err);
    } catch (...) {
      hr = E_UNEXPECTED;  // a C++ sink that threw: a failure like any other
    }
    VariantClear(&result);
  }
  for (VARIANT& v : args) VariantClear(&v);
  sink->Release();
  if (SUCCEEDED(hr)) {
    clear_excepinfo(info);
    return;
  }
  if (hr == DISP_E_EXCEPTION && info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  SinkFailure failure{connection.cookie, hr, {}};
  if (hr == DISP_E_EXCEPTION && info.scode != 0) failure.status = info.scode;
  if (info.bstrDescription) failure.description.assign(info.bstrDescription);
  clear_excepinfo(info);
  reporting.failures.fetch_add(1, std::memory_order_relaxed);
  if (connection.reported.exchange(true)) return;
  SinkFailureReport report;
  {
    std::lock_guard lock(reporting.mutex);
    report = reporting.report;
  }
  if (report) report(failure);
}

// Holds one of a connection's waiting places while its event is queued: given back when the
// posted call is destroyed, whether it ran or its apartment ended first.
class WaitingPlace {
 public:
  explicit WaitingPlace(std::shared_ptr<ConnectionPoint::Connection> connection) noexcept
      : connection_(std::move(connection)) {}
  WaitingPlace(WaitingPlace&& other) noexcept = default;
  WaitingPlace(const WaitingPlace&) = delete;
  WaitingPlace& operator=(const WaitingPlace&) = delete;
  WaitingPlace& operator=(WaitingPlace&&) = delete;
  ~WaitingPlace() {
    if (connection_) connection_->waiting.fetch_sub(1, std::memory_order_acq_rel);
  }
  ConnectionPoint::Connection& connection() const noexcept { return *connection_; }

 private:
  std::shared_ptr<ConnectionPoint::Connection> connection_;
};

struct ConnectionTraits {
  static void add(const CONNECTDATA& item) { item.pUnk->AddRef(); }
  static void release(const CONNECTDATA& item) { item.pUnk->Release(); }
};
struct PointTraits {
  static void add(IConnectionPoint* item) { item->AddRef(); }
  static void release(IConnectionPoint* item) { item->Release(); }
};
using ConnectionEnumerator =
    SnapshotEnumerator<IEnumConnections, IID_IEnumConnections, CONNECTDATA, ConnectionTraits>;
using PointEnumerator = SnapshotEnumerator<IEnumConnectionPoints, IID_IEnumConnectionPoints,
                                           IConnectionPoint*, PointTraits>;

}  // namespace

// --- ConnectionPoint ---------------------------------------------------------------------------

ConnectionPoint::ConnectionPoint(ConnectionPointContainer& container, const IID& iid,
                                 std::size_t advise_limit, std::size_t queue_bound)
    : container_(container),
      iid_(iid),
      advise_limit_(advise_limit),
      queue_bound_(queue_bound),
      reporting_(std::make_shared<Reporting>()) {
  reporting_->report = report_on_standard_error;
}

ConnectionPoint::~ConnectionPoint() {
  for (const auto& connection : connections_) {
    IDispatch* sink = nullptr;
    {
      std::lock_guard lock(connection->mutex);
      sink = std::exchange(connection->sink, nullptr);
    }
    if (sink) sink->Release();
  }
}

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ConnectionPoint::AddRef() {
  return container_.AddRef();
}

ULONG ConnectionPoint::Release() {
  return container_.Release();
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  container_.AddRef();
  *container = &container_;
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (const HRESULT hr = container_.apartment().check(); FAILED(hr)) return hr;
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  // Only a single-threaded apartment has a thread that pumps the events to its sinks.
  const ApartmentToken apartment = current_apartment();
  if (apartment == kNoApartment || apartment == kMultithreaded) return CONNECT_E_CANNOTCONNECT;
  void* as_source = nullptr;
  if (FAILED(sink->QueryInterface(iid_, &as_source)) || !as_source) return CONNECT_E_CANNOTCONNECT;
  auto* dispatch = static_cast<IDispatch*>(as_source);
  std::lock_guard lock(mutex_);
  if (connections_.size() >= advise_limit_) {
    dispatch->Release();
    return CONNECT_E_ADVISELIMIT;
  }
  try {
    connections_.push_back(std::make_shared<Connection>(next_cookie_, apartment, dispatch));
  } catch (const std::bad_alloc&) {
    dispatch->Release();
    return E_OUTOFMEMORY;
  }
  *cookie = next_cookie_++;
  if (next_cookie_ == 0) next_cookie_ = 1;  // 0 is never a cookie
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  if (const HRESULT hr = container_.apartment().check(); FAILED(hr)) return hr;
  std::shared_ptr<Connection> removed;
  {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
      if ((*it)->cookie != cookie) continue;
      removed = std::move(*it);
      connections_.erase(it);
      break;
    }
  }
  if (!removed) return CONNECT_E_NOCONNECTION;
  IDispatch* sink = nullptr;
  {
    std::lock_guard lock(removed->mutex);
    sink = std::exchange(removed->sink, nullptr);
  }
  // Outside every lock: the sink's release may call back into this point.
  if (sink) sink->Release();
  return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (const HRESULT hr = container_.apartment().check(); FAILED(hr)) return hr;
  if (!connections) return E_POINTER;
  *connections = nullptr;
  try {
    std::vector<CONNECTDATA> items;
    {
      std::lock_guard lock(mutex_);
      for (const auto& connection : connections_)
        items.push_back({connection->sink, connection->cookie});
      for (const CONNECTDATA& item : items) item.pUnk->AddRef();  // held while copied out
    }
    *connections = ConnectionEnumerator::make(items);
    for (const CONNECTDATA& item : items) item.pUnk->Release();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return *connections ? S_OK : E_OUTOFMEMORY;
}

HRESULT ConnectionPoint::fire(DISPID dispid, const DISPPARAMS& params, ULONG* posted,
                              ULONG* dropped) {
  if (posted) *posted = 0;
  if (dropped) *dropped = 0;
  if (params.cNamedArgs != 0) return E_INVALIDARG;
  if (params.cArgs != 0 && !params.rgvarg) return E_POINTER;
  try {
    auto event = std::make_shared<const EventArguments>(dispid, params);
    if (FAILED(event->status())) return event->status();
    std::vector<std::shared_ptr<Connection>> targets;
    {
      std::lock_guard lock(mutex_);
      targets = connections_;
    }
    ULONG count = 0;
    ULONG refused = 0;
    for (auto& connection : targets) {
      const ApartmentToken apartment = connection->apartment;
      if (connection->waiting.fetch_add(1, std::memory_order_acq_rel) >= queue_bound_) {
        connection->waiting.fetch_sub(1, std::memory_order_acq_rel);
        dropped_.fetch_add(1, std::memory_order_relaxed);
        ++refused;
        continue;
      }
      const HRESULT hr = post_to_apartment(
          apartment, [place = WaitingPlace(std::move(connection)), event, reporting = reporting_] {
            deliver(place.connection(), *event, *reporting);
          });
      if (hr == E_OUTOFMEMORY) return hr;
      if (SUCCEEDED(hr)) ++count;
    }
    if (posted) *posted = count;
    if (dropped) *dropped = refused;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void ConnectionPoint::set_failure_report(SinkFailureReport report) {
  std::lock_guard lock(reporting_->mutex);
  reporting_->report = std::move(report);
}

std::uint64_t ConnectionPoint::failures() const noexcept {
  return reporting_->failures.load(std::memory_order_relaxed);
}

// --- ConnectionPointContainer --------------------------------------------------------------------

ConnectionPoint& ConnectionPointContainer::add(const IID& iid, std::size_t advise_limit,
                                               std::size_t queue_bound) {
  points_.push_back(std::make_unique<ConnectionPoint>(*this, iid, advise_limit, queue_bound));
  return *points_.back();
}

ConnectionPoint* ConnectionPointContainer::find(const IID& iid) const noexcept {
  for (const auto& point : points_)
    if (point->iid() == iid) return point.get();
  return nullptr;
}

HRESULT ConnectionPointContainer::QueryInterface(REFIID riid, void** object) {
  return owner_.QueryInterface(riid, object);
}

ULONG ConnectionPointContainer::AddRef() {
  return owner_.AddRef();
}

ULONG ConnectionPointContainer::Release() {
  return owner_.Release();
}

HRESULT ConnectionPointContainer::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (const HRESULT hr = apartment_.check(); FAILED(hr)) return hr;
  if (!points) return E_POINTER;
  try {
    std::vector<IConnectionPoint*> items;
    for (const auto& point : points_) items.push_back(point.get());
    *points = PointEnumerator::make(items);
  } catch (const std::bad_alloc&) {
    *points = nullptr;
  }
  return *points ? S_OK : E_OUTOFMEMORY;
}

HRESULT ConnectionPointContainer::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (const HRESULT hr = apartment_.check(); FAILED(hr)) return hr;
  if (!point) return E_POINTER;
  *point = find(riid);
  if (!*point) return CONNECT_E_NOCONNECTION;
  (*point)->AddRef();
  return S_OK;
}

}  // namespace orvan::com::runtime
