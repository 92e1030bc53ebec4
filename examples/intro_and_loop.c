/* Plays a piece's intro once, its loop region a number of times and then the rest of it,
 * through the Orvan Music Engine's second interface, from C99. The region is the one the file
 * marks (MIDI loopStart and loopEnd markers or controller 111, LOOPSTART tags in FLAC, Ogg
 * Vorbis and Opus, a WAV file's sampler loop), the whole piece when it marks none, or START
 * to END in music time (768 a quarter note, 1536 a second of a recording). With -o the
 * music goes into a WAV file, as fast as it renders, instead of the sound device. Register
 * the component first: orvan-regsvr libTovel.so
 *
 *   intro_and_loop [-o OUT.wav] FILE [REPEATS [START END]] */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "orvan/tovel.h"

/* Automation strings are UTF-16; this example takes ASCII names. */
static BSTR ascii_string(const char* text) {
  size_t length = strlen(text), i;
  BSTR result = SysAllocStringLen(NULL, (UINT)length);
  for (i = 0; result && i < length; ++i) result[i] = (OLECHAR)(unsigned char)text[i];
  return result;
}

/* A quarter of a second more of the music: rendered into the file, or waited out. */
static HRESULT quarter_second(_OrvanMusic2* music, int rendering) {
  const struct timespec quarter = {0, 250000000L};
  if (rendering) return _OrvanMusic2_RenderFor(music, 250);
  nanosleep(&quarter, NULL);
  return S_OK;
}

int main(int argc, char** argv) {
  _OrvanMusic2* music = NULL;
  const char* out = NULL;
  LONG hwnd = 0, rate = 48000, repeats, length = 0, start = 0, end = 0, position = 0, last = 0;
  VARIANT_BOOL playing = VARIANT_TRUE;
  char fallback[ORVAN_STATUS_FALLBACK_SIZE];
  BSTR file, wav = NULL;
  HRESULT hr;
  int quarter;

  if (argc > 2 && strcmp(argv[1], "-o") == 0) {
    out = argv[2];
    argv += 2;
    argc -= 2;
  }
  if (argc != 2 && argc != 3 && argc != 5) {
    fprintf(stderr, "usage: intro_and_loop [-o OUT.wav] FILE [REPEATS [START END]]\n");
    return 2;
  }
  repeats = argc > 2 ? atol(argv[2]) : 3;

  CoInitialize(NULL);
  hr = CoCreateInstance(&CLSID_OrvanMusic, NULL, CLSCTX_INPROC_SERVER, &IID__OrvanMusic2,
                        (void**)&music);
  if (FAILED(hr)) {
    fprintf(stderr, "cannot create OrvanMusic: %s: is libTovel.so registered?\n",
            orvan_status_describe(hr, fallback));
    CoUninitialize();
    return 1;
  }

  file = ascii_string(argv[1]);
  if (out) {
    wav = ascii_string(out);
    hr = _OrvanMusic2_InitOrvanRender(music, wav, rate);
  } else {
    hr = _OrvanMusic2_InitOrvanAudio(music, &hwnd, &rate);
  }
  if (SUCCEEDED(hr)) {
    _OrvanMusic2_Music_Load(music, &file); /* a file it cannot load is reported in a box */
    hr = _OrvanMusic2_GetLengh(music, &length);
  }
  /* A region set by hand replaces the file's own; it holds from the next play. */
  if (SUCCEEDED(hr) && argc == 5)
    hr = _OrvanMusic2_SetLoopRegion(music, atol(argv[3]), atol(argv[4]));
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_GetLoopStart(music, &start);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_GetLoopEnd(music, &end);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_Music_Play(music, &repeats);
  if (SUCCEEDED(hr)) {
    printf("loop %ld .. %ld of %ld, %ld repeats\n", (long)start, (long)(end ? end : length),
           (long)length, (long)repeats);
  }
  /* The position going back is a seam: the loop starts again. Stop after an hour at most. */
  for (quarter = 1; SUCCEEDED(hr) && playing && quarter <= 4 * 3600; ++quarter) {
    hr = quarter_second(music, out != NULL);
    if (SUCCEEDED(hr)) hr = _OrvanMusic2_GetCurrentPosition(music, &position);
    if (SUCCEEDED(hr)) hr = _OrvanMusic2_IsPlaying(music, &playing);
    if (SUCCEEDED(hr) && position < last) {
      printf("%7.2f s  back to %ld\n", quarter / 4.0, (long)position);
    }
    last = position;
  }
  if (FAILED(hr))
    fprintf(stderr, "could not play %s: %s\n", argv[1], orvan_status_describe(hr, fallback));

  _OrvanMusic2_Music_Stop(music);
  _OrvanMusic2_CleanupAudio(music); /* completes the WAV file */
  _OrvanMusic2_Release(music);
  SysFreeString(file);
  SysFreeString(wav);
  CoUninitialize();
  return SUCCEEDED(hr) ? 0 : 1;
}
