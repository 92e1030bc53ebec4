// Member and type names compare without regard to ASCII letter case, as automation clients
// expect ("initorvanaudio" finds InitOrvanAudio). Names outside ASCII compare exactly.
#pragma once

#include <cstddef>
#include <string_view>

namespace orvan::typelib {

constexpr char fold_ascii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

struct NameEqual {
  bool operator()(std::string_view a, std::string_view b) const noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (fold_ascii(a[i]) != fold_ascii(b[i])) return false;
    return true;
  }
};

struct NameLess {
  bool operator()(std::string_view a, std::string_view b) const noexcept {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
      const char x = fold_ascii(a[i]);
      const char y = fold_ascii(b[i]);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

}  // namespace orvan::typelib
