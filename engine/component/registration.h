// Self-registration of the library: its type library, its class and its programmatic
// identifier, written and removed as one unit.
#pragma once

#include "orvan/component_runtime.h"
#include "platform/com/runtime/registry.h"

namespace orvan::engine::component {

// The one description of this server that registration works from.
com::registry::ServerRecord server_record();

// Registers the embedded type library and the class at this library's own path, in one
// registry transaction. SELFREG_E_TYPELIB or SELFREG_E_CLASS when a part fails; nothing is
// then left written.
HRESULT register_this_server();
// Removes everything register_this_server() writes, and nothing else, in one transaction.
HRESULT unregister_this_server();

}  // namespace orvan::engine::component
