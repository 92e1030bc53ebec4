/* Automation values: strings (BSTR: UTF-16 code units preceded by a 32-bit byte length and
 * followed by a NUL), variants (24 bytes, the type at 0 and the value at 8), and the
 * argument and exception records of late-bound calls. */
#ifndef ORVAN_AUTOMATION_H
#define ORVAN_AUTOMATION_H

#include "orvan/types.h"

#ifdef __cplusplus
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;
#define ORVAN_ENUM_OF(name, type) enum name : type
#else
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)
#define ORVAN_ENUM_OF(name, type) enum name
#endif

ORVAN_ENUM_OF(VARENUM, VARTYPE){
    VT_EMPTY = 0,        VT_NULL = 1,
    VT_I2 = 2,           VT_I4 = 3,
    VT_R4 = 4,           VT_R8 = 5,
    VT_CY = 6,           VT_DATE = 7,
    VT_BSTR = 8,         VT_DISPATCH = 9,
    VT_ERROR = 10,       VT_BOOL = 11,
    VT_VARIANT = 12,     VT_UNKNOWN = 13,
    VT_DECIMAL = 14,     VT_I1 = 16,
    VT_UI1 = 17,         VT_UI2 = 18,
    VT_UI4 = 19,         VT_I8 = 20,
    VT_UI8 = 21,         VT_INT = 22,
    VT_UINT = 23,        VT_VOID = 24,
    VT_HRESULT = 25,     VT_PTR = 26,
    VT_SAFEARRAY = 27,   VT_CARRAY = 28,
    VT_USERDEFINED = 29, VT_LPSTR = 30,
    VT_LPWSTR = 31,      VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,   VT_TYPEMASK = 0x0FFF,
};

/* Automation arrays (SAFEARRAY), as the platform lays them out: a descriptor whose bounds
 * follow it, one per dimension, and the elements in a block of their own, the first
 * dimension varying fastest. The bounds are stored last dimension first (rgsabound[0] is
 * the last dimension a creator gave); SafeArrayGetLBound and SafeArrayGetUBound number the
 * dimensions from 1 in the creator's order. Made, changed and freed only by the
 * SafeArray* calls of orvan/runtime.h. */
typedef struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
} SAFEARRAYBOUND;

typedef struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures; /* FADF_* */
  ULONG cbElements; /* bytes per element */
  ULONG cLocks;     /* a locked array is neither freed nor resized */
  void* pvData;
  SAFEARRAYBOUND rgsabound[1]; /* cDims of them */
} SAFEARRAY;

#ifdef __cplusplus
enum : USHORT {
#else
enum {
#endif
  FADF_AUTO = 0x1,       /* on the stack: not freed */
  FADF_STATIC = 0x2,     /* static: not freed */
  FADF_EMBEDDED = 0x4,   /* inside a structure: not freed */
  FADF_FIXEDSIZE = 0x10, /* may not be resized */
  FADF_RECORD = 0x20,
  FADF_HAVEIID = 0x40,
  FADF_HAVEVARTYPE = 0x80, /* the element type is kept with the array */
  FADF_BSTR = 0x100,
  FADF_UNKNOWN = 0x200,
  FADF_DISPATCH = 0x400,
  FADF_VARIANT = 0x800
};

/* A record held by a variant: the data and the description of its type. */
typedef struct BRECORD {
  void* pvRecord;
  void* pRecInfo;
} BRECORD;

typedef struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  ORVAN_ANONYMOUS union {
    int64_t llVal;
    int32_t lVal;
    uint8_t bVal;
    int16_t iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    int8_t cVal;
    uint16_t uiVal;
    uint32_t ulVal;
    uint64_t ullVal;
    INT intVal;
    UINT uintVal;
    uint8_t* pbVal;
    int16_t* piVal;
    int32_t* plVal;
    float* pfltVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    struct VARIANT* pvarVal;
    SAFEARRAY* parray;
    SAFEARRAY** pparray;
    void* byref;
    BRECORD brecord;
  };
} VARIANT;
typedef VARIANT VARIANTARG;

typedef struct DISPPARAMS {
  VARIANTARG* rgvarg; /* arguments in reverse order: the last one first */
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
} DISPPARAMS;

typedef struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(struct EXCEPINFO*);
  SCODE scode;
} EXCEPINFO;

#ifdef __cplusplus
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 8;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
#else
enum { DISPID_UNKNOWN = -1, DISPID_VALUE = 0, DISPID_PROPERTYPUT = -3 };
enum {
  DISPATCH_METHOD = 1,
  DISPATCH_PROPERTYGET = 2,
  DISPATCH_PROPERTYPUT = 4,
  DISPATCH_PROPERTYPUTREF = 8
};
enum { LOCALE_USER_DEFAULT = 0x0400, LOCALE_SYSTEM_DEFAULT = 0x0800 };
#endif

#endif /* ORVAN_AUTOMATION_H */
