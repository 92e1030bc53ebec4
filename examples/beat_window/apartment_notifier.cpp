#include "examples/beat_window/apartment_notifier.h"

namespace orvan::examples {

ApartmentNotifier::ApartmentNotifier() {
  int descriptor = -1;
  status_ = OrvanGetApartmentDescriptor(&descriptor);
  if (FAILED(status_)) return;
  notifier_ = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
  // The pump keeps the descriptor's state itself; it is never read here.
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                   [] { OrvanPumpApartment(0, nullptr); });
}

}  // namespace orvan::examples
