/* The scalar types of the component runtime's published layouts on LP64 Linux, for C99 and
 * C++17 and later alike. HRESULT, DISPID and LCID are 32 bits; an automation character is a
 * 16-bit UTF-16 code unit (char16_t in C++, uint16_t in C: the same bytes). */
#ifndef ORVAN_TYPES_H
#define ORVAN_TYPES_H

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#else
#include <stddef.h>
#include <stdint.h>
#endif

typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef int32_t DISPID;
typedef DISPID MEMBERID;
typedef uint32_t LCID;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef int16_t SHORT;
typedef uint32_t UINT;
typedef int32_t INT;
typedef int32_t BOOL;
typedef uint64_t ULONG_PTR;
typedef uint32_t HREFTYPE;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
#ifdef __cplusplus
typedef char16_t OLECHAR;
#else
typedef uint16_t OLECHAR;
#endif
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* BSTR;

/* In C the interfaces are structs of one function-table pointer; their names are declared
 * here once, because C99 allows each typedef only once (orvan/interfaces.h defines them). */
#ifndef __cplusplus
typedef struct IUnknown IUnknown;
typedef struct IClassFactory IClassFactory;
typedef struct IDispatch IDispatch;
typedef struct ITypeInfo ITypeInfo;
typedef struct ITypeLib ITypeLib;
typedef struct ITypeComp ITypeComp;
typedef struct ISequentialStream ISequentialStream;
typedef struct IStream IStream;
typedef struct DirectXEvent8 DirectXEvent8;
typedef struct IConnectionPoint IConnectionPoint;
typedef struct IConnectionPointContainer IConnectionPointContainer;
typedef struct IEnumConnections IEnumConnections;
typedef struct IEnumConnectionPoints IEnumConnectionPoints;
typedef struct IProvideClassInfo IProvideClassInfo;
typedef struct IProvideClassInfo2 IProvideClassInfo2;
#else
struct IUnknown;
struct IDispatch;
struct ITypeInfo;
struct ITypeLib;
struct ITypeComp;
struct IConnectionPoint;
struct IConnectionPointContainer;
struct IStream;
#endif

/* C99 has no unnamed unions in structs; GCC and Clang accept them as an extension, which
 * keeps member names (v.lVal) the same in both languages. */
#ifdef __cplusplus
#define ORVAN_ANONYMOUS
#else
#define ORVAN_ANONYMOUS __extension__
#endif

/* Constants a C client may leave unused without a warning. */
#if defined(__GNUC__) || defined(__clang__)
#define ORVAN_MAYBE_UNUSED __attribute__((unused))
#else
#define ORVAN_MAYBE_UNUSED
#endif

#endif /* ORVAN_TYPES_H */
