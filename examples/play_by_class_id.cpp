// Plays a music file for a few seconds through the Orvan Music Engine component, created by
// its class identity, the way any client program does it.
//
//   play_by_class_id FILE.mid [SECONDS]
//
// The component must be registered first: orvan-regsvr build/lib/libTovel.so
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "orvan/tovel.h"

namespace {

// Automation strings are UTF-16; command-line arguments are UTF-8.
std::u16string utf16_from_utf8(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const int extra = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    char32_t code = extra == 0 ? byte : byte & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k)
      code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += static_cast<std::size_t>(extra) + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.mid [SECONDS]\n", argv[0]);
    return 2;
  }
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 5;

  if (FAILED(CoInitialize(nullptr))) return 1;
  _OrvanMusic* music = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_OrvanMusic, nullptr, CLSCTX_INPROC_SERVER, IID__OrvanMusic,
                                reinterpret_cast<void**>(&music));
  if (FAILED(hr)) {
    std::fprintf(stderr, "cannot create OrvanMusic (0x%08X): is libTovel.so registered?\n",
                 static_cast<unsigned>(hr));
    CoUninitialize();
    return 1;
  }

  // Arguments go by reference from the caller's own variables; the engine only reads them.
  LONG hwnd = 0;
  LONG rate = 48000;
  music->InitOrvanAudio(&hwnd, &rate);
  BSTR file = SysAllocString(utf16_from_utf8(argv[1]).c_str());
  music->Music_Load(&file);
  LONG loops = 0;
  music->Music_Play(&loops);

  // The engine reports a failed load in a message box; a missing length tells the program.
  LONG length = 0;
  int status = 0;
  if (FAILED(music->GetLengh(&length))) {
    std::fprintf(stderr, "could not play %s\n", argv[1]);
    status = 1;
  }
  for (int tick = 0; status == 0 && tick < seconds * 4; ++tick) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    LONG position = 0;
    VARIANT_BOOL playing = VARIANT_FALSE;
    music->GetCurrentPosition(&position);
    music->IsPlaying(&playing);
    std::printf("%8d / %d %s\n", static_cast<int>(position), static_cast<int>(length),
                playing ? "playing" : "stopped");
    std::fflush(stdout);
  }

  music->Music_Stop();
  music->CleanupAudio();
  music->Release();
  SysFreeString(file);
  CoUninitialize();
  return status;
}
