// A DLS instrument collection loaded from a file.
#pragma once

#include <string>

#include "platform/music/types.h"

namespace orvan::music {

class DirectMusicCollection8 : public com::Object {
 public:
  explicit DirectMusicCollection8(std::string path);
  const std::string& path() const { return path_; }

 private:
  ~DirectMusicCollection8() override;

  std::string path_;
};

}  // namespace orvan::music
