/* Two channels of the Orvan Music Engine rendered into one WAV file: a backing piece, and a
 * layer (a second part, a stem) that joins it on its next beat and keeps its tempo. Register
 * the component first: orvan-regsvr libTovel.so
 *
 *   layer_on_beat BACKING.mid LAYER.mid OUT.wav [SECONDS] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "orvan/tovel.h"

/* Automation strings are UTF-16; this example takes ASCII names. */
static BSTR ascii_string(const char* text) {
  size_t length = strlen(text), i;
  BSTR result = SysAllocStringLen(NULL, (UINT)length);
  for (i = 0; result && i < length; ++i) result[i] = (OLECHAR)(unsigned char)text[i];
  return result;
}

static HRESULT create(_OrvanMusic2** music) {
  return CoCreateInstance(&CLSID_OrvanMusic, NULL, CLSCTX_INPROC_SERVER, &IID__OrvanMusic2,
                          (void**)music);
}

int main(int argc, char** argv) {
  _OrvanMusic2 *backing = NULL, *layer = NULL;
  BSTR backing_file, layer_file, wav;
  LONG loops = 0;
  float faster = 1.2f;
  HRESULT hr;
  int seconds;

  if (argc < 4) {
    fprintf(stderr, "usage: %s BACKING.mid LAYER.mid OUT.wav [SECONDS]\n", argv[0]);
    return 2;
  }
  seconds = argc > 4 ? atoi(argv[4]) : 20;
  CoInitialize(NULL);
  hr = create(&backing);
  if (SUCCEEDED(hr)) hr = create(&layer);
  if (FAILED(hr)) {
    fprintf(stderr, "cannot create OrvanMusic: 0x%08X: is libTovel.so registered?\n", (unsigned)hr);
    if (backing) _OrvanMusic2_Release(backing);
    CoUninitialize();
    return 1;
  }

  backing_file = ascii_string(argv[1]);
  layer_file = ascii_string(argv[2]);
  wav = ascii_string(argv[3]);
  /* Naming the same file makes the second channel join the first one's render: one output,
   * one sample clock, which a layer needs to stay on its leader's beats. */
  hr = _OrvanMusic2_InitOrvanRender(backing, wav, 48000);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_InitOrvanRender(layer, wav, 48000);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_Music_Load(backing, &backing_file);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_Music_Load(layer, &layer_file);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_Music_Play(backing, &loops);
  /* Two seconds of the backing alone, then the layer waits for its next beat ... */
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_RenderFor(backing, 2000);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_Music_PlayWith(layer, (IDispatch*)backing, OBND_BEAT);
  if (SUCCEEDED(hr)) printf("layer joins on the next beat after 2 s\n");
  /* ... and speeds up with it: the layer keeps the backing's master tempo. */
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_RenderFor(backing, seconds * 500);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_SetMasterTempo(backing, &faster);
  if (SUCCEEDED(hr)) printf("both at master tempo %.1f from %d s\n", faster, 2 + seconds / 2);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_RenderFor(backing, seconds * 500);
  if (FAILED(hr)) fprintf(stderr, "could not render: 0x%08X\n", (unsigned)hr);

  /* The file is complete once the last channel rendering it closes. */
  _OrvanMusic2_CleanupAudio(layer);
  _OrvanMusic2_CleanupAudio(backing);
  _OrvanMusic2_Release(layer);
  _OrvanMusic2_Release(backing);
  SysFreeString(backing_file);
  SysFreeString(layer_file);
  SysFreeString(wav);
  CoUninitialize();
  return SUCCEEDED(hr) ? 0 : 1;
}
