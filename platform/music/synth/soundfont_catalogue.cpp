#include "platform/music/synth/soundfont_catalogue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <map>

namespace orvan::music::synth {
namespace {

using com::HResult;

enum Chunk { kPhdr, kPbag, kPmod, kPgen, kInst, kIbag, kImod, kIgen, kShdr };
constexpr std::array<const char*, 9> kChunkIds = {"phdr", "pbag", "pmod", "pgen", "inst",
                                                  "ibag", "imod", "igen", "shdr"};
constexpr std::array<std::size_t, 9> kRecordSizes = {38, 4, 10, 4, 22, 4, 10, 4, 46};
// Where a record keeps the index of its first bag, generator or modulator.
constexpr std::size_t kPresetBag = 24;
constexpr std::size_t kPresetNumber = 20;
constexpr std::size_t kPresetBank = 22;
constexpr std::size_t kInstrumentBag = 20;
constexpr std::size_t kBagGenerator = 0;
constexpr std::size_t kBagModulator = 2;
// Generators that limit a zone to keys and velocities, and that link a preset zone to its
// instrument and an instrument zone to its sample.
constexpr std::uint16_t kInstrumentGenerator = 41;
constexpr std::uint16_t kKeyRangeGenerator = 43;
constexpr std::uint16_t kVelocityRangeGenerator = 44;
constexpr std::uint16_t kSampleGenerator = 53;

// The keys and velocities a zone answers, both ends included.
struct Range {
  struct Span {
    int low = 0;
    int high = 127;
  };
  Span key, velocity;
  bool holds(std::uint16_t note) const {
    const int k = note >> 7, v = note & 0x7F;
    return key.low <= k && k <= key.high && velocity.low <= v && v <= velocity.high;
  }
};
// SoundFont directories of General MIDI fonts are well under a megabyte; anything claiming
// far more is not one we could serve from memory.
constexpr std::uint32_t kMaxDirectoryBytes = 64u * 1024 * 1024;

std::uint16_t u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void put16(std::uint8_t* p, std::size_t value) {
  p[0] = static_cast<std::uint8_t>(value & 0xFF);
  p[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}
void append32(std::vector<std::uint8_t>& out, std::size_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
  }
}
void append_id(std::vector<std::uint8_t>& out, const char* id) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id[i]));
}

// One chunk's records, as read (Bytes const) or being written.
template <typename Bytes>
struct Records {
  std::size_t size;
  Bytes* bytes;
  std::size_t count() const { return bytes->size() / size; }
  auto* at(std::size_t i) const { return bytes->data() + i * size; }
  std::uint16_t index(std::size_t i, std::size_t field) const { return u16(at(i) + field); }
};
using Source = Records<const std::vector<std::uint8_t>>;
using Output = Records<std::vector<std::uint8_t>>;

// Indices kept by a record that points into the next chunk down (preset -> bag, bag ->
// generator) must not fall and must stay inside that chunk, terminal record included.
bool indices_hold(const Source& upper, std::size_t field, const Source& lower) {
  std::uint16_t previous = 0;
  for (std::size_t i = 0; i < upper.count(); ++i) {
    const std::uint16_t index = upper.index(i, field);
    if (index < previous || index >= lower.count()) return false;
    previous = index;
  }
  return true;
}

// Appends records [first, last) of `from` to `to`.
void copy_records(const Source& from, std::size_t first, std::size_t last, const Output& to) {
  const std::size_t bytes = (last - first) * from.size;
  if (bytes == 0) return;
  const std::size_t at = to.bytes->size();
  // Sized first and then filled: GCC 12 misreads a range insert here as an overflow.
  to.bytes->resize(at + bytes);
  std::memcpy(to.bytes->data() + at, from.at(first), bytes);
}

}  // namespace

bool identify_file(int fd, FileIdentity& out) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  out = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
         static_cast<std::int64_t>(info.st_size),
         static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
  return true;
}

HResult SoundFontCatalogue::read(const std::string& path,
                                 std::unique_ptr<SoundFontCatalogue>& out) {
  // The identity is taken before reading and checked after: a file changed meanwhile fails.
  FileIdentity before;
  {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const bool known = fd >= 0 && identify_file(fd, before);
    if (fd >= 0) ::close(fd);
    if (!known) return com::MUSIC_E_SYNTH_FAILED;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) return com::MUSIC_E_SYNTH_FAILED;
  file.seekg(0, std::ios::end);
  const std::int64_t file_size = file.tellg();
  file.seekg(0);
  std::uint8_t header[12];
  if (!file.read(reinterpret_cast<char*>(header), 12) || std::memcmp(header, "RIFF", 4) != 0 ||
      std::memcmp(header + 8, "sfbk", 4) != 0) {
    return com::MUSIC_E_SYNTH_FAILED;
  }
  const std::int64_t form_end =
      std::min<std::int64_t>(file_size, 8 + std::int64_t{u32(header + 4)});

  std::unique_ptr<SoundFontCatalogue> catalogue(new SoundFontCatalogue);
  catalogue->path_ = path;
  catalogue->identity_ = before;
  std::vector<std::uint8_t> directory;
  for (std::int64_t at = 12; at + 12 <= form_end;) {
    std::uint8_t chunk[12];
    file.seekg(at);
    if (!file.read(reinterpret_cast<char*>(chunk), 12)) return com::MUSIC_E_SYNTH_FAILED;
    const std::uint32_t size = u32(chunk + 4);
    if (std::memcmp(chunk, "LIST", 4) == 0 && std::memcmp(chunk + 8, "pdta", 4) == 0) {
      if (size < 4 || size > kMaxDirectoryBytes || at + 8 + size > form_end) {
        return com::MUSIC_E_SYNTH_FAILED;
      }
      directory.resize(size - 4);
      if (!file.read(reinterpret_cast<char*>(directory.data()),
                     static_cast<std::streamsize>(directory.size()))) {
        return com::MUSIC_E_SYNTH_FAILED;
      }
      catalogue->directory_offset_ = at;
      break;
    }
    at += 8 + std::int64_t{size} + (size & 1);
  }
  if (catalogue->directory_offset_ == 0) return com::MUSIC_E_SYNTH_FAILED;

  // The nine chunks, in the order every SoundFont has them.
  std::size_t at = 0;
  for (int c = 0; c < kChunkCount; ++c) {
    if (at + 8 > directory.size() || std::memcmp(directory.data() + at, kChunkIds[c], 4) != 0) {
      return com::MUSIC_E_SYNTH_FAILED;
    }
    const std::uint32_t size = u32(directory.data() + at + 4);
    at += 8;
    if (size > directory.size() - at || size % kRecordSizes[c] != 0 || size == 0) {
      return com::MUSIC_E_SYNTH_FAILED;
    }
    catalogue->chunks_.emplace_back(directory.begin() + static_cast<std::ptrdiff_t>(at),
                                    directory.begin() + static_cast<std::ptrdiff_t>(at + size));
    at += size;
  }
  auto& chunks = catalogue->chunks_;
  const auto records = [&](int c) { return Source{kRecordSizes[c], &chunks[c]}; };
  if (!indices_hold(records(kPhdr), kPresetBag, records(kPbag)) ||
      !indices_hold(records(kPbag), kBagGenerator, records(kPgen)) ||
      !indices_hold(records(kPbag), kBagModulator, records(kPmod)) ||
      !indices_hold(records(kInst), kInstrumentBag, records(kIbag)) ||
      !indices_hold(records(kIbag), kBagGenerator, records(kIgen)) ||
      !indices_hold(records(kIbag), kBagModulator, records(kImod))) {
    return com::MUSIC_E_SYNTH_FAILED;
  }
  FileIdentity after;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  const bool unchanged = fd >= 0 && identify_file(fd, after) && after == before;
  if (fd >= 0) ::close(fd);
  if (!unchanged) return com::MUSIC_E_SYNTH_FAILED;
  const Source phdr = records(kPhdr);
  for (std::size_t i = 0; i + 1 < phdr.count(); ++i) {
    catalogue->presets_.push_back({phdr.index(i, kPresetBank), phdr.index(i, kPresetNumber)});
  }
  out = std::move(catalogue);
  return com::S_OK;
}

bool SoundFontCatalogue::has(PresetId id) const {
  return std::find(presets_.begin(), presets_.end(), id) != presets_.end();
}

std::vector<std::uint8_t> SoundFontCatalogue::cut_directory(
    std::span<const PresetUse> wanted) const {
  std::vector<std::vector<std::uint8_t>> cut(kChunkCount);
  const auto from = [&](int c) { return Source{kRecordSizes[c], &chunks_[c]}; };
  const auto to = [&](int c) { return Output{kRecordSizes[c], &cut[c]}; };

  // The zones of head record `i` (a preset or an instrument) that `notes` reach, as bag
  // indices, and for each zone that links down (to an instrument or a sample) the notes
  // that reach it. A zone's key and velocity ranges default to its global zone's.
  struct KeptZone {
    std::size_t bag;
    std::vector<std::uint16_t> notes;  // empty for zones that link nowhere
    std::uint16_t link = 0;
  };
  const auto zones_reached = [&](int head, std::size_t bag_field, int bag, int gen, std::size_t i,
                                 std::uint16_t link_generator,
                                 const std::vector<std::uint16_t>& notes) {
    const Source heads = from(head), bags = from(bag), gens = from(gen);
    std::vector<KeptZone> kept;
    Range global;
    const std::size_t first = heads.index(i, bag_field), last = heads.index(i + 1, bag_field);
    for (std::size_t b = first; b < last; ++b) {
      Range range = global;
      bool linked = false;
      std::uint16_t link = 0;
      for (std::size_t g = bags.index(b, kBagGenerator); g < bags.index(b + 1, kBagGenerator);
           ++g) {
        const std::uint16_t oper = gens.index(g, 0);
        const std::uint8_t* amount = gens.at(g) + 2;
        if (oper == kKeyRangeGenerator) range.key = {amount[0], amount[1]};
        if (oper == kVelocityRangeGenerator) range.velocity = {amount[0], amount[1]};
        if (oper == link_generator) {
          linked = true;
          link = u16(amount);
        }
      }
      if (!linked) {
        if (b == first) global = range;
        kept.push_back({b, {}, 0});
        continue;
      }
      std::vector<std::uint16_t> reaching;
      for (std::uint16_t note : notes) {
        if (range.holds(note)) reaching.push_back(note);
      }
      if (!reaching.empty()) kept.push_back({b, std::move(reaching), link});
    }
    return kept;
  };

  // Copies head record `i` with the zones `kept`, their generators and modulators, rebased;
  // `remap_generator` adjusts each copied generator.
  const auto copy_head = [&](int head, std::size_t bag_field, int bag, int mod, int gen,
                             std::size_t i, const std::vector<KeptZone>& kept,
                             auto remap_generator) {
    const Source heads = from(head), bags = from(bag), mods = from(mod), gens = from(gen);
    const Output out_heads = to(head), out_bags = to(bag), out_mods = to(mod), out_gens = to(gen);
    copy_records(heads, i, i + 1, out_heads);
    put16(out_heads.at(out_heads.count() - 1) + bag_field, out_bags.count());
    for (const KeptZone& zone : kept) {
      const std::size_t b = zone.bag;
      copy_records(bags, b, b + 1, out_bags);
      std::uint8_t* copied = out_bags.at(out_bags.count() - 1);
      put16(copied + kBagGenerator, out_gens.count());
      put16(copied + kBagModulator, out_mods.count());
      const std::size_t first_gen = out_gens.count();
      copy_records(gens, bags.index(b, kBagGenerator), bags.index(b + 1, kBagGenerator), out_gens);
      for (std::size_t g = first_gen; g < out_gens.count(); ++g) remap_generator(out_gens.at(g));
      copy_records(mods, bags.index(b, kBagModulator), bags.index(b + 1, kBagModulator), out_mods);
    }
  };
  // Terminal records, pointing one past what was kept.
  const auto terminate = [&](int head, std::size_t bag_field, int bag, int mod, int gen) {
    const Source heads = from(head), bags = from(bag), mods = from(mod), gens = from(gen);
    const Output out_heads = to(head), out_bags = to(bag), out_mods = to(mod), out_gens = to(gen);
    copy_records(heads, heads.count() - 1, heads.count(), out_heads);
    put16(out_heads.at(out_heads.count() - 1) + bag_field, out_bags.count());
    copy_records(bags, bags.count() - 1, bags.count(), out_bags);
    put16(out_bags.at(out_bags.count() - 1) + kBagGenerator, out_gens.count());
    put16(out_bags.at(out_bags.count() - 1) + kBagModulator, out_mods.count());
    copy_records(mods, mods.count() - 1, mods.count(), out_mods);
    copy_records(gens, gens.count() - 1, gens.count(), out_gens);
  };

  // Presets in file order, with the zones their notes reach; the notes each instrument
  // then has to answer, gathered over every zone that names it.
  const std::size_t instrument_count = from(kInst).count() - 1;
  std::vector<std::pair<std::size_t, std::vector<KeptZone>>> presets;
  std::map<std::size_t, std::vector<std::uint16_t>> instrument_notes;
  for (std::size_t i = 0; i < presets_.size(); ++i) {
    const auto use = std::find_if(wanted.begin(), wanted.end(),
                                  [&](const PresetUse& u) { return u.preset == presets_[i]; });
    if (use == wanted.end()) continue;
    auto zones =
        zones_reached(kPhdr, kPresetBag, kPbag, kPgen, i, kInstrumentGenerator, use->notes);
    for (const KeptZone& zone : zones) {
      if (zone.notes.empty() || zone.link >= instrument_count) continue;
      auto& notes = instrument_notes[zone.link];
      notes.insert(notes.end(), zone.notes.begin(), zone.notes.end());
    }
    presets.emplace_back(i, std::move(zones));
  }
  std::map<std::size_t, std::size_t> renumbered;
  for (auto& [instrument, notes] : instrument_notes) {
    std::sort(notes.begin(), notes.end());
    notes.erase(std::unique(notes.begin(), notes.end()), notes.end());
    renumbered.emplace(instrument, renumbered.size());
  }

  for (const auto& [i, zones] : presets) {
    copy_head(kPhdr, kPresetBag, kPbag, kPmod, kPgen, i, zones, [&](std::uint8_t* generator) {
      if (u16(generator) != kInstrumentGenerator) return;
      const auto found = renumbered.find(u16(generator + 2));
      // An instrument outside the file stays out of range, as the file had it.
      put16(generator + 2, found != renumbered.end() ? found->second : 0xFFFF);
    });
  }
  terminate(kPhdr, kPresetBag, kPbag, kPmod, kPgen);
  for (const auto& [instrument, notes] : instrument_notes) {
    const auto zones =
        zones_reached(kInst, kInstrumentBag, kIbag, kIgen, instrument, kSampleGenerator, notes);
    copy_head(kInst, kInstrumentBag, kIbag, kImod, kIgen, instrument, zones, [](std::uint8_t*) {});
  }
  terminate(kInst, kInstrumentBag, kIbag, kImod, kIgen);
  cut[kShdr] = chunks_[kShdr];

  std::vector<std::uint8_t> list;
  std::size_t body = 4;
  for (const auto& chunk : cut) body += 8 + chunk.size();
  list.reserve(8 + body);
  append_id(list, "LIST");
  append32(list, body);
  append_id(list, "pdta");
  for (int c = 0; c < kChunkCount; ++c) {
    append_id(list, kChunkIds[c]);
    append32(list, cut[c].size());
    const std::size_t at = list.size();
    list.resize(at + cut[c].size());
    std::memcpy(list.data() + at, cut[c].data(), cut[c].size());
  }
  return list;
}

}  // namespace orvan::music::synth
