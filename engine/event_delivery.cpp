#include "engine/event_delivery.h"

#include <utility>

#include "platform/com/auto_string.h"
#include "platform/music/midi/sequence.h"

namespace orvan::engine {

EventDelivery::~EventDelivery() {
  set_handler(nullptr);
}

void EventDelivery::set_handler(EventHandler handler) {
  {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
  }
  keep_thread();
}

void EventDelivery::keep_thread() {
  bool wanted = false;
  {
    std::lock_guard lock(mutex_);
    wanted = handler_ && ring_;
  }
  std::unique_lock lock(thread_mutex_);
  if (wanted && !thread_.joinable()) {
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
  } else if (!wanted && thread_.joinable()) {
    stopping_ = true;
    wake_.notify_all();
    std::thread ending = std::move(thread_);
    lock.unlock();
    ending.join();
  }
}

void EventDelivery::attach(std::shared_ptr<music::MusicEventRing> ring) {
  {
    std::lock_guard lock(mutex_);
    deliver_locked();
    if (ring_) dropped_before_ += ring_->overflowed();
    ring_ = std::move(ring);
  }
  keep_thread();
}

void EventDelivery::keep(com::Ref<music::DirectMusicSegment8> segment) {
  std::lock_guard lock(mutex_);
  pieces_.push_back(std::move(segment));
  if (pieces_.size() > kKeptPieces) pieces_.pop_front();
}

void EventDelivery::deliver() {
  std::lock_guard lock(mutex_);
  deliver_locked();
}

std::uint64_t EventDelivery::dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_before_ + missed_ + (ring_ ? ring_->overflowed() : 0);
}

void EventDelivery::deliver_locked() {
  if (!ring_) return;
  music::MusicEvent event;
  while (ring_->take(event)) {
    if (!handler_) continue;
    HeardEvent heard{event.kind, event.a, event.b, static_cast<double>(event.frame), {}};
    if (event.kind == music::MusicEventKind::Marker) heard.name = marker_name_locked(event);
    missed_ += handler_(heard);
  }
}

std::u16string EventDelivery::marker_name_locked(const music::MusicEvent& event) const {
  for (const auto& piece : pieces_) {
    const music::midi::Sequence* sequence = piece ? piece->content().marker_events() : nullptr;
    if (!sequence || sequence != event.sequence) continue;
    const auto index = static_cast<std::size_t>(event.a);
    if (event.a < 0 || index >= sequence->events.size()) return {};
    const auto bytes = sequence->payload_of(sequence->events[index]);
    return com::utf8_to_utf16({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  }
  return {};
}

void EventDelivery::run() {
  std::unique_lock lock(thread_mutex_);
  while (!stopping_) {
    lock.unlock();
    deliver();
    lock.lock();
    wake_.wait_for(lock, kInterval, [this] { return stopping_; });
  }
}

}  // namespace orvan::engine
