// The class object of OrvanMusic: makes new objects and keeps the library loaded on request.
#pragma once

#include "orvan/component_runtime.h"

namespace orvan::engine::component {

// The one class factory of the library. It lives as long as the library image; its own
// references do not keep the library loaded (LockServer does).
IClassFactory* music_class_factory();

}  // namespace orvan::engine::component
