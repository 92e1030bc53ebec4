// A sequence rendered straight through a synthesizer, with no performance around it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/music/midi/sequence.h"
#include "platform/music/synth/synth.h"

namespace orvan::music::testing {

// `sequence` on `synth` at its own tempo, each event sent before the block that holds it, as the
// sequencer does: interleaved dry plus wet stereo. `most_voices`, when given, receives the most
// voices sounding after any block.
inline std::vector<float> render(synth::Synth& synth, const midi::Sequence& sequence, int rate,
                                 int frames, int* most_voices = nullptr) {
  std::vector<float> dry_l(frames), dry_r(frames), wet_l(frames), wet_r(frames);
  synth.reset_channels();
  std::size_t next = 0;
  for (int at = 0; at < frames; at += synth::kBlockFrames) {
    const int n = std::min(synth::kBlockFrames, frames - at);
    while (next < sequence.events.size() &&
           sequence.tempo.seconds_at(sequence.events[next].time) * rate < at + n) {
      const midi::Event& e = sequence.events[next++];
      if (e.is_channel()) synth.channel_message(e.status, e.data1, e.data2);
      if (e.status == midi::kSysExStatus) synth.sysex(sequence.payload_of(e));
    }
    synth.render(n, &dry_l[at], &dry_r[at], &wet_l[at], &wet_r[at]);
    if (most_voices) {
      synth.flush();
      *most_voices = std::max(*most_voices, synth.active_voices());
    }
  }
  synth.flush();
  std::vector<float> out(2 * static_cast<std::size_t>(frames));
  for (std::size_t i = 0; i < dry_l.size(); ++i) {
    out[2 * i] = dry_l[i] + wet_l[i];
    out[2 * i + 1] = dry_r[i] + wet_r[i];
  }
  return out;
}

}  // namespace orvan::music::testing
