// The type information of _OrvanMusic2 (the class's default interface, which holds
// _OrvanMusic's members too) and of the class, read from the type library embedded in this very
// library the first time an object needs it, and kept until the library unloads.
#pragma once

#include "orvan/component_runtime.h"

namespace orvan::engine::component {

// Hands out a new reference to the interface's type information. A failure to read the
// type library is returned (and tried again on the next call).
HRESULT music_type_info(ITypeInfo** info);
// The same for the class OrvanMusic (its interfaces, and __OrvanMusic as its default source).
HRESULT music_class_info(ITypeInfo** info);

}  // namespace orvan::engine::component
