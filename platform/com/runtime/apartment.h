// Apartments: which threads may call an object.
//
// A thread joins an apartment with CoInitialize(Ex) and leaves it with its last
// CoUninitialize. A single-threaded apartment (COINIT_APARTMENTTHREADED) is one thread,
// and a fresh one each time a thread initialises anew; every thread that initialises with
// COINIT_MULTITHREADED shares the one multithreaded apartment. An apartment-threaded
// object may be called only from the apartment that created it: it keeps an
// ApartmentAffinity and refuses other callers with RPC_E_WRONG_THREAD.
//
// A single-threaded apartment also receives calls posted from other threads
// (orvan/apartment_calls.h): they run only when its thread pumps.
#pragma once

#include <cstdint>
#include <new>
#include <thread>
#include <utility>

#include "orvan/apartment_calls.h"
#include "orvan/component_runtime.h"
#include "platform/com/runtime/apartment_queue.h"

namespace orvan::com::runtime {

// Identifies an apartment for as long as it exists: 0 means "none" (the thread has not
// called CoInitialize), kMultithreaded the multithreaded apartment, any other value one
// single-threaded apartment, never reused within the process.
using ApartmentToken = std::uint64_t;
inline constexpr ApartmentToken kNoApartment = 0;
inline constexpr ApartmentToken kMultithreaded = 1;

// The calling thread's apartment. Cheap: one thread-local read.
ApartmentToken current_apartment() noexcept;

// Queues `call` for `apartment` (OrvanPostToApartment): RPC_E_DISCONNECTED when that
// apartment has ended or is not single-threaded; on failure the caller keeps the call.
HRESULT post_to_apartment(ApartmentToken apartment, const ApartmentCall& call);

// Queues a C++ callable: it runs on the apartment's thread and is destroyed there, or
// destroyed there unrun when the apartment ends first; on failure it is destroyed at once,
// on the calling thread. Allocates: never from a render thread.
template <class Call>
HRESULT post_to_apartment(ApartmentToken apartment, Call&& call) {
  using Box = std::decay_t<Call>;
  Box* box = new (std::nothrow) Box(std::forward<Call>(call));
  if (!box) return E_OUTOFMEMORY;
  const ApartmentCall posted{[](void* context) { (*static_cast<Box*>(context))(); },
                             [](void* context) { delete static_cast<Box*>(context); }, box};
  const HRESULT hr = post_to_apartment(apartment, posted);
  if (FAILED(hr)) delete box;
  return hr;
}

// What an object remembers of its creator. An object made on a thread outside any
// apartment (a test calling a server's entry points directly) is bound to that thread.
class ApartmentAffinity {
 public:
  ApartmentAffinity() noexcept
      : apartment_(current_apartment()), thread_(std::this_thread::get_id()) {}

  // S_OK from the creating apartment, RPC_E_WRONG_THREAD from anywhere else.
  HRESULT check() const noexcept {
    if (apartment_ == kNoApartment) {
      return std::this_thread::get_id() == thread_ ? S_OK : RPC_E_WRONG_THREAD;
    }
    return current_apartment() == apartment_ ? S_OK : RPC_E_WRONG_THREAD;
  }

 private:
  ApartmentToken apartment_;
  std::thread::id thread_;
};

}  // namespace orvan::com::runtime
