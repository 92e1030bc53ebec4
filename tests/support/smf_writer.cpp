#include "tests/support/smf_writer.h"

#include <cmath>
#include <fstream>

namespace orvan::test {

namespace {

void put_be(Bytes& out, std::uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void put_le32(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void put_varlen(Bytes& out, std::uint32_t value) {
  std::uint8_t groups[5];
  int n = 0;
  do {
    groups[n++] = static_cast<std::uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0 && n < 5);
  while (n-- > 0) out.push_back(static_cast<std::uint8_t>(groups[n] | (n > 0 ? 0x80 : 0)));
}

void put_tag(Bytes& out, const std::string& id) {
  for (std::size_t i = 0; i < 4; ++i) {
    out.push_back(i < id.size() ? static_cast<std::uint8_t>(id[i]) : std::uint8_t{' '});
  }
}

std::uint8_t byte(int value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}
std::uint8_t data7(int value) {
  return static_cast<std::uint8_t>(value & 0x7F);
}

}  // namespace

SmfTrack& SmfTrack::use_running_status(bool on) {
  running_status_ = on;
  return *this;
}

void SmfTrack::put_delta(std::uint32_t delta) {
  put_varlen(bytes_, delta);
}

SmfTrack& SmfTrack::channel_message(std::uint32_t delta, int status, int data1, int data2,
                                    int count) {
  put_delta(delta);
  if (!running_status_ || status != last_status_) bytes_.push_back(byte(status));
  last_status_ = status;
  bytes_.push_back(data7(data1));
  if (count == 2) bytes_.push_back(data7(data2));
  return *this;
}

SmfTrack& SmfTrack::note_on(std::uint32_t delta, int channel, int key, int velocity) {
  return channel_message(delta, 0x90 | (channel & 0x0F), key, velocity, 2);
}
SmfTrack& SmfTrack::note_off(std::uint32_t delta, int channel, int key, int velocity) {
  return channel_message(delta, 0x80 | (channel & 0x0F), key, velocity, 2);
}
SmfTrack& SmfTrack::program_change(std::uint32_t delta, int channel, int program) {
  return channel_message(delta, 0xC0 | (channel & 0x0F), program, 0, 1);
}
SmfTrack& SmfTrack::controller(std::uint32_t delta, int channel, int number, int value) {
  return channel_message(delta, 0xB0 | (channel & 0x0F), number, value, 2);
}
SmfTrack& SmfTrack::pitch_bend(std::uint32_t delta, int channel, int value14) {
  return channel_message(delta, 0xE0 | (channel & 0x0F), value14 & 0x7F, (value14 >> 7) & 0x7F, 2);
}
SmfTrack& SmfTrack::channel_pressure(std::uint32_t delta, int channel, int value) {
  return channel_message(delta, 0xD0 | (channel & 0x0F), value, 0, 1);
}

SmfTrack& SmfTrack::meta(std::uint32_t delta, int type, const Bytes& data) {
  put_delta(delta);
  bytes_.push_back(0xFF);
  bytes_.push_back(byte(type));
  put_varlen(bytes_, static_cast<std::uint32_t>(data.size()));
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

SmfTrack& SmfTrack::tempo(std::uint32_t delta, std::uint32_t usec_per_quarter) {
  Bytes data;
  put_be(data, usec_per_quarter, 3);
  return meta(delta, 0x51, data);
}

SmfTrack& SmfTrack::tempo_bpm(std::uint32_t delta, double bpm) {
  return tempo(delta, static_cast<std::uint32_t>(std::lround(60'000'000.0 / bpm)));
}

SmfTrack& SmfTrack::time_signature(std::uint32_t delta, int numerator, int denominator_power2) {
  return meta(delta, 0x58, {byte(numerator), byte(denominator_power2), 24, 8});
}

SmfTrack& SmfTrack::marker(std::uint32_t delta, const std::string& text) {
  return meta(delta, 0x06, Bytes(text.begin(), text.end()));
}

SmfTrack& SmfTrack::track_name(std::uint32_t delta, const std::string& text) {
  return meta(delta, 0x03, Bytes(text.begin(), text.end()));
}

SmfTrack& SmfTrack::end_of_track(std::uint32_t delta) {
  return meta(delta, 0x2F, {});
}

SmfTrack& SmfTrack::sysex(std::uint32_t delta, const Bytes& message) {
  put_delta(delta);
  bytes_.push_back(0xF0);
  const std::size_t skip = (!message.empty() && message.front() == 0xF0) ? 1 : 0;
  put_varlen(bytes_, static_cast<std::uint32_t>(message.size() - skip));
  bytes_.insert(bytes_.end(), message.begin() + static_cast<std::ptrdiff_t>(skip), message.end());
  return *this;
}

SmfTrack& SmfTrack::sysex_escape(std::uint32_t delta, const Bytes& data) {
  put_delta(delta);
  bytes_.push_back(0xF7);
  put_varlen(bytes_, static_cast<std::uint32_t>(data.size()));
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

SmfTrack& SmfTrack::raw(std::initializer_list<std::uint8_t> data) {
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

SmfTrack& SmfTrack::raw(const Bytes& data) {
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

SmfWriter::SmfWriter(int format, std::uint16_t division) : format_(format), division_(division) {}

std::uint16_t SmfWriter::smpte_division(int fps, int ticks_per_frame) {
  const auto high = static_cast<std::uint8_t>(256 - fps);
  return static_cast<std::uint16_t>((high << 8) | (ticks_per_frame & 0xFF));
}

SmfTrack& SmfWriter::add_track() {
  return tracks_.emplace_back();
}

SmfWriter& SmfWriter::declare_track_count(std::uint16_t count) {
  declared_tracks_ = count;
  return *this;
}

SmfWriter& SmfWriter::declare_chunk_size(std::size_t track, std::uint32_t size) {
  forced_sizes_.emplace_back(track, size);
  return *this;
}

SmfWriter& SmfWriter::insert_chunk(std::size_t before_track, const std::string& id,
                                   const Bytes& data) {
  extra_chunks_.push_back({before_track, id, data});
  return *this;
}

Bytes SmfWriter::to_bytes() const {
  Bytes out;
  put_tag(out, "MThd");
  put_be(out, 6, 4);
  put_be(out, static_cast<std::uint32_t>(format_), 2);
  const auto count = declared_tracks_ >= 0 ? static_cast<std::uint32_t>(declared_tracks_)
                                           : static_cast<std::uint32_t>(tracks_.size());
  put_be(out, count, 2);
  put_be(out, division_, 2);
  for (std::size_t i = 0; i <= tracks_.size(); ++i) {
    for (const ExtraChunk& chunk : extra_chunks_) {
      if (chunk.before_track != i) continue;
      put_tag(out, chunk.id);
      put_be(out, static_cast<std::uint32_t>(chunk.data.size()), 4);
      out.insert(out.end(), chunk.data.begin(), chunk.data.end());
    }
    if (i == tracks_.size()) break;
    const Bytes& data = tracks_[i].bytes();
    auto size = static_cast<std::uint32_t>(data.size());
    for (const auto& [track, forced] : forced_sizes_) {
      if (track == i) size = forced;
    }
    put_tag(out, "MTrk");
    put_be(out, size, 4);
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}

Bytes SmfWriter::to_rmid() const {
  return wrap_rmid(to_bytes());
}

bool SmfWriter::write_file(const std::string& path, bool as_rmid) const {
  return write_bytes(path, as_rmid ? to_rmid() : to_bytes());
}

Bytes wrap_rmid(const Bytes& smf) {
  Bytes out;
  const bool pad = (smf.size() & 1) != 0;
  put_tag(out, "RIFF");
  put_le32(out, static_cast<std::uint32_t>(4 + 8 + smf.size() + (pad ? 1 : 0)));
  put_tag(out, "RMID");
  put_tag(out, "data");
  put_le32(out, static_cast<std::uint32_t>(smf.size()));
  out.insert(out.end(), smf.begin(), smf.end());
  if (pad) out.push_back(0);
  return out;
}

bool write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

}  // namespace orvan::test
