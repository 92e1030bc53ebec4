// Counted references to platform objects.
//
// Every platform object derives from Object and starts life with one reference, which the
// creator adopts into a Ref. A Ref that holds nothing is "empty"; emptying a member
// (reset()) releases that reference, and the object goes when its last reference does.
// Calls through an empty member fail with E_OBJECT_NOT_SET (see call()).
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "platform/com/status.h"

namespace orvan::com {

class Object {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  void AddRef() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release() const noexcept {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  // For tests and diagnostics only: the count may change at once on another thread.
  std::int32_t ref_count() const noexcept { return refs_.load(std::memory_order_relaxed); }

 protected:
  virtual ~Object() = default;

 private:
  mutable std::atomic<std::int32_t> refs_{1};
};

template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}  // NOLINT: an empty reference converts implicitly
  Ref(const Ref& other) noexcept : p_(other.p_) { add(); }
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
  Ref(const Ref<U>& other) noexcept : p_(other.get()) {  // NOLINT: upcast like a pointer
    add();
  }
  template <class U>
  Ref(Ref<U>&& other) noexcept : p_(other.detach()) {}  // NOLINT: upcast like a pointer
  ~Ref() { reset(); }

  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  // Takes over a reference the caller already owns (a new object's first one).
  static Ref adopt(T* p) noexcept {
    Ref r;
    r.p_ = p;
    return r;
  }
  // Shares an object the caller only borrows: adds a reference.
  static Ref share(T* p) noexcept {
    Ref r;
    r.p_ = p;
    r.add();
    return r;
  }

  // Empties the reference, releasing the object it held.
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Gives up the reference without releasing it; the caller now owns it.
  T* detach() noexcept { return std::exchange(p_, nullptr); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  bool empty() const noexcept { return p_ == nullptr; }

  friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }

 private:
  void add() const noexcept {
    if (p_) p_->AddRef();
  }
  T* p_ = nullptr;
};

// Creates an object and adopts its first reference.
template <class T, class... Args>
Ref<T> make_ref(Args&&... args) {
  return Ref<T>::adopt(new T(std::forward<Args>(args)...));
}

// Asks an object for another of its interfaces; E_NOINTERFACE when it has none,
// E_POINTER when `from` is empty. `out` is left untouched on failure.
template <class T, class U>
HResult query(const Ref<U>& from, Ref<T>& out) {
  if (!from) return E_POINTER;
  T* as = dynamic_cast<T*>(from.get());
  if (!as) return E_NOINTERFACE;
  out = Ref<T>::share(as);
  return S_OK;
}

// Calls `method` on the object a member holds, the way a call through a member does:
// an empty member fails with E_OBJECT_NOT_SET and nothing is called.
template <class T, class Method, class... Args>
HResult call(const Ref<T>& member, Method method, Args&&... args) {
  if (!member) return E_OBJECT_NOT_SET;
  return ((*member).*method)(std::forward<Args>(args)...);
}

// Calls a getter through a member into a local that starts at zero, and hands the answer
// to `result` only when the call succeeds: a failed query leaves the caller's variable alone.
template <class T, class Method, class Value>
HResult call_get(const Ref<T>& member, Method method, Value& result) {
  Value value{};
  const HResult hr = call(member, method, value);
  if (succeeded(hr)) result = value;
  return hr;
}

}  // namespace orvan::com
