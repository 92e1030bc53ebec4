// Duvane's window against two recording engines, created through CoCreateInstance from a
// throwaway registry: every handler as the exact calls it makes, channel by channel.
#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "demos/fader/fader_window.h"
#include "demos/tests/support/test_registry.h"
#include "orvan/status.h"

using namespace orvan;
using demo_test::call_log;
using demo_test::calls_since;

class FaderWindowTest : public QObject {
  Q_OBJECT

 private:
  demo_test::ThrowawayRegistry registry_;
  QTemporaryDir music_dir_;
  std::unique_ptr<demo::Apartment> apartment_;
  std::unique_ptr<demo::MessageBoxHost> boxes_;
  std::unique_ptr<ui::ScopedMessagePresenter> presenter_;
  std::unique_ptr<fader::Form1> form_;
  int first_ = 0;  // the log's number for channel 1; channel 2 is the next

  QPushButton* button(const char* name) { return form_->findChild<QPushButton*>(name); }
  QLineEdit* text(const char* name) { return form_->findChild<QLineEdit*>(name); }
  QScrollBar* bar() { return form_->findChild<QScrollBar*>("HScroll1"); }
  QFileDialog* dialog() { return form_->findChild<QFileDialog*>("CMD1"); }
  QString call(int channel, const QString& text) {
    return QStringLiteral("%1.%2").arg(first_ + channel - 1).arg(text);
  }
  QString music_file(const QString& name) {
    const QString path = music_dir_.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write("MThd");
    return path;
  }
  // Clicks `button` and answers the open-file dialog it opens with `file`, or cancels it
  // when `file` is empty.
  void choose(const char* button_name, const QString& file) {
    bool answered = false;
    QTimer::singleShot(0, this, [&] {
      QFileDialog* shown = dialog();
      if (!shown || !shown->isVisible()) return;
      answered = true;
      if (file.isEmpty()) {
        shown->reject();
      } else {
        // The user types the path and presses Open.
        auto* name = shown->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name) return;
        name->setText(file);
        static_cast<QDialog*>(shown)->accept();
      }
    });
    button(button_name)->click();
    QVERIFY(answered);
  }
  void load_form() {
    boxes_ = std::make_unique<demo::MessageBoxHost>();
    presenter_ = std::make_unique<ui::ScopedMessagePresenter>(
        std::make_shared<demo::QueuedMessagePresenter>(boxes_.get()));
    form_ = std::make_unique<fader::Form1>(*boxes_);
    const std::size_t mark = call_log().mark();
    QCOMPARE(form_->load(), S_OK);
    const QStringList calls = calls_since(mark);
    QVERIFY(!calls.isEmpty());
    first_ = calls.front().section('.', 0, 0).toInt();
  }

 private slots:
  void initTestCase() {
    QVERIFY(registry_.valid());
    QVERIFY(music_dir_.isValid());
    apartment_ = std::make_unique<demo::Apartment>();
    QCOMPARE(apartment_->status(), S_OK);
    QCOMPARE(demo_test::register_recording_engine(), S_OK);
  }

  void init() {
    call_log().reset();
    load_form();
  }

  void cleanup() {
    form_.reset();
    presenter_.reset();
    boxes_.reset();
  }

  void load_makes_channel_1_completely_before_channel_2_and_sets_no_volume() {
    QCOMPARE(demo_test::all_calls(),
             (QStringList{call(1, "Created"), demo_test::init_call(first_, form_.get()),
                          call(2, "Created"), demo_test::init_call(first_ + 1, form_.get())}));
    QCOMPARE(text("Text1")->text(), QStringLiteral("Please load music to channel"));
    QCOMPARE(text("Text2")->text(), QStringLiteral("Please load music to channel"));
    QCOMPARE(bar()->minimum(), -2500);
    QCOMPARE(bar()->maximum(), 0);
    QCOMPARE(bar()->value(), -1400);
    QCOMPARE(bar()->singleStep(), 1);
    QCOMPARE(bar()->pageStep(), 1);
    QCOMPARE(form_->windowTitle(), QStringLiteral("Form1"));
    QCOMPARE(dialog()->nameFilters(), QStringList{"Midi Files (*.mid)"});
    QStringList captions;
    for (QPushButton* b : form_->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
      QVERIFY(b->isEnabled());
      captions << b->objectName() + "=" + b->text();
    }
    captions.sort();
    QCOMPARE(captions, (QStringList{"Command1=CH1", "Command2=CH2", "Command3=PlayCH1",
                                    "Command4=PlayCH2", "Command5=StopCH1", "Command6=StopCH2"}));
    QCOMPARE(demo_test::tab_order(form_.get()),
             (QStringList{"HScroll1", "Command1", "Command2", "Text1", "Text2", "Command3",
                          "Command4", "Command5", "Command6"}));
  }

  void each_drag_sets_channel_1_then_channel_2_in_opposite_directions() {
    struct Row {
      int thumb;
      int channel1;
      int channel2;
    };
    for (const Row row : {Row{-2500, -2300, 200}, Row{-1400, -1200, -900}, Row{-1250, -1050, -1050},
                          Row{0, 200, -2300}}) {
      const std::size_t mark = call_log().mark();
      demo_test::drag_thumb(bar(), row.thumb);
      QCOMPARE(calls_since(mark),
               (QStringList{call(1, QStringLiteral("SetMasterVolume(%1)").arg(row.channel1)),
                            call(2, QStringLiteral("SetMasterVolume(%1)").arg(row.channel2))}));
      QCOMPARE(bar()->value(), row.thumb);
    }
  }

  void arrows_and_track_move_the_thumb_without_setting_volumes() {
    const std::size_t mark = call_log().mark();
    bar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(bar()->value(), -1399);
    bar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    bar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(bar()->value(), -1401);
    QTest::mouseClick(bar(), Qt::LeftButton, {}, QPoint(3, bar()->height() / 2));
    QCOMPARE(bar()->value(), -1402);
    QCOMPARE(calls_since(mark), QStringList{});
  }

  void choosing_a_file_shows_it_and_loads_it_on_that_channel_only() {
    const QString first = music_file("first.mid");
    const QString second = music_file("second.mid");
    std::size_t mark = call_log().mark();
    choose("Command2", second);
    QCOMPARE(text("Text2")->text(), second);
    QCOMPARE(text("Text1")->text(), QStringLiteral("Please load music to channel"));
    QCOMPARE(calls_since(mark), QStringList{call(2, "Music_Load(" + second + ")")});

    mark = call_log().mark();
    choose("Command1", first);
    QCOMPARE(text("Text1")->text(), first);
    QCOMPARE(calls_since(mark), QStringList{call(1, "Music_Load(" + first + ")")});

    // Cancelling changes nothing.
    mark = call_log().mark();
    choose("Command1", QString());
    QCOMPARE(text("Text1")->text(), first);
    QCOMPARE(calls_since(mark), QStringList{});
    QCOMPARE(demo_test::visible_boxes().size(), 0);
  }

  void play_and_stop_reach_only_their_channel_and_typing_reaches_nothing() {
    const std::size_t mark = call_log().mark();
    button("Command4")->click();
    button("Command3")->click();
    button("Command5")->click();
    button("Command6")->click();
    QTest::keyClicks(text("Text1"), "/tmp/typed.mid");
    QTest::keyClick(text("Text1"), Qt::Key_Return);
    QCOMPARE(calls_since(mark), (QStringList{call(2, "Music_Play(100)"), call(1, "Music_Play(100)"),
                                             call(1, "Music_Stop()"), call(2, "Music_Stop()")}));
  }

  void closing_cleans_up_and_releases_channel_1_then_channel_2_once_each() {
    const std::size_t mark = call_log().mark();
    QSignalSpy unloaded(form_.get(), &demo::DemoWindow::unloaded);
    QVERIFY(form_->close());
    QCOMPARE(unloaded.count(), 1);
    QCOMPARE(calls_since(mark), (QStringList{call(1, "CleanupAudio()"), call(1, "Released"),
                                             call(2, "CleanupAudio()"), call(2, "Released")}));
    // The final pass after unloading finds both channels released and calls nothing.
    const std::size_t after = call_log().mark();
    form_.reset();
    QCOMPARE(calls_since(after), QStringList{});
  }

  void a_failed_call_stops_its_handler_with_one_box_and_the_window_goes_on() {
    // A refused volume for channel 1: channel 2 is not touched, however often the drag
    // notification comes.
    call_log().set_status("SetMasterVolume", E_INVALIDARG);
    const std::size_t mark = call_log().mark();
    for (int thumb : {-100, -50, -10}) demo_test::drag_thumb(bar(), thumb);
    QCOMPARE(calls_since(mark),
             (QStringList{call(1, "SetMasterVolume(100)"), call(1, "SetMasterVolume(150)"),
                          call(1, "SetMasterVolume(190)")}));
    QCOMPARE(demo_test::visible_boxes().size(), 1);
    QMessageBox* box = demo_test::visible_boxes().front();
    QVERIFY(box->text().contains("SetMasterVolume failed."));
    QVERIFY(box->text().contains("0x80070057"));
    box->accept();

    // The text box already shows the file when the load fails.
    call_log().set_status("Music_Load", MUSIC_E_CORRUPT);
    const QString broken = music_file("broken.mid");
    choose("Command1", broken);
    QCOMPARE(text("Text1")->text(), broken);
    QCOMPARE(demo_test::visible_boxes().size(), 1);
    QVERIFY(demo_test::visible_boxes().front()->text().contains("Music_Load failed."));
  }

  void a_failed_initialisation_at_load_leaves_channel_2_unmade_and_harmless() {
    cleanup();
    call_log().set_status("InitOrvanAudio", DSERR_NODRIVER);
    const std::size_t mark = call_log().mark();
    load_form();
    const QStringList calls = calls_since(mark);
    QCOMPARE(calls, (QStringList{call(1, "Created"), demo_test::init_call(first_, form_.get())}));
    // The load stopped: the later steps did not run.
    QCOMPARE(text("Text1")->text(), QStringLiteral("Text1"));
    QCOMPARE(demo_test::visible_boxes().size(), 1);
    demo_test::visible_boxes().front()->accept();

    // Channel 2 has no object: its buttons report that instead of crashing.
    button("Command4")->click();
    QCOMPARE(demo_test::visible_boxes().size(), 1);
    QVERIFY(demo_test::visible_boxes().front()->text().contains("0x800A005B"));
    const std::size_t closing = call_log().mark();
    QVERIFY(form_->close());
    QCOMPARE(calls_since(closing), (QStringList{call(1, "CleanupAudio()"), call(1, "Released")}));
  }
};

QTEST_MAIN(FaderWindowTest)
#include "fader_window_test.moc"
