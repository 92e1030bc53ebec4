// Plays a music file for a few seconds through the OrvanMusic class linked directly, for
// programs that do not go through the component runtime. The calls are the interface's,
// with C++ references where the component takes pointers.
//
//   play_engine_class FILE [SECONDS]
#include <orvan/engine/orvan_music.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace com = orvan::com;

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: play_engine_class FILE [SECONDS]\n");
    return 2;
  }
  const double seconds = argc == 3 ? std::atof(argv[2]) : 3.0;

  auto music = com::make_ref<orvan::engine::OrvanMusic>();
  music->InitOrvanAudio(0, 48000);
  float tempo = 0.0f;
  if (com::failed(music->GetMasterTempo(tempo))) {
    std::fprintf(stderr, "play_engine_class: the engine could not start audio output\n");
    return 1;
  }
  music->Music_Load(com::BStr::from_utf8(argv[1]));
  std::int32_t length = 0;
  if (com::failed(music->GetLengh(length))) {
    std::fprintf(stderr, "play_engine_class: %s could not be loaded\n", argv[1]);
    music->CleanupAudio();
    return 1;
  }
  music->Music_Play(0);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  std::int32_t position = 0;
  com::VariantBool playing = com::VARIANT_FALSE;
  music->GetCurrentPosition(position);
  music->IsPlaying(playing);
  std::printf("played %.1f s: position %d of %d, %s\n", seconds, position, length,
              playing ? "playing" : "not playing");
  music->Music_Stop();
  music->CleanupAudio();
  return playing == com::VARIANT_TRUE && position > 0 ? 0 : 1;
}
