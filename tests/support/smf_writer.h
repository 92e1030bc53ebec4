// Builds Standard MIDI Files (and RMID files) for tests: tracks of timed events written
// exactly as asked, including broken ones, to bytes or to a file.
//
//   orvan::test::SmfWriter smf(1, 480);               // format 1, 480 ticks per quarter
//   smf.add_track().tempo(0, 500000).end_of_track(0);
//   smf.add_track().program_change(0, 0, 19).note_on(0, 0, 60, 100)
//                  .note_off(480, 0, 60).end_of_track(0);
//   smf.write_file(path);
//
// Every event takes the delta time (in file ticks) since the previous event of its track.
// Nothing is added behind the caller's back: a track ends where end_of_track() is written.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace orvan::test {

using Bytes = std::vector<std::uint8_t>;

class SmfTrack {
 public:
  // With running status on, a channel message whose status equals the previous one's is
  // written without its status byte.
  SmfTrack& use_running_status(bool on = true);

  SmfTrack& note_on(std::uint32_t delta, int channel, int key, int velocity);
  SmfTrack& note_off(std::uint32_t delta, int channel, int key, int velocity = 64);
  SmfTrack& program_change(std::uint32_t delta, int channel, int program);
  SmfTrack& controller(std::uint32_t delta, int channel, int number, int value);
  SmfTrack& pitch_bend(std::uint32_t delta, int channel, int value14);  // 0..16383, 8192 centre
  SmfTrack& channel_pressure(std::uint32_t delta, int channel, int value);

  SmfTrack& tempo(std::uint32_t delta, std::uint32_t usec_per_quarter);
  SmfTrack& tempo_bpm(std::uint32_t delta, double bpm);
  SmfTrack& time_signature(std::uint32_t delta, int numerator, int denominator_power2);
  SmfTrack& marker(std::uint32_t delta, const std::string& text);
  SmfTrack& track_name(std::uint32_t delta, const std::string& text);
  SmfTrack& meta(std::uint32_t delta, int type, const Bytes& data);
  SmfTrack& end_of_track(std::uint32_t delta);

  // A complete SysEx message F0 ... F7; `message` starts with F0 and is written as the F0
  // form (F0, length, the rest). sysex_escape writes F7, length, bytes as they are.
  SmfTrack& sysex(std::uint32_t delta, const Bytes& message);
  SmfTrack& sysex_escape(std::uint32_t delta, const Bytes& bytes);

  // Bytes appended as they are: no delta, no status handling. For broken files.
  SmfTrack& raw(std::initializer_list<std::uint8_t> bytes);
  SmfTrack& raw(const Bytes& bytes);

  const Bytes& bytes() const { return bytes_; }

 private:
  SmfTrack& channel_message(std::uint32_t delta, int status, int data1, int data2, int count);
  void put_delta(std::uint32_t delta);

  Bytes bytes_;
  bool running_status_ = false;
  int last_status_ = -1;
};

class SmfWriter {
 public:
  // `division`: ticks per quarter note (1..32767), or an smpte_division() word.
  SmfWriter(int format, std::uint16_t division);

  // fps: 24, 25, 29 (= 29.97) or 30.
  static std::uint16_t smpte_division(int fps, int ticks_per_frame);

  SmfTrack& add_track();
  SmfTrack& track(std::size_t index) { return tracks_.at(index); }

  // The header's track count is the number of tracks added unless overridden (for broken
  // files); a chunk size can likewise be forced for one track.
  SmfWriter& declare_track_count(std::uint16_t count);
  SmfWriter& declare_chunk_size(std::size_t track, std::uint32_t size);
  // An extra chunk of another kind, written before the track with that index.
  SmfWriter& insert_chunk(std::size_t before_track, const std::string& id, const Bytes& data);

  Bytes to_bytes() const;
  Bytes to_rmid() const;
  bool write_file(const std::string& path, bool as_rmid = false) const;

 private:
  struct ExtraChunk {
    std::size_t before_track;
    std::string id;
    Bytes data;
  };

  int format_;
  std::uint16_t division_;
  std::vector<SmfTrack> tracks_;
  int declared_tracks_ = -1;
  std::vector<std::pair<std::size_t, std::uint32_t>> forced_sizes_;
  std::vector<ExtraChunk> extra_chunks_;
};

// Wraps Standard MIDI File bytes in a RIFF 'RMID' file's 'data' chunk.
Bytes wrap_rmid(const Bytes& smf);

// Writes bytes to a file; false if it could not.
bool write_bytes(const std::string& path, const Bytes& bytes);

}  // namespace orvan::test
