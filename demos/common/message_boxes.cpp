#include "demos/common/message_boxes.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "demos/common/engine_binding.h"

namespace orvan::demo {
namespace {

QMessageBox::Icon qt_icon(ui::MessageIcon icon) {
  switch (icon) {
    case ui::MessageIcon::Information:
      return QMessageBox::Information;
    case ui::MessageIcon::Error:
      return QMessageBox::Critical;
    case ui::MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

MessageBoxHost::MessageBoxHost(QObject* parent) : QObject(parent) {}

MessageBoxHost::~MessageBoxHost() {
  // Boxes have no parent (they outlive the window that caused them); close what is left.
  for (const QPointer<QMessageBox>& box : std::as_const(boxes_)) delete box.data();
}

void MessageBoxHost::post(const QString& text, const QString& caption, ui::MessageIcon icon) {
  outstanding_.fetch_add(1);
  QMetaObject::invokeMethod(
      this, [this, text, caption, icon] { open(text, caption, icon, false); },
      Qt::QueuedConnection);
}

void MessageBoxHost::report_failure(const QString& operation, HRESULT hr) {
  const QString text = failure_text(operation, hr);
  if (open_reports_.contains(text)) return;
  open_reports_.insert(text);
  outstanding_.fetch_add(1);
  QMetaObject::invokeMethod(
      this, [this, text] { open(text, failure_caption(), ui::MessageIcon::Error, true); },
      Qt::QueuedConnection);
}

void MessageBoxHost::open(const QString& text, const QString& caption, ui::MessageIcon icon,
                          bool coalesce) {
  auto* box = new QMessageBox(qt_icon(icon), caption, text, QMessageBox::Ok);
  boxes_.append(box);
  box->setObjectName(coalesce ? QStringLiteral("FailureMessageBox")
                              : QStringLiteral("EngineMessageBox"));
  box->setTextFormat(Qt::PlainText);
  box->setWindowModality(Qt::ApplicationModal);
  connect(box, &QMessageBox::finished, this, [this, box, text, coalesce] {
    if (coalesce) open_reports_.remove(text);
    boxes_.removeAll(box);
    box->deleteLater();
    if (outstanding_.fetch_sub(1) == 1) emit all_closed();
  });
  box->show();
}

void QueuedMessagePresenter::present(const std::string& text, const std::string& caption,
                                     ui::MessageIcon icon) {
  host_->post(QString::fromStdString(text), QString::fromStdString(caption), icon);
}

QString failure_caption() {
  return QCoreApplication::applicationName();
}

QString failure_text(const QString& operation, HRESULT hr) {
  return QStringLiteral("%1 failed.\n\n%2").arg(operation, status_text(hr));
}

}  // namespace orvan::demo
