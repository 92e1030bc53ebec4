// The platform's root object: makes performances and loaders, and owns notification
// events. Each event has a sink; a thread owned by the root calls the sink's DXCallback
// once per signal.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/music/types.h"

namespace orvan::music {

class DirectMusicPerformance8;
class DirectMusicLoader8;
class EventHub;

// Receives signalled events. The root does not own the sink: after DestroyEvent returns,
// or the root is gone, the sink is never called again. (The component's published
// DirectXEvent8 interface, include/orvan/, is a different type that clients call.)
class EventSink {
 public:
  virtual HResult DXCallback(std::int32_t eventid) = 0;

 protected:
  ~EventSink() = default;
};

class DirectX8 : public com::Object {
 public:
  static Ref<DirectX8> create();

  HResult DirectMusicPerformanceCreate(Ref<DirectMusicPerformance8>& performance);
  HResult DirectMusicLoaderCreate(Ref<DirectMusicLoader8>& loader);

  // Registers `sink` and returns a non-zero handle. E_POINTER for an empty sink.
  HResult CreateEvent(EventSink* sink, std::int32_t& handle);
  // Stops delivery to the event and waits for a callback in flight, unless called from
  // inside that callback. MUSIC_E_UNKNOWN_EVENT for a handle it does not know.
  HResult DestroyEvent(std::int32_t handle);
  // Signals the event by hand; one signal, one callback.
  HResult SetEvent(std::int32_t handle);

 private:
  DirectX8();
  ~DirectX8() override;  // destroys every event, waiting for a callback in flight

  std::shared_ptr<EventHub> events_;
};

}  // namespace orvan::music
