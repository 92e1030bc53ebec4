// An apartment's queue of posted calls and its eventfd.
//
// The eventfd's counter is 1 exactly while the queue holds a call: the post that fills an
// empty queue writes it, the take that empties the queue reads it back to 0, both under the
// queue's lock, so that a watcher never sees a readable descriptor over an empty queue (or
// the reverse) once the lock is released.
#include "platform/com/runtime/apartment_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <new>

namespace orvan::com::runtime {
namespace {

void signal(int descriptor) noexcept {
  const std::uint64_t one = 1;
  // Cannot fail short of a closed descriptor: the counter stays far from its limit.
  while (::write(descriptor, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void unsignal(int descriptor) noexcept {
  std::uint64_t value = 0;
  while (::read(descriptor, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

void release_call(const ApartmentCall& call) noexcept {
  if (call.release) call.release(call.context);
}

}  // namespace

HRESULT ApartmentQueue::open(ApartmentQueue*& out) {
  out = nullptr;
  const int descriptor = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (descriptor < 0) return E_OUTOFMEMORY;
  out = new (std::nothrow) ApartmentQueue(descriptor);
  if (!out) {
    ::close(descriptor);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

ApartmentQueue::~ApartmentQueue() {
  close();
  ::close(descriptor_);
}

HRESULT ApartmentQueue::post(const ApartmentCall& call) {
  std::lock_guard lock(mutex_);
  if (closed_) return RPC_E_DISCONNECTED;
  try {
    calls_.push_back(call);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (calls_.size() == 1) signal(descriptor_);
  return S_OK;
}

bool ApartmentQueue::take(ApartmentCall& call) {
  std::lock_guard lock(mutex_);
  if (calls_.empty()) return false;
  call = calls_.front();
  calls_.pop_front();
  if (calls_.empty()) unsignal(descriptor_);
  return true;
}

void ApartmentQueue::wait_readable(DWORD timeout_ms) const {
  using Clock = std::chrono::steady_clock;
  const bool forever = timeout_ms == ORVAN_INFINITE;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int wait = -1;
    if (!forever) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    pollfd watch{descriptor_, POLLIN, 0};
    // Readable, timed out or failed: done; interrupted by a signal: wait for what is left.
    if (::poll(&watch, 1, wait) >= 0 || errno != EINTR) return;
  }
}

ULONG ApartmentQueue::pump(DWORD timeout_ms) {
  std::size_t queued = 0;
  {
    std::lock_guard lock(mutex_);
    queued = calls_.size();
  }
  if (queued == 0 && timeout_ms != 0) {
    wait_readable(timeout_ms);
    std::lock_guard lock(mutex_);
    queued = calls_.size();
  }
  ULONG ran = 0;
  ApartmentCall call;
  // One at a time: a call that pumps from inside runs the next ones itself, in order, and
  // this loop then finds fewer left.
  while (ran < queued && take(call)) {
    call.run(call.context);
    release_call(call);
    ++ran;
  }
  return ran;
}

void ApartmentQueue::close() {
  std::deque<ApartmentCall> dropped;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    if (!calls_.empty()) unsignal(descriptor_);
    dropped.swap(calls_);
  }
  // Outside the lock: a release may post (and be refused) or touch other queues.
  for (const ApartmentCall& call : dropped) release_call(call);
}

}  // namespace orvan::com::runtime
