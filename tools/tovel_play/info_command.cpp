#include "tools/tovel_play/info_command.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "platform/music/midi/sequence.h"

namespace orvan::tovel_play {

namespace {

nlohmann::json describe_division(const music::midi::Sequence& seq) {
  const music::midi::Division d = music::midi::decode_division(seq.division);
  if (!d.is_smpte()) return {{"ticks_per_quarter", d.ticks_per_quarter}};
  return {{"smpte_fps", d.smpte_fps == 29 ? 29.97 : d.smpte_fps},
          {"ticks_per_frame", d.ticks_per_frame}};
}

nlohmann::json describe_tempo_map(const music::midi::TempoMap& map) {
  nlohmann::json points = nlohmann::json::array();
  for (const music::midi::TempoPoint& p : map.points()) {
    points.push_back({{"time", p.time},
                      {"usec_per_quarter", p.usec_per_quarter},
                      {"bpm", 60e6 / p.usec_per_quarter},
                      {"seconds", p.seconds}});
  }
  return points;
}

}  // namespace

int run_info(const std::string& path, std::ostream& out, std::ostream& err) {
  music::midi::Sequence seq;
  std::string detail;
  const com::HResult hr = music::midi::read_sequence_file(path, seq, &detail);
  if (com::failed(hr)) {
    // One line: the file, the status text and its name, then what exactly was wrong.
    err << "tovel-play: " << path << ": " << com::describe_status(hr) << " ("
        << com::status_name(hr) << ")";
    if (!detail.empty()) err << ": " << detail;
    err << '\n';
    return 1;
  }
  nlohmann::json info = {
      {"file", path},
      {"format", seq.format},
      {"tracks", seq.track_count},
      {"division", seq.division},
      {"timing", describe_division(seq)},
      {"length", seq.length},
      {"seconds", seq.length_seconds},
      {"tempo_changes", seq.tempo_changes},
      {"events", seq.events.size()},
      {"tempo_map", describe_tempo_map(seq.tempo)},
  };
  out << info.dump() << '\n';
  return 0;
}

}  // namespace orvan::tovel_play
