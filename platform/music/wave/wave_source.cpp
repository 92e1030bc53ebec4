#include "platform/music/wave/wave_source.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/music/wave/channel_layout.h"
#include "platform/music/wave/cue_points.h"
#include "platform/music/wave/loop_tags.h"
#include "platform/music/wave/mp3_reader.h"

namespace orvan::music::wave {

namespace {

com::HResult fail(std::string* detail, com::HResult hr, std::string text) {
  if (detail) *detail = std::move(text);
  return hr;
}

// libsndfile reads the file through these, each decoder at its own offset of the source's
// shared bytes, so that several plays of one segment never disturb one another.
using Cursor = FileCursor;

Cursor& cursor_of(void* user) {
  return *static_cast<Cursor*>(user);
}

sf_count_t io_length(void* user) {
  return cursor_of(user).size;
}

sf_count_t io_seek(sf_count_t offset, int whence, void* user) {
  Cursor& c = cursor_of(user);
  std::int64_t base = 0;
  if (whence == SEEK_CUR) base = c.offset;
  if (whence == SEEK_END) base = c.size;
  const std::int64_t target = base + offset;
  if (target < 0) return -1;
  c.offset = target;
  return c.offset;
}

sf_count_t io_read(void* out, sf_count_t count, void* user) {
  Cursor& c = cursor_of(user);
  if (count <= 0) return 0;
  const std::int64_t got = c.bytes->read_at(out, count, c.offset);
  if (got <= 0) return 0;
  c.offset += got;
  return got;
}

sf_count_t io_write(const void*, sf_count_t, void*) {
  return 0;
}

sf_count_t io_tell(void* user) {
  return cursor_of(user).offset;
}

SF_VIRTUAL_IO virtual_io() {
  SF_VIRTUAL_IO io{};
  io.get_filelen = io_length;
  io.seek = io_seek;
  io.read = io_read;
  io.write = io_write;
  io.tell = io_tell;
  return io;
}

struct Kind {
  const char* container;
  const char* codec;
};

// The five formats we play, by libsndfile's major and minor format; nullptr container: not ours.
Kind kind_of(int format) {
  const int major = format & SF_FORMAT_TYPEMASK;
  const int minor = format & SF_FORMAT_SUBMASK;
  const char* container = nullptr;
  switch (major) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
      container = "wav";
      break;
    case SF_FORMAT_FLAC:
      container = "flac";
      break;
    case SF_FORMAT_OGG:
      container = (minor == SF_FORMAT_VORBIS || minor == SF_FORMAT_OPUS) ? "ogg" : nullptr;
      break;
    case SF_FORMAT_MPEG:
      container = minor == SF_FORMAT_MPEG_LAYER_III ? "mp3" : nullptr;
      break;
    default:
      break;
  }
  if (major == SF_FORMAT_FLAC) return {container, "flac"};
  switch (minor) {
    case SF_FORMAT_PCM_S8:
      return {container, "pcm_s8"};
    case SF_FORMAT_PCM_U8:
      return {container, "pcm_u8"};
    case SF_FORMAT_PCM_16:
      return {container, "pcm_16"};
    case SF_FORMAT_PCM_24:
      return {container, "pcm_24"};
    case SF_FORMAT_PCM_32:
      return {container, "pcm_32"};
    case SF_FORMAT_FLOAT:
      return {container, "float"};
    case SF_FORMAT_DOUBLE:
      return {container, "double"};
    case SF_FORMAT_ULAW:
      return {container, "ulaw"};
    case SF_FORMAT_ALAW:
      return {container, "alaw"};
    case SF_FORMAT_IMA_ADPCM:
      return {container, "ima_adpcm"};
    case SF_FORMAT_MS_ADPCM:
      return {container, "ms_adpcm"};
    case SF_FORMAT_GSM610:
      return {container, "gsm610"};
    case SF_FORMAT_VORBIS:
      return {container, "vorbis"};
    case SF_FORMAT_OPUS:
      return {container, "opus"};
    case SF_FORMAT_MPEG_LAYER_III:
      return {container, "mp3"};
    default:
      return {container, "other"};
  }
}

}  // namespace

std::vector<std::uint8_t> read_bytes_at(const FileCursor& file, std::int64_t offset,
                                        std::size_t size) {
  std::vector<std::uint8_t> bytes;
  if (offset < 0 || offset >= file.size) return bytes;
  size = static_cast<std::size_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(size), file.size - offset));
  bytes.resize(size);
  const std::int64_t got =
      file.bytes->read_at(bytes.data(), static_cast<std::int64_t>(size), offset);
  bytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
  return bytes;
}

// --- Decoder ---

Decoder::~Decoder() {
  if (file_) sf_close(static_cast<SNDFILE*>(file_));
}

bool Decoder::seek(std::int64_t frame) {
  if (frame == position_) return true;
  const bool done =
      mp3_ ? mp3_->seek(frame) : sf_seek(static_cast<SNDFILE*>(file_), frame, SEEK_SET) == frame;
  if (!done) return false;
  position_ = frame;
  return true;
}

std::int64_t Decoder::decode(float* interleaved, std::int64_t frames) {
  if (mp3_) return mp3_->read(interleaved, frames);
  // libsndfile may hand over less than asked before the end (its MP3 and Ogg readers stop at
  // a packet's end): asked again until it gives nothing.
  std::int64_t done = 0;
  while (done < frames) {
    const sf_count_t got =
        sf_readf_float(static_cast<SNDFILE*>(file_), interleaved + done * channels_, frames - done);
    if (got <= 0) break;
    done += got;
  }
  return done;
}

std::int64_t Decoder::read(float* interleaved, std::int64_t frames) {
  if (frames <= 0) return 0;
  const std::int64_t got = decode(interleaved, frames);
  // Sample by sample, so that the rest of the piece around a damaged stretch still plays.
  for (std::int64_t i = 0; i < got * channels_; ++i) {
    float& sample = interleaved[i];
    sample = std::isfinite(sample) ? std::clamp(sample, -kLoudestSample, kLoudestSample) : 0.0f;
  }
  position_ += got;
  return got;
}

// --- WaveSource ---

WaveSource::~WaveSource() = default;

com::HResult WaveSource::open_decoder(std::unique_ptr<Decoder>& decoder) const {
  std::unique_ptr<Decoder> made(new Decoder());
  made->cursor_ = {bytes_.get(), 0, bytes_->size()};
  made->channels_ = info_.channels;
  if (info_.container == "mp3") {
    made->mp3_ = Mp3Reader::open(made->cursor_);
    if (!made->mp3_ || made->mp3_->channels() != info_.channels ||
        made->mp3_->sample_rate() != info_.sample_rate) {
      return com::MUSIC_E_CORRUPT;
    }
    made->stated_frames_ = made->mp3_->tagged_frames();
    decoder = std::move(made);
    return com::S_OK;
  }
  SF_VIRTUAL_IO io = virtual_io();
  SF_INFO info{};
  made->file_ = sf_open_virtual(&io, SFM_READ, &info, &made->cursor_);
  if (!made->file_) return com::MUSIC_E_CORRUPT;
  // The file is held open and was examined at load; a decoder that sees something else
  // means the bytes under it changed.
  if (info.channels != info_.channels || info.samplerate != info_.sample_rate) {
    return com::MUSIC_E_CORRUPT;
  }
  // libsndfile says "as many as can be counted" where the header leaves the length open.
  made->stated_frames_ = info.frames == SF_COUNT_MAX ? -1 : std::max<sf_count_t>(info.frames, 0);
  decoder = std::move(made);
  return com::S_OK;
}

std::int64_t WaveSource::frame_at(std::int32_t music_time) const {
  return std::llround(static_cast<double>(music_time) * info_.sample_rate / kMusicTimePerSecond);
}

double WaveSource::music_time_at(double frame) const {
  return frame * kMusicTimePerSecond / info_.sample_rate;
}

bool looks_like_midi(const std::uint8_t* bytes, std::size_t size) {
  auto starts = [&](const char* text, std::size_t at) {
    const std::size_t n = std::strlen(text);
    for (std::size_t i = 0; i < n && at + i < size; ++i) {
      if (bytes[at + i] != static_cast<std::uint8_t>(text[i])) return false;
    }
    return true;
  };
  if (size < 4) return starts("MThd", 0) || starts("RIFF", 0);
  if (starts("MThd", 0)) return true;
  return starts("RIFF", 0) && (size < 12 || starts("RMID", 8));
}

com::HResult open_wave_source(const std::string& path, std::shared_ptr<const WaveSource>& source,
                              std::string* detail) {
  std::shared_ptr<const ByteStore> bytes;
  if (com::HResult hr = open_file_bytes(path, bytes, detail); com::failed(hr)) return hr;
  return open_wave_source(std::move(bytes), source, detail);
}

com::HResult open_wave_source(std::shared_ptr<const ByteStore> bytes,
                              std::shared_ptr<const WaveSource>& source, std::string* detail) {
  if (!bytes || bytes->size() <= 0) return fail(detail, com::MUSIC_E_EMPTY_FILE, "no bytes");
  std::shared_ptr<WaveSource> made(new WaveSource());
  made->bytes_ = std::move(bytes);

  Cursor cursor{made->bytes_.get(), 0, made->bytes_->size()};
  SF_VIRTUAL_IO io = virtual_io();
  SF_INFO sf{};
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, &sf, &cursor);
  if (!file) {
    return fail(detail, com::MUSIC_E_UNSUPPORTED_FORMAT,
                std::string("not a recognised audio file (") + sf_strerror(nullptr) + ")");
  }
  const Kind kind = kind_of(sf.format);
  WaveInfo& info = made->info_;
  info.container = kind.container ? kind.container : "";
  info.codec = kind.codec;
  info.sample_rate = sf.samplerate;
  info.channels = sf.channels;
  std::vector<int> map(static_cast<std::size_t>(std::max(0, std::min(sf.channels, 64))));
  const bool has_map =
      !map.empty() && sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                                 static_cast<int>(map.size() * sizeof(int))) == SF_TRUE;
  // A WAV file's sampler chunk: its first loop, which libsndfile gives with an exclusive end.
  SF_INSTRUMENT instrument{};
  FrameLoop sampler_loop;
  if (sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE &&
      instrument.loop_count > 0) {
    sampler_loop = {instrument.loops[0].start, instrument.loops[0].end};
  }
  sf_close(file);

  if (!kind.container) {
    return fail(detail, com::MUSIC_E_UNSUPPORTED_FORMAT,
                "an audio format other than WAV, FLAC, Ogg Vorbis, Opus or MP3");
  }
  if (info.channels < 1 || info.channels > kMaxChannels) {
    return fail(detail, com::MUSIC_E_UNSUPPORTED_FORMAT,
                std::to_string(info.channels) + " channels (1 to " + std::to_string(kMaxChannels) +
                    " are played)");
  }
  if (info.sample_rate < kMinSourceRate || info.sample_rate > kMaxSourceRate) {
    return fail(detail, com::MUSIC_E_UNSUPPORTED_FORMAT,
                "a sample rate of " + std::to_string(info.sample_rate) + " Hz");
  }
  made->downmix_ = has_map ? downmix_for_map(map.data(), info.channels)
                           : downmix_for_count(info.channels, info.container == "ogg");

  // The head is decoded now: it proves the audio decodes, and loops start from memory.
  std::unique_ptr<Decoder> decoder;
  if (com::failed(made->open_decoder(decoder))) {
    return fail(detail, com::MUSIC_E_CORRUPT, "the audio cannot be decoded");
  }
  const std::int64_t stated = decoder->stated_frames();
  if (stated == 0) return fail(detail, com::MUSIC_E_EMPTY_FILE, "no audio frames");
  const std::int64_t head_frames = std::llround(kHeadSeconds * info.sample_rate);
  const std::int64_t wanted = stated > 0 ? std::min(stated, head_frames) : head_frames;
  std::vector<float> raw(static_cast<std::size_t>(wanted * info.channels));
  const std::int64_t got = decoder->read(raw.data(), wanted);
  if (got <= 0) return fail(detail, com::MUSIC_E_CORRUPT, "the audio cannot be decoded");
  made->head_.resize(static_cast<std::size_t>(got * 2));
  made->downmix_.apply(raw.data(), got, made->head_.data());

  // A length the file does not state exactly is counted: a guess too short would cut the
  // music off, one too long would make its real end look like damage.
  const std::int64_t most_frames =
      static_cast<std::int64_t>(static_cast<double>(std::numeric_limits<std::int32_t>::max()) *
                                info.sample_rate / kMusicTimePerSecond) +
      1;
  info.frames = stated > 0 ? stated : got;
  if (stated < 0 && got == wanted) {
    std::int64_t more = 0;
    do {
      more = decoder->read(raw.data(), wanted);
      info.frames += more;
    } while (more > 0 && info.frames <= most_frames);
  }
  const double length =
      std::round(static_cast<double>(info.frames) * kMusicTimePerSecond / info.sample_rate);
  if (length > std::numeric_limits<std::int32_t>::max()) {
    return fail(detail, com::MUSIC_E_FILE_TOO_LARGE, "longer than music time can count");
  }
  info.length = static_cast<std::int32_t>(length);
  FrameLoop loop = sampler_loop;
  if (loop.end == 0) {
    loop = loop_from_comments(read_vorbis_comments(cursor, info.container), info.sample_rate,
                              info.frames);
  }
  loop.end = std::min(loop.end, info.frames);
  if (loop.start >= 0 && loop.start < loop.end) {
    info.loop_start_frame = loop.start;
    info.loop_end_frame = loop.end;
  }
  if (info.container == "wav") info.cues = read_wav_cue_points(cursor, info.frames);
  source = std::move(made);
  return com::S_OK;
}

}  // namespace orvan::music::wave
