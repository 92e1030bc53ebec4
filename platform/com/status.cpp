#include "platform/com/status.h"

#include <array>
#include <cstdio>
#include <string>

namespace orvan::com {
namespace {

struct StatusEntry {
  HResult code;
  std::string_view name;
  std::string_view text;
};

#define ORVAN_STATUS(code, text) \
  StatusEntry {                  \
    code, #code, text            \
  }

constexpr std::array kStatusTable = {
    ORVAN_STATUS(S_OK, "The operation completed successfully."),
    ORVAN_STATUS(S_FALSE, "The operation completed with a qualification."),
    ORVAN_STATUS(E_NOTIMPL, "Not implemented."),
    ORVAN_STATUS(E_NOINTERFACE, "No such interface supported."),
    ORVAN_STATUS(E_POINTER, "A required object reference is empty."),
    ORVAN_STATUS(E_FAIL, "Unspecified error."),
    ORVAN_STATUS(E_OUTOFMEMORY, "Not enough memory to complete the operation."),
    ORVAN_STATUS(E_INVALIDARG, "The parameter is incorrect."),
    ORVAN_STATUS(CLASS_E_NOAGGREGATION, "Class does not support aggregation."),
    ORVAN_STATUS(CLASS_E_CLASSNOTAVAILABLE, "The class factory cannot supply the requested class."),
    ORVAN_STATUS(REGDB_E_CLASSNOTREG, "Class not registered."),
    ORVAN_STATUS(REGDB_E_READREGDB, "Could not read key from registry."),
    ORVAN_STATUS(REGDB_E_WRITEREGDB, "Could not write key to registry."),
    ORVAN_STATUS(E_UNEXPECTED, "Catastrophic failure."),
    ORVAN_STATUS(RPC_E_CHANGED_MODE, "Cannot change thread mode after it is set."),
    ORVAN_STATUS(RPC_E_WRONG_THREAD,
                 "The application called an interface that was marshalled for a different "
                 "thread."),
    ORVAN_STATUS(CO_E_NOTINITIALIZED, "CoInitialize has not been called."),
    ORVAN_STATUS(CO_E_CLASSSTRING, "Invalid class string."),
    ORVAN_STATUS(CO_E_DLLNOTFOUND, "The registered library of the class could not be found."),
    ORVAN_STATUS(CO_E_ERRORINDLL,
                 "The registered library of the class could not be loaded or lacks the "
                 "component entry points."),
    ORVAN_STATUS(TYPE_E_INVDATAREAD, "Error reading the type library's data."),
    ORVAN_STATUS(TYPE_E_UNSUPFORMAT, "The type library has an unsupported format."),
    ORVAN_STATUS(TYPE_E_LIBNOTREGISTERED, "Library not registered."),
    ORVAN_STATUS(TYPE_E_ELEMENTNOTFOUND, "Element not found."),
    ORVAN_STATUS(TYPE_E_CANTLOADLIBRARY, "Error loading type library."),
    ORVAN_STATUS(SELFREG_E_TYPELIB, "The server could not register its type library."),
    ORVAN_STATUS(SELFREG_E_CLASS, "The server could not register its classes."),
    ORVAN_STATUS(DISP_E_MEMBERNOTFOUND, "Member not found."),
    ORVAN_STATUS(DISP_E_PARAMNOTFOUND, "Parameter not found."),
    ORVAN_STATUS(DISP_E_TYPEMISMATCH, "Type mismatch."),
    ORVAN_STATUS(DISP_E_UNKNOWNNAME, "Unknown name."),
    ORVAN_STATUS(DISP_E_NONAMEDARGS, "Does not support named arguments."),
    ORVAN_STATUS(DISP_E_BADVARTYPE, "Bad variable type."),
    ORVAN_STATUS(DISP_E_EXCEPTION, "Exception occurred."),
    ORVAN_STATUS(DISP_E_OVERFLOW, "Out of present range."),
    ORVAN_STATUS(DISP_E_BADINDEX, "Invalid index."),
    ORVAN_STATUS(DISP_E_BADPARAMCOUNT, "Invalid number of parameters."),
    ORVAN_STATUS(DISP_E_PARAMNOTOPTIONAL, "Parameter not optional."),
    ORVAN_STATUS(E_SUBSCRIPT_OUT_OF_RANGE, "Subscript out of range"),
    ORVAN_STATUS(E_OBJECT_NOT_SET, "Object variable not set"),
    ORVAN_STATUS(DSERR_INVALIDCALL, "This call is not valid in the object's current state."),
    ORVAN_STATUS(DSERR_NODRIVER, "No audio output device is available."),
    ORVAN_STATUS(MUSIC_E_CANNOT_OPEN, "The file could not be opened."),
    ORVAN_STATUS(MUSIC_E_UNSUPPORTED_FORMAT, "The file is not in a supported music format."),
    ORVAN_STATUS(MUSIC_E_CORRUPT, "The file is corrupt."),
    ORVAN_STATUS(MUSIC_E_TRUNCATED, "The file ends before its data is complete."),
    ORVAN_STATUS(MUSIC_E_BAD_CHUNK_SIZE,
                 "A chunk's declared length runs past the end of the file."),
    ORVAN_STATUS(MUSIC_E_NO_TRACKS, "The file holds no tracks."),
    ORVAN_STATUS(MUSIC_E_EMPTY_FILE, "The file is empty."),
    ORVAN_STATUS(MUSIC_E_NO_END_OF_TRACK, "A track has no end-of-track event."),
    ORVAN_STATUS(MUSIC_E_NO_RUNNING_STATUS, "A track has data bytes without a status byte."),
    ORVAN_STATUS(MUSIC_E_IS_DIRECTORY, "The path names a directory, not a file."),
    ORVAN_STATUS(MUSIC_E_FILE_TOO_LARGE, "The file is too large to load."),
    ORVAN_STATUS(MUSIC_E_START_OUT_OF_RANGE, "The start point lies outside the segment."),
    ORVAN_STATUS(MUSIC_E_OBJECT_NOT_FOUND, "The requested object is not in the path."),
    ORVAN_STATUS(MUSIC_E_NO_SOUNDFONT, "No General MIDI SoundFont is installed."),
    ORVAN_STATUS(MUSIC_E_NOT_INITIALIZED, "The performance's audio has not been initialised."),
    ORVAN_STATUS(MUSIC_E_ALREADY_INITIALIZED, "The performance's audio is already initialised."),
    ORVAN_STATUS(MUSIC_E_CLOSED, "The performance has been closed down."),
    ORVAN_STATUS(MUSIC_E_UNKNOWN_EVENT, "No event has this handle."),
    ORVAN_STATUS(MUSIC_E_UNSUPPORTED_PATH_TYPE, "This audio path type is not supported."),
    ORVAN_STATUS(MUSIC_E_SYNTH_FAILED, "The synthesizer could not be created."),
    ORVAN_STATUS(MUSIC_E_DEVICE_FAILED, "The audio output could not be opened."),
    ORVAN_STATUS(MUSIC_E_NOT_DLS, "The file is not a DLS instrument collection."),
    ORVAN_STATUS(MUSIC_E_CORRUPT_COLLECTION, "The DLS instrument collection is corrupt."),
    ORVAN_STATUS(MUSIC_E_NO_COLLECTION, "The segment is not connected to a collection."),
    ORVAN_STATUS(MUSIC_E_EFFECT_LIST_FULL, "The effect list already holds four effects."),
};

#undef ORVAN_STATUS

const StatusEntry* find_status(HResult hr) {
  for (const auto& entry : kStatusTable) {
    if (entry.code == hr) return &entry;
  }
  return nullptr;
}

}  // namespace

std::string_view status_name(HResult hr) {
  const StatusEntry* entry = find_status(hr);
  return entry ? entry->name : std::string_view{};
}

std::string describe_status(HResult hr) {
  if (const StatusEntry* entry = find_status(hr)) return std::string(entry->text);
  char text[64];
  std::snprintf(text, sizeof text, "Error 0x%08X.", static_cast<unsigned>(hr));
  return text;
}

}  // namespace orvan::com
