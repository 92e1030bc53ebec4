/* The component runtime's functions (liborvan_comrt), under their published names and C
 * signatures. Objects belong to the thread that created them (the apartment model): call
 * CoInitialize on a thread before creating objects on it. */
#ifndef ORVAN_RUNTIME_H
#define ORVAN_RUNTIME_H

#include <stdarg.h>

#include "orvan/automation.h"
#include "orvan/guid.h"
#include "orvan/type_info.h"
#include "orvan/types.h"

#ifdef __cplusplus
enum : DWORD {
#else
enum {
#endif
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_ALL = 0x17
};
#ifdef __cplusplus
enum : DWORD { COINIT_MULTITHREADED = 0x0, COINIT_APARTMENTTHREADED = 0x2 };
enum : DWORD {
#else
enum { COINIT_MULTITHREADED = 0x0, COINIT_APARTMENTTHREADED = 0x2 };
enum {
#endif
  FORMAT_MESSAGE_IGNORE_INSERTS = 0x200,
  FORMAT_MESSAGE_FROM_SYSTEM = 0x1000,
  FORMAT_MESSAGE_MAX_WIDTH_MASK = 0xFF
};

/* Signatures of the entry points of an in-process server library. */
typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID, REFIID, void**);
typedef HRESULT (*LPFNCANUNLOADNOW)(void);
typedef HRESULT (*LPFNREGISTERSERVER)(void);

#ifdef __cplusplus
extern "C" {
#endif

/* Apartments. CoInitialize(NULL) is CoInitializeEx(NULL, COINIT_APARTMENTTHREADED). Nested
 * calls on one thread are counted; each successful call needs its CoUninitialize. */
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
void CoUninitialize(void);

/* Class loading from the registry (CLSID\{...}\InprocServer32). */
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* server_info, REFIID riid,
                         void** object);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object);
void CoFreeUnusedLibraries(void);

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
HRESULT CLSIDFromProgID(LPCOLESTR progid, CLSID* clsid);
/* Writes the braced form and its NUL into `text`; returns the characters written (39), or 0
 * when `size` is too small. */
INT StringFromGUID2(REFGUID guid, LPOLESTR text, INT size);

/* Automation strings. */
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
BSTR SysAllocStringByteLen(const char* bytes, UINT length);
INT SysReAllocString(BSTR* bstr, const OLECHAR* text);
void SysFreeString(BSTR bstr);
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

/* Variants. */
void VariantInit(VARIANTARG* value);
HRESULT VariantClear(VARIANTARG* value);
HRESULT VariantCopy(VARIANTARG* destination, const VARIANTARG* source);
/* Flags: VARIANT_NOVALUEPROP (1) and the others are accepted and ignored. Arrays convert
 * to arrays of their own type (a copy); a byte array (VT_ARRAY | VT_UI1, one dimension) and
 * a string convert into each other byte for byte. */
HRESULT VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT flags,
                          VARTYPE type);

/* Automation arrays. SafeArrayCreate takes the bounds in the caller's order of dimensions
 * (1 to 60 of them) and answers NULL for an element type it cannot hold (VT_I1, VT_UI1,
 * VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT, VT_I8, VT_UI8, VT_R4, VT_R8, VT_CY,
 * VT_DATE, VT_BOOL, VT_ERROR, VT_DECIMAL, VT_BSTR, VT_UNKNOWN, VT_DISPATCH, VT_VARIANT), for
 * bad bounds or without memory. Elements start zeroed. An array owns its strings, one
 * reference of each interface and its variants, and frees them with itself.
 * Misuse answers E_INVALIDARG (no array, no out pointer, arrays of different shapes),
 * DISP_E_BADINDEX (a dimension outside 1..cDims), DISP_E_ARRAYISLOCKED (destroying or
 * resizing a locked array), E_UNEXPECTED (unlocking an unlocked array). */
SAFEARRAY* SafeArrayCreate(VARTYPE type, UINT dims, SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE type, LONG lower_bound, ULONG elements);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
UINT SafeArrayGetDim(SAFEARRAY* array);
UINT SafeArrayGetElemsize(SAFEARRAY* array);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* lower_bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* upper_bound);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* type);
/* Lock and hand out the elements; UnaccessData unlocks. */
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
HRESULT SafeArrayLock(SAFEARRAY* array);
HRESULT SafeArrayUnlock(SAFEARRAY* array);
/* A new array of the same type and bounds with copies of the elements (NULL for NULL). */
HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy);
/* Copies the elements into an array of the same shape, freeing what it held. */
HRESULT SafeArrayCopyData(SAFEARRAY* source, SAFEARRAY* destination);
/* Gives the last dimension (rgsabound[0]) new bounds: elements cut off are freed, new ones
 * zeroed. */
HRESULT SafeArrayRedim(SAFEARRAY* array, SAFEARRAYBOUND* last_bound);

/* A stream over a copy of `size` bytes at `data` (its position at 0), readable, writable,
 * growable and clonable (clones share the bytes, each with its own position); NULL without
 * memory or for null data with a size. Release it as any object. */
IStream* OrvanCreateMemoryStream(const void* data, UINT size);

/* Type libraries. */
HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** lib);
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib);
HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR full_path, LPCOLESTR help_dir);
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);

/* Dispatch driven by type information. */
HRESULT DispGetIDsOfNames(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT DispInvoke(void* instance, ITypeInfo* info, DISPID id, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excepinfo, UINT* arg_err);
/* Calls function-table entry `vtable_offset / 8` of `instance` (or the function at
 * `vtable_offset` itself when `instance` is null) with the given arguments. */
HRESULT DispCallFunc(void* instance, ULONG_PTR vtable_offset, CALLCONV cc, VARTYPE return_type,
                     UINT count, VARTYPE* types, VARIANTARG** args, VARIANT* result);

/* The text of a status value: `message_id` is the status, `flags` FORMAT_MESSAGE_FROM_SYSTEM
 * (IGNORE_INSERTS and the width mask are accepted and ignored). Writes the text and its NUL
 * into `buffer` and returns its length; 0 for a status without a text or a short buffer. */
DWORD FormatMessageW(DWORD flags, const void* source, DWORD message_id, DWORD language_id,
                     LPOLESTR buffer, DWORD size, va_list* arguments);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ORVAN_RUNTIME_H */
