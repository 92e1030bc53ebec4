// Plays a music file for a few seconds through the OrvanMusic component, created by its
// class identity through the component runtime: the way any program uses the installed
// engine. The component must be registered first (orvan-regsvr, or the Debian package).
//
//   play_by_class_id FILE [SECONDS]     (play_midi when built by the Makefile example)
//
// Exit status 0 when the music played (the engine reported it playing and its position
// moved), 1 otherwise, with the reason on stderr.
#include <orvan/tovel.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

// The name the program was started by, for its messages.
const char* program = "play_by_class_id";

// UTF-8 to UTF-16, as automation strings hold text; a malformed byte becomes U+FFFD.
std::u16string to_utf16(const std::string& text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    char32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3Fu);
    }
    if (!valid || code > 0x10FFFF) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    i += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

int fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "%s: %s (status 0x%08X)\n", program, what, static_cast<unsigned>(hr));
  return 1;
}

// Drives one channel through its whole life: start audio, load, play, watch, stop, clean up.
int play(_OrvanMusic& music, const std::string& file, double seconds) {
  LONG hwnd = 0;
  LONG rate = 48000;
  music.InitOrvanAudio(&hwnd, &rate);
  // A failed start shows the engine's message box and still returns success; a
  // performance that answers a query is the sign that audio came up.
  float tempo = 0.0f;
  if (HRESULT hr = music.GetMasterTempo(&tempo); FAILED(hr))
    return fail("the engine could not start audio output", hr);

  const std::u16string name = to_utf16(file);
  BSTR filename = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
  music.Music_Load(&filename);
  SysFreeString(filename);
  LONG length = 0;
  if (HRESULT hr = music.GetLengh(&length); FAILED(hr)) {
    music.CleanupAudio();
    return fail("the file could not be loaded", hr);
  }

  LONG loops = 0;
  if (HRESULT hr = music.Music_Play(&loops); FAILED(hr)) {
    music.CleanupAudio();
    return fail("the music could not be played", hr);
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  LONG position = 0;
  VARIANT_BOOL playing = VARIANT_FALSE;
  music.GetCurrentPosition(&position);
  music.IsPlaying(&playing);
  std::printf("played %.1f s: position %d of %d, %s\n", seconds, static_cast<int>(position),
              static_cast<int>(length), playing ? "playing" : "not playing");

  music.Music_Stop();
  music.CleanupAudio();
  if (playing != VARIANT_TRUE || position <= 0) {
    std::fprintf(stderr, "%s: the music did not advance\n", program);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 0 && argv[0][0] != '\0') {
    const char* slash = std::strrchr(argv[0], '/');
    program = slash ? slash + 1 : argv[0];
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FILE [SECONDS]\n", program);
    return 2;
  }
  const double seconds = argc == 3 ? std::atof(argv[2]) : 3.0;

  if (HRESULT hr = CoInitialize(nullptr); FAILED(hr)) return fail("CoInitialize failed", hr);
  _OrvanMusic* music = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_OrvanMusic, nullptr, CLSCTX_INPROC_SERVER, IID__OrvanMusic,
                                reinterpret_cast<void**>(&music));
  int status = 0;
  if (FAILED(hr)) {
    status = fail(
        "OrvanMusic could not be created; is the component registered "
        "(orvan-regsvr libTovel.so.1)?",
        hr);
  } else {
    status = play(*music, argv[1], seconds);
    music->Release();
  }
  CoUninitialize();
  return status;
}
