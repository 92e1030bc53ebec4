// The channel's events on their way from the render side to whoever listens: while a channel
// is open and someone listens, a thread of the channel's own takes them off the render side's
// ring every few milliseconds and hands each,
// in the order heard, to the handler (the component shell, which posts it to each sink's
// apartment). RenderFor hands over what it rendered before it returns, so that a client that
// renders on demand finds its events queued at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/com/object.h"
#include "platform/music/client/segment.h"
#include "platform/music/render/music_events.h"

namespace orvan::engine {

// One event as a listener receives it. `a` and `b` as MusicEvent has them; a marker's name
// in `name`.
struct HeardEvent {
  music::MusicEventKind kind = music::MusicEventKind::Started;
  std::int32_t a = 0;
  std::int32_t b = 0;
  double frame = 0.0;
  std::u16string name;
};
// Hands one event on, and answers how many of its listeners could not take it (their queues
// full), so that what they missed is counted with what the render side dropped.
using EventHandler = std::function<std::size_t(const HeardEvent&)>;

class EventDelivery {
 public:
  // How often the thread looks at the ring.
  static constexpr std::chrono::milliseconds kInterval{5};
  // Loaded pieces whose marker names stay readable for events still on their way.
  static constexpr std::size_t kKeptPieces = 4;

  ~EventDelivery();

  // Sets who hears the events (empty: nobody; what arrives meanwhile is dropped). When it
  // returns, the previous handler is no longer called. Never call it from inside the handler.
  void set_handler(EventHandler handler);
  // The ring of a channel that starts (the previous one's remaining events are handed over
  // first), or none when the channel closes. Not from inside the handler either.
  void attach(std::shared_ptr<music::MusicEventRing> ring);
  // A piece that may play: its markers are named from it.
  void keep(com::Ref<music::DirectMusicSegment8> segment);
  // Hands every event waiting to the handler, in order. Any thread but the handler's own call.
  void deliver();
  // Events a listener missed, over every channel: those the render side dropped because
  // nobody took them in time (every listener misses those), and one for each listener the
  // handler said could not take one.
  std::uint64_t dropped() const;

 private:
  void deliver_locked();
  std::u16string marker_name_locked(const music::MusicEvent& event) const;
  void run();
  // Starts the thread when there is a ring and a handler, stops it when either goes.
  void keep_thread();

  mutable std::mutex mutex_;  // the ring's consumer side, the handler and the pieces
  EventHandler handler_;
  std::shared_ptr<music::MusicEventRing> ring_;
  std::uint64_t dropped_before_ = 0;  // by rings no longer attached
  std::uint64_t missed_ = 0;          // by the handler's listeners
  std::deque<com::Ref<music::DirectMusicSegment8>> pieces_;

  std::mutex thread_mutex_;  // the thread's start, stop and sleep
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace orvan::engine
