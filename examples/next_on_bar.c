/* Plays one piece and, after SECONDS of it, the next from the following bar line, through the
 * Orvan Music Engine's second interface, from C99. The next piece is loaded at the call, so
 * it starts on the bar to the frame; the first fades out under it over FADE_MS (a recording or
 * module: MIDI shares the synthesizer and stops on the bar). A MIDI piece's bars come from its
 * time signatures, a recording's from SetBeatInfo (120 beats a minute, 4 a bar, unless told).
 * With -o the music goes into a WAV file, as fast as it renders, instead of the sound device.
 * Register the component first: orvan-regsvr libTovel.so
 *
 *   next_on_bar [-o OUT.wav] FIRST NEXT [SECONDS [FADE_MS]] */
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
  const char* playing_file;
  /* The first piece repeats until the next takes over. */
  LONG hwnd = 0, rate = 48000, repeats = 1000, length = 0, fade, bar = 0, beat = 0, shown = 0;
  LONG position = 0;
  VARIANT_BOOL playing = VARIANT_TRUE;
  char fallback[ORVAN_STATUS_FALLBACK_SIZE];
  BSTR first, next, wav = NULL;
  HRESULT hr;
  int quarter, switch_at, started = 0;

  if (argc > 2 && strcmp(argv[1], "-o") == 0) {
    out = argv[2];
    argv += 2;
    argc -= 2;
  }
  if (argc < 3 || argc > 5) {
    fprintf(stderr, "usage: next_on_bar [-o OUT.wav] FIRST NEXT [SECONDS [FADE_MS]]\n");
    return 2;
  }
  playing_file = argv[1];
  switch_at = argc > 3 ? (int)(atof(argv[3]) * 4) : 20;
  fade = argc > 4 ? atol(argv[4]) : 1000;

  CoInitialize(NULL);
  hr = CoCreateInstance(&CLSID_OrvanMusic, NULL, CLSCTX_INPROC_SERVER, &IID__OrvanMusic2,
                        (void**)&music);
  if (FAILED(hr)) {
    fprintf(stderr, "cannot create OrvanMusic: %s: is libTovel.so registered?\n",
            orvan_status_describe(hr, fallback));
    CoUninitialize();
    return 1;
  }

  first = ascii_string(argv[1]);
  next = ascii_string(argv[2]);
  if (out) {
    wav = ascii_string(out);
    hr = _OrvanMusic2_InitOrvanRender(music, wav, rate);
  } else {
    hr = _OrvanMusic2_InitOrvanAudio(music, &hwnd, &rate);
  }
  if (SUCCEEDED(hr)) {
    _OrvanMusic2_Music_Load(music, &first); /* a file it cannot load is reported in a box */
    hr = _OrvanMusic2_GetLengh(music, &length);
  }
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_Music_Play(music, &repeats);
  /* The first piece's bars are shown until the next is queued; from the call on the members
   * answer for the next piece, whose position moves once it has started. Stop after an hour. */
  for (quarter = 1; SUCCEEDED(hr) && playing && quarter <= 4 * 3600; ++quarter) {
    hr = quarter_second(music, out != NULL);
    if (SUCCEEDED(hr)) hr = _OrvanMusic2_IsPlaying(music, &playing);
    if (SUCCEEDED(hr)) hr = _OrvanMusic2_GetCurrentPosition(music, &position);
    if (SUCCEEDED(hr) && quarter <= switch_at) hr = _OrvanMusic2_GetBar(music, &bar);
    if (SUCCEEDED(hr) && quarter <= switch_at) hr = _OrvanMusic2_GetBeat(music, &beat);
    if (SUCCEEDED(hr) && quarter <= switch_at && bar != shown) {
      printf("%7.2f s  bar %ld beat %ld\n", quarter / 4.0, (long)bar, (long)beat);
      shown = bar;
    }
    if (SUCCEEDED(hr) && quarter > switch_at && position > 0 && !started) {
      printf("%7.2f s  %s started\n", quarter / 4.0, argv[2]);
      started = 1;
    }
    if (SUCCEEDED(hr) && quarter == switch_at) {
      playing_file = argv[2];
      hr = _OrvanMusic2_Music_PlayNext(music, next, OBND_BAR, fade);
      if (SUCCEEDED(hr)) printf("%7.2f s  %s queued for the next bar\n", quarter / 4.0, argv[2]);
    }
  }
  if (FAILED(hr)) {
    fprintf(stderr, "could not play %s: %s\n", playing_file, orvan_status_describe(hr, fallback));
  }

  _OrvanMusic2_Music_Stop(music);
  _OrvanMusic2_CleanupAudio(music); /* completes the WAV file */
  _OrvanMusic2_Release(music);
  SysFreeString(first);
  SysFreeString(next);
  SysFreeString(wav);
  CoUninitialize();
  return SUCCEEDED(hr) ? 0 : 1;
}
