// A window that shows where a piece is, told only by the engine's events: the bar and the
// beat in large figures, the time they were heard at, the last marker passed and whether the
// piece plays, looped or ended.
#pragma once

#include <QLabel>
#include <QWidget>
#include <memory>

#include "examples/beat_window/apartment_notifier.h"
#include "examples/beat_window/music_event_sink.h"

namespace orvan::examples {

class BeatWindow : public QWidget {
 public:
  // Listens to `music` (which it holds a reference to) until the window goes; frames become
  // seconds at `sample_rate`, the rate the channel was opened at. `title` names the piece.
  BeatWindow(IUnknown* music, long sample_rate, const QString& title, QWidget* parent = nullptr);
  ~BeatWindow() override;
  BeatWindow(const BeatWindow&) = delete;
  BeatWindow& operator=(const BeatWindow&) = delete;

  // S_OK when the window hears the events; else why it cannot (no apartment, no events).
  HRESULT status() const;

 private:
  MusicEventHandlers handlers();
  void show_state(const QString& state, double frame);
  QString time_at(double frame) const;

  struct Release {
    void operator()(IUnknown* object) const { object->Release(); }
  };
  // First, so that it goes last: the connection unadvises while the object still exists.
  std::unique_ptr<IUnknown, Release> music_;
  long sample_rate_;
  QLabel* bar_;
  QLabel* beat_;
  QLabel* heard_at_;
  QLabel* marker_;
  QLabel* state_;
  MusicEventSink sink_;
  ApartmentNotifier notifier_;
  MusicEventConnection connection_;
};

}  // namespace orvan::examples
