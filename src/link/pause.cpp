// The one function that sleeps, alone in its unit: the profiles (timing.cpp) call it from
// outside, so a test that wraps it at link time shortens every fixed wait they keep.
#include <thread>

#include "link/timing.h"

namespace vantorel::link {

void Pause(Millis duration) noexcept {
  std::this_thread::sleep_for(duration);
}

}  // namespace vantorel::link
