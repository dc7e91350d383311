#include "link/timing.h"

#include <thread>

#include "link/trace.h"
#include "vantorel.h"

namespace vantorel::link {

void Pause(Millis duration) noexcept {
  std::this_thread::sleep_for(duration);
}

}  // namespace vantorel::link

extern "C" unsigned char VANTOREL_CALL Brixa_SetTiming(int profile, int minimumGapMs) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (profile != VANTOREL_TIMING_STANDARD && profile != VANTOREL_TIMING_PROMPT) {
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  }
  if (minimumGapMs < 0 || minimumGapMs > 10000) return call.Result(VANTOREL_INVALID_ARGUMENT);
  // The profiles themselves come with the prompt reads; until then both pace alike.
  return call.Result(VANTOREL_SUCCESS);
}
