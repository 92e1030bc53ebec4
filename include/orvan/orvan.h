/* Everything a client of the Orvan Music Engine includes: the component runtime's API
 * (orvan/component_runtime.h) and the component Tovel (orvan/tovel.h). */
#ifndef ORVAN_ORVAN_H
#define ORVAN_ORVAN_H

#include "orvan/component_runtime.h"
#include "orvan/tovel.h"

#endif /* ORVAN_ORVAN_H */
