// The binary type-library format, version 1.1 (1.0 with dispinterfaces, TKIND_DISPATCH
// types whose functions are FUNC_DISPATCH, and automation arrays, VT_SAFEARRAY; a 1.0
// library reads unchanged, and a library with neither is written as 1.0).
//
// One contiguous blob, little-endian, every field at a fixed offset and every reference an
// offset or index relative to the blob. The reader (typelib_reader.h) checks the whole blob
// once when it is loaded: magic and format version, every table inside the blob, every
// string inside the string table and valid UTF-8, every index inside its table, every
// pointer chain ending, every count consistent. After that pass it reads fields in place
// without checking again. Fields are read with memcpy, so the blob needs no alignment.
//
// Layout:
//   Header                      at 0
//   tables, each an array of fixed-size records, at the offsets the header gives
//   string table                strings referenced by their offset into the table
//
// A string is a u32 byte length followed by that many bytes of UTF-8 (no terminator);
// kNoString stands for "no string". A type is described by an index into the TypeDesc
// table. A reference to a user-defined type (HREFTYPE) is either a type of this library
// (bit 31 clear: the index into the Type table) or an external type (bit 31 set: the index
// into the ExternalRef table, which names an imported library and the type's GUID).
//
// A reader refuses a blob whose major format version differs from its own. A later minor
// version may only grow the header (header_size), add tables after the ones below and add
// kinds of records to a table; the records keep their sizes. Version 1.1 adds the array
// type description (VT_SAFEARRAY, see TypeDescRecord); a writer marks a blob 1.1 only when
// it holds one, so a library without arrays stays readable by 1.0 readers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvan::typelib::format {

inline constexpr char kMagic[4] = {'O', 'T', 'L', 'B'};
inline constexpr std::uint16_t kFormatMajor = 1;
inline constexpr std::uint16_t kFormatMinor = 1;
inline constexpr std::uint16_t kFormatMinorArrays = 1;  // the first minor with VT_SAFEARRAY

inline constexpr std::uint32_t kNoString = 0xFFFFFFFFu;
inline constexpr std::uint32_t kNoValue = 0xFFFFFFFFu;
inline constexpr std::uint32_t kExternalRefBit = 0x80000000u;

// Function flags stored with a function (the platform's FUNCFLAG_ values).
inline constexpr std::uint16_t kFuncFlagRestricted = 0x1;
inline constexpr std::uint16_t kFuncFlagHidden = 0x40;

// Bounds that keep a hostile blob from asking for absurd work.
inline constexpr std::uint32_t kMaxBlobSize = 64u << 20;
inline constexpr std::uint32_t kMaxParams = 64;    // per function
inline constexpr std::uint32_t kMaxTypeDepth = 8;  // pointer levels

// A table's place in the blob: offset of its first record and the record count.
struct Table {
  std::uint32_t offset;
  std::uint32_t count;
};

// Offsets are in bytes from the start of the blob.
struct Header {                // 160 bytes
  char magic[4];               // 0   "OTLB"
  std::uint16_t format_major;  // 4
  std::uint16_t format_minor;  // 6
  std::uint32_t total_size;    // 8   the blob's size in bytes
  std::uint32_t header_size;   // 12  sizeof(Header) for this version
  std::uint8_t libid[16];      // 16  GUID in its in-memory layout
  std::uint16_t major;         // 32  library version
  std::uint16_t minor;         // 34
  std::uint32_t lcid;          // 36
  std::uint32_t syskind;       // 40
  std::uint16_t lib_flags;     // 44
  std::uint16_t reserved;      // 46
  std::uint32_t name;          // 48  string
  std::uint32_t doc;           // 52  string
  std::uint32_t help_file;     // 56  string
  std::uint32_t help_context;  // 60
  Table strings;               // 64  offset, size in bytes
  Table imports;               // 72  ImportRecord
  Table external_refs;         // 80  ExternalRefRecord
  Table types;                 // 88  TypeRecord
  Table functions;             // 96  FuncRecord, each type's functions contiguous
  Table params;                // 104 ParamRecord, each function's contiguous
  Table vars;                  // 112 VarRecord, each enum's contiguous
  Table impls;                 // 120 ImplRecord, each type's contiguous
  Table typedescs;             // 128 TypeDescRecord
  Table values;                // 136 ValueRecord
  std::uint32_t reserved2[4];  // 144 zero
};
struct ImportRecord {      // 24 bytes: a library this one refers to
  std::uint8_t libid[16];  // 0
  std::uint16_t major;     // 16
  std::uint16_t minor;     // 18
  std::uint32_t name;      // 20 string
};

struct ExternalRefRecord {  // 24 bytes: a type of an imported library
  std::uint32_t import;     // 0  index into the import table
  std::uint32_t name;       // 4  string: the type's name, for tools
  std::uint8_t guid[16];    // 8
};

struct TypeRecord {              // 64 bytes
  std::uint32_t kind;            // 0  TYPEKIND: TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS
                                 //    or TKIND_ENUM
  std::uint16_t type_flags;      // 4  TYPEFLAG_ values
  std::uint16_t vft_entries;     // 6  interfaces: function-table entries, base's included
  std::uint8_t guid[16];         // 8
  std::uint32_t name;            // 24 string
  std::uint32_t doc;             // 28 string
  std::uint32_t help_context;    // 32
  std::uint16_t major;           // 36
  std::uint16_t minor;           // 38
  std::uint32_t first_function;  // 40
  std::uint32_t function_count;  // 44
  std::uint32_t first_var;       // 48
  std::uint32_t var_count;       // 52
  std::uint32_t first_impl;      // 56 base interface (interfaces) or implemented ones (coclasses)
  std::uint32_t impl_count;      // 60
};

struct FuncRecord {            // 40 bytes
  std::int32_t memid;          // 0  DISPID
  std::uint32_t name;          // 4  string
  std::uint32_t doc;           // 8  string
  std::uint32_t help_context;  // 12
  std::uint16_t entry;         // 16 function-table index; 0 for FUNC_DISPATCH
  std::uint16_t invoke_kind;   // 18 INVOKEKIND
  std::uint16_t func_flags;    // 20
  std::uint16_t param_count;   // 22
  std::uint32_t first_param;   // 24
  std::uint32_t result;        // 28 typedesc index
  std::uint16_t callconv;      // 32 CALLCONV
  std::uint16_t funckind;      // 34 FUNCKIND
  std::uint32_t reserved;      // 36
};

struct ParamRecord {            // 16 bytes
  std::uint32_t name;           // 0  string
  std::uint32_t type;           // 4  typedesc index
  std::uint16_t flags;          // 8  PARAMFLAG_ values, FHASDEFAULT exactly when default set
  std::uint16_t reserved;       // 10
  std::uint32_t default_value;  // 12 value index or kNoValue
};

struct VarRecord {             // 24 bytes: an enum member
  std::int32_t memid;          // 0
  std::uint32_t name;          // 4  string
  std::uint32_t doc;           // 8  string: the member's help string
  std::uint32_t help_context;  // 12
  std::uint32_t type;          // 16 typedesc index
  std::uint32_t value;         // 20 value index
};

struct ImplRecord {    // 8 bytes
  std::uint32_t href;  // 0 HREFTYPE, see above
  std::int32_t flags;  // 4 IMPLTYPEFLAG_ values
};

struct TypeDescRecord {  // 8 bytes
  std::uint16_t vt;      // 0 VARTYPE
  std::uint16_t reserved;
  std::uint32_t inner;  // 4 VT_PTR: typedesc index of the pointee, lower than this one's;
                        //   VT_SAFEARRAY (1.1): typedesc index of the element type, a
                        //   scalar one (is_array_element_type), lower than this one's;
                        //   VT_USERDEFINED: HREFTYPE; otherwise 0
};

struct ValueRecord {       // 16 bytes
  std::uint16_t vt;        // 0 VT_I2, VT_I4, VT_R4, VT_R8, VT_BOOL or VT_BSTR
  std::uint16_t reserved;  // 2
  std::uint32_t text;      // 4 VT_BSTR: string
  std::uint8_t bits[8];    // 8 VT_I2/I4/BOOL: int64; VT_R4/R8: double
};

static_assert(sizeof(Header) == 160);
static_assert(sizeof(ImportRecord) == 24);
static_assert(sizeof(ExternalRefRecord) == 24);
static_assert(sizeof(TypeRecord) == 64);
static_assert(sizeof(FuncRecord) == 40);
static_assert(sizeof(ParamRecord) == 16);
static_assert(sizeof(VarRecord) == 24);
static_assert(sizeof(ImplRecord) == 8);
static_assert(sizeof(TypeDescRecord) == 8);
static_assert(sizeof(ValueRecord) == 16);

// The types a type description may name directly, without a pointer or a reference to
// another type: what the writer accepts and the reader lets through.
constexpr bool is_scalar_type(std::uint16_t vt) {
  switch (vt) {
    case 2:   // VT_I2
    case 3:   // VT_I4
    case 4:   // VT_R4
    case 5:   // VT_R8
    case 8:   // VT_BSTR
    case 9:   // VT_DISPATCH
    case 10:  // VT_ERROR
    case 11:  // VT_BOOL
    case 12:  // VT_VARIANT
    case 13:  // VT_UNKNOWN
    case 16:  // VT_I1
    case 17:  // VT_UI1
    case 18:  // VT_UI2
    case 19:  // VT_UI4
    case 20:  // VT_I8
    case 21:  // VT_UI8
    case 22:  // VT_INT
    case 23:  // VT_UINT
    case 24:  // VT_VOID
    case 25:  // VT_HRESULT
      return true;
    default:
      return false;
  }
}

// The element types an automation array in a type library may have.
constexpr bool is_array_element_type(std::uint16_t vt) {
  return is_scalar_type(vt) && vt != 24 && vt != 25;  // not VT_VOID, VT_HRESULT
}

}  // namespace orvan::typelib::format
