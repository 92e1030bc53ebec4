// The log a recording engine writes and a window test reads: every call an engine object
// receives, with its arguments, in order. One log per process: it lives in its own shared
// library, which both the test and the recording engine (loaded by the component runtime)
// link, so both see the same one.
//
// A test also scripts the engine through it: the status each method returns and the values
// the queries answer.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "orvan/component_runtime.h"

namespace orvan::demo_test {

class CallLog {
 public:
  static CallLog& instance();

  // Engine side. Objects are numbered 1, 2, ... in the order they are created.
  int next_object();
  void record(int object, const std::string& call);
  HRESULT status_of(const std::string& method) const;
  LONG answer_of(const std::string& method) const;

  // Test side. Lines read "1.SetPosition(5700)": object number, method, arguments.
  std::vector<std::string> lines() const;
  // The lines since the mark, to look at what one action did.
  std::size_t mark() const;
  std::vector<std::string> lines_since(std::size_t mark) const;
  // Forgets calls and scripts; object numbers go on counting.
  void reset();
  void set_status(const std::string& method, HRESULT hr);
  // GetLengh, GetCurrentPosition, GetMasterVolume, ... answer this (0 unless set).
  void set_answer(const std::string& method, LONG value);

 private:
  mutable std::mutex mutex_;
  int objects_ = 0;
  std::vector<std::string> lines_;
  std::map<std::string, HRESULT> statuses_;
  std::map<std::string, LONG> answers_;
};

}  // namespace orvan::demo_test
