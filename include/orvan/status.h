/* Status values: every status the runtime, the platform and the component return, with its
 * symbolic name and the sentence that explains it, in one table (ORVAN_STATUS_CODES) that
 * this header turns into constants and lookups and the runtime's own status texts use too.
 *
 * A status is a 32-bit signed value; negative means failure. In C++ the names are HRESULT
 * constants and SUCCEEDED/FAILED are functions; in C they are enumeration constants and
 * macros. orvan_status_name and orvan_status_text answer NULL for a value outside the table;
 * orvan_status_describe always has a sentence.
 *
 * Values of the interface facility (0x8004xxxx from 0x80040200) mean what the interface that
 * returned them says: SELFREG_E_TYPELIB and CONNECT_E_NOCONNECTION share a value, as do
 * SELFREG_E_CLASS and CONNECT_E_ADVISELIMIT. The lookups answer the first name in the table.
 */
#ifndef ORVAN_STATUS_H
#define ORVAN_STATUS_H

#include "orvan/types.h"

/* X(name, value, text) for every status, in the order the runtime reports them. */
/* clang-format off */
#define ORVAN_STATUS_CODES(X) \
  X(S_OK, 0x00000000, "The operation completed successfully.") \
  X(S_FALSE, 0x00000001, "The operation completed with a qualification.") \
  X(E_NOTIMPL, 0x80004001, "Not implemented.") \
  X(E_NOINTERFACE, 0x80004002, "No such interface supported.") \
  X(E_POINTER, 0x80004003, "A required object reference is empty.") \
  X(E_FAIL, 0x80004005, "Unspecified error.") \
  X(E_OUTOFMEMORY, 0x8007000E, "Not enough memory to complete the operation.") \
  X(E_INVALIDARG, 0x80070057, "The parameter is incorrect.") \
  X(CLASS_E_NOAGGREGATION, 0x80040110, "Class does not support aggregation.") \
  X(CLASS_E_CLASSNOTAVAILABLE, 0x80040111, "The class factory cannot supply the requested class.") \
  X(REGDB_E_CLASSNOTREG, 0x80040154, "Class not registered.") \
  X(REGDB_E_READREGDB, 0x80040150, "Could not read key from registry.") \
  X(REGDB_E_WRITEREGDB, 0x80040151, "Could not write key to registry.") \
  X(E_UNEXPECTED, 0x8000FFFF, "Catastrophic failure.") \
  X(RPC_E_CHANGED_MODE, 0x80010106, "Cannot change thread mode after it is set.") \
  X(RPC_E_DISCONNECTED, 0x80010108, "The object invoked has disconnected from its clients.") \
  X(RPC_E_WRONG_THREAD, 0x8001010E, "The application called an interface that was marshalled for a different thread.") \
  X(CO_E_NOTINITIALIZED, 0x800401F0, "CoInitialize has not been called.") \
  X(CO_E_CLASSSTRING, 0x800401F3, "Invalid class string.") \
  X(CO_E_DLLNOTFOUND, 0x800401F8, "The registered library of the class could not be found.") \
  X(CO_E_ERRORINDLL, 0x800401F9, "The registered library of the class could not be loaded or lacks the component entry points.") \
  X(TYPE_E_INVDATAREAD, 0x80028018, "Error reading the type library's data.") \
  X(TYPE_E_UNSUPFORMAT, 0x80028019, "The type library has an unsupported format.") \
  X(TYPE_E_LIBNOTREGISTERED, 0x8002801D, "Library not registered.") \
  X(TYPE_E_ELEMENTNOTFOUND, 0x8002802B, "Element not found.") \
  X(TYPE_E_CANTLOADLIBRARY, 0x80029C4A, "Error loading type library.") \
  X(SELFREG_E_TYPELIB, 0x80040200, "The server could not register its type library.") \
  X(SELFREG_E_CLASS, 0x80040201, "The server could not register its classes.") \
  X(CONNECT_E_NOCONNECTION, 0x80040200, "No connection has this cookie.") \
  X(CONNECT_E_ADVISELIMIT, 0x80040201, "The connection point holds as many connections as it allows.") \
  X(CONNECT_E_CANNOTCONNECT, 0x80040202, "The sink does not support the connection point's interface.") \
  X(STG_E_INVALIDFUNCTION, 0x80030001, "Unable to perform requested operation.") \
  X(STG_E_INVALIDPOINTER, 0x80030009, "Invalid pointer error.") \
  X(STG_E_MEDIUMFULL, 0x80030070, "There is insufficient disk space to complete operation.") \
  X(DISP_E_MEMBERNOTFOUND, 0x80020003, "Member not found.") \
  X(DISP_E_PARAMNOTFOUND, 0x80020004, "Parameter not found.") \
  X(DISP_E_TYPEMISMATCH, 0x80020005, "Type mismatch.") \
  X(DISP_E_UNKNOWNNAME, 0x80020006, "Unknown name.") \
  X(DISP_E_NONAMEDARGS, 0x80020007, "Does not support named arguments.") \
  X(DISP_E_BADVARTYPE, 0x80020008, "Bad variable type.") \
  X(DISP_E_EXCEPTION, 0x80020009, "Exception occurred.") \
  X(DISP_E_OVERFLOW, 0x8002000A, "Out of present range.") \
  X(DISP_E_BADINDEX, 0x8002000B, "Invalid index.") \
  X(DISP_E_ARRAYISLOCKED, 0x8002000D, "Memory is locked.") \
  X(DISP_E_BADPARAMCOUNT, 0x8002000E, "Invalid number of parameters.") \
  X(DISP_E_PARAMNOTOPTIONAL, 0x8002000F, "Parameter not optional.") \
  X(E_SUBSCRIPT_OUT_OF_RANGE, 0x800A0009, "Subscript out of range") \
  X(E_OBJECT_NOT_SET, 0x800A005B, "Object variable not set") \
  X(DSERR_INVALIDCALL, 0x88780032, "This call is not valid in the object's current state.") \
  X(DSERR_NODRIVER, 0x88780078, "No audio output device is available.") \
  X(MUSIC_E_CANNOT_OPEN, 0x88781001, "The file could not be opened.") \
  X(MUSIC_E_UNSUPPORTED_FORMAT, 0x88781002, "The file is not in a supported music format.") \
  X(MUSIC_E_CORRUPT, 0x88781003, "The file is corrupt.") \
  X(MUSIC_E_TRUNCATED, 0x88781004, "The file ends before its data is complete.") \
  X(MUSIC_E_BAD_CHUNK_SIZE, 0x88781005, "A chunk's declared length runs past the end of the file.") \
  X(MUSIC_E_NO_TRACKS, 0x88781006, "The file holds no tracks.") \
  X(MUSIC_E_EMPTY_FILE, 0x88781007, "The file is empty.") \
  X(MUSIC_E_NO_END_OF_TRACK, 0x88781008, "A track has no end-of-track event.") \
  X(MUSIC_E_NO_RUNNING_STATUS, 0x88781009, "A track has data bytes without a status byte.") \
  X(MUSIC_E_IS_DIRECTORY, 0x8878100A, "The path names a directory, not a file.") \
  X(MUSIC_E_FILE_TOO_LARGE, 0x8878100B, "The file is too large to load.") \
  X(MUSIC_E_START_OUT_OF_RANGE, 0x88781010, "The start point lies outside the segment.") \
  X(MUSIC_E_OBJECT_NOT_FOUND, 0x88781011, "The requested object is not in the path.") \
  X(MUSIC_E_NO_SOUNDFONT, 0x88781012, "No General MIDI SoundFont is installed.") \
  X(MUSIC_E_NOT_INITIALIZED, 0x88781013, "The performance's audio has not been initialised.") \
  X(MUSIC_E_ALREADY_INITIALIZED, 0x88781014, "The performance's audio is already initialised.") \
  X(MUSIC_E_CLOSED, 0x88781015, "The performance has been closed down.") \
  X(MUSIC_E_UNKNOWN_EVENT, 0x88781016, "No event has this handle.") \
  X(MUSIC_E_UNSUPPORTED_PATH_TYPE, 0x88781017, "This audio path type is not supported.") \
  X(MUSIC_E_SYNTH_FAILED, 0x88781018, "The synthesizer could not be created.") \
  X(MUSIC_E_DEVICE_FAILED, 0x88781019, "The audio output could not be opened.") \
  X(MUSIC_E_SOUNDFONT_CHANGED, 0x8878101A, "The SoundFont file changed and can no longer be read.") \
  X(MUSIC_E_NOT_DLS, 0x88781020, "The file is not a DLS instrument collection.") \
  X(MUSIC_E_CORRUPT_COLLECTION, 0x88781021, "The DLS instrument collection is corrupt.") \
  X(MUSIC_E_NO_COLLECTION, 0x88781022, "The segment is not connected to a collection.") \
  X(MUSIC_E_EFFECT_LIST_FULL, 0x88781030, "The effect list already holds four effects.")
/* clang-format on */

#ifdef __cplusplus
#define ORVAN_STATUS_CONSTANT(name, value, text) \
  inline constexpr HRESULT name = static_cast<HRESULT>(value##u);
ORVAN_STATUS_CODES(ORVAN_STATUS_CONSTANT)
#undef ORVAN_STATUS_CONSTANT

inline constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}
inline constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}
#else
#define ORVAN_STATUS_CONSTANT(name, value, text) name = (HRESULT)value##u,
enum { ORVAN_STATUS_CODES(ORVAN_STATUS_CONSTANT) };
#undef ORVAN_STATUS_CONSTANT

#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)
#endif

#ifdef __cplusplus
#define ORVAN_NO_STATUS_TEXT nullptr
#else
#define ORVAN_NO_STATUS_TEXT NULL
#endif

/* "E_INVALIDARG" for E_INVALIDARG; NULL for a value outside the table. */
static inline const char* orvan_status_name(HRESULT hr) {
#define ORVAN_STATUS_CASE(name, value, text) \
  if (hr == name) return #name;
  ORVAN_STATUS_CODES(ORVAN_STATUS_CASE)
#undef ORVAN_STATUS_CASE
  return ORVAN_NO_STATUS_TEXT;
}

/* "The parameter is incorrect." for E_INVALIDARG; NULL for a value outside the table. */
static inline const char* orvan_status_text(HRESULT hr) {
#define ORVAN_STATUS_CASE(name, value, text) \
  if (hr == name) return text;
  ORVAN_STATUS_CODES(ORVAN_STATUS_CASE)
#undef ORVAN_STATUS_CASE
  return ORVAN_NO_STATUS_TEXT;
}

/* Room for what orvan_status_describe writes for a value outside the table,
 * "Error 0x8878ABCD." with its terminating NUL. */
#define ORVAN_STATUS_FALLBACK_SIZE 18

#ifdef __cplusplus
#define ORVAN_STATUS_BITS(hr) static_cast<unsigned int>(hr)
#else
#define ORVAN_STATUS_BITS(hr) ((unsigned int)(hr))
#endif

/* The sentence a person reads for `hr`: orvan_status_text's, or for a value outside the
 * table "Error 0x8878ABCD." (the value in hexadecimal), written into `fallback`, which must
 * hold ORVAN_STATUS_FALLBACK_SIZE characters. Never NULL. */
static inline const char* orvan_status_describe(HRESULT hr,
                                                char fallback[ORVAN_STATUS_FALLBACK_SIZE]) {
  static const char kPrefix[] = "Error 0x";
  static const char kDigits[] = "0123456789ABCDEF";
  const char* text = orvan_status_text(hr);
  const unsigned int bits = ORVAN_STATUS_BITS(hr);
  int i;
  if (text) return text;
  for (i = 0; i < 8; ++i) fallback[i] = kPrefix[i];
  for (i = 0; i < 8; ++i) fallback[8 + i] = kDigits[(bits >> (28 - 4 * i)) & 0xFu];
  fallback[16] = '.';
  fallback[17] = '\0';
  return fallback;
}

#undef ORVAN_STATUS_BITS

#endif /* ORVAN_STATUS_H */
