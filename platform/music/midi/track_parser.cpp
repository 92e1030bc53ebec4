#include "platform/music/midi/track_parser.h"

#include "platform/music/midi/byte_cursor.h"

namespace orvan::music::midi {

namespace {

constexpr std::uint8_t kMetaKeySignature = 0x59;

bool meta_kept(std::uint8_t type) {
  switch (type) {
    case kMetaTempo:
    case kMetaTimeSignature:
    case kMetaKeySignature:
    case kMetaMarker:
    case kMetaCuePoint:
      return true;
    default:
      return false;
  }
}

int data_bytes_of(std::uint8_t status) {
  const std::uint8_t command = status & 0xF0;
  return (command == 0xC0 || command == 0xD0) ? 1 : 2;
}

class TrackParser {
 public:
  TrackParser(std::span<const std::uint8_t> data, bool cut_short, std::uint16_t track,
              std::uint64_t max_ticks, std::vector<TickedEvent>& events,
              std::vector<std::uint8_t>& payload, std::string& detail)
      : in_(data),
        cut_short_(cut_short),
        track_(track),
        max_ticks_(max_ticks),
        events_(events),
        payload_(payload),
        detail_(detail) {}

  com::HResult run(TrackResult& result) {
    while (!in_.at_end()) {
      const std::size_t event_start = in_.position();
      if (com::HResult hr = read_delta(); com::failed(hr)) return hr;
      std::uint8_t status = 0;
      if (!in_.peek(status)) return truncated("before an event's status");
      if (status < 0x80) {
        if (running_status_ == 0) {
          return fail(com::MUSIC_E_NO_RUNNING_STATUS, "data byte without a status at byte " +
                                                          offset(event_start) + " of the track");
        }
        status = running_status_;
      } else {
        in_.skip(1);
      }

      com::HResult hr = com::S_OK;
      if (status < 0xF0) {
        hr = read_channel_message(status);
      } else if (status == kSysExStatus || status == kSysExEscapeStatus) {
        hr = read_sysex(status);
      } else if (status == kMetaStatus) {
        bool end = false;
        hr = read_meta(end);
        if (com::succeeded(hr) && end) {
          // Whatever follows the end inside the chunk is not part of the track.
          result.end_tick = tick_;
          return com::S_OK;
        }
      } else {
        return fail(com::MUSIC_E_CORRUPT, "status byte " + hex(status) +
                                              " cannot appear in a file, at byte " +
                                              offset(event_start) + " of the track");
      }
      if (com::failed(hr)) return hr;
    }
    if (cut_short_) return truncated("before the end-of-track event");
    return fail(com::MUSIC_E_NO_END_OF_TRACK, "the track ends without an end-of-track event");
  }

 private:
  com::HResult read_delta() {
    std::uint32_t delta = 0;
    switch (in_.read_varlen(delta)) {
      case ByteCursor::VarLen::truncated:
        return truncated("inside a delta time");
      case ByteCursor::VarLen::too_long:
        return fail(com::MUSIC_E_CORRUPT, "a delta time longer than four bytes");
      case ByteCursor::VarLen::ok:
        break;
    }
    tick_ += delta;
    if (tick_ > max_ticks_) {
      return fail(com::MUSIC_E_FILE_TOO_LARGE, "the track's time does not fit music time");
    }
    return com::S_OK;
  }

  com::HResult read_channel_message(std::uint8_t status) {
    running_status_ = status;
    std::uint8_t data[2] = {0, 0};
    const int count = data_bytes_of(status);
    for (int i = 0; i < count; ++i) {
      if (!in_.read_u8(data[i])) return truncated("inside a channel message");
      if (data[i] >= 0x80) {
        return fail(com::MUSIC_E_CORRUPT,
                    "a channel message's data byte " + hex(data[i]) + " has its high bit set");
      }
    }
    push(status, data[0], data[1], {});
    return com::S_OK;
  }

  com::HResult read_length(std::uint32_t& length, const char* what) {
    switch (in_.read_varlen(length)) {
      case ByteCursor::VarLen::truncated:
        return truncated(std::string("inside a ") + what + " length");
      case ByteCursor::VarLen::too_long:
        return fail(com::MUSIC_E_CORRUPT,
                    std::string("a ") + what + " length longer than four bytes");
      case ByteCursor::VarLen::ok:
        break;
    }
    return com::S_OK;
  }

  com::HResult read_sysex(std::uint8_t status) {
    std::uint32_t length = 0;
    if (com::HResult hr = read_length(length, "SysEx"); com::failed(hr)) return hr;
    std::span<const std::uint8_t> bytes;
    if (!in_.read_bytes(length, bytes)) return truncated("inside a SysEx message");
    push(status, 0, 0, bytes);
    return com::S_OK;
  }

  com::HResult read_meta(bool& end) {
    std::uint8_t type = 0;
    if (!in_.read_u8(type)) return truncated("inside a meta event");
    std::uint32_t length = 0;
    if (com::HResult hr = read_length(length, "meta event"); com::failed(hr)) return hr;
    std::span<const std::uint8_t> bytes;
    if (!in_.read_bytes(length, bytes)) return truncated("inside a meta event");
    if (type == kMetaEndOfTrack) {
      end = true;
      return com::S_OK;
    }
    if (type == kMetaTempo) {
      if (bytes.size() < 3) return fail(com::MUSIC_E_CORRUPT, "a tempo event shorter than 3 bytes");
      if ((bytes[0] | bytes[1] | bytes[2]) == 0) {
        return fail(com::MUSIC_E_CORRUPT, "a tempo of zero microseconds per quarter");
      }
    }
    if (meta_kept(type)) push(kMetaStatus, type, 0, bytes);
    return com::S_OK;
  }

  void push(std::uint8_t status, std::uint8_t d1, std::uint8_t d2,
            std::span<const std::uint8_t> bytes) {
    TickedEvent e;
    e.tick = tick_;
    e.event.track = track_;
    e.event.status = status;
    e.event.data1 = d1;
    e.event.data2 = d2;
    e.event.payload_offset = static_cast<std::uint32_t>(payload_.size());
    e.event.payload_size = static_cast<std::uint32_t>(bytes.size());
    payload_.insert(payload_.end(), bytes.begin(), bytes.end());
    events_.push_back(e);
  }

  com::HResult truncated(const std::string& where) {
    return fail(com::MUSIC_E_TRUNCATED, "the data ends " + where);
  }
  com::HResult fail(com::HResult hr, std::string text) {
    detail_ = "track " + std::to_string(track_) + ": " + std::move(text);
    return hr;
  }
  static std::string offset(std::size_t at) { return std::to_string(at); }
  static std::string hex(std::uint8_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 0x0F];
  }

  ByteCursor in_;
  bool cut_short_;
  std::uint16_t track_;
  std::uint64_t max_ticks_;
  std::vector<TickedEvent>& events_;
  std::vector<std::uint8_t>& payload_;
  std::string& detail_;
  std::uint64_t tick_ = 0;
  std::uint8_t running_status_ = 0;
};

}  // namespace

com::HResult parse_track(std::span<const std::uint8_t> data, bool cut_short,
                         std::uint16_t track_index, std::uint64_t max_ticks,
                         std::vector<TickedEvent>& events, std::vector<std::uint8_t>& payload,
                         TrackResult& result, std::string& detail) {
  TrackParser parser(data, cut_short, track_index, max_ticks, events, payload, detail);
  return parser.run(result);
}

}  // namespace orvan::music::midi
