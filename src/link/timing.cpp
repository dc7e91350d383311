#include "link/timing.h"

#include <thread>

namespace vantorel::link {

void Pause(Millis duration) noexcept {
  std::this_thread::sleep_for(duration);
}

void YieldBriefly() noexcept {
  std::this_thread::sleep_for(std::chrono::microseconds(500));
}

}  // namespace vantorel::link
