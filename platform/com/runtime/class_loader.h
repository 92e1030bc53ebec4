// In-process servers: finding a class's library in the registry, loading it once per
// process, and unloading it when it says it may go.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "orvan/component_runtime.h"

namespace orvan::com::runtime {

// The class object of `clsid` from its registered in-process server, asked for `riid`.
// REGDB_E_CLASSNOTREG when the class has no InprocServer32 path; the registry's failure
// (REGDB_E_READREGDB) when the store cannot be read or is not trusted; CO_E_DLLNOTFOUND when
// the path is not an absolute path of an existing regular file; CO_E_ERRORINDLL when the
// file is not a whole ELF library (a segment past its end), cannot be loaded or lacks
// DllGetClassObject or DllCanUnloadNow, or when the file loaded is not the file checked;
// otherwise the server's answer.
HRESULT get_inproc_class_object(REFCLSID clsid, REFIID riid, void** object);

// The path a library loaded here was registered under, for a server that tells the
// registry its own file by the name the loader knows it by ("/proc/self/fd/N", possibly
// followed by a resource suffix such as "\\1"); any other name is returned as it is.
std::string registered_name(std::string_view name);

// Whether the program headers and every segment's bytes of the ELF file open on `fd` lie
// inside its `file_size` bytes. The loader maps segments without checking, and touching a
// page past the end of a file cut short kills the process with SIGBUS.
bool segments_inside_file(int fd, std::uint64_t file_size);

// Asks every loaded server's DllCanUnloadNow and unloads those that answer S_OK and are
// not in the middle of handing out a class object. Returns how many were unloaded.
// A server's count drops to zero inside its last Release, before that function has
// returned; so call this where no other thread may be releasing a server's last object at
// the same moment (apartment-threaded objects are released on their own thread: call it
// from that thread).
int free_unused_libraries();

}  // namespace orvan::com::runtime
