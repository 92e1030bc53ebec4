#include "platform/music/wave/channel_layout.h"

#include <sndfile.h>

#include <algorithm>

namespace orvan::music::wave {

namespace {

constexpr float kMinus3dB = 0.70710678f;

enum class Place { Mono, Left, Right, Centre, SurroundLeft, SurroundRight, RearCentre, Lfe };

void set(Downmix& d, int channel, Place place) {
  float l = 0.0f, r = 0.0f;
  switch (place) {
    case Place::Mono:
      l = r = 1.0f;
      break;
    case Place::Left:
      l = 1.0f;
      break;
    case Place::Right:
      r = 1.0f;
      break;
    case Place::Centre:
      l = r = kMinus3dB;
      break;
    case Place::SurroundLeft:
      l = kMinus3dB;
      break;
    case Place::SurroundRight:
      r = kMinus3dB;
      break;
    case Place::RearCentre:
      l = r = 0.5f;
      break;
    case Place::Lfe:
      break;
  }
  d.left[channel] = l;
  d.right[channel] = r;
}

Place place_of(int sf_channel) {
  switch (sf_channel) {
    case SF_CHANNEL_MAP_MONO:
      return Place::Mono;
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
      return Place::Left;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
      return Place::Right;
    case SF_CHANNEL_MAP_REAR_LEFT:
    case SF_CHANNEL_MAP_SIDE_LEFT:
    case SF_CHANNEL_MAP_TOP_REAR_LEFT:
      return Place::SurroundLeft;
    case SF_CHANNEL_MAP_REAR_RIGHT:
    case SF_CHANNEL_MAP_SIDE_RIGHT:
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
      return Place::SurroundRight;
    case SF_CHANNEL_MAP_REAR_CENTER:
    case SF_CHANNEL_MAP_TOP_REAR_CENTER:
      return Place::RearCentre;
    case SF_CHANNEL_MAP_LFE:
      return Place::Lfe;
    default:
      return Place::Centre;  // centre, top centre, ambisonic and unknown
  }
}

}  // namespace

void Downmix::apply(const float* in, std::int64_t frames, float* out) const noexcept {
  if (channels == 2 && left[0] == 1.0f && right[1] == 1.0f && left[1] == 0.0f && right[0] == 0.0f) {
    std::copy_n(in, 2 * frames, out);
    return;
  }
  for (std::int64_t f = 0; f < frames; ++f) {
    float l = 0.0f, r = 0.0f;
    const float* frame = in + f * channels;
    for (int c = 0; c < channels; ++c) {
      l += frame[c] * left[c];
      r += frame[c] * right[c];
    }
    out[2 * f] = l;
    out[2 * f + 1] = r;
  }
}

Downmix downmix_for_map(const int* map, int channels) {
  Downmix d;
  d.channels = channels;
  for (int c = 0; c < channels; ++c) set(d, c, place_of(map[c]));
  // A "mono" channel among others, or a map that leaves a side empty, is no layout we know.
  bool any_left = false, any_right = false;
  for (int c = 0; c < channels; ++c) {
    any_left = any_left || d.left[c] > 0.0f;
    any_right = any_right || d.right[c] > 0.0f;
  }
  if (!any_left || !any_right || (channels > 1 && place_of(map[0]) == Place::Mono)) {
    return downmix_for_count(channels, false);
  }
  return d;
}

Downmix downmix_for_count(int channels, bool ogg_order) {
  using P = Place;
  static const P kWav[9][8] = {
      {},
      {P::Mono},
      {P::Left, P::Right},
      {P::Left, P::Right, P::Centre},
      {P::Left, P::Right, P::SurroundLeft, P::SurroundRight},
      {P::Left, P::Right, P::Centre, P::SurroundLeft, P::SurroundRight},
      {P::Left, P::Right, P::Centre, P::Lfe, P::SurroundLeft, P::SurroundRight},
      {P::Left, P::Right, P::Centre, P::Lfe, P::RearCentre, P::SurroundLeft, P::SurroundRight},
      {P::Left, P::Right, P::Centre, P::Lfe, P::SurroundLeft, P::SurroundRight, P::SurroundLeft,
       P::SurroundRight},
  };
  static const P kOgg[9][8] = {
      {},
      {P::Mono},
      {P::Left, P::Right},
      {P::Left, P::Centre, P::Right},
      {P::Left, P::Right, P::SurroundLeft, P::SurroundRight},
      {P::Left, P::Centre, P::Right, P::SurroundLeft, P::SurroundRight},
      {P::Left, P::Centre, P::Right, P::SurroundLeft, P::SurroundRight, P::Lfe},
      {P::Left, P::Centre, P::Right, P::SurroundLeft, P::SurroundRight, P::RearCentre, P::Lfe},
      {P::Left, P::Centre, P::Right, P::SurroundLeft, P::SurroundRight, P::SurroundLeft,
       P::SurroundRight, P::Lfe},
  };
  Downmix d;
  d.channels = std::clamp(channels, 0, kMaxChannels);
  for (int c = 0; c < d.channels; ++c) set(d, c, (ogg_order ? kOgg : kWav)[d.channels][c]);
  return d;
}

}  // namespace orvan::music::wave
