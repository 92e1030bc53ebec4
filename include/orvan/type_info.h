/* Type information: the records ITypeInfo and ITypeLib hand out (orvan/interfaces.h), which
 * describe a component's types, members and parameters. */
#ifndef ORVAN_TYPE_INFO_H
#define ORVAN_TYPE_INFO_H

#include "orvan/automation.h"
#include "orvan/guid.h"
#include "orvan/types.h"

ORVAN_ENUM_OF(TYPEKIND, int32_t){
    TKIND_ENUM = 0,     TKIND_RECORD = 1,  TKIND_MODULE = 2, TKIND_INTERFACE = 3,
    TKIND_DISPATCH = 4, TKIND_COCLASS = 5, TKIND_ALIAS = 6,  TKIND_UNION = 7,
};
ORVAN_ENUM_OF(SYSKIND, int32_t){SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3};
ORVAN_ENUM_OF(FUNCKIND, int32_t){
    FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL = 1, FUNC_NONVIRTUAL = 2, FUNC_STATIC = 3, FUNC_DISPATCH = 4,
};
ORVAN_ENUM_OF(INVOKEKIND, int32_t){
    INVOKE_FUNC = 1,
    INVOKE_PROPERTYGET = 2,
    INVOKE_PROPERTYPUT = 4,
    INVOKE_PROPERTYPUTREF = 8,
};
ORVAN_ENUM_OF(CALLCONV, int32_t){
    CC_FASTCALL = 0, CC_CDECL = 1, CC_PASCAL = 2, CC_MACPASCAL = 3, CC_STDCALL = 4, CC_SYSCALL = 6,
};
ORVAN_ENUM_OF(VARKIND, int32_t){VAR_PERINSTANCE = 0, VAR_STATIC = 1, VAR_CONST = 2,
                                VAR_DISPATCH = 3};
#ifndef __cplusplus
typedef enum TYPEKIND TYPEKIND;
typedef enum SYSKIND SYSKIND;
typedef enum FUNCKIND FUNCKIND;
typedef enum INVOKEKIND INVOKEKIND;
typedef enum CALLCONV CALLCONV;
typedef enum VARKIND VARKIND;
#endif

#ifdef __cplusplus
#define ORVAN_FLAGS_OF(type) enum : type
#else
#define ORVAN_FLAGS_OF(type) enum
#endif
ORVAN_FLAGS_OF(USHORT){
    PARAMFLAG_NONE = 0,           PARAMFLAG_FIN = 0x01,          PARAMFLAG_FOUT = 0x02,
    PARAMFLAG_FLCID = 0x04,       PARAMFLAG_FRETVAL = 0x08,      PARAMFLAG_FOPT = 0x10,
    PARAMFLAG_FHASDEFAULT = 0x20, PARAMFLAG_FHASCUSTDATA = 0x40,
};
ORVAN_FLAGS_OF(WORD){
    TYPEFLAG_FAPPOBJECT = 0x01,      TYPEFLAG_FCANCREATE = 0x02,
    TYPEFLAG_FLICENSED = 0x04,       TYPEFLAG_FPREDECLID = 0x08,
    TYPEFLAG_FHIDDEN = 0x10,         TYPEFLAG_FCONTROL = 0x20,
    TYPEFLAG_FDUAL = 0x40,           TYPEFLAG_FNONEXTENSIBLE = 0x80,
    TYPEFLAG_FOLEAUTOMATION = 0x100, TYPEFLAG_FRESTRICTED = 0x200,
    TYPEFLAG_FAGGREGATABLE = 0x400,  TYPEFLAG_FREPLACEABLE = 0x800,
    TYPEFLAG_FDISPATCHABLE = 0x1000,
};
ORVAN_FLAGS_OF(INT){
    IMPLTYPEFLAG_FDEFAULT = 0x1,
    IMPLTYPEFLAG_FSOURCE = 0x2,
    IMPLTYPEFLAG_FRESTRICTED = 0x4,
    IMPLTYPEFLAG_FDEFAULTVTABLE = 0x8,
};
ORVAN_FLAGS_OF(WORD){
    LIBFLAG_FRESTRICTED = 0x1,
    LIBFLAG_FCONTROL = 0x2,
    LIBFLAG_FHIDDEN = 0x4,
    LIBFLAG_FHASDISKIMAGE = 0x8,
};
#undef ORVAN_FLAGS_OF

struct ARRAYDESC;
typedef struct TYPEDESC {
  ORVAN_ANONYMOUS union {
    struct TYPEDESC* lptdesc;  /* VT_PTR, VT_SAFEARRAY: the pointed-to type */
    struct ARRAYDESC* lpadesc; /* VT_CARRAY */
    HREFTYPE hreftype;         /* VT_USERDEFINED: resolve with ITypeInfo::GetRefTypeInfo */
  };
  VARTYPE vt;
} TYPEDESC;
typedef struct IDLDESC {
  ULONG_PTR dwReserved;
  USHORT wIDLFlags;
} IDLDESC;
typedef struct PARAMDESCEX {
  ULONG cBytes;
  VARIANTARG varDefaultValue;
} PARAMDESCEX;
typedef struct PARAMDESC {
  PARAMDESCEX* pparamdescex; /* set when wParamFlags has PARAMFLAG_FHASDEFAULT */
  USHORT wParamFlags;
} PARAMDESC;
typedef struct ELEMDESC {
  TYPEDESC tdesc;
  ORVAN_ANONYMOUS union {
    IDLDESC idldesc;
    PARAMDESC paramdesc;
  };
} ELEMDESC;
typedef struct TYPEATTR {
  GUID guid;
  LCID lcid;
  DWORD dwReserved;
  MEMBERID memidConstructor;
  MEMBERID memidDestructor;
  LPOLESTR lpstrSchema;
  ULONG cbSizeInstance;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD cVars;
  WORD cImplTypes;
  WORD cbSizeVft;
  WORD cbAlignment;
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  TYPEDESC tdescAlias;
  IDLDESC idldescType;
} TYPEATTR;
typedef struct FUNCDESC {
  MEMBERID memid;
  SCODE* lprgscode;
  ELEMDESC* lprgelemdescParam;
  FUNCKIND funckind;
  INVOKEKIND invkind;
  CALLCONV callconv;
  SHORT cParams;
  SHORT cParamsOpt;
  SHORT oVft; /* byte offset of the function-table entry */
  SHORT cScodes;
  ELEMDESC elemdescFunc;
  WORD wFuncFlags;
} FUNCDESC;
typedef struct VARDESC {
  MEMBERID memid;
  LPOLESTR lpstrSchema;
  ORVAN_ANONYMOUS union {
    ULONG oInst;
    VARIANT* lpvarValue; /* VAR_CONST */
  };
  ELEMDESC elemdescVar;
  WORD wVarFlags;
  VARKIND varkind;
} VARDESC;
typedef struct TLIBATTR {
  GUID guid;
  LCID lcid;
  SYSKIND syskind;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  WORD wLibFlags;
} TLIBATTR;

#endif /* ORVAN_TYPE_INFO_H */
