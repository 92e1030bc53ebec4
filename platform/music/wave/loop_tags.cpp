#include "platform/music/wave/loop_tags.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

namespace orvan::music::wave {

namespace {

// Comments hold cover art now and then; a loop tag sits in front of it or is not worth
// reading a whole file for.
constexpr std::size_t kMostCommentBytes = 1 << 20;
constexpr std::size_t kMostOggPages = 64;
constexpr int kMostFlacBlocks = 128;

std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

// The comment structure every one of these formats shares: vendor, count, then each comment
// with its length (all little-endian).
std::vector<std::string> parse_comment_block(const std::uint8_t* p, std::size_t size) {
  std::vector<std::string> comments;
  std::size_t at = 0;
  if (size < 4) return comments;
  const std::uint32_t vendor = le32(p);
  at = 4;
  if (vendor > size - at || size - at - vendor < 4) return comments;
  at += vendor;
  std::uint32_t count = le32(p + at);
  at += 4;
  while (count-- > 0 && size - at >= 4) {
    const std::uint32_t length = le32(p + at);
    at += 4;
    if (length > size - at) break;
    comments.emplace_back(reinterpret_cast<const char*>(p + at), length);
    at += length;
  }
  return comments;
}

std::vector<std::string> flac_comments(const FileCursor& file) {
  std::int64_t at = 0;
  // An ID3v2 tag in front of the stream is allowed; its size is in 7-bit bytes.
  const auto id3 = read_bytes_at(file, 0, 10);
  if (id3.size() == 10 && std::memcmp(id3.data(), "ID3", 3) == 0) {
    at = 10 + ((std::int64_t{id3[6]} & 0x7F) << 21) + ((std::int64_t{id3[7]} & 0x7F) << 14) +
         ((std::int64_t{id3[8]} & 0x7F) << 7) + (std::int64_t{id3[9]} & 0x7F);
  }
  const auto magic = read_bytes_at(file, at, 4);
  if (magic.size() != 4 || std::memcmp(magic.data(), "fLaC", 4) != 0) return {};
  at += 4;
  for (int index = 0; index < kMostFlacBlocks; ++index) {
    const auto header = read_bytes_at(file, at, 4);
    if (header.size() != 4) return {};
    const bool last = (header[0] & 0x80) != 0;
    const int type = header[0] & 0x7F;
    const std::size_t length =
        (std::size_t{header[1]} << 16) | (std::size_t{header[2]} << 8) | std::size_t{header[3]};
    at += 4;
    if (type == 4) {
      const auto block = read_bytes_at(file, at, std::min(length, kMostCommentBytes));
      return parse_comment_block(block.data(), block.size());
    }
    if (last) return {};
    at += static_cast<std::int64_t>(length);
  }
  return {};
}

// The second packet of the first logical stream: Vorbis's and Opus's comment header.
std::vector<std::string> ogg_comments(const FileCursor& file) {
  std::vector<std::uint8_t> packet;
  int packets_done = 0;
  std::int64_t at = 0;
  std::optional<std::uint32_t> serial;
  for (std::size_t page = 0; page < kMostOggPages; ++page) {
    const auto header = read_bytes_at(file, at, 27);
    if (header.size() != 27 || std::memcmp(header.data(), "OggS", 4) != 0) return {};
    const std::uint32_t page_serial = le32(header.data() + 14);
    const std::size_t segments = header[26];
    const auto lacing = read_bytes_at(file, at + 27, segments);
    if (lacing.size() != segments) return {};
    std::int64_t body = at + 27 + static_cast<std::int64_t>(segments);
    std::size_t body_size = 0;
    for (std::uint8_t l : lacing) body_size += l;
    if (!serial) serial = page_serial;
    if (page_serial == *serial) {
      const auto data = read_bytes_at(file, body, body_size);
      if (data.size() != body_size) return {};
      std::size_t offset = 0;
      for (std::uint8_t l : lacing) {
        if (packets_done == 1) {
          if (packet.size() + l > kMostCommentBytes) return {};
          packet.insert(packet.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                        data.begin() + static_cast<std::ptrdiff_t>(offset + l));
        }
        offset += l;
        if (l < 255 && ++packets_done == 2) {
          if (packet.size() >= 7 && packet[0] == 3 &&
              std::memcmp(packet.data() + 1, "vorbis", 6) == 0) {
            return parse_comment_block(packet.data() + 7, packet.size() - 7);
          }
          if (packet.size() >= 8 && std::memcmp(packet.data(), "OpusTags", 8) == 0) {
            return parse_comment_block(packet.data() + 8, packet.size() - 8);
          }
          return {};
        }
      }
    }
    at = body + static_cast<std::int64_t>(body_size);
  }
  return {};
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// A count of samples, or a time [[HH:]MM:]SS[.mmm] in frames at `rate`.
std::optional<std::int64_t> frames_of(std::string_view text, int rate) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  if (text.find(':') == std::string_view::npos) {
    std::int64_t samples = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), samples);
    if (error != std::errc() || end != text.data() + text.size() || samples < 0) {
      return std::nullopt;
    }
    return samples;
  }
  double seconds = 0.0;
  while (!text.empty()) {
    const std::size_t colon = text.find(':');
    const std::string_view part = text.substr(0, colon);
    double value = 0.0;
    const auto [end, error] =
        std::from_chars(part.data(), part.data() + part.size(), value, std::chars_format::fixed);
    if (part.empty() || error != std::errc() || end != part.data() + part.size() || value < 0) {
      return std::nullopt;
    }
    seconds = seconds * 60.0 + value;
    text = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
  }
  if (!std::isfinite(seconds) || seconds > 1e9) return std::nullopt;
  return std::llround(seconds * rate);
}

}  // namespace

std::vector<std::string> read_vorbis_comments(const FileCursor& file, std::string_view container) {
  if (container == "flac") return flac_comments(file);
  if (container == "ogg") return ogg_comments(file);
  return {};
}

FrameLoop loop_from_comments(const std::vector<std::string>& comments, int rate,
                             std::int64_t frames) {
  std::optional<std::int64_t> start, length, end;
  for (const std::string& comment : comments) {
    const std::size_t equals = comment.find('=');
    if (equals == std::string::npos) continue;
    const std::string_view name(comment.data(), equals);
    const std::string_view value = std::string_view(comment).substr(equals + 1);
    if (equals_ignoring_case(name, "LOOPSTART")) start = frames_of(value, rate);
    if (equals_ignoring_case(name, "LOOPLENGTH")) length = frames_of(value, rate);
    if (equals_ignoring_case(name, "LOOPEND")) end = frames_of(value, rate);
  }
  // Checked against the file first, so that no sum of hostile values can overflow.
  if (!start || *start >= frames) return {};
  std::int64_t last = frames;
  if (length) {
    last = *start + std::min(*length, frames);
  } else if (end) {
    last = *end;
  }
  last = std::min(last, frames);
  if (*start >= last) return {};
  return {*start, last};
}

}  // namespace orvan::music::wave
