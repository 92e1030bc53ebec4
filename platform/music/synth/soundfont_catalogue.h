// The preset directory of a SoundFont file, and smaller directories cut from it.
//
// A SoundFont 2 file is a RIFF form with three lists in order: INFO, the sample data
// (sdta) and the preset directory (pdta), which says which samples each preset plays for
// which keys and velocities, and how. A piece of music selects a handful of a General MIDI
// font's presets and plays a part of each one's range, yet loading the font builds tables
// for all of them and, unless told otherwise, reads all samples. The catalogue keeps the
// directory's chunks as read and cuts from them a directory holding only the presets asked
// for, each with the zones that the notes played on it reach, and the instruments they
// use, again with only the zones those notes reach. Sample headers and sample data stay
// where they are. Served in place of the file's own directory (see instrument_library.h),
// it loads as a SoundFont that answers every note the piece plays with the very zones,
// and so the very samples, of the full file.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/com/status.h"

namespace orvan::music::synth {

// Which file a path named, and in which state: a SoundFont replaced or rewritten after its
// directory was read must not be read through that directory.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modified_ns = 0;
  bool operator==(const FileIdentity&) const = default;
};
// The identity of the open file `fd`; false when it cannot be read.
bool identify_file(int fd, FileIdentity& out);

struct PresetId {
  std::uint16_t bank = 0;
  std::uint16_t program = 0;
  auto operator<=>(const PresetId&) const = default;
};

// A preset as a piece uses it: the notes played on it, each as key << 7 | velocity,
// sorted and without repeats.
struct PresetUse {
  PresetId preset;
  std::vector<std::uint16_t> notes;
  bool operator==(const PresetUse&) const = default;
};

// What one note-on costs the synthesizer: the voices it starts (one per instrument zone it
// reaches, so a stereo sample takes two), how long the longest of them goes on sounding
// after its note is released (the volume envelope's release, preset offset included), and
// how long the longest may sound at all: an unlooped sample ends a voice when it has played
// through, at the note's pitch; a looped one never does (infinity).
struct NoteVoices {
  int voices = 0;
  double release_seconds = 0.0;
  double longest_seconds = 0.0;
};

class SoundFontCatalogue {
 public:
  // Reads the directory of the SoundFont at `path`. MUSIC_E_SYNTH_FAILED when the file is
  // not a SoundFont whose structure holds together. Client threads only.
  static com::HResult read(const std::string& path, std::unique_ptr<SoundFontCatalogue>& out);

  const std::string& path() const { return path_; }
  // The file as it was when its directory was read.
  const FileIdentity& identity() const { return identity_; }
  // Every preset of the file, in directory order.
  const std::vector<PresetId>& presets() const { return presets_; }
  bool has(PresetId id) const;
  // Where the directory's list begins in the file: what comes before it is served as the
  // file has it.
  std::int64_t directory_offset() const { return directory_offset_; }

  // The directory list ("LIST" ... "pdta" and its nine chunks) holding the presets of
  // `wanted` that the file has, in the file's order, with the zones their notes reach, and
  // the instruments those zones use, with the zones the same notes reach. Global zones and
  // zones that play no sample are always kept.
  std::vector<std::uint8_t> cut_directory(std::span<const PresetUse> wanted) const;

  // For each note of `use`, in its order, the voices a note-on starts and their longest
  // release (soundfont_catalogue_voices.cpp). All zero for a preset the file lacks.
  std::vector<NoteVoices> note_voices(const PresetUse& use) const;

 private:
  SoundFontCatalogue() = default;

  // The directory's chunks by their place in the list: phdr, pbag, pmod, pgen, inst, ibag,
  // imod, igen, shdr. Each ends with its terminal record.
  static constexpr int kChunkCount = 9;
  std::string path_;
  FileIdentity identity_;
  std::int64_t directory_offset_ = 0;
  std::vector<std::vector<std::uint8_t>> chunks_;
  std::vector<PresetId> presets_;
};

}  // namespace orvan::music::synth
