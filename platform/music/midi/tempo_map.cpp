#include <algorithm>

#include "platform/music/midi/sequence.h"

namespace orvan::music::midi {

namespace {

constexpr double kMicrosPerSecond = 1e6;

double seconds_per_music_tick(std::uint32_t usec_per_quarter) {
  return static_cast<double>(usec_per_quarter) / (kMicrosPerSecond * kTicksPerQuarter);
}

}  // namespace

TempoMap::TempoMap() : points_{TempoPoint{}} {}

TempoMap::TempoMap(std::vector<TempoPoint> points) {
  for (TempoPoint& p : points) {
    p.time = std::max(p.time, 0);
    // A zero tempo would stop time; the shortest real one stands in for it.
    p.usec_per_quarter = std::max<std::uint32_t>(p.usec_per_quarter, 1);
  }
  std::stable_sort(points.begin(), points.end(),
                   [](const TempoPoint& a, const TempoPoint& b) { return a.time < b.time; });
  points_.reserve(points.size() + 1);
  if (points.empty() || points.front().time > 0) points_.push_back(TempoPoint{});
  for (const TempoPoint& p : points) {
    if (!points_.empty() && points_.back().time == p.time) {
      points_.back().usec_per_quarter = p.usec_per_quarter;
    } else {
      points_.push_back(p);
    }
  }
  points_.front().seconds = 0.0;
  for (std::size_t i = 1; i < points_.size(); ++i) {
    const TempoPoint& prev = points_[i - 1];
    points_[i].seconds = prev.seconds + (points_[i].time - prev.time) *
                                            seconds_per_music_tick(prev.usec_per_quarter);
  }
}

TempoMap TempoMap::with_seconds(std::vector<TempoPoint> points) {
  TempoMap map;
  if (!points.empty()) map.points_ = std::move(points);
  return map;
}

std::size_t TempoMap::segment_at_time(double music_time) const {
  auto after = std::upper_bound(
      points_.begin() + 1, points_.end(), music_time,
      [](double t, const TempoPoint& p) { return t < static_cast<double>(p.time); });
  return static_cast<std::size_t>(after - points_.begin()) - 1;
}

std::size_t TempoMap::segment_at_seconds(double seconds) const {
  auto after = std::upper_bound(points_.begin() + 1, points_.end(), seconds,
                                [](double s, const TempoPoint& p) { return s < p.seconds; });
  return static_cast<std::size_t>(after - points_.begin()) - 1;
}

double TempoMap::seconds_at(double music_time) const {
  const TempoPoint& p = points_[segment_at_time(music_time)];
  return p.seconds + (music_time - p.time) * seconds_per_music_tick(p.usec_per_quarter);
}

double TempoMap::music_time_at(double seconds) const {
  const TempoPoint& p = points_[segment_at_seconds(seconds)];
  return p.time + (seconds - p.seconds) / seconds_per_music_tick(p.usec_per_quarter);
}

std::uint32_t TempoMap::tempo_at(std::int32_t music_time) const {
  return points_[segment_at_time(music_time)].usec_per_quarter;
}

}  // namespace orvan::music::midi
