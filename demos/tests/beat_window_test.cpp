// The beat window example with the real component, registered in a throwaway registry and
// created by class identity. A piece the test writes (3/4 at 120 BPM, a marker at bar 2 and
// one at bar 3) is rendered with RenderFor, which queues its events in this thread's
// apartment; the window shows them once the event loop has seen the apartment's descriptor.
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "demos/common/engine_binding.h"
#include "demos/tests/support/test_registry.h"
#include "examples/beat_window/beat_window.h"
#include "tests/support/smf_writer.h"

using namespace orvan;

class BeatWindowTest : public QObject {
  Q_OBJECT

 private:
  demo_test::ThrowawayRegistry registry_;
  std::unique_ptr<demo::Apartment> apartment_;
  QTemporaryDir dir_;

  static QString text(const QWidget& window, const char* name) {
    const auto* label = window.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("(no label %1)").arg(QLatin1String(name));
  }

 private slots:
  void initTestCase() {
    QVERIFY(registry_.valid());
    QVERIFY(dir_.isValid());
    apartment_ = std::make_unique<demo::Apartment>();
    QCOMPARE(apartment_->status(), S_OK);
    QCOMPARE(demo_test::register_server(ORVAN_TOVEL), S_OK);
  }
  void cleanupTestCase() { apartment_.reset(); }

  void shows_the_bar_beat_and_marker_the_events_tell() {
    const QString midi = dir_.filePath(QStringLiteral("waltz.mid"));
    test::SmfWriter smf(0, 480);
    smf.add_track()
        .tempo(0, 500000)
        .time_signature(0, 3, 2)
        .note_on(0, 0, 60, 100)
        .marker(3 * 480, "Chorus")
        .marker(3 * 480, "Coda")
        .end_of_track(480);
    QVERIFY(smf.write_file(midi.toStdString()));

    _OrvanMusic2* music = nullptr;
    QCOMPARE(CoCreateInstance(CLSID_OrvanMusic, nullptr, CLSCTX_INPROC_SERVER, IID__OrvanMusic2,
                              reinterpret_cast<void**>(&music)),
             S_OK);
    demo::EngineRef held(music);  // released at the end, after the window
    demo::TempBstr wav(dir_.filePath(QStringLiteral("waltz.wav")));
    QCOMPARE(music->InitOrvanRender(*wav.ref(), 48000), S_OK);

    examples::BeatWindow window(music, 48000, QStringLiteral("waltz.mid"));
    QCOMPARE(window.status(), S_OK);
    window.show();
    QVERIFY(window.findChildren<QTimer*>().isEmpty());

    demo::TempBstr file(midi);
    LONG once = 0;
    QCOMPARE(music->Music_Load(file.ref()), S_OK);
    QCOMPARE(music->Music_Play(&once), S_OK);
    // Beats at 0, 0.5 and 1 s in bar 1, bar 2 from 1.5 s: the render stops after bar 2 beat 3.
    QCOMPARE(music->RenderFor(2600), S_OK);
    QCOMPARE(text(window, "bar"), QStringLiteral("-"));  // nothing before the loop runs
    QTRY_COMPARE(text(window, "state"), QStringLiteral("Playing at 0:00.00"));
    QCOMPARE(text(window, "bar"), QStringLiteral("2"));
    QCOMPARE(text(window, "beat"), QStringLiteral("3"));
    QCOMPARE(text(window, "heardAt"), QStringLiteral("heard at 0:02.50"));
    QCOMPARE(text(window, "marker"), QStringLiteral("Marker \u201cChorus\u201d at 0:01.50"));

    QCOMPARE(music->RenderFor(1500), S_OK);
    QTRY_COMPARE(text(window, "state"), QStringLiteral("Ended at 0:03.50"));
    QCOMPARE(text(window, "bar"), QStringLiteral("3"));
    QCOMPARE(text(window, "beat"), QStringLiteral("1"));
    QCOMPARE(text(window, "heardAt"), QStringLiteral("heard at 0:03.00"));
    QCOMPARE(text(window, "marker"), QStringLiteral("Marker \u201cCoda\u201d at 0:03.00"));
    QCOMPARE(music->CleanupAudio(), S_OK);
  }
};

QTEST_MAIN(BeatWindowTest)
#include "beat_window_test.moc"
