// Whether a polling loop is still the current loop of its kind, and who may end it.
//
// Each long-running kind (capture, secure reading, the PIN-pad entries, the encrypted-data
// entry) has one PollingMode in LinkState: its flag, which the mode table and the trace read,
// the count of loops begun and the count of ends that also reach a start not begun yet. A
// loop keeps the ticket its Begin returned and asks Current(ticket) with the link held before
// each read (inside WithIdleLink), so a loop ended from outside (a disable, an exit, a close,
// a new start) leaves at its next turn and never reads what belongs to its successor, even
// when that successor has already raised the flag again.
#pragma once

#include <atomic>
#include <cstdint>

namespace vantorel::link {

class PollingMode {
 public:
  using Ticket = std::uint64_t;

  // `active` is the kind's flag in LinkState, where the mode table and the tests see it.
  explicit PollingMode(std::atomic<std::uint8_t>& active) noexcept : active_(active) {}
  PollingMode(const PollingMode&) = delete;
  PollingMode& operator=(const PollingMode&) = delete;

  // Starts of this kind between their state checks and their loop's Begin (or their
  // failure): the mode table counts them as this kind's, so that no other kind's loop starts
  // beside one whose command is on its way.
  int Starting() const noexcept { return starting_.load(); }
  void StartBegins() noexcept { ++starting_; }
  void StartEnds() noexcept { --starting_; }

  // A loop of this kind runs, or a start of it is on its way.
  bool Claimed() const noexcept { return active_.load() != 0 || starting_.load() != 0; }

  // Claimed, or a loop that began has not returned yet (its last pass after an end).
  bool Running() const noexcept { return Claimed() || running_.load() != 0; }
  void LoopBegins() noexcept { ++running_; }
  void LoopReturns() noexcept { --running_; }

  // With the link held, in the start's success handler: the new loop becomes the current one
  // (flag raised, no moment with it clear in between). Its ticket.
  Ticket Begin() noexcept {
    active_.store(1);
    return ++begun_;
  }

  // Still the current loop: the flag is up and no newer loop of this kind began (never for
  // the ticket 0 of a start that did not begin).
  bool Current(Ticket ticket) const noexcept {
    return ticket != 0 && active_.load() != 0 && begun_.load() == ticket;
  }

  // Ends the running loop at its next turn (an exit, a disable's reply, a close, the other
  // entry kind beginning).
  void End() noexcept { active_.store(0); }

  // A start that must not begin when it is ended before its Begin takes a mark first and
  // begins through BeginUnlessEnded.
  Ticket Mark() const noexcept { return ends_.load(); }

  // Ends a start that has not begun yet: one that took its mark earlier will not begin. A
  // running loop runs on until End (a disable: reading ends once the disable is answered).
  void Forestall() noexcept { ++ends_; }

  // Ends the running loop and any start not begun yet; the mark of the start calling it (a
  // new capture ends the old one whatever its own answer).
  Ticket Supersede() noexcept {
    active_.store(0);
    return ++ends_;
  }

  // Whether Forestall or Supersede ran since `mark` was taken.
  bool EndedSince(Ticket mark) const noexcept { return ends_.load() != mark; }

  // With the link held: Begin, unless Forestall or Supersede ran since `mark` was taken.
  bool BeginUnlessEnded(Ticket mark, Ticket& ticket) noexcept {
    if (ends_.load() != mark) return false;
    ticket = Begin();
    return true;
  }

  // Only with no loop running (the link closed): back to the state at load.
  void Reset() noexcept {
    active_.store(0);
    begun_.store(0);
    ends_.store(0);
    starting_.store(0);
    running_.store(0);
  }

 private:
  std::atomic<std::uint8_t>& active_;
  std::atomic<Ticket> begun_{0};
  std::atomic<Ticket> ends_{0};
  std::atomic<int> starting_{0};
  std::atomic<int> running_{0};
};

}  // namespace vantorel::link
