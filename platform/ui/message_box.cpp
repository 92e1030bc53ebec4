#include "platform/ui/message_box.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace orvan::ui {
namespace {

void append_escaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          out += "\\x";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xf];
        } else {
          out += c;
        }
    }
  }
}

class StderrPresenter final : public MessagePresenter {
 public:
  void present(const std::string& text, const std::string& caption, MessageIcon icon) override {
    std::string line = format_message_line(text, caption, icon);
    line += '\n';
    // One write per box, so boxes from two threads never interleave within a line.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }
};

// The installed presenter. A process-wide service is the point of this module, so this
// one piece of global state is deliberate.
struct PresenterSlot {
  std::mutex mutex;
  std::shared_ptr<MessagePresenter> presenter;
};

PresenterSlot& slot() {
  static PresenterSlot instance;
  return instance;
}

std::shared_ptr<MessagePresenter> default_presenter() {
  static const auto instance = std::make_shared<StderrPresenter>();
  return instance;
}

}  // namespace

std::string_view icon_name(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return "information";
    case MessageIcon::Error:
      return "error";
    case MessageIcon::None:
      break;
  }
  return "none";
}

std::string format_message_line(std::string_view text, std::string_view caption, MessageIcon icon) {
  std::string line = "message box [";
  line += icon_name(icon);
  line += "] \"";
  append_escaped(line, caption);
  line += "\": ";
  append_escaped(line, text);
  return line;
}

void show_message_box(std::string_view text, std::string_view caption, MessageIcon icon) {
  std::shared_ptr<MessagePresenter> presenter;
  {
    std::lock_guard lock(slot().mutex);
    presenter = slot().presenter;
  }
  if (!presenter) presenter = default_presenter();
  // Shown outside the lock: a modal box may take as long as the user likes.
  presenter->present(std::string(text), std::string(caption), icon);
}

std::shared_ptr<MessagePresenter> set_message_presenter(
    std::shared_ptr<MessagePresenter> presenter) {
  std::lock_guard lock(slot().mutex);
  std::shared_ptr<MessagePresenter> previous =
      std::exchange(slot().presenter, std::move(presenter));
  return previous;
}

}  // namespace orvan::ui
