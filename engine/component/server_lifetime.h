// What keeps the library loaded: live objects and class-factory locks. DllCanUnloadNow
// answers from these counts; any thread may change them.
#pragma once

namespace orvan::engine::component {

void object_created();
void object_destroyed();
void server_locked();
// False (and nothing changes) when no lock is outstanding.
bool server_unlocked();
// True while no object and no lock is outstanding.
bool server_idle();

}  // namespace orvan::engine::component
