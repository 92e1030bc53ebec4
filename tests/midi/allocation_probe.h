// Watches the size of single allocations in this test program, to show that a size a
// file merely declares is never allocated.
#pragma once

#include <cstddef>

namespace orvan::test {

class AllocationProbe {
 public:
  AllocationProbe();   // starts watching, forgetting what came before
  ~AllocationProbe();  // stops watching
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;

  std::size_t largest() const;
};

}  // namespace orvan::test
