/* Identities: the 16-byte GUID and its names for interfaces (IID) and classes (CLSID). In
 * C++ the REF* names are const references; in C they are const pointers, which is how a
 * reference is passed, so the functions take the same bytes either way. */
#ifndef ORVAN_GUID_H
#define ORVAN_GUID_H

#include "orvan/types.h"

typedef struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;

#ifdef __cplusplus
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool operator==(REFGUID a, REFGUID b) {
  return IsEqualGUID(a, b);
}

#define ORVAN_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};
#else
typedef const GUID* REFGUID;
typedef const IID* REFIID;
typedef const CLSID* REFCLSID;

static inline int IsEqualGUID(REFGUID a, REFGUID b) {
  int i;
  if (a->Data1 != b->Data1 || a->Data2 != b->Data2 || a->Data3 != b->Data3) return 0;
  for (i = 0; i < 8; ++i)
    if (a->Data4[i] != b->Data4[i]) return 0;
  return 1;
}

#define ORVAN_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  static const GUID name ORVAN_MAYBE_UNUSED = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};
#endif

#endif /* ORVAN_GUID_H */
