// Tracker modules (MOD, XM, S3M, IT and the other formats libopenmpt reads) as music: the
// file's bytes, what it is, and where each row it plays falls.
//
// Music time is 768 per beat, a beat being the module's rows per beat (an IT or MPTM file's
// row highlight; 4 where the format does not say). One pass is the rows the module plays
// from its first order to its end, its own pattern loops and jumps included, in the order
// they are played; the length is that count of rows in music time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/music/sources/play_source.h"

namespace orvan::music {

struct ModuleInfo {
  std::string format;       // short name, e.g. "xm"
  std::string format_name;  // e.g. "FastTracker 2"
  std::string title;
  std::int32_t channels = 0;
  std::int32_t orders = 0;
  std::int32_t patterns = 0;
  std::int32_t rows_per_beat = 4;
  std::int32_t beats_per_bar = 4;  // the module's rows per measure over its rows per beat
  std::int32_t rows = 0;           // rows played in one pass
  double seconds = 0.0;            // one pass at master tempo 1
  std::int32_t length = 0;         // music time of one pass
};

class ModuleContent final : public PlayContent, public std::enable_shared_from_this<ModuleContent> {
 public:
  // Music time of one beat.
  static constexpr std::int32_t kTicksPerBeat = 768;
  // Rows per beat where the module does not say.
  static constexpr std::int32_t kDefaultRowsPerBeat = 4;
  // Beats per bar where the module does not say (or says something that is no whole bar).
  static constexpr std::int32_t kDefaultBeatsPerBar = 4;

  // One row as a pass plays it: its pattern position and when it begins at tempo 1.
  struct Row {
    std::int32_t order = 0;
    std::int32_t row = 0;
    double seconds = 0.0;
  };

  // True when `head` (the first bytes of a file of `file_size` bytes) is a module.
  static bool recognises(const std::uint8_t* head, std::size_t size, std::uint64_t file_size);
  // How many first bytes recognises() wants.
  static std::size_t recognition_size();
  // Reads a module; MUSIC_E_NOT_MUSIC_FILE (or a file-access status) when it cannot.
  static HResult load(const std::string& path, std::shared_ptr<const ModuleContent>& content);
  static HResult from_bytes(std::vector<std::uint8_t> bytes,
                            std::shared_ptr<const ModuleContent>& content);

  std::int32_t length() const noexcept override { return info_.length; }
  // From the rows' own times: a module's speed and tempo commands change them row by row.
  double seconds_at(double music_time) const noexcept override;
  HResult open(const PlayOptions& options, std::unique_ptr<PlaySource>& source) const override;
  // A module's own loops play as libopenmpt plays them; a region set by hand is not played.
  bool plays_loop_regions() const noexcept override { return false; }
  // Its music time counts rows, kTicksPerBeat to a beat of rows_per_beat rows.
  bool even_beats(std::int32_t& beat_length, std::int32_t& beats_per_bar) const noexcept override {
    beat_length = kTicksPerBeat;
    beats_per_bar = info_.beats_per_bar;
    return true;
  }

  const ModuleInfo& info() const { return info_; }
  const std::vector<Row>& rows() const { return rows_; }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  // Only ever made shared (load, from_bytes): each play keeps it alive.
  ModuleContent(std::vector<std::uint8_t> bytes, ModuleInfo info, std::vector<Row> rows);

 private:
  std::vector<std::uint8_t> bytes_;
  ModuleInfo info_;
  std::vector<Row> rows_;
};

}  // namespace orvan::music
