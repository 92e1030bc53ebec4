// Status codes shared by every layer: one table, one message text per code.
//
// A status is a 32-bit signed value; negative means failure. Every platform and engine
// operation returns one, and results travel through out-parameters, never mixed into it.
#pragma once

#include <cstdint>
#include <string_view>

namespace orvan::com {

using HResult = std::int32_t;

constexpr HResult make_status(std::uint32_t bits) {
  return static_cast<HResult>(bits);
}

inline constexpr HResult S_OK = 0;
inline constexpr HResult S_FALSE = 1;

inline constexpr HResult E_NOTIMPL = make_status(0x80004001);
inline constexpr HResult E_NOINTERFACE = make_status(0x80004002);
inline constexpr HResult E_POINTER = make_status(0x80004003);
inline constexpr HResult E_FAIL = make_status(0x80004005);
inline constexpr HResult E_OUTOFMEMORY = make_status(0x8007000E);
inline constexpr HResult E_INVALIDARG = make_status(0x80070057);

inline constexpr HResult CLASS_E_NOAGGREGATION = make_status(0x80040110);
inline constexpr HResult CLASS_E_CLASSNOTAVAILABLE = make_status(0x80040111);
inline constexpr HResult REGDB_E_CLASSNOTREG = make_status(0x80040154);
inline constexpr HResult REGDB_E_READREGDB = make_status(0x80040150);
inline constexpr HResult REGDB_E_WRITEREGDB = make_status(0x80040151);

// Component runtime: apartments and class loading.
inline constexpr HResult E_UNEXPECTED = make_status(0x8000FFFF);
inline constexpr HResult RPC_E_CHANGED_MODE = make_status(0x80010106);
inline constexpr HResult RPC_E_WRONG_THREAD = make_status(0x8001010E);
inline constexpr HResult CO_E_NOTINITIALIZED = make_status(0x800401F0);
inline constexpr HResult CO_E_CLASSSTRING = make_status(0x800401F3);
inline constexpr HResult CO_E_DLLNOTFOUND = make_status(0x800401F8);
inline constexpr HResult CO_E_ERRORINDLL = make_status(0x800401F9);

// Type libraries and self-registration.
inline constexpr HResult TYPE_E_INVDATAREAD = make_status(0x80028018);
inline constexpr HResult TYPE_E_UNSUPFORMAT = make_status(0x80028019);
inline constexpr HResult TYPE_E_LIBNOTREGISTERED = make_status(0x8002801D);
inline constexpr HResult TYPE_E_ELEMENTNOTFOUND = make_status(0x8002802B);
inline constexpr HResult TYPE_E_CANTLOADLIBRARY = make_status(0x80029C4A);
inline constexpr HResult SELFREG_E_TYPELIB = make_status(0x80040200);
inline constexpr HResult SELFREG_E_CLASS = make_status(0x80040201);

inline constexpr HResult DISP_E_MEMBERNOTFOUND = make_status(0x80020003);
inline constexpr HResult DISP_E_PARAMNOTFOUND = make_status(0x80020004);
inline constexpr HResult DISP_E_TYPEMISMATCH = make_status(0x80020005);
inline constexpr HResult DISP_E_UNKNOWNNAME = make_status(0x80020006);
inline constexpr HResult DISP_E_NONAMEDARGS = make_status(0x80020007);
inline constexpr HResult DISP_E_BADVARTYPE = make_status(0x80020008);
inline constexpr HResult DISP_E_EXCEPTION = make_status(0x80020009);
inline constexpr HResult DISP_E_OVERFLOW = make_status(0x8002000A);
inline constexpr HResult DISP_E_BADINDEX = make_status(0x8002000B);
inline constexpr HResult DISP_E_BADPARAMCOUNT = make_status(0x8002000E);
inline constexpr HResult DISP_E_PARAMNOTOPTIONAL = make_status(0x8002000F);

// Automation runtime errors: an index outside an array; a call through an empty member.
inline constexpr HResult E_SUBSCRIPT_OUT_OF_RANGE = make_status(0x800A0009);
inline constexpr HResult E_OBJECT_NOT_SET = make_status(0x800A005B);

// Sound buffer errors.
inline constexpr HResult DSERR_INVALIDCALL = make_status(0x88780032);
inline constexpr HResult DSERR_NODRIVER = make_status(0x88780078);

// Music platform failures. Each names one cause, so a caller can tell them apart.
inline constexpr HResult MUSIC_E_CANNOT_OPEN = make_status(0x88781001);
inline constexpr HResult MUSIC_E_UNSUPPORTED_FORMAT = make_status(0x88781002);
inline constexpr HResult MUSIC_E_CORRUPT = make_status(0x88781003);
inline constexpr HResult MUSIC_E_TRUNCATED = make_status(0x88781004);
inline constexpr HResult MUSIC_E_BAD_CHUNK_SIZE = make_status(0x88781005);
inline constexpr HResult MUSIC_E_NO_TRACKS = make_status(0x88781006);
inline constexpr HResult MUSIC_E_EMPTY_FILE = make_status(0x88781007);
inline constexpr HResult MUSIC_E_NO_END_OF_TRACK = make_status(0x88781008);
inline constexpr HResult MUSIC_E_NO_RUNNING_STATUS = make_status(0x88781009);
inline constexpr HResult MUSIC_E_IS_DIRECTORY = make_status(0x8878100A);
inline constexpr HResult MUSIC_E_FILE_TOO_LARGE = make_status(0x8878100B);
inline constexpr HResult MUSIC_E_START_OUT_OF_RANGE = make_status(0x88781010);
inline constexpr HResult MUSIC_E_OBJECT_NOT_FOUND = make_status(0x88781011);
inline constexpr HResult MUSIC_E_NO_SOUNDFONT = make_status(0x88781012);
inline constexpr HResult MUSIC_E_NOT_INITIALIZED = make_status(0x88781013);
inline constexpr HResult MUSIC_E_ALREADY_INITIALIZED = make_status(0x88781014);
inline constexpr HResult MUSIC_E_CLOSED = make_status(0x88781015);
inline constexpr HResult MUSIC_E_UNKNOWN_EVENT = make_status(0x88781016);
inline constexpr HResult MUSIC_E_UNSUPPORTED_PATH_TYPE = make_status(0x88781017);
inline constexpr HResult MUSIC_E_SYNTH_FAILED = make_status(0x88781018);
inline constexpr HResult MUSIC_E_DEVICE_FAILED = make_status(0x88781019);
inline constexpr HResult MUSIC_E_NOT_DLS = make_status(0x88781020);
inline constexpr HResult MUSIC_E_CORRUPT_COLLECTION = make_status(0x88781021);
inline constexpr HResult MUSIC_E_NO_COLLECTION = make_status(0x88781022);
inline constexpr HResult MUSIC_E_EFFECT_LIST_FULL = make_status(0x88781030);

constexpr bool failed(HResult hr) {
  return hr < 0;
}
constexpr bool succeeded(HResult hr) {
  return hr >= 0;
}

// The code's symbolic name ("E_INVALIDARG"), or "" for a code outside the table.
std::string_view status_name(HResult hr);

// A sentence a person can read ("The parameter is incorrect."). Codes outside the
// table get a generic text that names the value in hexadecimal.
std::string describe_status(HResult hr);

}  // namespace orvan::com
