#include "tests/component/c_layout_probe.h"

#include "orvan/orvan.h"
#include "tests/component/member_names.h"

#define ORVAN_C_OFFSET(name) {#name, offsetof(_OrvanMusicVtbl, name)},
const OrvanCLayoutEntry orvan_c_music_table[] = {ORVAN_MUSIC_METHODS(ORVAN_C_OFFSET)};
#undef ORVAN_C_OFFSET
const size_t orvan_c_music_table_size = sizeof orvan_c_music_table / sizeof *orvan_c_music_table;

#define ORVAN_C_OFFSET2(name) {#name, offsetof(_OrvanMusic2Vtbl, name)},
const OrvanCLayoutEntry orvan_c_music2_table[] = {ORVAN_MUSIC_METHODS(ORVAN_C_OFFSET2)
                                                      ORVAN_MUSIC2_METHODS(ORVAN_C_OFFSET2)};
#undef ORVAN_C_OFFSET2
const size_t orvan_c_music2_table_size = sizeof orvan_c_music2_table / sizeof *orvan_c_music2_table;

#define ORVAN_C_SIZE(type) {"sizeof " #type, sizeof(type)},
#define ORVAN_C_AT(type, member) {#type "." #member, offsetof(type, member)},
/* clang-format off */
const OrvanCLayoutEntry orvan_c_records[] = {
    ORVAN_C_SIZE(GUID) ORVAN_C_SIZE(VARIANT) ORVAN_C_SIZE(DISPPARAMS) ORVAN_C_SIZE(EXCEPINFO)
    ORVAN_C_SIZE(TYPEDESC) ORVAN_C_SIZE(ELEMDESC) ORVAN_C_SIZE(TYPEATTR) ORVAN_C_SIZE(FUNCDESC)
    ORVAN_C_SIZE(VARDESC) ORVAN_C_SIZE(TLIBATTR) ORVAN_C_SIZE(PARAMDESCEX)
    ORVAN_C_SIZE(CONST_OSFX_PHASE) ORVAN_C_SIZE(OLECHAR) ORVAN_C_SIZE(_OrvanMusicVtbl)
    ORVAN_C_AT(VARIANT, lVal) ORVAN_C_AT(VARIANT, brecord) ORVAN_C_AT(EXCEPINFO, scode)
    ORVAN_C_AT(ELEMDESC, paramdesc) ORVAN_C_AT(TYPEATTR, typekind) ORVAN_C_AT(TYPEATTR, wTypeFlags)
    ORVAN_C_AT(TYPEATTR, tdescAlias) ORVAN_C_AT(FUNCDESC, oVft) ORVAN_C_AT(FUNCDESC, elemdescFunc)
    ORVAN_C_AT(VARDESC, lpvarValue) ORVAN_C_AT(TLIBATTR, wLibFlags)
    ORVAN_C_AT(IDispatchVtbl, Invoke) ORVAN_C_AT(ITypeInfoVtbl, ReleaseVarDesc)
    ORVAN_C_AT(ITypeLibVtbl, ReleaseTLibAttr) ORVAN_C_AT(IClassFactoryVtbl, LockServer)
    ORVAN_C_AT(DirectXEvent8Vtbl, DXCallback) ORVAN_C_AT(_OrvanMusicVtbl, Reserved7)
    ORVAN_C_SIZE(SAFEARRAY) ORVAN_C_AT(SAFEARRAY, pvData) ORVAN_C_AT(SAFEARRAY, rgsabound)
    ORVAN_C_AT(VARIANT, parray) ORVAN_C_SIZE(STATSTG) ORVAN_C_AT(STATSTG, cbSize)
    ORVAN_C_AT(STATSTG, clsid) ORVAN_C_AT(IStreamVtbl, Read) ORVAN_C_AT(IStreamVtbl, Clone)
};
/* clang-format on */
const size_t orvan_c_records_size = sizeof orvan_c_records / sizeof *orvan_c_records;

const char* orvan_c_describe_status(int32_t hr, char* fallback) {
  return orvan_status_describe(hr, fallback);
}
