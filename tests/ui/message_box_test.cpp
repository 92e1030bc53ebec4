// The message box service: one stderr line per box by default, presenters installed and
// restored per process, boxes from many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/ui/message_box.h"

namespace orvan::ui {
namespace {

class Counter final : public MessagePresenter {
 public:
  void present(const std::string& text, const std::string& caption, MessageIcon icon) override {
    last_text = text;
    last_caption = caption;
    last_icon = icon;
    shown.fetch_add(1);
  }
  std::atomic<int> shown{0};
  std::string last_text, last_caption;
  MessageIcon last_icon = MessageIcon::None;
};

TEST(MessageBox, DefaultPresenterWritesOneEscapedLinePerBox) {
  ::testing::internal::CaptureStderr();
  show_message_box("Could not initialize Engine\r\n ", "Exiting...", MessageIcon::Information);
  show_message_box("Couldn't load this file", "Couldn't load", MessageIcon::Error);
  show_message_box("Thank you\t\x01", "", MessageIcon::None);
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out,
            "message box [information] \"Exiting...\": Could not initialize Engine\\r\\n \n"
            "message box [error] \"Couldn't load\": Couldn't load this file\n"
            "message box [none] \"\": Thank you\\t\\x01\n");
}

TEST(MessageBox, ScopedPresentersNestAndRestore) {
  auto outer = std::make_shared<Counter>();
  auto inner = std::make_shared<Counter>();
  {
    ScopedMessagePresenter a(outer);
    show_message_box("one", "c", MessageIcon::Error);
    {
      ScopedMessagePresenter b(inner);
      show_message_box("two", "d", MessageIcon::None);
    }
    show_message_box("three", "e", MessageIcon::Information);
  }
  EXPECT_EQ(outer->shown.load(), 2);
  EXPECT_EQ(outer->last_text, "three");
  EXPECT_EQ(outer->last_caption, "e");
  EXPECT_EQ(outer->last_icon, MessageIcon::Information);
  EXPECT_EQ(inner->shown.load(), 1);
  EXPECT_EQ(inner->last_text, "two");

  ::testing::internal::CaptureStderr();
  show_message_box("back to default", "", MessageIcon::None);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("back to default"), std::string::npos);
}

class ThreadCounter final : public MessagePresenter {
 public:
  void present(const std::string&, const std::string&, MessageIcon) override { shown.fetch_add(1); }
  std::atomic<int> shown{0};
};

TEST(MessageBox, BoxesFromManyThreadsWhilePresentersChangeAreAllShownOnce) {
  auto a = std::make_shared<ThreadCounter>();
  auto b = std::make_shared<ThreadCounter>();
  auto previous = set_message_presenter(a);
  constexpr int kThreads = 4, kBoxes = 2000;
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    bool use_a = false;
    while (!done.load()) {
      set_message_presenter(use_a ? a : b);
      use_a = !use_a;
    }
  });
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([] {
      for (int i = 0; i < kBoxes; ++i) show_message_box("x", "y", MessageIcon::None);
    });
  }
  for (auto& s : senders) s.join();
  done.store(true);
  swapper.join();
  set_message_presenter(previous);
  EXPECT_EQ(a->shown.load() + b->shown.load(), kThreads * kBoxes);
}

}  // namespace
}  // namespace orvan::ui
