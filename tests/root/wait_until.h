// Polls a condition that another thread makes true; gives up after a generous timeout so a
// broken build fails instead of hanging.
#pragma once

#include <chrono>
#include <thread>

template <class Condition>
bool wait_until(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
