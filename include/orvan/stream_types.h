/* The records and constants of streams (ISequentialStream, IStream in orvan/interfaces.h),
 * with the platform's published layouts: 64-bit positions and sizes, file times, and the
 * description Stat fills in (STATSTG, 80 bytes). */
#ifndef ORVAN_STREAM_TYPES_H
#define ORVAN_STREAM_TYPES_H

#include "orvan/guid.h"
#include "orvan/types.h"

typedef union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  int64_t QuadPart;
} LARGE_INTEGER;

typedef union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  uint64_t QuadPart;
} ULARGE_INTEGER;

/* 100-nanosecond intervals since 1601-01-01 UTC. */
typedef struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef struct STATSTG {
  LPOLESTR pwcsName; /* this runtime's streams have no name: always NULL */
  DWORD type;        /* STGTY_STREAM for a stream */
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode; /* STGM_ flags it was opened with */
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
} STATSTG;

#ifdef __cplusplus
enum : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };
enum : DWORD { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1 };
enum : DWORD { STGTY_STORAGE = 1, STGTY_STREAM = 2 };
enum : DWORD { STGM_READ = 0x0, STGM_WRITE = 0x1, STGM_READWRITE = 0x2 };
#else
enum { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };
enum { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1 };
enum { STGTY_STORAGE = 1, STGTY_STREAM = 2 };
enum { STGM_READ = 0x0, STGM_WRITE = 0x1, STGM_READWRITE = 0x2 };
#endif

#endif /* ORVAN_STREAM_TYPES_H */
