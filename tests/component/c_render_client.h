/* A C client of _OrvanMusic2, compiled as C99 in tests/component/c_render_client.c: it renders
 * through the C call macros only. */
#ifndef ORVAN_TESTS_COMPONENT_C_RENDER_CLIENT_H
#define ORVAN_TESTS_COMPONENT_C_RENDER_CLIENT_H

#include "orvan/tovel.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Creates an OrvanMusic object for _OrvanMusic2, gives it `soundfont`, opens it on a render
 * into `wav` at 22050 Hz, plays `midi`, renders `milliseconds`, fades by 20 dB over 10 ms,
 * renders `milliseconds` more and closes the file. The first failing status, or S_OK. */
HRESULT orvan_c_render(BSTR wav, BSTR soundfont, BSTR midi, LONG milliseconds);

#ifdef __cplusplus
}
#endif

#endif
