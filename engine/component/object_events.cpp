// The object's events: the engine channel tells what it plays as it is heard, and each event
// goes to every sink advised to __OrvanMusic, on the sink's own thread.
#include <array>
#include <string_view>

#include "engine/component/interface/orvan_music_description.h"
#include "engine/component/music_object.h"
#include "engine/component/type_info_cache.h"

namespace orvan::engine::component {
namespace {

namespace d = orvan::interface_description;
using music::MusicEventKind;

// The render side's kinds are the description's events in its order.
constexpr bool kind_is(MusicEventKind kind, std::string_view name) {
  return d::kEvents[static_cast<std::size_t>(kind)].name == name;
}
static_assert(kind_is(MusicEventKind::Started, "Started") &&
              kind_is(MusicEventKind::Looped, "Looped") &&
              kind_is(MusicEventKind::Ended, "Ended") &&
              kind_is(MusicEventKind::Stopped, "Stopped") &&
              kind_is(MusicEventKind::Beat, "Beat") && kind_is(MusicEventKind::Marker, "Marker") &&
              kind_is(MusicEventKind::TransitionDone, "TransitionDone") && d::kEvents.size() == 7);

VARIANT long_value(std::int32_t value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

}  // namespace

void MusicObject::start_events() {
  // A sink's apartment holds as many events waiting as the render side's ring: one bound for
  // a client to know, whichever of the two a stall fills.
  events_ = &points_.add(DIID___OrvanMusic, com::runtime::ConnectionPoint::kDefaultAdviseLimit,
                         music::MusicEventRing::kCapacity);
  ITypeInfo* info = nullptr;
  // Without its type library the object still works; it only cannot describe its class.
  if (SUCCEEDED(music_class_info(&info))) {
    class_info_.emplace(*outer_, info);
    info->Release();
  }
  engine_->SetEventHandler([this](const HeardEvent& event) { return fire(event); });
}

// On the channel's delivery thread, or in RenderFor on the object's: fire() copies what it is
// given and posts it, calling no sink here.
std::size_t MusicObject::fire(const HeardEvent& event) {
  // Arguments last first, as Invoke takes them: the frame, then the event's own.
  std::array<VARIANT, 3> args{};
  UINT count = 0;
  VariantInit(&args[0]);
  args[0].vt = VT_R8;
  args[0].dblVal = event.frame;
  count = 1;
  switch (event.kind) {
    case MusicEventKind::Looped:
      args[count++] = long_value(event.a);
      break;
    case MusicEventKind::Beat:
      args[count++] = long_value(event.b);
      args[count++] = long_value(event.a);
      break;
    case MusicEventKind::Marker:
      VariantInit(&args[count]);
      args[count].vt = VT_BSTR;
      args[count].bstrVal =
          SysAllocStringLen(event.name.data(), static_cast<UINT>(event.name.size()));
      ++count;
      break;
    default:
      break;
  }
  const DISPPARAMS params{args.data(), nullptr, count, 0};
  ULONG dropped = 0;
  (void)events_->fire(d::kFirstEventDispid + static_cast<DISPID>(event.kind), params, nullptr,
                      &dropped);
  for (UINT i = 0; i < count; ++i) VariantClear(&args[i]);
  return dropped;
}

}  // namespace orvan::engine::component
