// A C++ sink for OrvanMusic's events (__OrvanMusic), and the connection that advises it: what
// a client program writes to hear beats, markers and the end on its own thread.
#pragma once

#include <functional>
#include <string_view>
#include <utility>

#include "orvan/tovel.h"

namespace orvan::examples {

// What the program wants told; an empty function ignores that event. Each gets the output
// frame at which the event is heard, counted from InitOrvanAudio or InitOrvanRender.
struct MusicEventHandlers {
  std::function<void(double frame)> started;
  std::function<void(long passes_left, double frame)> looped;
  std::function<void(double frame)> ended;
  std::function<void(double frame)> stopped;
  std::function<void(long bar, long beat, double frame)> beat;
  std::function<void(std::u16string_view name, double frame)> marker;
  std::function<void(double frame)> transition_done;
};

// The engine calls Invoke with each event's arguments, last first. The sink belongs to its
// owner, who must unadvise it before it goes: the count of references only answers the
// engine's AddRef and Release.
class MusicEventSink final : public IDispatch {
 public:
  explicit MusicEventSink(MusicEventHandlers handlers) : handlers_(std::move(handlers)) {}

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override { return --references_; }
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepinfo, UINT* argument_error) override;

 private:
  MusicEventHandlers handlers_;
  ULONG references_ = 0;
};

// Advises a sink on an object's __OrvanMusic connection point for as long as it lives.
class MusicEventConnection {
 public:
  MusicEventConnection(IUnknown* music, IDispatch* sink);
  ~MusicEventConnection();
  MusicEventConnection(const MusicEventConnection&) = delete;
  MusicEventConnection& operator=(const MusicEventConnection&) = delete;

  // S_OK once advised; else why not (E_NOINTERFACE, CONNECT_E_NOCONNECTION, ...).
  HRESULT status() const { return status_; }

 private:
  IConnectionPoint* point_ = nullptr;
  DWORD cookie_ = 0;
  HRESULT status_ = E_FAIL;
};

}  // namespace orvan::examples
