/* Prints the bars and beats of a music file as the Orvan Music Engine renders it to a WAV
 * file, told by the engine's events to a sink written in C99. Register the component first:
 * orvan-regsvr libTovel.so
 *
 *   print_beats_c FILE.mid OUT.wav [SECONDS] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "orvan/tovel.h"

/* The sink: an IDispatch whose Invoke receives __OrvanMusic's events, arguments last first. */
typedef struct BeatSink {
  IDispatch dispatch;
  ULONG refs;
  int ended;
} BeatSink;

static HRESULT sink_query(IDispatch* This, REFIID riid, void** object) {
  if (IsEqualGUID(riid, &IID_IUnknown) || IsEqualGUID(riid, &IID_IDispatch) ||
      IsEqualGUID(riid, &DIID___OrvanMusic)) {
    *object = This;
    This->lpVtbl->AddRef(This);
    return S_OK;
  }
  *object = NULL;
  return E_NOINTERFACE;
}
static ULONG sink_add_ref(IDispatch* This) {
  return ++((BeatSink*)This)->refs;
}
static ULONG sink_release(IDispatch* This) {
  return --((BeatSink*)This)->refs;
}
static HRESULT sink_type_info_count(IDispatch* This, UINT* count) {
  (void)This;
  *count = 0;
  return S_OK;
}
static HRESULT sink_type_info(IDispatch* This, UINT index, LCID lcid, ITypeInfo** info) {
  (void)This, (void)index, (void)lcid, (void)info;
  return E_NOTIMPL;
}
static HRESULT sink_names(IDispatch* This, REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                          DISPID* ids) {
  (void)This, (void)riid, (void)names, (void)count, (void)lcid, (void)ids;
  return E_NOTIMPL;
}
static HRESULT sink_invoke(IDispatch* This, DISPID id, REFIID riid, LCID lcid, WORD flags,
                           DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepinfo,
                           UINT* arg_err) {
  const VARIANT* args = params->rgvarg;
  double seconds = args[0].dblVal / 48000.0; /* Frame, counted at the render's rate */
  (void)riid, (void)lcid, (void)flags, (void)result, (void)excepinfo, (void)arg_err;
  if (id == DISPID_OrvanMusicEvent_Beat)
    printf("%7.3f s  bar %ld beat %ld\n", seconds, (long)args[2].lVal, (long)args[1].lVal);
  if (id == DISPID_OrvanMusicEvent_Ended) {
    printf("%7.3f s  end\n", seconds);
    ((BeatSink*)This)->ended = 1;
  }
  return S_OK;
}
static const IDispatchVtbl sink_table = {sink_query,           sink_add_ref,   sink_release,
                                         sink_type_info_count, sink_type_info, sink_names,
                                         sink_invoke};

/* Automation strings are UTF-16; this example takes ASCII names. */
static BSTR ascii_string(const char* text) {
  size_t length = strlen(text), i;
  BSTR result = SysAllocStringLen(NULL, (UINT)length);
  for (i = 0; result && i < length; ++i) result[i] = (OLECHAR)(unsigned char)text[i];
  return result;
}

int main(int argc, char** argv) {
  BeatSink sink = {{&sink_table}, 1, 0};
  _OrvanMusic2* music = NULL;
  IConnectionPointContainer* container = NULL;
  IConnectionPoint* point = NULL;
  DWORD cookie = 0;
  LONG loops = 0;
  BSTR file, wav;
  HRESULT hr;
  int quarter, seconds;

  if (argc < 3) {
    fprintf(stderr, "usage: %s FILE.mid OUT.wav [SECONDS]\n", argv[0]);
    return 2;
  }
  seconds = argc > 3 ? atoi(argv[3]) : 60;
  CoInitialize(NULL);
  hr = CoCreateInstance(&CLSID_OrvanMusic, NULL, CLSCTX_INPROC_SERVER, &IID__OrvanMusic2,
                        (void**)&music);
  if (SUCCEEDED(hr))
    hr = _OrvanMusic2_QueryInterface(music, &IID_IConnectionPointContainer, (void**)&container);
  if (SUCCEEDED(hr))
    hr = IConnectionPointContainer_FindConnectionPoint(container, &DIID___OrvanMusic, &point);
  if (SUCCEEDED(hr)) hr = IConnectionPoint_Advise(point, (IUnknown*)&sink.dispatch, &cookie);
  if (FAILED(hr)) {
    fprintf(stderr, "cannot listen to OrvanMusic: 0x%08X: is libTovel.so registered?\n",
            (unsigned)hr);
    CoUninitialize();
    return 1;
  }

  file = ascii_string(argv[1]);
  wav = ascii_string(argv[2]);
  hr = _OrvanMusic2_InitOrvanRender(music, wav, 48000);
  if (SUCCEEDED(hr)) _OrvanMusic2_Music_Load(music, &file);
  if (SUCCEEDED(hr)) hr = _OrvanMusic2_Music_Play(music, &loops);
  /* Render a quarter of a second at a time; the sink is called in the pump, on this thread. */
  for (quarter = 0; SUCCEEDED(hr) && !sink.ended && quarter < seconds * 4; ++quarter) {
    hr = _OrvanMusic2_RenderFor(music, 250);
    OrvanPumpApartment(0, NULL);
  }
  if (FAILED(hr)) fprintf(stderr, "could not render %s: 0x%08X\n", argv[1], (unsigned)hr);

  IConnectionPoint_Unadvise(point, cookie);
  IConnectionPoint_Release(point);
  IConnectionPointContainer_Release(container);
  _OrvanMusic2_CleanupAudio(music);
  _OrvanMusic2_Release(music);
  SysFreeString(file);
  SysFreeString(wav);
  CoUninitialize();
  return SUCCEEDED(hr) && sink.ended ? 0 : 1;
}
