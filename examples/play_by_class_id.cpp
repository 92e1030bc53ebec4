// Plays a music file for a few seconds through the Orvan Music Engine component, created by
// its class identity. Register the component first: orvan-regsvr build/lib/libTovel.so
//
//   play_by_class_id FILE.mid [SECONDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "orvan/tovel.h"

// Automation strings are UTF-16; command-line arguments are UTF-8.
static std::u16string utf16(const std::string& utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += static_cast<std::size_t>(extra) + 1;
    if (code < 0x10000) {
      out += static_cast<char16_t>(code);
    } else {
      out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }
  return out;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.mid [SECONDS]\n", argv[0]);
    return 2;
  }
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 5;

  CoInitialize(nullptr);
  _OrvanMusic* music = nullptr;
  const HRESULT hr = CoCreateInstance(CLSID_OrvanMusic, nullptr, CLSCTX_INPROC_SERVER,
                                      IID__OrvanMusic, reinterpret_cast<void**>(&music));
  if (FAILED(hr)) {
    std::fprintf(stderr, "cannot create OrvanMusic (0x%08X): is libTovel.so registered?\n",
                 static_cast<unsigned>(hr));
    CoUninitialize();
    return 1;
  }

  // Arguments go by reference from the caller's own variables; the engine only reads them.
  LONG hwnd = 0, rate = 48000, loops = 0, length = 0;
  BSTR file = SysAllocString(utf16(argv[1]).c_str());
  music->InitOrvanAudio(&hwnd, &rate);
  music->Music_Load(&file);  // a file it cannot load is reported in a message box
  music->Music_Play(&loops);

  const bool loaded = SUCCEEDED(music->GetLengh(&length));
  if (!loaded) std::fprintf(stderr, "could not play %s\n", argv[1]);
  for (int tick = 0; loaded && tick < seconds * 4; ++tick) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    LONG position = 0;
    VARIANT_BOOL playing = VARIANT_FALSE;
    music->GetCurrentPosition(&position);
    music->IsPlaying(&playing);
    std::printf("%8d / %d %s\n", static_cast<int>(position), static_cast<int>(length),
                playing ? "playing" : "stopped");
  }

  music->Music_Stop();
  music->CleanupAudio();
  music->Release();  // the engine says goodbye in a message box
  SysFreeString(file);
  CoUninitialize();
  return loaded ? 0 : 1;
}
