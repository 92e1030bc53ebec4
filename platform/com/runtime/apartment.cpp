// CoInitialize, CoInitializeEx and CoUninitialize: per-thread apartment membership; and the
// queues of the single-threaded apartments, which other threads post calls to.
#include "platform/com/runtime/apartment.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace orvan::com::runtime {
namespace {

constexpr DWORD kIgnoredFlags = 0x4 | 0x8;  // COINIT_DISABLE_OLE1DDE, COINIT_SPEED_OVER_MEMORY

// The queues of the living single-threaded apartments, by token: a poster on any thread
// finds its target here. Shared ownership lets a post that found a queue finish with it
// while the apartment ends; the closed queue then refuses it.
class ApartmentTable {
 public:
  void add(ApartmentToken token, std::shared_ptr<ApartmentQueue> queue) {
    std::lock_guard lock(mutex_);
    queues_.emplace(token, std::move(queue));
  }
  void remove(ApartmentToken token) {
    std::lock_guard lock(mutex_);
    queues_.erase(token);
  }
  std::shared_ptr<ApartmentQueue> find(ApartmentToken token) {
    std::lock_guard lock(mutex_);
    const auto it = queues_.find(token);
    return it == queues_.end() ? nullptr : it->second;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<ApartmentToken, std::shared_ptr<ApartmentQueue>> queues_;
};

ApartmentTable& apartments() {
  // Never destroyed: threads may still end their apartments while the process exits.
  static auto* table = new ApartmentTable;
  return *table;
}

struct ThreadApartment {
  unsigned count = 0;  // successful CoInitialize(Ex) calls not yet undone
  DWORD model = COINIT_APARTMENTTHREADED;
  ApartmentToken token = kNoApartment;
  std::shared_ptr<ApartmentQueue> queue;  // single-threaded apartments only

  // Leaves the apartment: its queue refuses further posts and releases, on this thread,
  // every call it never ran.
  void end() {
    if (queue) {
      apartments().remove(token);
      queue->close();
      queue.reset();
    }
    count = 0;
    token = kNoApartment;
  }
  // A thread that exits without its last CoUninitialize ends its apartment all the same.
  ~ThreadApartment() { end(); }
};

ThreadApartment& this_thread_apartment() noexcept {
  thread_local ThreadApartment state;
  return state;
}

ApartmentToken new_single_threaded_token() noexcept {
  static std::atomic<ApartmentToken> next{kMultithreaded + 1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

// The calling thread's queue, or why it has none. Shared, so that a call that ends the
// apartment from inside the pump does not pull the queue from under it.
HRESULT own_queue(std::shared_ptr<ApartmentQueue>& queue) {
  const auto& state = this_thread_apartment();
  queue = state.queue;
  if (state.token == kNoApartment) return CO_E_NOTINITIALIZED;
  return queue ? S_OK : RPC_E_WRONG_THREAD;
}

}  // namespace

ApartmentToken current_apartment() noexcept {
  return this_thread_apartment().token;
}

HRESULT post_to_apartment(ApartmentToken apartment, const ApartmentCall& call) {
  if (!call.run) return E_POINTER;
  const std::shared_ptr<ApartmentQueue> queue = apartments().find(apartment);
  return queue ? queue->post(call) : RPC_E_DISCONNECTED;
}

}  // namespace orvan::com::runtime

using orvan::com::runtime::kMultithreaded;
using orvan::com::runtime::kNoApartment;

extern "C" HRESULT CoInitializeEx(void* reserved, DWORD coinit) {
  namespace rt = orvan::com::runtime;
  if (reserved != nullptr) return E_INVALIDARG;
  const DWORD model = coinit & ~rt::kIgnoredFlags;
  if (model != COINIT_APARTMENTTHREADED && model != COINIT_MULTITHREADED) return E_INVALIDARG;
  auto& state = rt::this_thread_apartment();
  if (state.count > 0) {
    // The thread's apartment is fixed until its last CoUninitialize.
    if (state.model != model) return RPC_E_CHANGED_MODE;
    ++state.count;
    return S_FALSE;
  }
  if (model == COINIT_MULTITHREADED) {
    state.token = kMultithreaded;
  } else {
    rt::ApartmentQueue* opened = nullptr;
    const HRESULT hr = rt::ApartmentQueue::open(opened);
    if (FAILED(hr)) return hr;
    try {
      state.queue.reset(opened);
      state.token = rt::new_single_threaded_token();
      rt::apartments().add(state.token, state.queue);
    } catch (const std::bad_alloc&) {
      state.end();
      return E_OUTOFMEMORY;
    }
  }
  state.count = 1;
  state.model = model;
  return S_OK;
}

extern "C" HRESULT CoInitialize(void* reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

extern "C" void CoUninitialize() {
  auto& state = orvan::com::runtime::this_thread_apartment();
  if (state.count == 0) return;  // unbalanced: nothing to undo
  if (--state.count == 0) state.end();
}

extern "C" HRESULT OrvanGetCurrentApartment(ORVAN_APARTMENT* apartment) {
  if (!apartment) return E_POINTER;
  const auto token = orvan::com::runtime::current_apartment();
  if (token == kNoApartment) return CO_E_NOTINITIALIZED;
  *apartment = token;
  return S_OK;
}

extern "C" HRESULT OrvanPostToApartment(ORVAN_APARTMENT apartment, ORVAN_APARTMENT_FUNCTION run,
                                        ORVAN_APARTMENT_FUNCTION release, void* context) {
  return orvan::com::runtime::post_to_apartment(apartment, {run, release, context});
}

extern "C" HRESULT OrvanGetApartmentDescriptor(int* descriptor) {
  if (!descriptor) return E_POINTER;
  std::shared_ptr<orvan::com::runtime::ApartmentQueue> queue;
  const HRESULT hr = orvan::com::runtime::own_queue(queue);
  if (SUCCEEDED(hr)) *descriptor = queue->descriptor();
  return hr;
}

extern "C" HRESULT OrvanPumpApartment(DWORD timeout_ms, ULONG* ran) {
  std::shared_ptr<orvan::com::runtime::ApartmentQueue> queue;
  const HRESULT hr = orvan::com::runtime::own_queue(queue);
  if (FAILED(hr)) return hr;
  const ULONG count = queue->pump(timeout_ms);
  if (ran) *ran = count;
  return count > 0 ? S_OK : S_FALSE;
}
