// Parameter records: defaults, range checks, clamping, and the lock-free handoff.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <thread>

#include "platform/music/dsp/chorus.h"
#include "platform/music/dsp/distortion.h"
#include "platform/music/dsp/i3dl2_reverb.h"
#include "platform/music/dsp/waves_reverb.h"
#include "tests/dsp/documented_effects.h"
#include "tests/dsp/signal_analysis.h"

namespace orvan::music::dsp::testing {
namespace {

template <class Record>
bool same(const Record& a, const Record& b) {
  return std::memcmp(&a, &b, sizeof(Record)) == 0;
}

TEST(EffectParameters, NewEffectsStartAtTheDocumentedDefaults) {
  EXPECT_TRUE(same(Distortion(kRate).params(), DSFXDISTORTION{-18, 15, 2400, 2400, 8000}));
  EXPECT_TRUE(same(Chorus(kRate).params(), DSFXCHORUS{50, 10, 25, 1.1f, 1, 16, 3}));
  EXPECT_TRUE(same(WavesReverb(kRate).params(), DSFXWAVESREVERB{0, 0, 1000, 0.001f}));
  EXPECT_TRUE(same(
      I3dl2Reverb(kRate).params(),
      DSFXI3DL2REVERB{-1000, -100, 0, 1.49f, 0.83f, -2602, 0.007f, 200, 0.011f, 100, 100, 5000}));
}

// Every field at its documented bounds is accepted; just outside them, or not a number, the
// whole record is refused and the effect keeps what it had.
template <class Effect, class Record>
void check_every_field_range() {
  Effect effect(kRate);
  const Record before = effect.params();
  for (const DocumentedField<Record>& f : documented_fields<Record>()) {
    for (double inside : {f.min, f.max}) {
      Record r = before;
      f.write(r, inside);
      EXPECT_NE(effect.set_params(r), RangeCheck::refused) << f.name << " = " << inside;
    }
    effect.set_params(before);
    const double step = f.is_integer() ? 1.0 : std::max(1e-3, 1e-3 * f.max);
    for (double outside : {f.min - step, f.max + step, std::numeric_limits<double>::quiet_NaN()}) {
      Record r = before;
      if (!f.write(r, outside)) continue;  // NaN has no integer form
      EXPECT_EQ(effect.set_params(r), RangeCheck::refused) << f.name << " = " << outside;
      EXPECT_TRUE(same(effect.params(), before)) << f.name;
    }
  }
}

TEST(EffectParameters, ValuesOutsideTheirRangeAreRefusedAndChangeNothing) {
  check_every_field_range<Distortion, DSFXDISTORTION>();
  check_every_field_range<Chorus, DSFXCHORUS>();
  check_every_field_range<WavesReverb, DSFXWAVESREVERB>();
  check_every_field_range<I3dl2Reverb, DSFXI3DL2REVERB>();
}

// The command line and the engine's method table find fields by the catalogue's names and
// write them at its offsets: both must be the record's own, in the documented units.
template <class Record>
void check_catalogue_describes(std::string_view effect_name) {
  const EffectInfo& effect = effect_of<Record>;
  EXPECT_EQ(effect.name, effect_name);
  EXPECT_EQ(effect.record_size, sizeof(Record));
  const auto documented = documented_fields<Record>();
  ASSERT_EQ(effect.fields.size(), documented.size()) << effect_name;
  for (std::size_t i = 0; i < documented.size(); ++i) {
    const FieldInfo& f = effect.fields[i];
    const DocumentedField<Record>& d = documented[i];
    EXPECT_EQ(f.name, d.name);
    EXPECT_EQ(f.unit, d.unit) << d.name;
    EXPECT_EQ(f.type == FieldType::integer, d.is_integer()) << d.name;
    EXPECT_EQ(f.default_value, d.default_value) << d.name;
    // A value written through the catalogue arrives in the documented member, and only there.
    Record through_catalogue{}, through_member{};
    write_field(&through_catalogue, f, 7.0);
    d.write(through_member, 7.0);
    EXPECT_TRUE(same(through_catalogue, through_member)) << d.name;
  }
}

TEST(EffectParameters, TheCatalogueNamesEachRecordsFieldsInTheirDocumentedUnits) {
  check_catalogue_describes<DSFXDISTORTION>("distortion");
  check_catalogue_describes<DSFXCHORUS>("chorus");
  check_catalogue_describes<DSFXWAVESREVERB>("reverb");
  check_catalogue_describes<DSFXI3DL2REVERB>("reverb3d");
}

TEST(EffectParameters, DistortionFrequenciesAreClampedToAThirdOfTheRate) {
  Distortion effect(11025.0);
  DSFXDISTORTION p = effect.params();  // the defaults already exceed 3675 Hz
  p.Gain = -7.0f;
  p.PostEQCenterFrequency = 1000.0f;
  p.PostEQBandwidth = 5000.0f;
  EXPECT_EQ(effect.set_params(p), RangeCheck::clamped);
  EXPECT_EQ(effect.params().Gain, -7.0f);
  EXPECT_EQ(effect.params().PostEQCenterFrequency, 1000.0f);
  EXPECT_EQ(effect.params().PostEQBandwidth, 3675.0f);
  EXPECT_EQ(effect.params().PreLowpassCutoff, 3675.0f);

  Distortion at_48k(kRate);
  EXPECT_EQ(at_48k.set_params(p), RangeCheck::accepted);
}

// The handoff between a client thread and the render thread: the reader must only ever
// see whole records (all fields from one publish) and never an older one after a newer.
TEST(EffectParameters, RecordsPublishedWhileReadingArriveWholeAndInOrder) {
  struct Record {
    int a, b, c, d;
  };
  ParamMailbox<Record> mailbox(Record{0, 0, 0, 0});
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 1; i <= 200000; ++i) mailbox.publish(Record{i, i, i, i});
    done = true;
  });
  int last = 0, fetched = 0;
  bool whole = true, ordered = true;
  Record r{};
  for (;;) {
    const bool finished = done.load();
    if (!mailbox.fetch(r)) {
      if (finished) break;
      continue;
    }
    ++fetched;
    whole = whole && r.a == r.b && r.b == r.c && r.c == r.d;
    ordered = ordered && r.a > last;
    last = r.a;
  }
  writer.join();
  EXPECT_TRUE(whole);
  EXPECT_TRUE(ordered);
  EXPECT_EQ(last, 200000);  // the newest record always gets through
  EXPECT_GT(fetched, 0);
}

TEST(EffectParameters, SettingParametersWhileRenderingIsSafe) {
  Chorus chorus(kRate);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    DSFXCHORUS p = chorus.params();
    for (int i = 0; i < 20000; ++i) {
      p.Depth = static_cast<float>(i % 100);
      p.Phase = i % 5;
      chorus.set_params(p);
    }
    done = true;
  });
  const Stereo source = noise(256, 0.5f);
  bool finite = true;
  while (!done) {
    Stereo block = source;
    chorus.process(block.data(), 256);
    for (float v : block) finite = finite && std::isfinite(v) && std::fabs(v) < 4.0f;
  }
  writer.join();
  EXPECT_TRUE(finite);
}

}  // namespace
}  // namespace orvan::music::dsp::testing
