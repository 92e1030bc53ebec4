#include "tools/tovel_play/event_log.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>

#include "platform/com/auto_string.h"

namespace orvan::tovel_play {

using music::MusicEventKind;

std::string event_line(const engine::HeardEvent& event, int rate) {
  std::string line = "event ";
  char detail[64] = "";
  switch (event.kind) {
    case MusicEventKind::Started:
      line += "Started";
      break;
    case MusicEventKind::Looped:
      line += "Looped";
      std::snprintf(detail, sizeof detail, " passes_left=%d", static_cast<int>(event.a));
      break;
    case MusicEventKind::Ended:
      line += "Ended";
      break;
    case MusicEventKind::Stopped:
      line += "Stopped";
      break;
    case MusicEventKind::Beat:
      line += "Beat";
      std::snprintf(detail, sizeof detail, " bar=%d beat=%d", static_cast<int>(event.a),
                    static_cast<int>(event.b));
      break;
    case MusicEventKind::Marker:
      line += "Marker name=\"";
      line.append(com::utf16_to_utf8(event.name));
      line += '"';
      break;
    case MusicEventKind::TransitionDone:
      line += "TransitionDone";
      break;
  }
  line += detail;
  char when[64];
  std::snprintf(when, sizeof when, " frame=%.0f time=%.3f", event.frame,
                rate > 0 ? event.frame / rate : 0.0);
  line += when;
  return line;
}

engine::EventHandler event_printer(std::ostream& out, int rate) {
  auto guard = std::make_shared<std::mutex>();
  return [&out, rate, guard](const engine::HeardEvent& event) {
    const std::string line = event_line(event, rate);
    std::lock_guard lock(*guard);
    out << line << std::endl;
    return std::size_t{0};
  };
}

}  // namespace orvan::tovel_play
