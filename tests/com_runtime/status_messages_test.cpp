// FormatMessageW: status texts for clients, the buffer's bounds, and what it refuses.
#include <gtest/gtest.h>

#include <string>

#include "orvan/component_runtime.h"

namespace {

TEST(StatusMessages, TextOfATableStatusFitsExactlyOrNotAtAll) {
  const std::u16string expected = u"Class not registered.";
  OLECHAR buffer[64];
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const auto code = static_cast<DWORD>(REGDB_E_CLASSNOTREG);
  ASSERT_EQ(FormatMessageW(flags, nullptr, code, 0, buffer, 64, nullptr), expected.size());
  EXPECT_EQ(std::u16string(buffer), expected);

  // The NUL needs its place too: one unit short is refused and the buffer left alone.
  const auto fit = static_cast<DWORD>(expected.size() + 1);
  buffer[0] = u'#';
  EXPECT_EQ(FormatMessageW(flags, nullptr, code, 0, buffer, fit - 1, nullptr), 0u);
  EXPECT_EQ(buffer[0], u'#');
  EXPECT_EQ(FormatMessageW(flags, nullptr, code, 0, buffer, fit, nullptr), expected.size());
}

TEST(StatusMessages, RefusesUnknownCodesAndOtherSources) {
  OLECHAR buffer[64] = {};
  EXPECT_EQ(
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x8000ABCDu, 0, buffer, 64, nullptr), 0u);
  // A message from a string (0x400) or a module (0x800), or a buffer to allocate (0x100).
  for (DWORD other : {0x400u, 0x800u, 0x100u}) {
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | other, nullptr,
                             static_cast<DWORD>(E_INVALIDARG), 0, buffer, 64, nullptr),
              0u)
        << other;
  }
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(E_INVALIDARG), 0,
                           nullptr, 64, nullptr),
            0u);
}

}  // namespace
