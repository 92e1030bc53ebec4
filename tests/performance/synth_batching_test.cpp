// The synthesizer defers rendering so that blocks with no event between them are rendered
// in one call. That must not move anything: the samples are those of rendering each block
// as it is asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/music/synth/dls_font.h"
#include "platform/music/synth/instrument_library.h"
#include "platform/music/synth/soundfont_locator.h"
#include "platform/music/synth/synth.h"

namespace orvan::music::synth {
namespace {

constexpr int kBlocks = 96;

struct Planes {
  std::vector<float> dry_left, dry_right, wet_left, wet_right;
  explicit Planes(int frames)
      : dry_left(frames), dry_right(frames), wet_left(frames), wet_right(frames) {}
};

// Notes, a controller, a program change and a pedal at irregular blocks, and a release of
// everything near the end; rendered in pieces of `piece` frames. With `flush_each`, every
// piece is rendered before the next is asked for.
Planes render(int rate, int piece, bool flush_each) {
  std::string soundfont;
  EXPECT_EQ(locate_soundfont("", soundfont), com::S_OK);
  std::unique_ptr<Synth> synth;
  EXPECT_EQ(Synth::create(rate, soundfont, synth), com::S_OK);
  // The piano, the strings and the kit, for the notes played below.
  const PresetUse uses[] = {
      {{0, 0}, {60 << 7 | 110}}, {{0, 48}, {67 << 7 | 90}}, {{128, 0}, {38 << 7 | 120}}};
  struct _fluid_sfont_t* instruments = nullptr;
  EXPECT_EQ(synth->library()->load_instruments(uses, instruments), com::S_OK);
  synth->sound_fonts(instruments, nullptr);
  Planes p(kBlocks * kBlockFrames);
  for (int block = 0; block < kBlocks; ++block) {
    switch (block) {
      case 0:
        synth->channel_message(0x90, 60, 110);
        break;
      case 3:
        synth->channel_message(0xC1, 48, 0);
        break;
      case 4:
        synth->channel_message(0x91, 67, 90);
        break;
      case 21:
        synth->channel_message(0xB0, 64, 127);
        break;
      case 22:
        synth->channel_message(0x80, 60, 0);
        break;
      case 40:
        synth->channel_message(0xB1, 91, 127);
        break;
      case 41:
        synth->channel_message(0x99, 38, 120);
        break;
      case 70:
        synth->release_all_notes();
        break;
      default:
        break;
    }
    for (int at = block * kBlockFrames; at < (block + 1) * kBlockFrames; at += piece) {
      synth->render(piece, &p.dry_left[at], &p.dry_right[at], &p.wet_left[at], &p.wet_right[at]);
      if (flush_each) synth->flush();
    }
  }
  synth->flush();
  synth.reset();
  discard_font(instruments);
  return p;
}

TEST(SynthBatching, DeferredRenderingGivesTheSamplesOfRenderingEachPiece) {
  for (int rate : {22050, 48000}) {
    for (int piece : {64, 16}) {
      SCOPED_TRACE(::testing::Message() << rate << " Hz, pieces of " << piece);
      const Planes each = render(rate, piece, true);
      const Planes batched = render(rate, piece, false);
      EXPECT_EQ(each.dry_left, batched.dry_left);
      EXPECT_EQ(each.dry_right, batched.dry_right);
      EXPECT_EQ(each.wet_left, batched.wet_left);
      EXPECT_EQ(each.wet_right, batched.wet_right);
      // Not silence equal to silence: the notes sound, and so does their reverb.
      float loudest = 0.0f, wettest = 0.0f;
      for (float s : batched.dry_left) loudest = std::max(loudest, std::abs(s));
      for (float s : batched.wet_left) wettest = std::max(wettest, std::abs(s));
      EXPECT_GT(loudest, 0.01f);
      EXPECT_GT(wettest, 0.0001f);
    }
  }
}

}  // namespace
}  // namespace orvan::music::synth
