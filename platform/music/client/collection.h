// A DLS instrument collection loaded from a file.
//
// The object records where the collection lives and what its check found; the instruments
// themselves are read into a performance's synthesizer when a segment connected to the
// collection is downloaded, once per performance.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/music/synth/collection_check.h"
#include "platform/music/types.h"

namespace orvan::music {

class DirectMusicCollection8 : public com::Object {
 public:
  // For the loader: a collection at `path` whose structure passed the check.
  explicit DirectMusicCollection8(std::string path, CollectionSummary summary = {});

  // For the platform.
  const std::string& path() const { return path_; }
  const CollectionSummary& summary() const { return summary_; }
  // Unique for the life of the process, unlike an address a later collection may reuse:
  // a performance keys the instruments it already holds by it.
  std::uint64_t serial() const { return serial_; }
  // For the loader: what `path` names has to live as long as the collection, because every
  // download reads it again (the memory file of a collection loaded from bytes).
  void hold(std::shared_ptr<const void> backing) { backing_ = std::move(backing); }

 private:
  ~DirectMusicCollection8() override;

  std::string path_;
  std::shared_ptr<const void> backing_;
  CollectionSummary summary_;
  std::uint64_t serial_;
};

}  // namespace orvan::music
