// Whether a loop is still the current one after the ways a loop is ended from outside, and
// the state object's reset for tests.
#include "link/polling_mode.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "link/link_state.h"

namespace vantorel::link {
namespace {

using Ticket = PollingMode::Ticket;

// Two starts of one kind, A and B: A takes its mark (a capture's Supersede or a reading's
// Mark), something happens, A tries to begin; then, if A began, something else happens.
struct Case {
  const char* what;
  bool supersedingStart;                      // A's mark from Supersede (capture), else Mark
  std::function<void(PollingMode&)> beforeA;  // between A's mark and A's begin
  bool aBegins;                               // BeginUnlessEnded's answer
  std::function<void(PollingMode&)> afterA;   // while A runs
  bool aCurrent;                              // A still current at its next turn
  bool flagUp;                                // what the mode table sees
};

TEST(PollingMode, LoopsEndedFromOutside) {
  const auto nothing = [](PollingMode&) {};
  const auto end = [](PollingMode& m) { m.End(); };
  const auto forestall = [](PollingMode& m) { m.Forestall(); };
  const auto supersede = [](PollingMode& m) { m.Supersede(); };
  const auto newerLoop = [](PollingMode& m) { m.Begin(); };
  const std::vector<Case> cases = {
      {"capture begins and runs", true, nothing, true, nothing, true, true},
      {"exit", true, nothing, true, end, false, false},
      {"a later capture start, before its answer", true, nothing, true, supersede, false, false},
      {"a later capture start that began", true, nothing, true,
       [](PollingMode& m) {
         Ticket b = 0;
         m.BeginUnlessEnded(m.Supersede(), b);
       },
       false, true},
      {"a later start superseded it before its answer", true, supersede, false, nothing, false,
       false},
      {"an exit before the start's answer does not end it", true, end, true, nothing, true, true},
      {"reading begins and runs", false, nothing, true, nothing, true, true},
      {"a disable during the switch-on", false, forestall, false, nothing, false, false},
      {"a disable sent while reading: reads on until answered", false, nothing, true, forestall,
       true, true},
      {"the disable's answer", false, nothing, true, end, false, false},
      {"a newer entry of the same kind", false, nothing, true, newerLoop, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::atomic<std::uint8_t> flag{0};
    PollingMode mode(flag);
    mode.Begin();  // an earlier loop, long over
    mode.End();
    const Ticket mark = c.supersedingStart ? mode.Supersede() : mode.Mark();
    c.beforeA(mode);
    Ticket a = 0;
    EXPECT_EQ(mode.BeginUnlessEnded(mark, a), c.aBegins);
    if (c.aBegins) c.afterA(mode);
    EXPECT_EQ(mode.Current(a), c.aCurrent);
    EXPECT_EQ(flag.load() != 0, c.flagUp);
  }
}

TEST(PollingMode, AStartThatDidNotBeginIsNeverCurrent) {
  std::atomic<std::uint8_t> flag{0};
  PollingMode mode(flag);
  mode.StartBegins();  // a start on its way claims the kind without raising the flag
  EXPECT_TRUE(mode.Claimed());
  EXPECT_FALSE(mode.Current(0));
  EXPECT_EQ(flag.load(), 0);
  mode.StartEnds();
  EXPECT_FALSE(mode.Claimed());
}

TEST(LinkStateReset, OnlyWithTheLinkClosed) {
  LinkState& state = State();
  state.pinEntry.Begin();
  state.linkOpen = 1;
  EXPECT_FALSE(state.Reset());
  EXPECT_EQ(state.pinEntryActive.load(), 1);
  state.linkOpen = 0;
  state.reading.LoopBegins();  // a reading loop on its last pass
  EXPECT_FALSE(state.Reset());
  state.reading.LoopReturns();
  EXPECT_TRUE(state.Reset());
  EXPECT_EQ(state.pinEntryActive.load(), 0);
  EXPECT_EQ(state.pinEntry.Mark(), 0u);
}

}  // namespace
}  // namespace vantorel::link
