#include "link/timing.h"

#include <thread>

namespace vantorel::link {

void Pause(Millis duration) noexcept {
  std::this_thread::sleep_for(duration);
}

}  // namespace vantorel::link
