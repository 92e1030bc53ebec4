// Seek's window against the recording engine, created through CoCreateInstance from a
// throwaway registry: every handler as the exact calls it makes, and what the window shows.
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "demos/seek/seek_window.h"
#include "demos/tests/support/test_registry.h"
#include "orvan/status.h"

using namespace orvan;
using demo_test::call_log;
using demo_test::calls_since;

namespace {

const HRESULT kStartOutOfRange = MUSIC_E_START_OUT_OF_RANGE;

}  // namespace

class SeekWindowTest : public QObject {
  Q_OBJECT

 private:
  demo_test::ThrowawayRegistry registry_;
  std::unique_ptr<demo::Apartment> apartment_;
  std::unique_ptr<demo::MessageBoxHost> boxes_;
  std::unique_ptr<ui::ScopedMessagePresenter> presenter_;
  std::unique_ptr<seek::Form1> form_;
  int object_ = 0;  // the number the log gives the window's engine object

  QPushButton* button(const char* name) { return form_->findChild<QPushButton*>(name); }
  QLabel* label(const char* name) { return form_->findChild<QLabel*>(name); }
  QScrollBar* bar() { return form_->findChild<QScrollBar*>("HScroll1"); }
  QTimer* timer() { return form_->findChild<QTimer*>("Timer1"); }
  QString call(const QString& text) { return QStringLiteral("%1.%2").arg(object_).arg(text); }
  QStringList enabled_buttons() {
    QStringList names;
    for (const char* name : {"Command1", "Command5", "Command2", "Command3", "Command4"}) {
      if (button(name)->isEnabled()) names << button(name)->text();
    }
    return names;
  }
  QList<QMessageBox*> failure_boxes() { return demo_test::visible_boxes(); }
  // Lets the timer tick at least `ticks` times, then stops it.
  void let_timer_run(int ticks) {
    const std::size_t mark = call_log().mark();
    QTRY_VERIFY(calls_since(mark).size() >= 2 * ticks);
  }
  void initialize_and_load(LONG length) {
    call_log().set_answer("GetLengh", length);
    button("Command1")->click();
    button("Command5")->click();
  }

 private slots:
  void initTestCase() {
    QVERIFY(registry_.valid());
    apartment_ = std::make_unique<demo::Apartment>();
    QCOMPARE(apartment_->status(), S_OK);
    QCOMPARE(demo_test::register_recording_engine(), S_OK);
  }

  void init() {
    call_log().reset();
    boxes_ = std::make_unique<demo::MessageBoxHost>();
    presenter_ = std::make_unique<ui::ScopedMessagePresenter>(
        std::make_shared<demo::QueuedMessagePresenter>(boxes_.get()));
    form_ = std::make_unique<seek::Form1>(*boxes_);
    QCOMPARE(form_->load(), S_OK);
    const QStringList created = demo_test::all_calls();
    QCOMPARE(created.size(), 1);
    object_ = created.front().section('.', 0, 0).toInt();
    QCOMPARE(created.front(), call("Created"));
  }

  void cleanup() {
    form_.reset();
    presenter_.reset();
    boxes_.reset();
  }

  void starts_with_only_initialize_enabled() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("Form1"));
    QCOMPARE(enabled_buttons(), QStringList{"initialize"});
    QCOMPARE(label("Label1")->text(), QStringLiteral("Music lengh = "));
    QCOMPARE(label("Label2")->text(), QStringLiteral("Current position ="));
    QCOMPARE(bar()->minimum(), 0);
    QCOMPARE(bar()->maximum(), 32767);
    QCOMPARE(bar()->value(), 0);
    QCOMPARE(bar()->singleStep(), 1);
    QCOMPARE(bar()->pageStep(), 1);
    QVERIFY(bar()->isEnabled());
    QVERIFY(!timer()->isActive());
    QCOMPARE(timer()->interval(), 10);
    // Loading the window creates the engine object and calls nothing on it.
    QCOMPARE(demo_test::all_calls(), QStringList{call("Created")});
  }

  void tab_order_runs_down_the_buttons_then_load_and_the_bar() {
    QCOMPARE(demo_test::tab_order(form_.get()),
             (QStringList{"Command1", "Command2", "Command3", "Command4", "Command5", "HScroll1"}));
    QCOMPARE(button("Command2")->text(), QStringLiteral("Play"));
    QCOMPARE(button("Command3")->text(), QStringLiteral("Stop"));
    QCOMPARE(button("Command4")->text(), QStringLiteral("CleanUp"));
    QCOMPARE(button("Command5")->text(), QStringLiteral("Load"));
  }

  void initialize_passes_the_window_handle_and_enables_only_load() {
    const std::size_t mark = call_log().mark();
    button("Command1")->click();
    QCOMPARE(calls_since(mark), QStringList{demo_test::init_call(object_, form_.get())});
    QCOMPARE(enabled_buttons(), QStringList{"Load"});
    QVERIFY(!timer()->isActive());
  }

  void load_reads_the_length_twice_and_sets_the_range_rounding_halves_to_even() {
    button("Command1")->click();
    const QString dir = QCoreApplication::applicationDirPath();
    const QString load = call("Music_Load(" + dir + "/../media/Theme.mid)");
    const QStringList one_load{load, call("GetLengh()"), call("GetLengh()")};
    struct Row {
      LONG length;
      int maximum;
    };
    // Each press of Load repeats every step; 5000000 / 100 does not fit the bar.
    for (const Row row :
         {Row{768, 8}, Row{250, 2}, Row{350, 4}, Row{-150, 0}, Row{5000000, 32767}, Row{0, 0}}) {
      call_log().set_answer("GetLengh", row.length);
      const std::size_t mark = call_log().mark();
      button("Command5")->click();
      QCOMPARE(calls_since(mark), one_load);
      QCOMPARE(label("Label1")->text(), QStringLiteral("Music lengh = %1").arg(row.length));
      QCOMPARE(bar()->maximum(), row.maximum);
      QCOMPARE(bar()->minimum(), 0);
    }
    QCOMPARE(form_->windowTitle(), dir + "/.../media/Theme.mid");
    QCOMPARE(enabled_buttons(), (QStringList{"Load", "Play", "Stop", "CleanUp"}));
    QVERIFY(!timer()->isActive());
  }

  void play_starts_the_timer_whose_ticks_show_the_position() {
    initialize_and_load(768000);
    const std::size_t mark = call_log().mark();
    button("Command2")->click();
    QCOMPARE(calls_since(mark), QStringList{call("Music_Play(16)")});
    QVERIFY(timer()->isActive());

    for (const auto& [position, thumb] : {std::pair{5730, 57}, std::pair{5750, 58}, std::pair{0, 0},
                                          std::pair{-96, -1}, std::pair{9000000, 7680}}) {
      call_log().set_answer("GetCurrentPosition", position);
      QTRY_COMPARE(label("Label2")->text(), QStringLiteral("Current position =%1").arg(position));
      // A thumb below the minimum or above the maximum stays at the end of the bar.
      QTRY_COMPARE(bar()->value(), std::clamp(thumb, 0, 7680));
    }
    const std::size_t ticks = call_log().mark();
    let_timer_run(3);
    timer()->stop();
    // Every tick asks for the position twice, and nothing else.
    const QStringList calls = calls_since(ticks);
    QCOMPARE(calls.size() % 2, 0);
    QCOMPARE(calls.count(call("GetCurrentPosition()")), calls.size());
  }

  void only_a_drag_of_the_thumb_seeks() {
    initialize_and_load(768000);
    std::size_t mark = call_log().mark();
    demo_test::drag_thumb(bar(), 57);
    QCOMPARE(calls_since(mark), QStringList{call("SetPosition(5700)")});
    QCOMPARE(bar()->value(), 57);
    QVERIFY(timer()->isActive());

    timer()->stop();
    mark = call_log().mark();
    bar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    bar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    QTest::mouseClick(bar(), Qt::LeftButton, {}, QPoint(bar()->width() - 4, bar()->height() / 2));
    QCOMPARE(bar()->value(), 58);
    // The program moving the thumb while the user holds it is no drag either.
    call_log().set_answer("GetCurrentPosition", 12345);
    bar()->setSliderDown(true);
    timer()->start();
    QTRY_COMPARE(bar()->value(), 123);
    timer()->stop();
    bar()->setSliderDown(false);
    QVERIFY(!calls_since(mark).join(' ').contains("SetPosition"));
  }

  void stop_rewinds_and_freezes_the_display_until_a_drag() {
    initialize_and_load(768000);
    button("Command2")->click();
    call_log().set_answer("GetCurrentPosition", 4200);
    QTRY_COMPARE(bar()->value(), 42);
    std::size_t mark = call_log().mark();
    button("Command3")->click();
    const QStringList stop = calls_since(mark);
    // Ticks may come before the click; the click itself is these two calls, in order.
    QCOMPARE(stop.mid(stop.size() - 2),
             (QStringList{call("Music_Stop()"), call("SetPosition(0)")}));
    QVERIFY(!timer()->isActive());
    QCOMPARE(label("Label2")->text(), QStringLiteral("Current position =4200"));
    QCOMPARE(bar()->value(), 42);

    mark = call_log().mark();
    demo_test::drag_thumb(bar(), 10);
    QCOMPARE(calls_since(mark), QStringList{call("SetPosition(1000)")});
    QVERIFY(timer()->isActive());
  }

  void cleanup_then_initialize_reuses_the_object_and_needs_load_again() {
    initialize_and_load(768);
    button("Command2")->click();
    std::size_t mark = call_log().mark();
    button("Command4")->click();
    QCOMPARE(calls_since(mark).last(), call("CleanupAudio()"));
    QCOMPARE(enabled_buttons(), QStringList{"initialize"});
    QVERIFY(!timer()->isActive());

    mark = call_log().mark();
    button("Command1")->click();
    QCOMPARE(calls_since(mark), QStringList{demo_test::init_call(object_, form_.get())});
    QCOMPARE(enabled_buttons(), QStringList{"Load"});
  }

  void closing_cleans_up_and_releases_in_every_state() {
    // Before initialize, after CleanUp, and while playing.
    for (int state = 0; state < 3; ++state) {
      if (state > 0) {
        cleanup();
        init();
        initialize_and_load(768);
        button(state == 1 ? "Command4" : "Command2")->click();
      }
      const std::size_t mark = call_log().mark();
      QSignalSpy unloaded(form_.get(), &demo::DemoWindow::unloaded);
      QVERIFY(form_->close());
      QCOMPARE(unloaded.count(), 1);
      const QStringList calls = calls_since(mark);
      QCOMPARE(calls.mid(calls.size() - 2),
               (QStringList{call("CleanupAudio()"), call("Released")}));
      QVERIFY(!timer()->isActive());
      // Destroying the closed window calls nothing more.
      const std::size_t after = call_log().mark();
      form_.reset();
      QCOMPARE(calls_since(after), QStringList{});
    }
  }

  void a_failed_call_stops_its_handler_with_one_box_and_the_window_goes_on() {
    // A drag before anything is loaded: the engine refuses the seek.
    call_log().set_status("SetPosition", kStartOutOfRange);
    for (int value : {5, 6, 7}) demo_test::drag_thumb(bar(), value);
    QCOMPARE(failure_boxes().size(), 1);
    QMessageBox* box = failure_boxes().front();
    QVERIFY(box->isVisible());
    QVERIFY(box->text().contains("SetPosition failed."));
    QVERIFY(box->text().contains(QString::fromUtf8(orvan_status_text(kStartOutOfRange))));
    QVERIFY(box->text().contains("0x88781010"));
    QCOMPARE(box->icon(), QMessageBox::Critical);
    // The handler stopped before enabling the timer.
    QVERIFY(!timer()->isActive());
    box->accept();
    QCoreApplication::processEvents();
    QCOMPARE(failure_boxes().size(), 0);

    // GetLengh failing during Load: the steps before it stay done, the later ones do not run.
    call_log().set_answer("GetLengh", 768);
    button("Command1")->click();
    button("Command5")->click();
    call_log().set_status("GetLengh", E_FAIL);
    call_log().set_answer("GetLengh", 250);
    button("Command5")->click();
    QCOMPARE(label("Label1")->text(), QStringLiteral("Music lengh = 768"));
    QCOMPARE(bar()->maximum(), 8);
    QCOMPARE(enabled_buttons(), (QStringList{"Load", "Play", "Stop", "CleanUp"}));
    QCOMPARE(failure_boxes().size(), 1);
    failure_boxes().front()->accept();

    // A failing position query stops the display after one box instead of one per tick.
    call_log().set_status("GetCurrentPosition", E_FAIL);
    button("Command2")->click();
    QTRY_VERIFY(!timer()->isActive());
    QCOMPARE(failure_boxes().size(), 1);
    QVERIFY(failure_boxes().front()->text().contains("GetCurrentPosition failed."));
  }
};

QTEST_MAIN(SeekWindowTest)
#include "seek_window_test.moc"
