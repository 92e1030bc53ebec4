#include "tests/component/c_render_client.h"

#include <stddef.h>

HRESULT orvan_c_render(BSTR wav, BSTR soundfont, BSTR midi, LONG milliseconds) {
  _OrvanMusic2* music = NULL;
  HRESULT hr = CoCreateInstance(&CLSID_OrvanMusic, NULL, CLSCTX_INPROC_SERVER, &IID__OrvanMusic2,
                                (void**)&music);
  if (FAILED(hr)) return hr;
  hr = _OrvanMusic2_SetSoundFont(music, soundfont);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_InitOrvanRender(music, wav, 22050);
  /* Members of the first interface, through the second's table. */
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_Music_Load(music, &midi);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_Music_Play(music, NULL);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_RenderFor(music, milliseconds);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_FadeTo(music, -2000, 10);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_RenderFor(music, milliseconds);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_CleanupAudio(music);
  _OrvanMusic2_Release(music);
  return hr;
}
