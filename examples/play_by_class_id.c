/* Plays a music file for a few seconds through the Orvan Music Engine component, created by
 * its class identity, from C99. Register the component first: orvan-regsvr libTovel.so
 *
 *   play_by_class_id_c FILE.mid [SECONDS] */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "orvan/tovel.h"

/* Automation strings are UTF-16; command-line arguments are UTF-8. */
static BSTR utf16_string(const char* utf8) {
  size_t length = strlen(utf8), i = 0, n = 0;
  OLECHAR* units = malloc((length + 1) * sizeof *units);
  BSTR result;
  if (!units) return NULL;
  while (i < length) {
    unsigned char lead = (unsigned char)utf8[i];
    size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0, k;
    unsigned long code = extra == 0 ? lead : lead & (0x3Fu >> extra);
    for (k = 1; k <= extra && i + k < length; ++k)
      code = (code << 6) | ((unsigned char)utf8[i + k] & 0x3Fu);
    i += extra + 1;
    if (code < 0x10000) {
      units[n++] = (OLECHAR)code;
    } else {
      units[n++] = (OLECHAR)(0xD800 + ((code - 0x10000) >> 10));
      units[n++] = (OLECHAR)(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }
  result = SysAllocStringLen(units, (UINT)n);
  free(units);
  return result;
}

int main(int argc, char** argv) {
  _OrvanMusic* music = NULL;
  /* Arguments go by reference from the caller's own variables; the engine only reads them. */
  LONG hwnd = 0, rate = 48000, loops = 0, length = 0;
  const struct timespec quarter_second = {0, 250000000L};
  BSTR file;
  HRESULT hr;
  int seconds, tick, loaded;

  if (argc < 2) {
    fprintf(stderr, "usage: %s FILE.mid [SECONDS]\n", argv[0]);
    return 2;
  }
  seconds = argc > 2 ? atoi(argv[2]) : 5;

  CoInitialize(NULL);
  hr = CoCreateInstance(&CLSID_OrvanMusic, NULL, CLSCTX_INPROC_SERVER, &IID__OrvanMusic,
                        (void**)&music);
  if (FAILED(hr)) {
    fprintf(stderr, "cannot create OrvanMusic: %s (0x%08X): is libTovel.so registered?\n",
            orvan_status_text(hr) ? orvan_status_text(hr) : "unknown status", (unsigned)hr);
    CoUninitialize();
    return 1;
  }

  file = utf16_string(argv[1]);
  _OrvanMusic_InitOrvanAudio(music, &hwnd, &rate);
  _OrvanMusic_Music_Load(music, &file); /* a file it cannot load is reported in a message box */
  _OrvanMusic_Music_Play(music, &loops);

  loaded = SUCCEEDED(_OrvanMusic_GetLengh(music, &length));
  if (!loaded) fprintf(stderr, "could not play %s\n", argv[1]);
  for (tick = 0; loaded && tick < seconds * 4; ++tick) {
    LONG position = 0;
    VARIANT_BOOL playing = VARIANT_FALSE;
    nanosleep(&quarter_second, NULL);
    _OrvanMusic_GetCurrentPosition(music, &position);
    _OrvanMusic_IsPlaying(music, &playing);
    printf("%8ld / %ld %s\n", (long)position, (long)length, playing ? "playing" : "stopped");
  }

  _OrvanMusic_Music_Stop(music);
  _OrvanMusic_CleanupAudio(music);
  _OrvanMusic_Release(music); /* the engine says goodbye in a message box */
  SysFreeString(file);
  CoUninitialize();
  return loaded ? 0 : 1;
}
