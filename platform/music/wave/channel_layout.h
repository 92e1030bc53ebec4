// Which stereo side each channel of a recorded file goes to.
#pragma once

#include "platform/music/wave/wave_source.h"

namespace orvan::music::wave {

// From libsndfile's channel map (SF_CHANNEL_MAP_* per channel).
Downmix downmix_for_map(const int* map, int channels);
// From the channel count alone: WAV and FLAC order (L R C LFE BL BR SL SR), or the Ogg
// order Vorbis and Opus files use (L C R BL BR LFE ...).
Downmix downmix_for_count(int channels, bool ogg_order);

}  // namespace orvan::music::wave
