// Voice pools sized per piece. FluidSynth sizes its event queue and its queue of finished
// voices from the pool when a synthesizer is made; growing the pool afterwards would
// reallocate inside the render thread's next call and could overflow the finished-voice
// queue. So a piece that needs more voices than the channel's synthesizer holds gets a new
// synthesizer, made here on the client thread and handed over with its play: the render
// thread switches to it as the play begins and lets the old one ring out beside it. While
// one rings out (or waits for its play), a further piece plays on the pool there is.
#include <algorithm>

#include "platform/music/midi/sequence.h"
#include "platform/music/render/performance_core.h"
#include "platform/music/synth/instrument_library.h"
#include "platform/music/synth/soundfont_catalogue.h"
#include "platform/music/synth/synth.h"

namespace orvan::music {

std::unique_ptr<synth::Synth> PerformanceCore::synth_for(const midi::Sequence& sequence,
                                                         int& voices_needed) {
  std::shared_ptr<synth::InstrumentLibrary> library;
  int pool = 0, beside = 0, rate = 0;
  {
    std::lock_guard lock(client_mutex_);
    collect_locked();  // plays that ended are no longer counted
    library = library_;
    pool = queued_pool_;
    // The piece this one replaces (or waits for) may still sound, or ring out, on the same
    // voices; pieces before it were released earlier, and the headroom takes their last tails.
    beside = handed_.empty() ? 0 : last_play_voices_;
    rate = sample_rate_;
  }
  voices_needed = 0;
  if (!library) return nullptr;
  voices_needed = synth::voice_pool_for(library->voices_at_once(sequence));
  if (beside + voices_needed <= pool) return nullptr;
  // A new synthesizer starts with no tails to hold. Never below the starting pool, so that
  // small pieces after it share it rather than each bringing one.
  std::unique_ptr<synth::Synth> next;
  // Without a new synthesizer the piece plays on the pool there is, which may steal notes.
  if (com::failed(synth::Synth::create(rate, library->catalogue().path(),
                                       std::max(voices_needed, kInitialVoices), next))) {
    return nullptr;
  }
  return next;
}

void PerformanceCore::synth_queued_locked(std::unique_ptr<synth::Synth> next, int voices_needed) {
  last_play_voices_ = voices_needed;
  if (!next) return;
  queued_pool_ = next->voices();
  synths_.push_back(std::move(next));
}

}  // namespace orvan::music
