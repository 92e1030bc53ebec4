/* What a C compiler makes of the client headers: the function-table offset of each method of
 * _OrvanMusic by name (the names come from tests/data/tovel_members.tsv, through
 * member_names.h), and the sizes and a few member offsets of the records clients pass. Compiled as
 * C99 in tests/component/c_layout_probe.c. */
#ifndef ORVAN_TESTS_COMPONENT_C_LAYOUT_PROBE_H
#define ORVAN_TESTS_COMPONENT_C_LAYOUT_PROBE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OrvanCLayoutEntry {
  const char* name;
  size_t value;
} OrvanCLayoutEntry;

extern const OrvanCLayoutEntry orvan_c_music_table[];
extern const size_t orvan_c_music_table_size;
/* The same for _OrvanMusic2: _OrvanMusic's methods, then its own. */
extern const OrvanCLayoutEntry orvan_c_music2_table[];
extern const size_t orvan_c_music2_table_size;
extern const OrvanCLayoutEntry orvan_c_records[];
extern const size_t orvan_c_records_size;

/* orvan_status_describe as a C client calls it. */
const char* orvan_c_describe_status(int32_t hr, char* fallback);

#ifdef __cplusplus
}
#endif

#endif
