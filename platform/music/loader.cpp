#include "platform/music/loader.h"

#include <memory>

#include "platform/music/midi/sequence.h"
#include "platform/music/segment.h"

namespace orvan::music {

HResult DirectMusicLoader8::LoadSegment(const std::string& path,
                                        Ref<DirectMusicSegment8>& segment) {
  auto sequence = std::make_shared<midi::Sequence>();
  // The reader's statuses already separate "cannot open", "not a music file" and the
  // specific ways a music file can be broken; they are handed on as they are.
  const HResult hr = midi::read_sequence_file(path, *sequence);
  if (com::failed(hr)) return hr;
  segment = com::make_ref<DirectMusicSegment8>(std::move(sequence));
  return com::S_OK;
}

}  // namespace orvan::music
