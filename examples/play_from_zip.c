/* Plays music packed in a zip archive through the Orvan Music Engine component, from C99:
 * the member is handed over as an IStream this program implements over libzip, as a game
 * does with its own archive format. Register the component first: orvan-regsvr libTovel.so
 *
 *   play_from_zip ARCHIVE.zip MEMBER [SECONDS] */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zip.h>

#include "orvan/tovel.h"

/* A read-only stream over one member of an open archive. */
typedef struct ZipStream {
  IStream stream; /* first: the interface pointer is the object's address */
  ULONG refs;
  zip_file_t* member;
  zip_uint64_t size;
} ZipStream;

static HRESULT zs_query_interface(IStream* This, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualGUID(riid, &IID_IUnknown) || IsEqualGUID(riid, &IID_ISequentialStream) ||
      IsEqualGUID(riid, &IID_IStream)) {
    *object = This;
    This->lpVtbl->AddRef(This);
    return S_OK;
  }
  *object = NULL;
  return E_NOINTERFACE;
}

static ULONG zs_add_ref(IStream* This) {
  return ++((ZipStream*)This)->refs;
}

static ULONG zs_release(IStream* This) {
  ZipStream* self = (ZipStream*)This;
  ULONG left = --self->refs;
  if (left == 0) {
    zip_fclose(self->member);
    free(self);
  }
  return left;
}

static HRESULT zs_read(IStream* This, void* data, ULONG size, ULONG* read) {
  zip_int64_t got = zip_fread(((ZipStream*)This)->member, data, size);
  if (read) *read = got > 0 ? (ULONG)got : 0;
  if (got < 0) return E_FAIL; /* a damaged member: the load fails, nothing else */
  return (ULONG)got < size ? S_FALSE : S_OK;
}

/* A deflated member can only be read forward, which is all the engine does. */
static HRESULT zs_write(IStream* This, const void* data, ULONG size, ULONG* written) {
  (void)This, (void)data, (void)size;
  if (written) *written = 0;
  return STG_E_INVALIDFUNCTION;
}
static HRESULT zs_seek(IStream* This, LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) {
  (void)This, (void)move, (void)origin, (void)at;
  return STG_E_INVALIDFUNCTION;
}
static HRESULT zs_set_size(IStream* This, ULARGE_INTEGER size) {
  (void)This, (void)size;
  return STG_E_INVALIDFUNCTION;
}
static HRESULT zs_copy_to(IStream* This, IStream* to, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                          ULARGE_INTEGER* written) {
  (void)This, (void)to, (void)size, (void)read, (void)written;
  return E_NOTIMPL;
}
static HRESULT zs_commit(IStream* This, DWORD flags) {
  (void)This, (void)flags;
  return S_OK;
}
static HRESULT zs_revert(IStream* This) {
  (void)This;
  return E_NOTIMPL;
}
static HRESULT zs_region(IStream* This, ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) {
  (void)This, (void)offset, (void)size, (void)type;
  return E_NOTIMPL;
}
static HRESULT zs_stat(IStream* This, STATSTG* stat, DWORD flags) {
  (void)flags;
  if (!stat) return E_POINTER;
  memset(stat, 0, sizeof *stat);
  stat->type = STGTY_STREAM;
  stat->cbSize.QuadPart = ((ZipStream*)This)->size;
  return S_OK;
}
static HRESULT zs_clone(IStream* This, IStream** clone) {
  (void)This;
  if (clone) *clone = NULL;
  return E_NOTIMPL;
}

static const IStreamVtbl zip_stream_table = {
    zs_query_interface, zs_add_ref, zs_release, zs_read,   zs_write,  zs_seek, zs_set_size,
    zs_copy_to,         zs_commit,  zs_revert,  zs_region, zs_region, zs_stat, zs_clone};

/* A stream over member `name` of `archive`, holding one reference, or NULL. */
static IStream* open_member_stream(zip_t* archive, const char* name) {
  zip_stat_t info;
  ZipStream* self;
  if (zip_stat(archive, name, 0, &info) != 0 || !(info.valid & ZIP_STAT_SIZE)) return NULL;
  self = calloc(1, sizeof *self);
  if (!self) return NULL;
  self->member = zip_fopen(archive, name, 0);
  if (!self->member) {
    free(self);
    return NULL;
  }
  self->stream.lpVtbl = &zip_stream_table;
  self->refs = 1;
  self->size = info.size;
  return &self->stream;
}

int main(int argc, char** argv) {
  _OrvanMusic2* music = NULL;
  LONG hwnd = 0, rate = 48000, loops = 0, length = 0;
  const struct timespec quarter_second = {0, 250000000L};
  zip_t* archive;
  IStream* stream;
  HRESULT hr;
  int error = 0, seconds, tick, loaded;

  if (argc < 3) {
    fprintf(stderr, "usage: %s ARCHIVE.zip MEMBER [SECONDS]\n", argv[0]);
    return 2;
  }
  seconds = argc > 3 ? atoi(argv[3]) : 5;
  archive = zip_open(argv[1], ZIP_RDONLY, &error);
  if (!archive) {
    fprintf(stderr, "cannot open %s (libzip error %d)\n", argv[1], error);
    return 1;
  }
  stream = open_member_stream(archive, argv[2]);
  if (!stream) {
    fprintf(stderr, "%s has no member %s\n", argv[1], argv[2]);
    zip_discard(archive);
    return 1;
  }

  CoInitialize(NULL);
  hr = CoCreateInstance(&CLSID_OrvanMusic, NULL, CLSCTX_INPROC_SERVER, &IID__OrvanMusic2,
                        (void**)&music);
  if (FAILED(hr)) {
    fprintf(stderr, "cannot create OrvanMusic: 0x%08X: is libTovel.so registered?\n", (unsigned)hr);
    IStream_Release(stream);
    zip_discard(archive);
    CoUninitialize();
    return 1;
  }
  _OrvanMusic2_InitOrvanAudio(music, &hwnd, &rate);
  /* The engine reads the member to its end now and keeps its own copy: the stream and the
   * archive can go at once. A member it cannot load is reported in a message box. */
  hr = _OrvanMusic2_Music_LoadStream(music, (IUnknown*)stream);
  IStream_Release(stream);
  zip_discard(archive);
  if (FAILED(hr)) fprintf(stderr, "Music_LoadStream: 0x%08X\n", (unsigned)hr);
  _OrvanMusic2_Music_Play(music, &loops);

  loaded = SUCCEEDED(_OrvanMusic2_GetLengh(music, &length));
  if (!loaded) fprintf(stderr, "could not play %s\n", argv[2]);
  for (tick = 0; loaded && tick < seconds * 4; ++tick) {
    LONG position = 0;
    VARIANT_BOOL playing = VARIANT_FALSE;
    nanosleep(&quarter_second, NULL);
    _OrvanMusic2_GetCurrentPosition(music, &position);
    _OrvanMusic2_IsPlaying(music, &playing);
    printf("%8ld / %ld %s\n", (long)position, (long)length, playing ? "playing" : "stopped");
  }

  _OrvanMusic2_Music_Stop(music);
  _OrvanMusic2_CleanupAudio(music);
  _OrvanMusic2_Release(music);
  CoUninitialize();
  return loaded ? 0 : 1;
}
