#include <algorithm>
#include <cstring>

#include "platform/music/midi/byte_cursor.h"
#include "platform/music/midi/sequence.h"
#include "platform/music/midi/tick_scale.h"
#include "platform/music/midi/track_parser.h"

namespace orvan::music::midi {

namespace {

constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::uint32_t kHeaderBodyBytes = 6;

bool starts_with(std::span<const std::uint8_t> bytes, const char* tag) {
  const std::size_t n = std::strlen(tag);
  return bytes.size() >= n && std::memcmp(bytes.data(), tag, n) == 0;
}

// True when all of `bytes` (fewer than the tag's length) match the tag's beginning.
bool is_prefix_of(std::span<const std::uint8_t> bytes, const char* tag) {
  return bytes.size() < std::strlen(tag) && std::memcmp(bytes.data(), tag, bytes.size()) == 0;
}

com::HResult fail(std::string& detail, com::HResult hr, std::string text) {
  detail = std::move(text);
  return hr;
}

// Locates the Standard MIDI File inside an RMID file. `declared_past_end` says the 'data'
// chunk claims more bytes than the file holds.
com::HResult unwrap_rmid(std::span<const std::uint8_t> file, std::span<const std::uint8_t>& smf,
                         bool& declared_past_end, std::string& detail) {
  ByteCursor in(file);
  std::uint32_t riff_size = 0;
  std::span<const std::uint8_t> form;
  if (!in.skip(4) || !in.read_le32(riff_size) || !in.read_bytes(4, form)) {
    return fail(detail, com::MUSIC_E_TRUNCATED, "the file ends inside its RIFF header");
  }
  if (std::memcmp(form.data(), "RMID", 4) != 0) {
    return fail(detail, com::MUSIC_E_UNSUPPORTED_FORMAT, "a RIFF file, but not of form RMID");
  }
  // The RIFF size is often wrong in files in the wild; chunks are walked to the file's end.
  while (!in.at_end()) {
    std::span<const std::uint8_t> id;
    std::uint32_t size = 0;
    if (!in.read_bytes(4, id) || !in.read_le32(size)) {
      return fail(detail, com::MUSIC_E_TRUNCATED, "the file ends inside a RIFF chunk header");
    }
    if (std::memcmp(id.data(), "data", 4) == 0) {
      declared_past_end = size > in.remaining();
      in.read_bytes(std::min<std::size_t>(size, in.remaining()), smf);
      return com::S_OK;
    }
    // Chunks are padded to an even size.
    const std::uint64_t skip = std::uint64_t{size} + (size & 1u);
    if (skip > in.remaining()) {
      return fail(detail, com::MUSIC_E_BAD_CHUNK_SIZE,
                  "a RIFF chunk declares " + std::to_string(size) + " bytes, only " +
                      std::to_string(in.remaining()) + " remain");
    }
    in.skip(static_cast<std::size_t>(skip));
  }
  if (std::uint64_t{riff_size} + kChunkHeaderBytes > file.size()) {
    return fail(detail, com::MUSIC_E_TRUNCATED, "the file ends before the RMID 'data' chunk");
  }
  return fail(detail, com::MUSIC_E_CORRUPT, "the RMID file holds no 'data' chunk");
}

struct Header {
  int format = 0;
  std::uint16_t tracks = 0;
  std::uint16_t division_word = 0;
  Division division;
};

com::HResult read_header(ByteCursor& in, Header& h, std::string& detail) {
  std::uint32_t size = 0;
  if (!in.skip(4) || !in.read_be(4, size)) {
    return fail(detail, com::MUSIC_E_TRUNCATED, "the file ends inside its MThd header");
  }
  if (size < kHeaderBodyBytes) {
    return fail(detail, com::MUSIC_E_BAD_CHUNK_SIZE,
                "the MThd chunk declares " + std::to_string(size) + " bytes, at least 6 needed");
  }
  std::uint32_t format = 0, tracks = 0, division = 0;
  if (!in.read_be(2, format) || !in.read_be(2, tracks) || !in.read_be(2, division)) {
    return fail(detail, com::MUSIC_E_TRUNCATED, "the file ends inside its MThd header");
  }
  if (!in.skip(size - kHeaderBodyBytes)) {
    return fail(
        detail, com::MUSIC_E_BAD_CHUNK_SIZE,
        "the MThd chunk declares " + std::to_string(size) + " bytes, more than the file holds");
  }
  if (format == 2) {
    return fail(detail, com::MUSIC_E_UNSUPPORTED_FORMAT,
                "format 2 (independent patterns) is not supported");
  }
  if (format > 2) {
    return fail(detail, com::MUSIC_E_UNSUPPORTED_FORMAT,
                "unknown MIDI file format " + std::to_string(format));
  }
  if (tracks == 0) return fail(detail, com::MUSIC_E_NO_TRACKS, "the header declares no tracks");
  h.format = static_cast<int>(format);
  h.tracks = static_cast<std::uint16_t>(tracks);
  h.division_word = static_cast<std::uint16_t>(division);
  h.division = decode_division(h.division_word);
  if (!h.division.is_smpte() && h.division.ticks_per_quarter == 0) {
    return fail(detail, com::MUSIC_E_CORRUPT, "a division of zero ticks per quarter note");
  }
  if (h.division.is_smpte()) {
    const int fps = h.division.smpte_fps;
    if (fps != 24 && fps != 25 && fps != 29 && fps != 30) {
      return fail(detail, com::MUSIC_E_CORRUPT,
                  "an SMPTE division of " + std::to_string(fps) + " frames a second");
    }
    if (h.division.ticks_per_frame == 0) {
      return fail(detail, com::MUSIC_E_CORRUPT, "an SMPTE division of zero ticks per frame");
    }
  }
  return com::S_OK;
}

// Real time of every tempo point and of the end, from exact ticks.
class TempoBuilder {
 public:
  TempoBuilder(const Division& division, const TickScale& scale)
      : division_(division), scale_(scale) {}

  // Events arrive in merged order; a later change at the same tick replaces an earlier one.
  void add(std::uint64_t tick, std::uint32_t usec) {
    if (tick == last_tick_) {
      points_.back().usec_per_quarter = usec;
      return;
    }
    seconds_ = seconds_at(tick);
    last_tick_ = tick;
    points_.push_back(TempoPoint{scale_.to_music(tick), usec, seconds_});
  }

  double seconds_at(std::uint64_t tick) const {
    if (division_.is_smpte()) return scale_.smpte_seconds(tick);
    const double quarters = static_cast<double>(tick - last_tick_) / division_.ticks_per_quarter;
    return seconds_ + quarters * points_.back().usec_per_quarter * 1e-6;
  }

  std::vector<TempoPoint> take() { return std::move(points_); }

 private:
  const Division& division_;
  const TickScale& scale_;
  std::vector<TempoPoint> points_{TempoPoint{}};
  std::uint64_t last_tick_ = 0;
  double seconds_ = 0.0;
};

std::uint32_t tempo_value(std::span<const std::uint8_t> bytes) {
  return (std::uint32_t{bytes[0]} << 16) | (std::uint32_t{bytes[1]} << 8) | bytes[2];
}

com::HResult read_smf(std::span<const std::uint8_t> bytes, Sequence& seq, std::string& detail) {
  ByteCursor in(bytes);
  Header header;
  if (com::HResult hr = read_header(in, header, detail); com::failed(hr)) return hr;
  const TickScale scale(header.division);

  std::vector<TickedEvent> ticked;
  std::uint64_t end_tick = 0;
  int tracks_read = 0;
  while (tracks_read < header.tracks) {
    if (in.remaining() < kChunkHeaderBytes) {
      return fail(detail, com::MUSIC_E_TRUNCATED,
                  "the file ends after " + std::to_string(tracks_read) + " of " +
                      std::to_string(header.tracks) + " tracks");
    }
    std::span<const std::uint8_t> id;
    std::uint32_t size = 0;
    in.read_bytes(4, id);
    in.read_be(4, size);
    const bool past_end = size > in.remaining();
    const std::size_t present = std::min<std::size_t>(size, in.remaining());
    if (std::memcmp(id.data(), "MTrk", 4) != 0) {
      if (past_end) {
        return fail(detail, com::MUSIC_E_BAD_CHUNK_SIZE,
                    "a chunk declares " + std::to_string(size) + " bytes, only " +
                        std::to_string(in.remaining()) + " remain");
      }
      in.skip(present);
      continue;
    }
    std::span<const std::uint8_t> data;
    in.read_bytes(present, data);
    TrackResult track;
    com::HResult hr = parse_track(data, past_end, static_cast<std::uint16_t>(tracks_read),
                                  scale.max_ticks(), ticked, seq.payload, track, detail);
    if (com::failed(hr)) return hr;
    if (past_end) {
      return fail(detail, com::MUSIC_E_BAD_CHUNK_SIZE,
                  "track " + std::to_string(tracks_read) + " declares " + std::to_string(size) +
                      " bytes, only " + std::to_string(present) + " remain");
    }
    end_tick = std::max(end_tick, track.end_tick);
    ++tracks_read;
  }

  // Tracks were appended in order, so a stable sort by tick keeps ties in track, then file
  // order. A single track is already in order and needs none.
  const auto by_tick = [](const TickedEvent& a, const TickedEvent& b) { return a.tick < b.tick; };
  if (!std::is_sorted(ticked.begin(), ticked.end(), by_tick)) {
    std::stable_sort(ticked.begin(), ticked.end(), by_tick);
  }

  TempoBuilder tempo(header.division, scale);
  seq.events.reserve(ticked.size());
  for (TickedEvent& t : ticked) {
    const bool is_tempo = t.event.status == kMetaStatus && t.event.data1 == kMetaTempo;
    if (is_tempo && header.division.is_smpte()) continue;
    t.event.time = scale.to_music(t.tick);
    seq.events.push_back(t.event);
    if (is_tempo) {
      tempo.add(t.tick, tempo_value(seq.payload_of(t.event)));
      ++seq.tempo_changes;
    }
  }

  seq.format = header.format;
  seq.track_count = tracks_read;
  seq.division = header.division_word;
  seq.length = scale.to_music(end_tick);
  seq.length_seconds = tempo.seconds_at(end_tick);
  seq.tempo = TempoMap::with_seconds(tempo.take());
  return com::S_OK;
}

}  // namespace

com::HResult read_sequence(std::span<const std::uint8_t> bytes, Sequence& out,
                           std::string* detail) {
  std::string why;
  Sequence seq;
  com::HResult hr = com::S_OK;
  if (bytes.empty()) {
    hr = fail(why, com::MUSIC_E_EMPTY_FILE, "the file is empty");
  } else if (bytes.size() > kMaxFileBytes) {
    hr = fail(why, com::MUSIC_E_FILE_TOO_LARGE,
              "larger than " + std::to_string(kMaxFileBytes) + " bytes");
  } else if (starts_with(bytes, "RIFF")) {
    std::span<const std::uint8_t> smf;
    bool declared_past_end = false;
    hr = unwrap_rmid(bytes, smf, declared_past_end, why);
    if (com::succeeded(hr) && !starts_with(smf, "MThd")) {
      hr = declared_past_end && is_prefix_of(smf, "MThd")
               ? fail(why, com::MUSIC_E_TRUNCATED, "the file ends inside the RMID data")
               : fail(why, com::MUSIC_E_CORRUPT, "the RMID data chunk holds no MIDI file");
    }
    if (com::succeeded(hr)) hr = read_smf(smf, seq, why);
    if (com::succeeded(hr) && declared_past_end) {
      hr = fail(why, com::MUSIC_E_BAD_CHUNK_SIZE,
                "the RMID data chunk declares more bytes than the file holds");
    }
  } else if (starts_with(bytes, "MThd")) {
    hr = read_smf(bytes, seq, why);
  } else if (is_prefix_of(bytes, "MThd") || is_prefix_of(bytes, "RIFF")) {
    hr = fail(why, com::MUSIC_E_TRUNCATED, "the file ends inside its first tag");
  } else {
    hr = fail(why, com::MUSIC_E_UNSUPPORTED_FORMAT, "neither a MIDI file nor an RMID file");
  }
  if (com::failed(hr)) {
    if (detail) *detail = std::move(why);
    return hr;
  }
  out = std::move(seq);
  return com::S_OK;
}

}  // namespace orvan::music::midi
