// The programs' message boxes: the engine's boxes, asked for from any thread, open on the
// GUI thread as real dialogs without the asking thread ever waiting; the programs' own
// failure reports; and the one box a program shows when it cannot make its engine object.
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

#include "demos/common/demo_window.h"
#include "demos/seek/seek_window.h"
#include "demos/tests/support/test_registry.h"

using namespace orvan;

class MessageBoxesTest : public QObject {
  Q_OBJECT

 private:
  // Nothing is registered in this registry: the engine class is unknown.
  demo_test::ThrowawayRegistry registry_;

 private slots:
  void cleanup() {
    for (QMessageBox* box : demo_test::visible_boxes()) box->accept();
  }

  void engine_boxes_open_on_the_gui_thread_and_never_block_the_caller() {
    demo::MessageBoxHost boxes;
    ui::ScopedMessagePresenter presenter(std::make_shared<demo::QueuedMessagePresenter>(&boxes));
    // Asked for from another thread, as the engine's notification callback does: the call
    // returns while the GUI thread has not even looked at its events.
    std::thread notifier([] {
      ui::show_message_box("Error processing this Notification", "Cannot Process.",
                           ui::MessageIcon::Information);
    });
    notifier.join();
    ui::show_message_box("Could not initialize Engine\r\n ", "Exiting...",
                         ui::MessageIcon::Information);
    ui::show_message_box("Couldn't load this file", "Couldn't load", ui::MessageIcon::Error);
    ui::show_message_box("Thank you for using 'Orvan Music Engine' ", "", ui::MessageIcon::None);
    QCOMPARE(boxes.outstanding(), 4);

    QStringList shown;
    for (QMessageBox* box : demo_test::visible_boxes()) {
      QCOMPARE(box->thread(), QApplication::instance()->thread());
      QCOMPARE(box->textFormat(), Qt::PlainText);
      QCOMPARE(box->standardButtons(), QMessageBox::Ok);
      shown << QStringLiteral("%1|%2|%3").arg(box->windowTitle(), box->text()).arg(box->icon());
    }
    shown.sort();
    QCOMPARE(
        shown,
        (QStringList{
            QStringLiteral("Cannot Process.|Error processing this Notification|%1")
                .arg(QMessageBox::Information),
            QStringLiteral("Couldn't load|Couldn't load this file|%1").arg(QMessageBox::Critical),
            QStringLiteral("Exiting...|Could not initialize Engine\r\n |%1")
                .arg(QMessageBox::Information),
            QStringLiteral("|Thank you for using 'Orvan Music Engine' |%1")
                .arg(QMessageBox::NoIcon)}));

    // With boxes up and unanswered, another thread still gets through at once.
    std::atomic<bool> returned{false};
    std::thread again([&] {
      ui::show_message_box("Error processing this Notification", "Cannot Process.",
                           ui::MessageIcon::Information);
      returned = true;
    });
    again.join();
    QVERIFY(returned);

    QSignalSpy all_closed(&boxes, &demo::MessageBoxHost::all_closed);
    for (QMessageBox* box : demo_test::visible_boxes()) box->accept();
    QCOMPARE(boxes.outstanding(), 0);
    QCOMPARE(all_closed.count(), 1);
  }

  void a_repeated_failure_report_opens_one_box_until_it_is_closed() {
    demo::MessageBoxHost boxes;
    boxes.report_failure("SetPosition", E_INVALIDARG);
    boxes.report_failure("SetPosition", E_INVALIDARG);
    boxes.report_failure("SetPosition", E_FAIL);
    QCOMPARE(demo_test::visible_boxes().size(), 2);
    for (QMessageBox* box : demo_test::visible_boxes()) box->accept();
    boxes.report_failure("SetPosition", E_INVALIDARG);
    QCOMPARE(demo_test::visible_boxes().size(), 1);
    QCOMPARE(demo_test::visible_boxes().front()->text(),
             QStringLiteral("SetPosition failed.\n\n%1").arg(demo::status_text(E_INVALIDARG)));
  }

  void an_unregistered_engine_is_named_in_one_box_and_the_program_fails() {
    QVERIFY(registry_.valid());
    QStringList seen;
    // The box is modal: answer it from inside its own event loop.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      for (QMessageBox* box : demo_test::visible_boxes()) {
        seen << box->text();
        box->accept();
      }
    });
    answer.start(10);
    bool made = false;
    const int status = demo::run_program([&](demo::MessageBoxHost& boxes) {
      made = true;
      return std::make_unique<seek::Form1>(boxes);
    });
    answer.stop();
    QVERIFY(made);
    QCOMPARE(status, 1);
    QCOMPARE(seen.size(), 1);
    const QString dir = QCoreApplication::applicationDirPath();
    QCOMPARE(seen.front(), demo::creation_failure_text(REGDB_E_CLASSNOTREG, dir));
    QVERIFY(seen.front().contains("OrvanMusic {2157ED08-4B0C-427B-8475-85D754B974CA}"));
    QVERIFY(seen.front().contains("is not registered"));
    QVERIFY(seen.front().contains(QDir::cleanPath(dir + "/orvan-regsvr") + " " +
                                  QDir::cleanPath(dir + "/../lib/libTovel.so")));
  }
};

QTEST_MAIN(MessageBoxesTest)
#include "message_boxes_test.moc"
