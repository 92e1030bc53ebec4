// The process-wide message box service: a modal box with a text, a caption, an icon and a
// single OK button, whose answer nobody reads.
//
// Boxes may be asked for from any thread (the notification callback runs on the platform's
// own thread). Who shows them is the presenter installed for the process: a GUI program
// installs one that opens a real dialog, tests install a recorder, and every other process
// gets the default one, which writes one line per box to stderr and returns at once.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace orvan::ui {

enum class MessageIcon { None, Information, Error };

// "none", "information" or "error".
std::string_view icon_name(MessageIcon icon);

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  // Shows one box and returns when the user has dismissed it. May run on any thread, and
  // on several at once.
  virtual void present(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
};

// Shows a box through the presenter installed now. Installing another presenter while a
// box is up does not disturb that box: the call keeps the presenter it started with.
void show_message_box(std::string_view text, std::string_view caption, MessageIcon icon);

// Installs `presenter` for the whole process and returns the one it replaces (empty when
// that was the default). An empty pointer brings back the default stderr presenter.
std::shared_ptr<MessagePresenter> set_message_presenter(
    std::shared_ptr<MessagePresenter> presenter);

// Installs a presenter for a scope and puts the previous one back when it ends.
class ScopedMessagePresenter {
 public:
  explicit ScopedMessagePresenter(std::shared_ptr<MessagePresenter> presenter)
      : previous_(set_message_presenter(std::move(presenter))) {}
  ~ScopedMessagePresenter() { set_message_presenter(std::move(previous_)); }
  ScopedMessagePresenter(const ScopedMessagePresenter&) = delete;
  ScopedMessagePresenter& operator=(const ScopedMessagePresenter&) = delete;

 private:
  std::shared_ptr<MessagePresenter> previous_;
};

// The line the default presenter writes for one box (without the newline): control
// characters in the text are escaped so that one box is always one line.
std::string format_message_line(std::string_view text, std::string_view caption, MessageIcon icon);

}  // namespace orvan::ui
