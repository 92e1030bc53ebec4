// Both programs' windows with the real engine component, registered in a throwaway registry
// through its own DllRegisterServer and created by class identity, playing on SDL's dummy
// device (silent, paced in real time). The window is driven as a person would; what the
// engine does is read back through the engine's own queries.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <memory>
#include <vector>

#include "demos/fader/fader_window.h"
#include "demos/seek/seek_window.h"
#include "demos/tests/support/test_registry.h"

using namespace orvan;

namespace {

// The number at the end of a label: "Current position =4096" -> 4096.
long long trailing_number(const QLabel* label) {
  const QString text = label->text();
  qsizetype start = text.size();
  while (start > 0 && (text[start - 1].isDigit() || text[start - 1] == '-')) --start;
  return text.mid(start).toLongLong();
}

bool no_audio_device_wanted() {
  return qgetenv("SDL_AUDIODRIVER") != "dummy";
}

}  // namespace

class EndToEndTest : public QObject {
  Q_OBJECT

 private:
  demo_test::ThrowawayRegistry registry_;
  std::unique_ptr<demo::Apartment> apartment_;
  std::unique_ptr<demo::MessageBoxHost> boxes_;
  std::unique_ptr<ui::ScopedMessagePresenter> presenter_;
  // Extra references to the objects a window made, to ask the engine what it holds.
  std::vector<_OrvanMusic*> made_;

  demo::EngineFactory keeping_factory() {
    return [this](demo::EngineRef& out) {
      const HRESULT hr = demo::create_orvan_music(out);
      if (SUCCEEDED(hr)) {
        out->AddRef();
        made_.push_back(out.get());
      }
      return hr;
    };
  }
  void release_made() {
    for (_OrvanMusic* object : made_) object->Release();
    made_.clear();
  }
  QStringList box_texts() {
    QStringList texts;
    for (QMessageBox* box : demo_test::visible_boxes()) texts << box->text();
    return texts;
  }
  void accept_boxes() {
    for (QMessageBox* box : demo_test::visible_boxes()) box->accept();
  }
  static void choose(QWidget* form, const char* button, const QString& file) {
    QTimer::singleShot(0, form, [form, file] {
      auto* dialog = form->findChild<QFileDialog*>(QStringLiteral("CMD1"));
      auto* name = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
      if (!name) return;
      name->setText(file);
      static_cast<QDialog*>(dialog)->accept();
    });
    form->findChild<QPushButton*>(button)->click();
  }

 private slots:
  void initTestCase() {
    QVERIFY(registry_.valid());
    QCOMPARE(demo_test::register_server(ORVAN_TOVEL), S_OK);
    apartment_ = std::make_unique<demo::Apartment>();
    QCOMPARE(apartment_->status(), S_OK);
  }

  void init() {
    boxes_ = std::make_unique<demo::MessageBoxHost>();
    presenter_ = std::make_unique<ui::ScopedMessagePresenter>(
        std::make_shared<demo::QueuedMessagePresenter>(boxes_.get()));
  }

  void cleanup() {
    release_made();
    accept_boxes();
    presenter_.reset();
    boxes_.reset();
  }

  void seek_shows_the_music_advancing_and_a_drag_moves_it() {
    if (no_audio_device_wanted()) QSKIP("runs on the dummy audio device");
    seek::Form1 form(*boxes_, keeping_factory());
    QCOMPARE(form.load(), S_OK);
    form.show();
    form.findChild<QPushButton*>("Command1")->click();
    form.findChild<QPushButton*>("Command5")->click();
    QCOMPARE(box_texts(), QStringList{});

    LONG length = 0;
    QCOMPARE(made_.front()->GetLengh(&length), S_OK);
    QVERIFY(length > 100000);
    auto* length_label = form.findChild<QLabel*>("Label1");
    auto* position_label = form.findChild<QLabel*>("Label2");
    auto* bar = form.findChild<QScrollBar*>("HScroll1");
    QCOMPARE(length_label->text(), QStringLiteral("Music lengh = %1").arg(length));
    QCOMPARE(bar->maximum(), qRound(length / 100.0));

    form.findChild<QPushButton*>("Command2")->click();
    QTRY_VERIFY(trailing_number(position_label) > 0);
    const long long first = trailing_number(position_label);
    QTRY_VERIFY(trailing_number(position_label) > first + 768);

    // Half way through the music: the engine plays on from there.
    const int middle = bar->maximum() / 2;
    demo_test::drag_thumb(bar, middle);
    QTRY_VERIFY(trailing_number(position_label) >= middle * 100LL);
    QTRY_VERIFY(trailing_number(position_label) > middle * 100LL + 768);
    QVERIFY(bar->value() >= middle);
    LONG position = 0;
    QCOMPARE(made_.front()->GetCurrentPosition(&position), S_OK);
    QVERIFY(position >= middle * 100);

    release_made();
    QVERIFY(form.close());
    // Released at unload, the engine says goodbye in its own box.
    QTRY_COMPARE(box_texts(), QStringList{"Thank you for using 'Orvan Music Engine' "});
  }

  void duvane_plays_two_files_at_the_volumes_of_the_thumb() {
    if (no_audio_device_wanted()) QSKIP("runs on the dummy audio device");
    fader::Form1 form(*boxes_, keeping_factory());
    QCOMPARE(form.load(), S_OK);
    form.show();
    QCOMPARE(made_.size(), std::size_t{2});
    const QString theme = QStringLiteral(ORVAN_BINARY_DIR "/media/Theme.mid");
    choose(&form, "Command1", theme);
    // A second, different file when the machine has Debian's openmsx music.
    const QStringList openmsx = QDir(QStringLiteral("/usr/share/games/openttd/baseset/openmsx"))
                                    .entryList({QStringLiteral("*.mid")}, QDir::Files, QDir::Name);
    const QString other =
        openmsx.isEmpty()
            ? theme
            : QStringLiteral("/usr/share/games/openttd/baseset/openmsx/") + openmsx.front();
    choose(&form, "Command2", other);
    QCOMPARE(form.findChild<QLineEdit*>("Text2")->text(), other);
    form.findChild<QPushButton*>("Command3")->click();
    form.findChild<QPushButton*>("Command4")->click();
    QCOMPARE(box_texts(), QStringList{});
    for (_OrvanMusic* channel : made_) {
      VARIANT_BOOL playing = VARIANT_FALSE;
      QCOMPARE(channel->IsPlaying(&playing), S_OK);
      QCOMPARE(playing, VARIANT_TRUE);
    }

    auto* bar = form.findChild<QScrollBar*>("HScroll1");
    for (const auto& [thumb, volume1, volume2] :
         {std::tuple{-1250, -1050, -1050}, std::tuple{-2500, -2300, 200},
          std::tuple{0, 200, -2300}}) {
      demo_test::drag_thumb(bar, thumb);
      LONG volume = 0;
      QCOMPARE(made_[0]->GetMasterVolume(&volume), S_OK);
      QCOMPARE(volume, volume1);
      QCOMPARE(made_[1]->GetMasterVolume(&volume), S_OK);
      QCOMPARE(volume, volume2);
    }

    // Each channel stops on its own.
    form.findChild<QPushButton*>("Command5")->click();
    VARIANT_BOOL playing = VARIANT_TRUE;
    QCOMPARE(made_[0]->IsPlaying(&playing), S_OK);
    QCOMPARE(playing, VARIANT_FALSE);
    QCOMPARE(made_[1]->IsPlaying(&playing), S_OK);
    QCOMPARE(playing, VARIANT_TRUE);

    release_made();
    QVERIFY(form.close());
    QTRY_COMPARE(box_texts().size(), 2);
  }

  void seek_ends_once_its_window_is_closed_and_the_goodbye_is_read() {
    if (no_audio_device_wanted()) QSKIP("runs on the dummy audio device");
    // Play, close the window, then read the boxes: the program goes on until the last one.
    QStringList seen;
    int step = 0;
    QTimer person;
    connect(&person, &QTimer::timeout, [&] {
      QWidget* window = nullptr;
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QStringLiteral("Form1") && widget->isVisible()) window = widget;
      }
      if (step == 0 && window) {
        for (const char* button : {"Command1", "Command5", "Command2"}) {
          window->findChild<QPushButton*>(button)->click();
        }
        step = 1;
      } else if (step == 1 && window) {
        window->close();
        step = 2;
      } else if (step == 2) {
        for (QMessageBox* box : demo_test::visible_boxes()) {
          seen << box->text();
          box->accept();
        }
      }
    });
    person.start(20);
    const int status = demo::run_program(
        [](demo::MessageBoxHost& boxes) { return std::make_unique<seek::Form1>(boxes); });
    person.stop();
    QCOMPARE(status, 0);
    QCOMPARE(seen, QStringList{"Thank you for using 'Orvan Music Engine' "});
  }

  void without_an_audio_device_the_engine_says_so_and_seek_goes_on() {
    if (!no_audio_device_wanted()) QSKIP("runs without an audio device");
    seek::Form1 form(*boxes_);
    QCOMPARE(form.load(), S_OK);
    form.findChild<QPushButton*>("Command1")->click();
    // The engine's box, and "Load" enabled all the same.
    QVERIFY(form.findChild<QPushButton*>("Command5")->isEnabled());
    QTRY_COMPARE(box_texts(), QStringList{"Could not initialize Engine\r\n "});
    QCOMPARE(demo_test::visible_boxes().front()->windowTitle(), QStringLiteral("Exiting..."));
    QCOMPARE(demo_test::visible_boxes().front()->icon(), QMessageBox::Information);
  }
};

QTEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
