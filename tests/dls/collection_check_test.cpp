// The structure check on bytes in memory: what it accepts, and that every kind of damage
// is reported as a corrupt collection rather than read past or trusted.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/music/synth/collection_check.h"
#include "tests/support/dls_writer.h"

namespace orvan::music {
namespace {

using test::Bytes;

com::HResult check(const Bytes& bytes) {
  CollectionSummary summary;
  return check_collection(bytes, summary);
}

// Offset of the first chunk with identifier `id` (a list's form counts too).
std::size_t find_id(const Bytes& bytes, const char* id) {
  for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (std::memcmp(bytes.data() + i, id, 4) == 0) return i;
  }
  ADD_FAILURE() << "no " << id;
  return 0;
}

TEST(CollectionCheck, AcceptsLevelOneAndLevelTwoAndCountsWhatTheyHold) {
  CollectionSummary summary;
  test::DlsCollection collection = test::sine_and_square_collection();
  ASSERT_EQ(check_collection(test::write_dls(collection), summary), com::S_OK);
  EXPECT_EQ(summary.instruments, 2u);
  EXPECT_EQ(summary.regions, 2u);
  EXPECT_EQ(summary.waves, 2u);
  EXPECT_FALSE(summary.level2);

  collection.level2 = true;
  ASSERT_EQ(check_collection(test::write_dls(collection), summary), com::S_OK);
  EXPECT_TRUE(summary.level2);

  // Trailing bytes after the form and a missing final pad byte are common and harmless.
  Bytes padded = test::write_dls(collection);
  padded.insert(padded.end(), {0, 0, 0});
  EXPECT_EQ(check(padded), com::S_OK);
}

TEST(CollectionCheck, TellsOtherFilesFromDamagedCollections) {
  const Bytes wave = test::riff_container("RIFF", "WAVE", {test::riff_chunk("data", {1, 2})});
  const Bytes font = test::riff_container("RIFF", "sfbk", {});
  const Bytes midi{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96};
  for (const Bytes& other : {Bytes{}, Bytes{'R', 'I', 'F', 'F'}, wave, font, midi}) {
    EXPECT_EQ(check(other), com::MUSIC_E_NOT_DLS);
  }
  // The form alone, with nothing in it, is a collection missing every part.
  EXPECT_EQ(check(test::riff_container("RIFF", "DLS ", {})), com::MUSIC_E_CORRUPT_COLLECTION);
}

TEST(CollectionCheck, EveryTruncationIsCorrupt) {
  const Bytes whole = test::write_dls(test::sine_and_square_collection());
  for (std::size_t size = 12; size < whole.size(); ++size) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
    ASSERT_EQ(check(cut), com::MUSIC_E_CORRUPT_COLLECTION) << "cut at " << size;
  }
}

TEST(CollectionCheck, HugeDeclaredSizesAndCountsAreCorruptNotTrusted) {
  const Bytes good = test::write_dls(test::sine_and_square_collection());
  struct Patch {
    const char* what;
    const char* id;
    std::ptrdiff_t field;  // from the identifier
    std::uint32_t value;
  };
  const Patch patches[] = {
      {"form size", "RIFF", 4, 0xFFFFFFF0u},
      {"instrument count", "colh", 8, 0xFFFFFFFFu},
      {"list size", "lins", -4, 0x7FFFFFFFu},
      {"cue count", "ptbl", 12, 0x40000000u},
      {"pool table header", "ptbl", 8, 0xFFFFFFF8u},
      {"region count", "insh", 8, 1000000u},
      {"wave link", "wlnk", 16, 7u},
      {"loop count", "wsmp", 24, 0x10000000u},
      {"loop length", "wsmp", 40, 0xFFFFFF00u},
      {"format", "fmt ", 8, 0x00010003u},  // IEEE float, not PCM
      {"data size", "data", 4, 0xFFFFFFFEu},
  };
  for (const Patch& patch : patches) {
    Bytes bad = good;
    const auto at = static_cast<std::ptrdiff_t>(find_id(bad, patch.id)) + patch.field;
    test::put_u32(bad, static_cast<std::size_t>(at), patch.value);
    EXPECT_EQ(check(bad), com::MUSIC_E_CORRUPT_COLLECTION) << patch.what;
  }
}

TEST(CollectionCheck, InconsistentPartsAreCorrupt) {
  // A key range upside down; a cue that points between waves; a second instrument header.
  Bytes bad = test::write_dls(test::sine_and_square_collection());
  const std::size_t rgnh = find_id(bad, "rgnh");
  bad[rgnh + 8] = 100;  // low key
  bad[rgnh + 10] = 10;  // high key
  EXPECT_EQ(check(bad), com::MUSIC_E_CORRUPT_COLLECTION);

  bad = test::write_dls(test::sine_and_square_collection());
  const std::size_t ptbl = find_id(bad, "ptbl");
  test::put_u32(bad, ptbl + 20, test::get_u32(bad, ptbl + 20) + 2);  // second cue
  EXPECT_EQ(check(bad), com::MUSIC_E_CORRUPT_COLLECTION);

  test::DlsCollection collection = test::sine_and_square_collection();
  collection.waves[0].loop_start = static_cast<std::uint32_t>(collection.waves[0].samples.size());
  EXPECT_EQ(check(test::write_dls(collection)), com::MUSIC_E_CORRUPT_COLLECTION);
}

TEST(CollectionCheck, GarbageBodiesNeverPass) {
  // A fixed pseudo-random stream after a valid form header, at many lengths.
  std::uint32_t state = 12345;
  for (std::size_t length = 0; length < 400; length += 7) {
    Bytes bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'D', 'L', 'S', ' '};
    for (std::size_t i = 0; i < length; ++i) {
      state = state * 1664525u + 1013904223u;
      bytes.push_back(static_cast<std::uint8_t>(state >> 24));
    }
    test::put_u32(bytes, 4, static_cast<std::uint32_t>(bytes.size() - 8));
    EXPECT_EQ(check(bytes), com::MUSIC_E_CORRUPT_COLLECTION) << length;
  }
}

}  // namespace
}  // namespace orvan::music
