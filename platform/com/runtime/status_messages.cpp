// FormatMessageW for status values: the text a client shows for a failed call. Only the
// system's message table is offered (our status table); messages from a string or a
// module, allocated buffers and inserts are not, and are refused with 0.
#include <cstring>
#include <string>

#include "orvan/component_runtime.h"
#include "platform/com/auto_string.h"
#include "platform/com/status.h"

namespace {

constexpr DWORD kIgnoredFlags = FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;

}  // namespace

extern "C" DWORD FormatMessageW(DWORD flags, const void* /*source*/, DWORD message_id,
                                DWORD /*language_id*/, LPOLESTR buffer, DWORD size,
                                va_list* /*arguments*/) {
  if ((flags & ~kIgnoredFlags) != FORMAT_MESSAGE_FROM_SYSTEM || !buffer) return 0;
  const auto status = static_cast<orvan::com::HResult>(message_id);
  // Codes outside the table have no message of their own.
  if (orvan::com::status_name(status).empty()) return 0;
  const std::u16string text = orvan::com::utf8_to_utf16(orvan::com::describe_status(status));
  if (text.size() >= size) return 0;
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
  return static_cast<DWORD>(text.size());
}
