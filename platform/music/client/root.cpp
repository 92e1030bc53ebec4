#include "platform/music/client/root.h"

#include "platform/music/client/event_hub.h"
#include "platform/music/client/loader.h"
#include "platform/music/client/performance.h"

namespace orvan::music {

Ref<DirectX8> DirectX8::create() {
  return Ref<DirectX8>::adopt(new DirectX8());
}

DirectX8::DirectX8() : events_(EventHub::create()) {}

// Performances may hold the hub longer than the root does; shutting it down here is what
// makes "the root is gone, so no sink is called again" true for them too.
DirectX8::~DirectX8() {
  events_->shutdown();
}

HResult DirectX8::DirectMusicPerformanceCreate(Ref<DirectMusicPerformance8>& performance) {
  performance = com::make_ref<DirectMusicPerformance8>(events_);
  return com::S_OK;
}

HResult DirectX8::DirectMusicLoaderCreate(Ref<DirectMusicLoader8>& loader) {
  loader = com::make_ref<DirectMusicLoader8>();
  return com::S_OK;
}

HResult DirectX8::CreateEvent(EventSink* sink, std::int32_t& handle) {
  return events_->create_event(sink, handle);
}

HResult DirectX8::DestroyEvent(std::int32_t handle) {
  return events_->destroy_event(handle);
}

HResult DirectX8::SetEvent(std::int32_t handle) {
  return events_->signal(handle);
}

}  // namespace orvan::music
