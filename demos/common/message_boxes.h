// Message boxes of a Qt program: the engine's own (asked for through the process-wide
// presenter, from any thread) and the program's reports of a failed engine call.
//
// A box is always opened on the GUI thread, and asking for one never waits for it: the
// engine asks from its notification thread too, and a thread that waited there for the user
// could hold up CleanupAudio, which waits for that thread. So each request is posted to the
// GUI thread and the caller goes on at once; the box appears, application-modal, as soon as
// the event loop runs.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <atomic>
#include <memory>

#include "orvan/component_runtime.h"
#include "platform/ui/message_box.h"

namespace orvan::demo {

// Lives on the GUI thread and owns the open boxes.
class MessageBoxHost : public QObject {
  Q_OBJECT

 public:
  explicit MessageBoxHost(QObject* parent = nullptr);
  ~MessageBoxHost() override;

  // Thread-safe: opens the box on the GUI thread later and returns at once.
  void post(const QString& text, const QString& caption, ui::MessageIcon icon);

  // GUI thread: reports that `operation` failed with `hr`. While a box with the same report
  // is up, a repeat (a drag raises its notification many times) opens no second one.
  void report_failure(const QString& operation, HRESULT hr);

  // Boxes asked for and not yet closed, including those still on their way.
  int outstanding() const noexcept { return outstanding_.load(); }

 signals:
  // The last outstanding box has been closed.
  void all_closed();

 private:
  void open(const QString& text, const QString& caption, ui::MessageIcon icon, bool coalesce);

  std::atomic<int> outstanding_{0};
  QSet<QString> open_reports_;
  // Boxes have no parent widget (they outlive the window that caused them), so the host
  // keeps them to close what is left when it goes.
  QList<QPointer<QMessageBox>> boxes_;
};

// The presenter a Qt program installs for the engine's boxes. `host` must outlive the
// installation; the programs install it in a scope inside the host's.
class QueuedMessagePresenter final : public ui::MessagePresenter {
 public:
  explicit QueuedMessagePresenter(MessageBoxHost* host) : host_(host) {}
  void present(const std::string& text, const std::string& caption, ui::MessageIcon icon) override;

 private:
  MessageBoxHost* host_;
};

// The caption of the program's failure reports: the application's name.
QString failure_caption();
// "SetPosition failed.\n\n<status text>"
QString failure_text(const QString& operation, HRESULT hr);

}  // namespace orvan::demo
