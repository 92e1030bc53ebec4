// In-process servers: finding a class's library in the registry, loading it once per
// process, and unloading it when it says it may go.
#pragma once

#include <string>

#include "orvan/component_runtime.h"

namespace orvan::com::runtime {

// The class object of `clsid` from its registered in-process server, asked for `riid`.
// REGDB_E_CLASSNOTREG when the class has no InprocServer32 path; CO_E_DLLNOTFOUND when the
// path is not an absolute path of an existing file; CO_E_ERRORINDLL when the file cannot
// be loaded or lacks DllGetClassObject or DllCanUnloadNow; otherwise the server's answer.
HRESULT get_inproc_class_object(REFCLSID clsid, REFIID riid, void** object);

// Asks every loaded server's DllCanUnloadNow and unloads those that answer S_OK and are
// not in the middle of handing out a class object. Returns how many were unloaded.
// A server's count drops to zero inside its last Release, before that function has
// returned; so call this where no other thread may be releasing a server's last object at
// the same moment (apartment-threaded objects are released on their own thread: call it
// from that thread).
int free_unused_libraries();

}  // namespace orvan::com::runtime
