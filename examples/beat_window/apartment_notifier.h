// Runs the calls posted to this thread's apartment (the engine's events among them) from the
// Qt event loop: the apartment's descriptor is readable while calls wait, so a socket
// notifier on it wakes the loop exactly when there is something to run, and no timer polls.
#pragma once

#include <QSocketNotifier>
#include <memory>

#include "orvan/tovel.h"

namespace orvan::examples {

class ApartmentNotifier {
 public:
  // Watches the calling thread's apartment, which must outlive this object.
  ApartmentNotifier();

  // S_OK while watching; CO_E_NOTINITIALIZED outside an apartment.
  HRESULT status() const { return status_; }

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
  HRESULT status_ = E_FAIL;
};

}  // namespace orvan::examples
