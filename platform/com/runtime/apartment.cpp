// CoInitialize, CoInitializeEx and CoUninitialize: per-thread apartment membership.
#include "platform/com/runtime/apartment.h"

#include <atomic>

namespace orvan::com::runtime {
namespace {

constexpr DWORD kIgnoredFlags = 0x4 | 0x8;  // COINIT_DISABLE_OLE1DDE, COINIT_SPEED_OVER_MEMORY

struct ThreadApartment {
  unsigned count = 0;  // successful CoInitialize(Ex) calls not yet undone
  DWORD model = COINIT_APARTMENTTHREADED;
  ApartmentToken token = kNoApartment;
};

ThreadApartment& this_thread_apartment() noexcept {
  thread_local ThreadApartment state;
  return state;
}

ApartmentToken new_single_threaded_token() noexcept {
  static std::atomic<ApartmentToken> next{kMultithreaded + 1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

ApartmentToken current_apartment() noexcept {
  return this_thread_apartment().token;
}

}  // namespace orvan::com::runtime

using orvan::com::runtime::kMultithreaded;
using orvan::com::runtime::kNoApartment;

extern "C" HRESULT CoInitializeEx(void* reserved, DWORD coinit) {
  if (reserved != nullptr) return E_INVALIDARG;
  const DWORD model = coinit & ~orvan::com::runtime::kIgnoredFlags;
  if (model != COINIT_APARTMENTTHREADED && model != COINIT_MULTITHREADED) return E_INVALIDARG;
  auto& state = orvan::com::runtime::this_thread_apartment();
  if (state.count > 0) {
    // The thread's apartment is fixed until its last CoUninitialize.
    if (state.model != model) return RPC_E_CHANGED_MODE;
    ++state.count;
    return S_FALSE;
  }
  state.count = 1;
  state.model = model;
  state.token = model == COINIT_MULTITHREADED ? kMultithreaded
                                              : orvan::com::runtime::new_single_threaded_token();
  return S_OK;
}

extern "C" HRESULT CoInitialize(void* reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

extern "C" void CoUninitialize() {
  auto& state = orvan::com::runtime::this_thread_apartment();
  if (state.count == 0) return;  // unbalanced: nothing to undo
  if (--state.count == 0) state.token = kNoApartment;
}
