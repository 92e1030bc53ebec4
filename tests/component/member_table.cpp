#include "tests/component/member_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace orvan::component_test {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, separator))
    if (!part.empty()) parts.push_back(part);
  return parts;
}

TableParam parse_param(const std::string& text) {
  const std::vector<std::string> fields = split(text, ':');
  EXPECT_EQ(fields.size(), 3u) << text;
  TableParam p;
  if (fields.size() != 3) return p;
  p.name = fields[0];
  p.type = fields[1];
  const std::string& kind = fields[2];
  p.by_ref = kind.rfind("ref", 0) == 0;
  p.optional = kind.rfind("ref-opt", 0) == 0;
  if (const auto eq = kind.find('='); eq != std::string::npos)
    p.default_value = std::stoi(kind.substr(eq + 1));
  EXPECT_TRUE(kind == "val" || kind == "ref" || p.optional) << text;
  return p;
}

}  // namespace

namespace {

// The rows of the first interface (before the line "# interface _OrvanMusic2") or of the
// second (after it).
std::vector<TableMember> read_section(bool second) {
  std::ifstream in(std::string(ORVAN_SOURCE_DIR) + "/tests/data/tovel_members.tsv");
  EXPECT_TRUE(in) << "tests/data/tovel_members.tsv is missing";
  std::vector<TableMember> members;
  std::string line;
  bool in_second = false;
  while (std::getline(in, line)) {
    if (line == "# interface _OrvanMusic2") in_second = true;
    if (line.empty() || line[0] == '#' || in_second != second) continue;
    const std::vector<std::string> cols = split(line, '\t');
    EXPECT_EQ(cols.size(), 5u) << line;
    if (cols.size() != 5) continue;
    TableMember m;
    m.entry = std::stoi(cols[0]);
    m.dispid = static_cast<DISPID>(std::stoul(cols[1], nullptr, 16));
    m.name = cols[2];
    if (cols[3] != "-")
      for (const std::string& p : split(cols[3], ' ')) m.params.push_back(parse_param(p));
    if (cols[4] != "-") m.result = cols[4];
    members.push_back(std::move(m));
  }
  return members;
}

}  // namespace

std::vector<TableMember> read_member_table() {
  std::vector<TableMember> members = read_section(false);
  EXPECT_EQ(members.size(), 50u);
  return members;
}

std::vector<TableMember> read_member_table2() {
  std::vector<TableMember> members = read_section(true);
  EXPECT_EQ(members.size(), 30u);
  return members;
}

}  // namespace orvan::component_test
