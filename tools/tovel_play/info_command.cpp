#include "tools/tovel_play/info_command.h"

#include <nlohmann/json.hpp>
#include <ostream>

// The interface answers a loaded piece's length and nothing else of what --info shows (the
// file's format, tracks, timing and tempo map; an audio file's codec and frames; a module's
// title and patterns), so the description comes from the readers the loader uses.
#include "platform/music/client/loader.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/module/module_content.h"
#include "platform/music/wave/wave_source.h"

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

// One line: the file, the status text and its name, then what exactly was wrong.
int report(const std::string& path, com::HResult hr, const std::string& detail, std::ostream& err) {
  err << "tovel-play: " << path << ": " << com::describe_status(hr) << " (" << com::status_name(hr)
      << ")";
  if (!detail.empty()) err << ": " << detail;
  err << '\n';
  return 1;
}

int wave_info(const std::string& path, std::ostream& out, std::ostream& err) {
  std::shared_ptr<const music::wave::WaveSource> source;
  std::string detail;
  const com::HResult hr = music::wave::open_wave_source(path, source, &detail);
  if (com::failed(hr)) return report(path, hr, detail, err);
  const music::wave::WaveInfo& info = source->info();
  nlohmann::json json = {
      {"file", path},
      {"format", info.container},
      {"codec", info.codec},
      {"sample_rate", info.sample_rate},
      {"channels", info.channels},
      {"frames", info.frames},
      {"seconds", static_cast<double>(info.frames) / info.sample_rate},
      {"length", info.length},
  };
  out << json.dump() << '\n';
  return 0;
}

int module_info(const std::string& path, std::ostream& out, std::ostream& err) {
  std::shared_ptr<const music::ModuleContent> content;
  const com::HResult hr = music::ModuleContent::load(path, content);
  if (com::failed(hr)) return report(path, hr, "", err);
  const music::ModuleInfo& info = content->info();
  nlohmann::json json = {
      {"file", path},
      {"format", info.format},
      {"format_name", info.format_name},
      {"title", info.title},
      {"channels", info.channels},
      {"orders", info.orders},
      {"patterns", info.patterns},
      {"rows_per_beat", info.rows_per_beat},
      {"rows", info.rows},
      {"seconds", info.seconds},
      {"length", info.length},
  };
  out << json.dump() << '\n';
  return 0;
}

}  // namespace

int run_info(const std::string& path, std::ostream& out, std::ostream& err) {
  switch (music::music_kind_of(path)) {
    case music::MusicKind::Recording:
      return wave_info(path, out, err);
    case music::MusicKind::Module:
      return module_info(path, out, err);
    case music::MusicKind::Midi:
      break;
  }
  music::midi::Sequence seq;
  std::string detail;
  const com::HResult hr = music::midi::read_sequence_file(path, seq, &detail);
  if (com::failed(hr)) return report(path, hr, detail, err);
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
