#include "platform/music/synth/collection_check.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace orvan::music {
namespace {

using Bytes = std::span<const std::uint8_t>;
using com::HResult;

constexpr std::uint32_t fourcc(const char (&s)[5]) {
  return std::uint32_t{static_cast<std::uint8_t>(s[0])} |
         (std::uint32_t{static_cast<std::uint8_t>(s[1])} << 8) |
         (std::uint32_t{static_cast<std::uint8_t>(s[2])} << 16) |
         (std::uint32_t{static_cast<std::uint8_t>(s[3])} << 24);
}

std::uint16_t u16(Bytes b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t u32(Bytes b, std::size_t at) {
  return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8) | (std::uint32_t{b[at + 2]} << 16) |
         (std::uint32_t{b[at + 3]} << 24);
}

struct Chunk {
  std::uint32_t id = 0;
  Bytes body;
  // For RIFF and LIST chunks: the form identifier and what follows it.
  std::uint32_t form = 0;
  Bytes content;
  std::size_t offset = 0;  // of the chunk header within the container's body

  bool is_list(std::uint32_t wanted) const { return id == fourcc("LIST") && form == wanted; }
};

// Walks the chunks of one container body. A chunk whose size runs past the container, or a
// container too short to hold its form identifier, marks the body broken; a missing pad byte
// after the very last chunk is forgiven, as common writers leave it out.
class ChunkWalker {
 public:
  explicit ChunkWalker(Bytes body) : body_(body) {}

  bool next(Chunk& chunk) {
    if (broken_ || pos_ >= body_.size()) return false;
    const std::size_t left = body_.size() - pos_;
    if (left < 8) return fail();
    const std::uint32_t size = u32(body_, pos_ + 4);
    if (std::uint64_t{size} > left - 8) return fail();
    chunk.id = u32(body_, pos_);
    chunk.body = body_.subspan(pos_ + 8, size);
    chunk.offset = pos_;
    chunk.form = 0;
    chunk.content = {};
    if (chunk.id == fourcc("LIST") || chunk.id == fourcc("RIFF")) {
      if (size < 4) return fail();
      chunk.form = u32(chunk.body, 0);
      chunk.content = chunk.body.subspan(4);
    }
    const std::uint64_t advance = 8 + std::uint64_t{size} + (size & 1u);
    pos_ = advance >= left ? body_.size() : pos_ + static_cast<std::size_t>(advance);
    return true;
  }
  bool broken() const { return broken_; }

 private:
  bool fail() {
    broken_ = true;
    return false;
  }

  Bytes body_;
  std::size_t pos_ = 0;
  bool broken_ = false;
};

struct Loop {
  std::uint32_t start = 0;
  std::uint32_t length = 0;
};

struct Wave {
  std::size_t pool_offset = 0;  // of its LIST header, from the first byte after 'wvpl'
  std::uint64_t frames = 0;
};

// The loops a 'wsmp' chunk declares, or nothing when the chunk is malformed.
std::optional<std::vector<Loop>> read_wsmp(Bytes body) {
  if (body.size() < 20) return std::nullopt;
  const std::uint32_t header = u32(body, 0);
  const std::uint32_t count = u32(body, 16);
  if (header < 20 || header > body.size()) return std::nullopt;
  if (std::uint64_t{header} + std::uint64_t{count} * 16 > body.size()) return std::nullopt;
  std::vector<Loop> loops;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = header + std::size_t{i} * 16;
    if (u32(body, at) < 16) return std::nullopt;
    loops.push_back({u32(body, at + 8), u32(body, at + 12)});
  }
  return loops;
}

bool loops_fit(const std::vector<Loop>& loops, std::uint64_t frames) {
  for (const Loop& loop : loops) {
    if (std::uint64_t{loop.start} + loop.length > frames) return false;
  }
  return true;
}

// 'art1' and 'art2' share one layout: a header size, a count, then 12-byte connections.
bool articulation_ok(Bytes body) {
  if (body.size() < 8) return false;
  const std::uint32_t header = u32(body, 0);
  const std::uint32_t count = u32(body, 4);
  return header >= 8 && std::uint64_t{header} + std::uint64_t{count} * 12 <= body.size();
}

class CollectionChecker {
 public:
  HResult run(Bytes file, CollectionSummary& summary) {
    if (file.size() < 12 || u32(file, 0) != fourcc("RIFF") || u32(file, 8) != fourcc("DLS ")) {
      return com::MUSIC_E_NOT_DLS;
    }
    const std::uint32_t declared = u32(file, 4);
    if (declared < 4 || std::uint64_t{declared} > file.size() - 8) return corrupt();
    if (!read_top_level(file.subspan(12, declared - 4))) return corrupt();
    summary = summary_;
    return com::S_OK;
  }

 private:
  static HResult corrupt() { return com::MUSIC_E_CORRUPT_COLLECTION; }

  bool read_top_level(Bytes body) {
    std::optional<Chunk> colh, lins, ptbl, wvpl;
    ChunkWalker walker(body);
    Chunk chunk;
    while (walker.next(chunk)) {
      std::optional<Chunk>* slot = nullptr;
      if (chunk.id == fourcc("colh")) slot = &colh;
      if (chunk.id == fourcc("ptbl")) slot = &ptbl;
      if (chunk.is_list(fourcc("lins"))) slot = &lins;
      if (chunk.is_list(fourcc("wvpl"))) slot = &wvpl;
      if (!slot) continue;
      if (slot->has_value()) return false;  // two of a part the collection has only one of
      *slot = chunk;
    }
    if (walker.broken() || !colh || !lins || !ptbl || !wvpl) return false;
    if (colh->body.size() < 4) return false;
    // The pool first: instruments are checked against the waves and cues it holds.
    return read_wave_pool(wvpl->content) && read_pool_table(ptbl->body) &&
           read_instruments(lins->content, u32(colh->body, 0));
  }

  bool read_wave_pool(Bytes content) {
    ChunkWalker walker(content);
    Chunk chunk;
    while (walker.next(chunk)) {
      if (!chunk.is_list(fourcc("wave"))) continue;
      const std::optional<std::uint64_t> frames = read_wave(chunk.content);
      if (!frames) return false;
      waves_.push_back({chunk.offset, *frames});
    }
    summary_.waves = static_cast<std::uint32_t>(waves_.size());
    return !walker.broken();
  }

  // The wave's length in frames, or nothing when it is malformed or not 8/16-bit PCM.
  static std::optional<std::uint64_t> read_wave(Bytes content) {
    std::optional<Bytes> fmt, data, wsmp;
    ChunkWalker walker(content);
    Chunk chunk;
    while (walker.next(chunk)) {
      if (chunk.id == fourcc("fmt ") && !fmt) fmt = chunk.body;
      if (chunk.id == fourcc("data") && !data) data = chunk.body;
      if (chunk.id == fourcc("wsmp") && !wsmp) wsmp = chunk.body;
    }
    if (walker.broken() || !fmt || !data || fmt->size() < 16) return std::nullopt;
    const std::uint16_t tag = u16(*fmt, 0);
    const std::uint16_t channels = u16(*fmt, 2);
    const std::uint32_t rate = u32(*fmt, 4);
    const std::uint16_t align = u16(*fmt, 12);
    const std::uint16_t bits = u16(*fmt, 14);
    if (tag != 1 || channels < 1 || channels > 2 || (bits != 8 && bits != 16)) return std::nullopt;
    if (align != channels * bits / 8 || rate == 0 || rate > 1'000'000) return std::nullopt;
    if (data->empty() || data->size() % align != 0) return std::nullopt;
    const std::uint64_t frames = data->size() / align;
    if (wsmp) {
      const auto loops = read_wsmp(*wsmp);
      if (!loops || !loops_fit(*loops, frames)) return std::nullopt;
    }
    return frames;
  }

  // Every cue must point at the header of a wave in the pool.
  bool read_pool_table(Bytes body) {
    if (body.size() < 8) return false;
    const std::uint32_t header = u32(body, 0);
    const std::uint32_t count = u32(body, 4);
    if (header < 8 || std::uint64_t{header} + std::uint64_t{count} * 4 > body.size()) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t offset = u32(body, header + std::size_t{i} * 4);
      // The pool was walked in order, so its offsets are sorted.
      const auto found = std::lower_bound(
          waves_.begin(), waves_.end(), offset,
          [](const Wave& wave, std::uint32_t at) { return wave.pool_offset < at; });
      if (found == waves_.end() || found->pool_offset != offset) return false;
      cue_frames_.push_back(found->frames);
    }
    return true;
  }

  bool read_instruments(Bytes content, std::uint32_t declared_count) {
    std::uint32_t count = 0;
    ChunkWalker walker(content);
    Chunk chunk;
    while (walker.next(chunk)) {
      if (!chunk.is_list(fourcc("ins "))) continue;
      if (!read_instrument(chunk.content)) return false;
      ++count;
    }
    summary_.instruments = count;
    return !walker.broken() && count == declared_count;
  }

  bool read_instrument(Bytes content) {
    std::optional<Bytes> insh;
    std::optional<Bytes> lrgn;
    ChunkWalker walker(content);
    Chunk chunk;
    while (walker.next(chunk)) {
      if (chunk.id == fourcc("insh")) {
        if (insh) return false;
        insh = chunk.body;
      } else if (chunk.is_list(fourcc("lrgn"))) {
        if (lrgn) return false;
        lrgn = chunk.content;
      } else if (!read_articulation_list(chunk)) {
        return false;
      }
    }
    if (walker.broken() || !insh || !lrgn || insh->size() < 12) return false;

    std::uint32_t regions = 0;
    ChunkWalker region_walker(*lrgn);
    while (region_walker.next(chunk)) {
      const bool level2 = chunk.is_list(fourcc("rgn2"));
      if (!level2 && !chunk.is_list(fourcc("rgn "))) continue;
      if (level2) summary_.level2 = true;
      if (!read_region(chunk.content)) return false;
      ++regions;
    }
    summary_.regions += regions;
    return !region_walker.broken() && regions == u32(*insh, 0);
  }

  bool read_region(Bytes content) {
    std::optional<Bytes> rgnh, wlnk;
    std::vector<Loop> loops;
    ChunkWalker walker(content);
    Chunk chunk;
    while (walker.next(chunk)) {
      if (chunk.id == fourcc("rgnh") && !rgnh) {
        rgnh = chunk.body;
      } else if (chunk.id == fourcc("wlnk") && !wlnk) {
        wlnk = chunk.body;
      } else if (chunk.id == fourcc("wsmp")) {
        auto read = read_wsmp(chunk.body);
        if (!read) return false;
        loops = std::move(*read);
      } else if (!read_articulation_list(chunk)) {
        return false;
      }
    }
    if (walker.broken() || !rgnh || !wlnk || rgnh->size() < 12 || wlnk->size() < 12) return false;
    const std::uint16_t low_key = u16(*rgnh, 0);
    const std::uint16_t high_key = u16(*rgnh, 2);
    if (low_key > high_key || high_key > 127) return false;
    const std::uint32_t cue = u32(*wlnk, 8);
    if (cue >= cue_frames_.size()) return false;
    return loops_fit(loops, cue_frames_[cue]);
  }

  // Articulation lists ('lart', 'lar2') of an instrument or a region; anything else passes.
  bool read_articulation_list(const Chunk& list) {
    const bool level2 = list.is_list(fourcc("lar2"));
    if (!level2 && !list.is_list(fourcc("lart"))) return true;
    if (level2) summary_.level2 = true;
    ChunkWalker walker(list.content);
    Chunk chunk;
    while (walker.next(chunk)) {
      if (chunk.id == fourcc("art2")) summary_.level2 = true;
      if ((chunk.id == fourcc("art1") || chunk.id == fourcc("art2")) &&
          !articulation_ok(chunk.body)) {
        return false;
      }
    }
    return !walker.broken();
  }

  std::vector<Wave> waves_;
  std::vector<std::uint64_t> cue_frames_;
  CollectionSummary summary_;
};

}  // namespace

HResult check_collection(std::span<const std::uint8_t> file, CollectionSummary& summary) {
  return CollectionChecker{}.run(file, summary);
}

}  // namespace orvan::music
