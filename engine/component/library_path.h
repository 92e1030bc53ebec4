// Where this library was loaded from, found at run time: registration records it, and the
// type library is read from it.
#pragma once

#include <string>

namespace orvan::engine::component {

// The absolute path of the file this code was loaded from; empty when it cannot be told.
std::string own_library_path();

}  // namespace orvan::engine::component
