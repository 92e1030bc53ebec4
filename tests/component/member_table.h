// The hand-written member table of _OrvanMusic and _OrvanMusic2 (tests/data/tovel_members.tsv),
// read for the tests that hold the type library and the interfaces to it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "orvan/component_runtime.h"

namespace orvan::component_test {

struct TableParam {
  std::string name;
  std::string type;  // I4, R4, BSTR, CONST_OSFX_PHASE, CONST_OSFX_WAVE, OrvanBoundary, IDispatch
  bool by_ref = false;
  bool optional = false;
  std::optional<int> default_value;
};

struct TableMember {
  int entry = 0;
  DISPID dispid = 0;
  std::string name;
  std::vector<TableParam> params;
  std::string result;  // I4, R4, R8, BOOL, or empty
};

// Every member of _OrvanMusic, in table order; fails the calling test when the file cannot
// be read.
std::vector<TableMember> read_member_table();
// The members _OrvanMusic2 adds after those, in table order.
std::vector<TableMember> read_member_table2();

}  // namespace orvan::component_test
