#include "platform/music/wave/cue_points.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace orvan::music::wave {

namespace {

constexpr std::size_t kCuePointBytes = 24;
// A WAV file has a handful of chunks: a walk that meets more is in damaged data.
constexpr int kMostChunks = 4096;
// Labels sit in a small list; one larger than this is not read past here.
constexpr std::size_t kMostListBytes = 1 << 20;

std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

bool is(const std::uint8_t* p, const char* id) {
  return std::memcmp(p, id, 4) == 0;
}

struct Point {
  std::uint32_t id = 0;
  std::int64_t frame = 0;
};

// The count a chunk states is believed only as far as its bytes go.
void read_cue_chunk(const FileCursor& file, std::int64_t at, std::int64_t size, std::int64_t frames,
                    std::vector<Point>& points) {
  const std::size_t most = 4 + kCuePointBytes * kMostCuePoints;
  const auto bytes =
      read_bytes_at(file, at, static_cast<std::size_t>(std::min<std::int64_t>(size, most)));
  if (bytes.size() < 4) return;
  const std::size_t count =
      std::min<std::size_t>(le32(bytes.data()), (bytes.size() - 4) / kCuePointBytes);
  for (std::size_t i = 0; i < count && points.size() < kMostCuePoints; ++i) {
    const std::uint8_t* p = bytes.data() + 4 + kCuePointBytes * i;
    const std::uint32_t id = le32(p);
    // Within the data chunk the sample offset is the frame; a point in another chunk (a
    // playlist's) has only its position in play order.
    const std::int64_t frame = is(p + 8, "data") ? le32(p + 20) : le32(p + 4);
    if (frame > frames) continue;
    if (std::any_of(points.begin(), points.end(), [&](const Point& q) { return q.id == id; })) {
      continue;
    }
    points.push_back({id, frame});
  }
}

void read_labels(const FileCursor& file, std::int64_t at, std::int64_t size,
                 std::map<std::uint32_t, std::string>& labels) {
  const auto bytes = read_bytes_at(
      file, at, static_cast<std::size_t>(std::min<std::int64_t>(size, kMostListBytes)));
  if (bytes.size() < 4 || !is(bytes.data(), "adtl")) return;
  std::size_t pos = 4;
  while (pos <= bytes.size() && bytes.size() - pos >= 8) {
    const std::uint8_t* head = bytes.data() + pos;
    const std::size_t length = le32(head + 4);
    const std::size_t data = pos + 8;
    if (length > bytes.size() - data) return;
    if (is(head, "labl") && length >= 4) {
      const char* text = reinterpret_cast<const char*>(bytes.data() + data + 4);
      const std::size_t room = std::min(length - 4, kLongestCueName);
      labels.try_emplace(le32(bytes.data() + data), text, ::strnlen(text, room));
    }
    pos = data + length + (length & 1);
  }
}

}  // namespace

std::vector<CuePoint> read_wav_cue_points(const FileCursor& file, std::int64_t frames) {
  const auto header = read_bytes_at(file, 0, 12);
  if (header.size() != 12 || !is(header.data(), "RIFF") || !is(header.data() + 8, "WAVE")) {
    return {};
  }
  std::vector<Point> points;
  std::map<std::uint32_t, std::string> labels;
  std::int64_t at = 12;
  for (int chunk = 0; chunk < kMostChunks && file.size - at >= 8; ++chunk) {
    const auto head = read_bytes_at(file, at, 8);
    if (head.size() != 8) break;
    const std::int64_t size = le32(head.data() + 4);
    if (is(head.data(), "cue ")) {
      read_cue_chunk(file, at + 8, size, frames, points);
    } else if (is(head.data(), "LIST")) {
      read_labels(file, at + 8, size, labels);
    }
    at += 8 + size + (size & 1);
  }
  std::stable_sort(points.begin(), points.end(),
                   [](const Point& a, const Point& b) { return a.frame < b.frame; });
  std::vector<CuePoint> cues;
  cues.reserve(points.size());
  for (const Point& p : points) {
    const auto label = labels.find(p.id);
    cues.push_back({p.frame, label != labels.end() ? label->second : std::string()});
  }
  return cues;
}

}  // namespace orvan::music::wave
