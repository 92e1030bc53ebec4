/* The component runtime's client API, for C99 and C++17 and later: the published binary
 * layouts of the component and automation services on LP64 Linux and the runtime's
 * functions. Each concern has its own header; this one includes them all:
 *
 *   orvan/types.h       scalar types
 *   orvan/status.h      status values, their names and texts
 *   orvan/guid.h        identities (GUID, IID, CLSID)
 *   orvan/automation.h  automation strings, variants, DISPPARAMS, EXCEPINFO
 *   orvan/type_info.h   type information records
 *   orvan/interfaces.h  IUnknown, IClassFactory, IDispatch, ITypeInfo, ITypeLib, DirectXEvent8
 *   orvan/runtime.h     the runtime's functions
 *   orvan/apartment_calls.h  calls posted to a client's thread, and the pump that runs them
 *
 * Layout rules a client may rely on: an interface pointer points to a pointer to a table of
 * function pointers, and entry n is at byte 8n. In C++ the interfaces are abstract classes
 * with only pure virtual members and no virtual destructor, which GCC and Clang lay out
 * exactly so; in C they are structs whose only member, lpVtbl, points to a struct of function
 * pointers, called through macros such as IUnknown_Release(p). */
#ifndef ORVAN_COMPONENT_RUNTIME_H
#define ORVAN_COMPONENT_RUNTIME_H

#include "orvan/apartment_calls.h"
#include "orvan/automation.h"
#include "orvan/guid.h"
#include "orvan/interfaces.h"
#include "orvan/runtime.h"
#include "orvan/status.h"
#include "orvan/type_info.h"
#include "orvan/types.h"

#endif /* ORVAN_COMPONENT_RUNTIME_H */
