// The OrvanMusic component object: a shell that gives one engine channel the published
// binary interfaces (_OrvanMusic2, dual, and its base _OrvanMusic, which share one table) and
// the platform's notification sink (DirectXEvent8), and fires the channel's events to sinks of
// its default source, __OrvanMusic (IConnectionPointContainer, IProvideClassInfo2).
//
// Every method forwards to an owned orvan::engine::OrvanMusic, which is
// created with the object and released with its last reference; the forwarding is generated
// from the interface's description. The IDispatch members are
// answered from the library's own type library, so there is no per-method dispatch code.
//
// Threads: the object belongs to the apartment that created it. Its methods and the IDispatch
// members refuse callers from any other with RPC_E_WRONG_THREAD before touching anything;
// reference counting and QueryInterface may be called from anywhere.
//
// Aggregation: when created inside an outer object, the object's IUnknown members delegate
// to the outer one, and the creator holds the inner, non-delegating IUnknown.
#pragma once

#include <atomic>
#include <new>
#include <optional>

#include "engine/orvan_music.h"
#include "orvan/tovel.h"
#include "platform/com/object.h"
#include "platform/com/runtime/apartment.h"
#include "platform/com/runtime/class_info_provider.h"
#include "platform/com/runtime/connection_point.h"

namespace orvan::engine::component {

class MusicObject final : public _OrvanMusic2, public ::DirectXEvent8 {
 public:
  // Creates the object with its engine channel. `outer` is the controlling unknown when
  // aggregated, else null. On success *inner holds the first reference to the inner
  // (non-delegating) unknown. E_OUTOFMEMORY when the object cannot be made.
  static HRESULT Create(IUnknown* outer, IUnknown** inner);

  // --- IUnknown (delegating) ---------------------------------------------------------------
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // --- IDispatch, answered from the type library -------------------------------------------
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepinfo, UINT* arg_err) override;

  // --- Places 7 to 9 of the table ------------------------------------------------------------
  HRESULT Reserved7() override;
  HRESULT Reserved8() override;
  HRESULT Reserved9() override;

  // --- _OrvanMusic and _OrvanMusic2: engine/component/generated/music_object_forwarding.cpp --
#include "engine/component/generated/orvan_music_overrides.inc"

  // --- DirectXEvent8 -------------------------------------------------------------------------
  // The platform never calls this one: its notifications reach the engine channel through
  // the channel's own sink. A client may, from any thread: it is not bound to the apartment.
  HRESULT DXCallback(LONG eventid) override;

 private:
  // The identity of the object and the owner of its reference count. It is a separate
  // subobject so that an outer object can hold it while every other interface delegates.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(MusicObject& owner) : owner_(owner) {}
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

   private:
    MusicObject& owner_;
  };

  MusicObject(IUnknown* outer, com::Ref<OrvanMusic> engine);
  ~MusicObject();

  // Runs `call` on the engine when the caller is on the object's thread; otherwise
  // RPC_E_WRONG_THREAD and nothing is touched. No exception leaves through the published
  // interface, whose callers may not be C++ at all.
  template <class Call>
  HRESULT on_apartment(Call&& call) {
    const HRESULT hr = apartment_.check();
    if (FAILED(hr)) return hr;
    try {
      return call(*engine_);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  // A caller's automation string, embedded NULs and all. A null string is the empty text, as
  // automation treats it.
  static com::BStr string_argument(BSTR text);
  // The engine channel of `object` when it is an OrvanMusic object of this library (asked
  // through an identity only this class answers), else nullptr. It stays alive for the call:
  // the caller holds `object`.
  static OrvanMusic* channel_of(IDispatch* object);
  // Events (engine/component/object_events.cpp): the engine channel's handler fires each
  // event through the __OrvanMusic connection point, which posts it to every sink's apartment.
  void start_events();
  // Answers how many sinks missed the event because their apartment's queue was full.
  std::size_t fire(const HeardEvent& event);

  // A byte array as the engine reads it: its elements, locked for the call. A null array
  // holds no bytes (an empty Byte() is one); anything but a vector of bytes is E_INVALIDARG.
  class ByteArrayArgument final : public music::ByteSource {
   public:
    explicit ByteArrayArgument(SAFEARRAY* array);
    ~ByteArrayArgument() override;
    ByteArrayArgument(const ByteArrayArgument&) = delete;
    ByteArrayArgument& operator=(const ByteArrayArgument&) = delete;
    com::HResult status() const override { return status_; }
    com::HResult read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) const override {
      got = 0;
      return bytes_ ? bytes_->read(into, size, got) : status_;
    }

   private:
    SAFEARRAY* locked_ = nullptr;
    com::HResult status_ = S_OK;
    std::optional<music::MemoryBytes> bytes_;  // empty for a null array
  };
  static ByteArrayArgument bytes_argument(SAFEARRAY* array) {
    return ByteArrayArgument(array);
  }

  // A caller's stream as the engine reads it: asked for ISequentialStream (all a stream
  // needs to be read front to back), and held for the call only; a recording in an IStream
  // is read in place instead (stream_bytes.h). E_POINTER for none, E_NOINTERFACE for an
  // object that is no stream.
  class StreamArgument final : public music::ByteSource {
   public:
    explicit StreamArgument(IUnknown* object);
    ~StreamArgument() override;
    StreamArgument(const StreamArgument&) = delete;
    StreamArgument& operator=(const StreamArgument&) = delete;
    com::HResult status() const override { return status_; }
    com::HResult read(std::uint8_t* into, std::uint32_t size, std::uint32_t& got) const override;
    std::shared_ptr<const music::wave::ByteStore> bytes_in_place() const override;

   private:
    IUnknown* object_ = nullptr;  // the caller's, alive for the call
    ISequentialStream* stream_ = nullptr;
    com::HResult status_ = S_OK;
  };
  static StreamArgument stream_argument(IUnknown* object) {
    return StreamArgument(object);
  }

  InnerUnknown inner_{*this};
  IUnknown* const outer_;  // the controlling unknown: the outer object, or inner_
  std::atomic<ULONG> refs_{1};
  const com::runtime::ApartmentAffinity apartment_;
  com::runtime::ConnectionPointContainer points_{*outer_};
  com::runtime::ConnectionPoint* events_ = nullptr;  // __OrvanMusic's, in points_
  std::optional<com::runtime::ClassInfoProvider> class_info_;
  com::Ref<OrvanMusic> engine_;
};

}  // namespace orvan::engine::component
