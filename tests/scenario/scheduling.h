// The runner's hold on the library's timing and ordering, through symbols wrapped at link
// time (-Wl,--wrap): the library's fixed waits return at once unless a scenario asks for
// them, and one thread can be stopped right before its next command takes the link.
#pragma once

#include <chrono>

namespace scenario {

// While one lives, the library's fixed waits are real (a scenario that measures the
// processor time a wait loop takes).
class RealPauses {
 public:
  RealPauses();
  ~RealPauses();
  RealPauses(const RealPauses&) = delete;
  RealPauses& operator=(const RealPauses&) = delete;
};

// The calling thread's next command stops before it takes the link, until OpenGate().
void GateThisThread();
// True once the gated thread waits at the gate.
bool WaitAtGate(std::chrono::milliseconds timeout);
void OpenGate();

}  // namespace scenario
