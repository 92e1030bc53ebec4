// MP3 decoded through libmpg123 itself. libsndfile recognises MP3 and decodes it with the
// same library, but it ends every read at the length it declared when it opened the file,
// and for a stream without a Xing/Info tag that length is only mpg123's guess from the file
// size and the first frame's bit rate: the music after a short guess would never play.
#pragma once

#include <cstdint>
#include <memory>

namespace orvan::music::wave {

struct FileCursor;

class Mp3Reader {
 public:
  // Reads through `cursor`, which must outlive the reader; nullptr when mpg123 finds no MP3
  // audio there.
  static std::unique_ptr<Mp3Reader> open(FileCursor& cursor);
  ~Mp3Reader();
  Mp3Reader(const Mp3Reader&) = delete;
  Mp3Reader& operator=(const Mp3Reader&) = delete;

  int sample_rate() const { return rate_; }
  int channels() const { return channels_; }
  // The frames the stream's own tag counts (its encoder delay and padding removed), or -1
  // where it has none and only decoding to the end can tell.
  std::int64_t tagged_frames() const { return tagged_frames_; }

  bool seek(std::int64_t frame);
  // Interleaved float frames, fewer than asked only at the end of the stream (or where it
  // cannot be decoded further).
  std::int64_t read(float* interleaved, std::int64_t frames);

  // What mpg123 reads through: a cursor of the source's shared bytes, and whether the
  // file's size is kept from it.
  struct Io {
    FileCursor* cursor = nullptr;
    bool hide_size = false;
  };

 private:
  Mp3Reader() = default;

  Io io_;                   // mpg123 keeps a pointer to it
  void* handle_ = nullptr;  // mpg123_handle
  int rate_ = 0;
  int channels_ = 0;
  std::int64_t tagged_frames_ = -1;
};

}  // namespace orvan::music::wave
