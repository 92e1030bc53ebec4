#include "platform/music/wave/mp3_reader.h"

#include <mpg123.h>
#include <sys/types.h>

#include <cstdio>
#include <mutex>

#include "platform/music/wave/wave_source.h"

namespace orvan::music::wave {

namespace {

using Io = Mp3Reader::Io;

ssize_t io_read(void* user, void* out, size_t count) {
  FileCursor& c = *static_cast<Io*>(user)->cursor;
  const std::int64_t got = c.bytes->read_at(out, static_cast<std::int64_t>(count), c.offset);
  if (got <= 0) return got < 0 ? -1 : 0;
  c.offset += got;
  return got;
}

off_t io_seek(void* user, off_t offset, int whence) {
  const Io& io = *static_cast<Io*>(user);
  FileCursor& c = *io.cursor;
  if (whence == SEEK_END && io.hide_size) return -1;
  std::int64_t base = 0;
  if (whence == SEEK_CUR) base = c.offset;
  if (whence == SEEK_END) base = c.size;
  const std::int64_t target = base + offset;
  if (target < 0) return -1;
  c.offset = target;
  return static_cast<off_t>(target);
}

mpg123_handle* as_handle(void* p) {
  return static_cast<mpg123_handle*>(p);
}

// A handle with libsndfile's settings (so that a file decodes to the same samples either
// way), silent about damage, opened on `io` with its output format read.
mpg123_handle* open_handle(Io& io, long& rate, int& channels) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { mpg123_init(); });
  int error = MPG123_OK;
  mpg123_handle* handle = mpg123_new(nullptr, &error);
  if (!handle) return nullptr;
  mpg123_param(handle, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0.0);
  mpg123_param(handle, MPG123_ADD_FLAGS,
               MPG123_FORCE_FLOAT | MPG123_GAPLESS | MPG123_NO_FRANKENSTEIN | MPG123_QUIET, 0.0);
  int encoding = 0;
  if (mpg123_replace_reader_handle(handle, io_read, io_seek, nullptr) != MPG123_OK ||
      mpg123_open_handle(handle, &io) != MPG123_OK ||
      mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK ||
      encoding != MPG123_ENC_FLOAT_32 || channels < 1) {
    mpg123_delete(handle);
    return nullptr;
  }
  return handle;
}

}  // namespace

std::unique_ptr<Mp3Reader> Mp3Reader::open(FileCursor& cursor) {
  std::unique_ptr<Mp3Reader> reader(new Mp3Reader());
  long rate = 0;
  // mpg123 counts a stream's length from its tag, and where there is none estimates it from
  // the file's size. Asked once without the size, it says which: the tag's count or nothing.
  {
    FileCursor probe_cursor = cursor;
    Io probe{&probe_cursor, true};
    int channels = 0;
    if (mpg123_handle* handle = open_handle(probe, rate, channels)) {
      reader->tagged_frames_ = mpg123_length(handle);
      if (reader->tagged_frames_ < 0) reader->tagged_frames_ = -1;
      mpg123_delete(handle);
    }
  }
  // The handle that plays has the whole file to look at, tags at its end included.
  reader->io_ = {&cursor, false};
  reader->handle_ = open_handle(reader->io_, rate, reader->channels_);
  if (!reader->handle_) return nullptr;
  reader->rate_ = static_cast<int>(rate);
  return reader;
}

Mp3Reader::~Mp3Reader() {
  if (handle_) mpg123_delete(as_handle(handle_));
}

bool Mp3Reader::seek(std::int64_t frame) {
  return mpg123_seek(as_handle(handle_), static_cast<off_t>(frame), SEEK_SET) == frame;
}

std::int64_t Mp3Reader::read(float* interleaved, std::int64_t frames) {
  const std::size_t frame_bytes = sizeof(float) * static_cast<std::size_t>(channels_);
  std::int64_t done = 0;
  while (done < frames) {
    std::size_t got = 0;
    const int status = mpg123_read(as_handle(handle_),
                                   reinterpret_cast<unsigned char*>(interleaved + done * channels_),
                                   static_cast<std::size_t>(frames - done) * frame_bytes, &got);
    done += static_cast<std::int64_t>(got / frame_bytes);
    // The end, a stream that changes its format (not one piece of music) or damage that
    // stops the decoder.
    if (status != MPG123_OK || got == 0) break;
  }
  return done;
}

}  // namespace orvan::music::wave
