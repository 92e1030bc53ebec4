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

std::vector<TableMember> read_member_table() {
  std::ifstream in(std::string(ORVAN_SOURCE_DIR) + "/tests/data/tovel_members.tsv");
  EXPECT_TRUE(in) << "tests/data/tovel_members.tsv is missing";
  std::vector<TableMember> members;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
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
  EXPECT_EQ(members.size(), 50u);
  return members;
}

}  // namespace orvan::component_test
