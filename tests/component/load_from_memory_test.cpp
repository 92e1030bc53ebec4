// Music, SoundFonts and DLS collections handed over as byte arrays and as streams: each kind
// renders exactly as the same file loaded by name, and streams that misbehave give statuses,
// never a crash, with every reference and array lock given back.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/component/component_fixture.h"
#include "tests/support/dls_writer.h"
#include "tests/support/smf_writer.h"
#include "tests/support/sound_measure.h"
#include "tests/support/soundfont_writer.h"
#include "tests/support/wav_file.h"
#include "tests/support/xm_writer.h"

namespace orvan::component_test {
namespace {

constexpr HRESULT kCannotOpen = static_cast<HRESULT>(0x88781001u);

using Bytes = std::vector<std::uint8_t>;

// A client's stream over `bytes` that counts its references and misbehaves as told.
class TestStream final : public IStream {
 public:
  explicit TestStream(Bytes bytes) : bytes_(std::move(bytes)) {}

  std::uint32_t most_per_read = 0xFFFFFFFFu;  // short reads: at most this many bytes each
  int fail_at_read = 0;                       // this read (from 1) and later ones fail
  std::uint64_t stated_size = 0;              // what Stat claims; 0: the truth
  bool claims_more = false;                   // reports more bytes than it was asked for
  bool seeks = false;                         // can be read in place; else front to back only
  std::atomic<int> reads{0};
  std::atomic<int> refs{1};
  bool* destroyed = nullptr;

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
      *object = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG Release() override {
    const int left = --refs;
    if (left == 0) {
      if (destroyed) *destroyed = true;
      delete this;
    }
    return static_cast<ULONG>(left);
  }
  HRESULT Read(void* data, ULONG size, ULONG* read) override {
    ++reads;
    if (read) *read = 0;
    if (fail_at_read && reads >= fail_at_read) return E_FAIL;
    const std::size_t count =
        std::min<std::size_t>({size, most_per_read, bytes_.size() - position_});
    std::memcpy(data, bytes_.data() + position_, count);
    position_ += count;
    if (read) *read = claims_more ? size + 1 : static_cast<ULONG>(count);
    return count < size ? S_FALSE : S_OK;
  }
  HRESULT Write(const void*, ULONG, ULONG*) override { return STG_E_INVALIDFUNCTION; }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
    if (!seeks) return STG_E_INVALIDFUNCTION;
    const std::int64_t base = origin == STREAM_SEEK_CUR   ? static_cast<std::int64_t>(position_)
                              : origin == STREAM_SEEK_END ? static_cast<std::int64_t>(bytes_.size())
                                                          : 0;
    if (base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
    position_ =
        std::min<std::size_t>(static_cast<std::size_t>(base + move.QuadPart), bytes_.size());
    if (position) position->QuadPart = position_;
    return S_OK;
  }
  HRESULT SetSize(ULARGE_INTEGER) override { return STG_E_INVALIDFUNCTION; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG* stat, DWORD) override {
    if (!stat) return E_POINTER;
    *stat = STATSTG{};
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = stated_size ? stated_size : bytes_.size();
    return S_OK;
  }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }

 private:
  ~TestStream() = default;
  Bytes bytes_;
  std::size_t position_ = 0;
};

std::size_t open_file_count() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

Bytes bytes_of(const std::filesystem::path& path) {
  const std::string text = testing::file_bytes(path);
  return Bytes(text.begin(), text.end());
}

// A one-dimensional byte array holding `bytes`, as a client makes one.
SAFEARRAY* byte_array(const Bytes& bytes) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  EXPECT_EQ(SafeArrayAccessData(array, &data), S_OK);
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
  return array;
}

// One second of a mono 440 Hz sine at `rate` (22050 Hz; Opus takes 24000), encoded by
// libsndfile in `format`.
Bytes encoded_sine(int format, int rate = 22050) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("orvan_sine_" + std::to_string(::getpid()));
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
  if (!file) return {};
  std::vector<short> pcm(static_cast<std::size_t>(rate));
  for (std::size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = static_cast<short>(12000 * std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / rate));
  sf_writef_short(file, pcm.data(), static_cast<sf_count_t>(pcm.size()));
  sf_close(file);
  Bytes bytes = bytes_of(path);
  std::filesystem::remove(path);
  return bytes;
}

// How an asset reaches the engine: by name, as a byte array the caller frees at once, or
// through a stream that gives at most 1000 bytes a read and that the caller releases at once:
// one that only reads front to back, and one that seeks (a recording is read in place).
enum class Way { Name, Array, Stream, SeekingStream };

class LoadFromMemory : public ComponentTest {
 protected:
  // Hands `bytes` (saved as `path` for Way::Name) over one way, through the member of that
  // way; checks that nothing of the argument is left held or locked.
  HRESULT hand_over(Way way, const Bytes& bytes, const std::filesystem::path& path,
                    const std::function<HRESULT(BSTR)>& by_name,
                    const std::function<HRESULT(SAFEARRAY*)>& by_bytes,
                    const std::function<HRESULT(IUnknown*)>& by_stream) {
    if (way == Way::Name) {
      EXPECT_TRUE(test::save_bytes(path.string(), bytes));
      Bstr name(path.string());
      return by_name(name.get());
    }
    if (way == Way::Array) {
      SAFEARRAY* array = byte_array(bytes);
      const HRESULT hr = by_bytes(array);
      EXPECT_EQ(SafeArrayDestroy(array), S_OK) << "the array was left locked";
      return hr;
    }
    auto* stream = new TestStream(bytes);
    stream->most_per_read = 1000;
    stream->seeks = way == Way::SeekingStream;
    stream_gone_ = false;
    stream->destroyed = &stream_gone_;
    const HRESULT hr = by_stream(stream);
    reads_at_load_ = stream->reads;
    // The client lets go right after the call. A recording read in place keeps its stream
    // until the engine object goes (render() looks at it till then); anything else was read
    // whole and is held by no one.
    held_stream_ = stream->Release() > 0 ? stream : nullptr;
    EXPECT_TRUE(way == Way::SeekingStream || stream_gone_) << "the engine kept a reference";
    return hr;
  }

  bool stream_gone_ = false;
  int reads_at_load_ = 0;
  int reads_in_play_ = 0;
  TestStream* held_stream_ = nullptr;  // the last seeking stream, not owned

  HRESULT load_music(_OrvanMusic2* music, Way way, const Bytes& bytes,
                     const std::filesystem::path& path) {
    return hand_over(
        way, bytes, path, [&](BSTR name) { return music->Music_Load(&name); },
        [&](SAFEARRAY* a) { return music->Music_LoadBytes(a); },
        [&](IUnknown* s) { return music->Music_LoadStream(s); });
  }

  // Renders 1.5 s of `piece` at 22050 Hz after `prepare`; the rendered file's bytes.
  std::string render(const std::string& name, const std::function<void(_OrvanMusic2*)>& prepare) {
    ComPtr<_OrvanMusic2> music = create2();
    const std::filesystem::path wav = dir_ / (name + ".wav");
    Bstr wav_name(wav.string());
    EXPECT_EQ(music->InitOrvanRender(wav_name.get(), 22050), S_OK);
    prepare(music.get());
    EXPECT_EQ(music->Music_Play(nullptr), S_OK);
    EXPECT_EQ(music->RenderFor(1500), S_OK);
    reads_in_play_ = held_stream_ ? held_stream_->reads - reads_at_load_ : 0;
    EXPECT_EQ(music->CleanupAudio(), S_OK);
    music.reset();
    EXPECT_TRUE(!held_stream_ || stream_gone_) << "the engine kept the stream";
    held_stream_ = nullptr;
    return testing::file_bytes(wav);
  }
};

TEST_F(LoadFromMemory, EveryKindRendersFromBytesAndFromAStreamExactlyAsFromItsFile) {
  // Pieces: the organ note as MIDI and as RMID, a sine recorded as WAV, FLAC, Ogg Vorbis, Opus
  // and MP3, and a tracker module.
  const Bytes midi = bytes_of(organ_);
  testing::XmModule module;
  module.patterns[0].cells.resize(16);
  module.patterns[0].cells[0] = {testing::XmCell{testing::xm_note(4, 0), 1}};
  struct Piece {
    const char* kind;
    Bytes bytes;
  };
  const std::vector<Piece> pieces = {
      {"mid", midi},
      {"rmi", test::wrap_rmid(midi)},
      {"wav", encoded_sine(SF_FORMAT_WAV | SF_FORMAT_PCM_16)},
      {"flac", encoded_sine(SF_FORMAT_FLAC | SF_FORMAT_PCM_16)},
      {"ogg", encoded_sine(SF_FORMAT_OGG | SF_FORMAT_VORBIS)},
      {"opus", encoded_sine(SF_FORMAT_OGG | SF_FORMAT_OPUS, 24000)},
      {"mp3", encoded_sine(SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III)},
      {"xm", testing::write_xm(module)},
  };
  for (const Piece& piece : pieces) {
    SCOPED_TRACE(piece.kind);
    const std::string kind = piece.kind;
    const bool recording =
        kind == "wav" || kind == "flac" || kind == "ogg" || kind == "opus" || kind == "mp3";
    std::string by_name;
    for (const Way way : {Way::Name, Way::Array, Way::Stream, Way::SeekingStream}) {
      const std::string out = render(piece.kind, [&](_OrvanMusic2* music) {
        const std::filesystem::path file = dir_ / (std::string("piece.") + piece.kind);
        EXPECT_EQ(load_music(music, way, piece.bytes, file), S_OK);
        // Only a recording is read from a seeking stream while it plays.
        EXPECT_EQ(held_stream_ != nullptr, way == Way::SeekingStream && recording);
        LONG length = 0;
        EXPECT_EQ(music->GetLengh(&length), S_OK);
        EXPECT_GT(length, 0);
      });
      EXPECT_EQ(reads_in_play_ > 0, way == Way::SeekingStream && recording);
      if (way == Way::Name) {
        by_name = out;
        // A render of silence would match any other: the piece must sound.
        const testing::StereoWav wav =
            testing::read_stereo_wav(dir_ / (std::string(piece.kind) + ".wav"));
        EXPECT_GT(testing::rms(wav.samples, 0, wav.frames()), 0.01);
      } else {
        EXPECT_TRUE(out == by_name) << "way " << static_cast<int>(way);
      }
    }
  }
  EXPECT_EQ(boxes_->count(kLoadFailed), 0);

  // Instruments: the organ note with a SoundFont whose program 19 is a 440 Hz sine (SF2, and
  // SF3 with the sample as Ogg Vorbis), and with a DLS collection's sine at program 0.
  test::SoundFontPreset sf2;
  sf2.program = 19;
  sf2.sample.pcm = test::sine_periods(4410, 44);
  test::SoundFontPreset sf3 = sf2;
  sf3.sample.ogg = encoded_sine(SF_FORMAT_OGG | SF_FORMAT_VORBIS);
  sf3.sample.sample_rate = 22050;
  sf3.sample.frames = 22050;  // 440 whole periods: a seamless loop, 440 Hz at the root key
  const Bytes dls = test::write_dls(test::sine_and_square_collection());
  for (const auto& [kind, font] :
       {std::pair{"sf2", test::write_soundfont(sf2)}, std::pair{"sf3", test::write_soundfont(sf3)},
        std::pair{"dls", dls}}) {
    SCOPED_TRACE(kind);
    const bool is_dls = std::string(kind) == "dls";
    std::string by_name;
    for (const Way way : {Way::Name, Way::Array, Way::Stream, Way::SeekingStream}) {
      const std::string out = render(kind, [&](_OrvanMusic2* music) {
        const std::filesystem::path file = dir_ / (std::string("font.") + kind);
        if (!is_dls) {
          EXPECT_EQ(hand_over(
                        way, font, file, [&](BSTR name) { return music->SetSoundFont(name); },
                        [&](SAFEARRAY* a) { return music->SetSoundFontBytes(a); },
                        [&](IUnknown* s) { return music->SetSoundFontStream(s); }),
                    S_OK);
          Bstr organ(organ_.string());
          EXPECT_EQ(music->Music_Load(organ.ptr()), S_OK);
          return;
        }
        LONG slot = 2, max = 3;
        EXPECT_EQ(music->Change_MaxDLS(&max), S_OK);
        EXPECT_EQ(hand_over(
                      way, font, file, [&](BSTR name) { return music->LoadDLS(&name, &slot); },
                      [&](SAFEARRAY* a) { return music->LoadDLSBytes(a, slot); },
                      [&](IUnknown* s) { return music->LoadDLSStream(s, slot); }),
                  S_OK);
        const std::filesystem::path a4 = dir_ / "a4.mid";
        test::SmfWriter smf(0, 480);
        smf.add_track()
            .program_change(0, 0, 0)
            .note_on(0, 0, 69, 100)
            .note_off(1920, 0, 69)
            .end_of_track(0);
        EXPECT_TRUE(smf.write_file(a4.string()));
        Bstr piece(a4.string());
        EXPECT_EQ(music->Music_Load(piece.ptr()), S_OK);
        EXPECT_EQ(music->ApplyDLS(&slot), S_OK);
      });
      if (way == Way::Name) {
        by_name = out;
        const testing::StereoWav wav =
            testing::read_stereo_wav(dir_ / (std::string(kind) + ".wav"));
        const std::vector<float> left = testing::channel_of(wav.samples, 0);
        EXPECT_NEAR(testing::dominant_frequency(std::span<const float>(left).subspan(5512, 11025),
                                                22050, 100, 2000, 1.0),
                    440.0, 5.0)
            << "the instruments did not come from the font";
      } else {
        EXPECT_TRUE(out == by_name) << "way " << static_cast<int>(way);
      }
    }
  }
}

TEST_F(LoadFromMemory, BrokenStreamsAndArgumentsGiveStatusesAndHoldNothing) {
  const Bytes midi = bytes_of(organ_);
  const Bytes dls = test::write_dls(test::sine_and_square_collection());
  test::SoundFontPreset preset;
  preset.sample.pcm = test::sine_periods(4410, 44);
  const Bytes sf2 = test::write_soundfont(preset);
  ComPtr<_OrvanMusic2> music = create2();
  // The memory files behind what loaded are descriptors: all of them go with the object.
  const std::size_t open_files = open_file_count();
  Bstr wav((dir_ / "broken.wav").string());
  ASSERT_EQ(music->InitOrvanRender(wav.get(), 22050), S_OK);

  // Each stream: what Music_LoadStream, SetSoundFontStream and LoadDLSStream answer. A stream
  // that fails loads nothing and shows the load box for music; SoundFont and DLS give status.
  struct Case {
    const char* what;
    std::function<void(TestStream&)> set_up;
    bool loads;
    HRESULT font_status;
    HRESULT dls_status;
  };
  const std::vector<Case> cases = {
      {"fails at once", [](TestStream& s) { s.fail_at_read = 1; }, false, kCannotOpen, kCannotOpen},
      {"fails at the 3rd read",
       [](TestStream& s) {
         s.most_per_read = 16;
         s.fail_at_read = 3;
       },
       false, kCannotOpen, kCannotOpen},
      {"claims more than it gave", [](TestStream& s) { s.claims_more = true; }, false, kCannotOpen,
       kCannotOpen},
      {"one byte a read", [](TestStream& s) { s.most_per_read = 1; }, true, S_OK, S_OK},
      {"states a size of 7", [](TestStream& s) { s.stated_size = 7; }, true, S_OK, S_OK},
      {"states a size of 2^60", [](TestStream& s) { s.stated_size = 1ull << 60; }, true, S_OK,
       S_OK},
  };
  int boxes = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int member = 0; member < 3; ++member) {
      bool destroyed = false;
      auto* stream = new TestStream(member == 0 ? midi : member == 1 ? sf2 : dls);
      stream->destroyed = &destroyed;
      c.set_up(*stream);
      if (member == 0) {
        EXPECT_EQ(music->Music_LoadStream(stream), S_OK);
        if (!c.loads) ++boxes;
        EXPECT_EQ(boxes_->count(kLoadFailed), boxes);
      } else if (member == 1) {
        EXPECT_EQ(music->SetSoundFontStream(stream), c.font_status);
      } else {
        EXPECT_EQ(music->LoadDLSStream(stream, 0), c.dls_status);
      }
      // The client lets go right after the call: the engine holds nothing of it.
      EXPECT_EQ(stream->Release(), 0u) << "member " << member;
      EXPECT_TRUE(destroyed);
    }
  }
  // A recording in a seeking stream that fails while it is examined: the load box, and the
  // stream is let go.
  {
    bool gone = false;
    auto* stream = new TestStream(encoded_sine(SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    stream->seeks = true;
    stream->fail_at_read = 3;
    stream->destroyed = &gone;
    EXPECT_EQ(music->Music_LoadStream(stream), S_OK);
    EXPECT_EQ(boxes_->count(kLoadFailed), ++boxes);
    EXPECT_EQ(stream->Release(), 0u);
    EXPECT_TRUE(gone);
  }
  // An array the client laid out itself stores no element type: one-byte elements are bytes.
  Bytes organ = midi;
  SAFEARRAY laid_out{};
  laid_out.cDims = 1;
  laid_out.fFeatures = FADF_STATIC;
  laid_out.cbElements = 1;
  laid_out.pvData = organ.data();
  laid_out.rgsabound[0] = {static_cast<ULONG>(organ.size()), 0};
  EXPECT_EQ(music->Music_LoadBytes(&laid_out), S_OK);
  EXPECT_EQ(boxes_->count(kLoadFailed), boxes);
  EXPECT_EQ(laid_out.cLocks, 0u);
  LONG length = 0;
  EXPECT_EQ(music->GetLengh(&length), S_OK);
  EXPECT_EQ(length, 8 * 768);     // the organ's 8 quarters
  organ.assign(organ.size(), 0);  // the caller's memory is its own again
  // What loaded plays after the array is gone.
  ASSERT_EQ(music->Music_Play(nullptr), S_OK);
  ASSERT_EQ(music->RenderFor(1000), S_OK);

  // Bytes that are no music, no SoundFont and no collection, or nothing at all: the statuses
  // and boxes a file of those bytes gets.
  for (const Bytes& data : {Bytes(3000, 0x5A), Bytes{}}) {
    SCOPED_TRACE(data.size());
    const std::filesystem::path path = dir_ / "junk";
    ASSERT_TRUE(test::save_bytes(path.string(), data));
    Bstr name(path.string());
    LONG slot = 0;
    SAFEARRAY* array = byte_array(data);
    EXPECT_EQ(music->Music_LoadBytes(array), S_OK);
    EXPECT_EQ(boxes_->count(kLoadFailed), ++boxes);
    const HRESULT font_status = music->SetSoundFont(name.get());
    EXPECT_LT(font_status, 0);
    EXPECT_EQ(music->SetSoundFontBytes(array), font_status);
    const HRESULT dls_status = music->LoadDLS(name.ptr(), &slot);
    EXPECT_LT(dls_status, 0);
    EXPECT_EQ(music->LoadDLSBytes(array, 0), dls_status);
    EXPECT_EQ(music->LoadDLSBytes(array, -1), static_cast<HRESULT>(0x800A0009u));  // no slot
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
  }
  EXPECT_EQ(music->Music_LoadBytes(nullptr), S_OK);  // a null array is an empty Byte()
  EXPECT_EQ(boxes_->count(kLoadFailed), ++boxes);

  // Arguments that are no byte array or no stream: argument statuses, no box.
  SAFEARRAY* longs = SafeArrayCreateVector(VT_I4, 0, 4);
  SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
  SAFEARRAY* matrix = SafeArrayCreate(VT_UI1, 2, square);
  for (SAFEARRAY* wrong : {longs, matrix}) {
    EXPECT_EQ(music->Music_LoadBytes(wrong), E_INVALIDARG);
    EXPECT_EQ(music->SetSoundFontBytes(wrong), E_INVALIDARG);
    EXPECT_EQ(music->LoadDLSBytes(wrong, 0), E_INVALIDARG);
    EXPECT_EQ(SafeArrayDestroy(wrong), S_OK);
  }
  EXPECT_EQ(music->Music_LoadStream(nullptr), E_POINTER);
  EXPECT_EQ(music->SetSoundFontStream(nullptr), E_POINTER);
  EXPECT_EQ(music->LoadDLSStream(nullptr, 0), E_POINTER);
  // An object that is no stream: the engine object itself.
  EXPECT_EQ(music->Music_LoadStream(music.get()), E_NOINTERFACE);
  EXPECT_EQ(music->SetSoundFontStream(music.get()), E_NOINTERFACE);
  EXPECT_EQ(music->LoadDLSStream(music.get(), 0), E_NOINTERFACE);
  EXPECT_EQ(boxes_->count(kLoadFailed), boxes);
  ASSERT_EQ(music->RenderFor(500), S_OK);
  EXPECT_EQ(music->CleanupAudio(), S_OK);
  music.reset();
  EXPECT_EQ(open_file_count(), open_files);
}

}  // namespace
}  // namespace orvan::component_test
