// Appending a fixed-layout record to a binary image, for the build-time writers of the
// type library and the resource section.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace orvan::typelib {

// Grows the buffer, then copies: GCC 12's overflow analysis misreads an insert into a
// vector that may still be empty at -O3 and would stop an optimised build.
template <class Record>
void append_record(std::vector<std::uint8_t>& out, const Record& record) {
  static_assert(std::is_trivially_copyable_v<Record>);
  const std::size_t at = out.size();
  out.resize(at + sizeof(Record));
  std::memcpy(out.data() + at, &record, sizeof(Record));
}

}  // namespace orvan::typelib
