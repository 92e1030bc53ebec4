#include "platform/com/status.h"

#include <string>

namespace orvan::com {

std::string_view status_name(HResult hr) {
  const char* name = orvan_status_name(hr);
  return name ? std::string_view(name) : std::string_view{};
}

std::string describe_status(HResult hr) {
  char fallback[ORVAN_STATUS_FALLBACK_SIZE];
  return orvan_status_describe(hr, fallback);
}

}  // namespace orvan::com
