#include "demos/tests/recording_engine/call_log.h"

namespace orvan::demo_test {

CallLog& CallLog::instance() {
  static CallLog log;
  return log;
}

int CallLog::next_object() {
  std::lock_guard lock(mutex_);
  return ++objects_;
}

void CallLog::record(int object, const std::string& call) {
  std::lock_guard lock(mutex_);
  lines_.push_back(std::to_string(object) + "." + call);
}

HRESULT CallLog::status_of(const std::string& method) const {
  std::lock_guard lock(mutex_);
  const auto it = statuses_.find(method);
  return it == statuses_.end() ? S_OK : it->second;
}

LONG CallLog::answer_of(const std::string& method) const {
  std::lock_guard lock(mutex_);
  const auto it = answers_.find(method);
  return it == answers_.end() ? 0 : it->second;
}

std::vector<std::string> CallLog::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::size_t CallLog::mark() const {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

std::vector<std::string> CallLog::lines_since(std::size_t mark) const {
  std::lock_guard lock(mutex_);
  if (mark >= lines_.size()) return {};
  return {lines_.begin() + static_cast<std::ptrdiff_t>(mark), lines_.end()};
}

void CallLog::reset() {
  std::lock_guard lock(mutex_);
  lines_.clear();
  statuses_.clear();
  answers_.clear();
}

void CallLog::set_status(const std::string& method, HRESULT hr) {
  std::lock_guard lock(mutex_);
  statuses_[method] = hr;
}

void CallLog::set_answer(const std::string& method, LONG value) {
  std::lock_guard lock(mutex_);
  answers_[method] = value;
}

}  // namespace orvan::demo_test
