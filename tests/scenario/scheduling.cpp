#include "scenario/scheduling.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vantorel::link {
struct Outgoing;
struct CommandOptions;
class Reply;
}  // namespace vantorel::link

namespace scenario {
namespace {

std::atomic<int> realPauses{0};

struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  std::thread::id thread;
  bool armed = false;
  bool waiting = false;
};

Gate& TheGate() {
  static Gate gate;
  return gate;
}

}  // namespace

RealPauses::RealPauses() {
  ++realPauses;
}
RealPauses::~RealPauses() {
  --realPauses;
}

void GateThisThread() {
  Gate& g = TheGate();
  std::lock_guard lock(g.mutex);
  g.thread = std::this_thread::get_id();
  g.armed = true;
  g.waiting = false;
}

bool WaitAtGate(std::chrono::milliseconds timeout) {
  Gate& g = TheGate();
  std::unique_lock lock(g.mutex);
  return g.cv.wait_for(lock, timeout, [&] { return g.waiting; });
}

void OpenGate() {
  Gate& g = TheGate();
  {
    std::lock_guard lock(g.mutex);
    g.armed = false;
  }
  g.cv.notify_all();
}

}  // namespace scenario

using ReplyHandler = bool (*)(void*, const vantorel::link::Reply&);

extern "C" {
// vantorel::link::Pause(std::chrono::milliseconds)
void __real__ZN8vantorel4link5PauseENSt6chrono8durationIlSt5ratioILl1ELl1000EEEE(
    std::chrono::milliseconds);
void __wrap__ZN8vantorel4link5PauseENSt6chrono8durationIlSt5ratioILl1ELl1000EEEE(
    std::chrono::milliseconds duration) {
  // Fixed waits shrink rather than vanish: a loop whose pass sleep vanished would spin on the
  // processor and starve the terminal's thread. The wait between a serial write and its read
  // (300 ms) keeps half, so that a loaded machine (sanitizers, ctest -j) still answers within
  // the read; the interleavings come from the seed, not from the library's pacing.
  constexpr std::chrono::milliseconds kShortPause{10};
  constexpr std::chrono::milliseconds kReplyWait{300};
  if (scenario::realPauses.load() == 0) {
    duration = duration >= kReplyWait ? kReplyWait / 2 : std::min(duration, kShortPause);
  }
  __real__ZN8vantorel4link5PauseENSt6chrono8durationIlSt5ratioILl1ELl1000EEEE(duration);
}

// vantorel::link::RunCommandWith(const Outgoing&, const CommandOptions&, ReplyHandler, void*):
// the one path every command takes before it raises linkBusy and takes the link.
unsigned char
__real__ZN8vantorel4link14RunCommandWithERKNS0_8OutgoingERKNS0_14CommandOptionsEPFbPvRKNS0_5ReplyEES7_(
    const vantorel::link::Outgoing&, const vantorel::link::CommandOptions&, ReplyHandler, void*);
unsigned char
__wrap__ZN8vantorel4link14RunCommandWithERKNS0_8OutgoingERKNS0_14CommandOptionsEPFbPvRKNS0_5ReplyEES7_(
    const vantorel::link::Outgoing& outgoing, const vantorel::link::CommandOptions& options,
    ReplyHandler onSuccess, void* context) {
  scenario::Gate& g = scenario::TheGate();
  {
    std::unique_lock lock(g.mutex);
    if (g.armed && g.thread == std::this_thread::get_id()) {
      g.waiting = true;
      g.cv.notify_all();
      g.cv.wait(lock, [&] { return !g.armed; });
      g.waiting = false;
    }
  }
  return __real__ZN8vantorel4link14RunCommandWithERKNS0_8OutgoingERKNS0_14CommandOptionsEPFbPvRKNS0_5ReplyEES7_(
      outgoing, options, onSuccess, context);
}
}
