// Who owns the bytes that arrive: a reply belongs to the command that sent it, everything
// else belongs to the polling loop that waits for it, or to nobody.
//
// - Before a command writes, whatever already waits on the line cannot be its reply: it goes
//   to a listening loop (the serial inbox, the HID kept reports) or, with no loop listening,
//   is dropped.
// - A command that got no reply at all may still get one: for kLateReplyWindow after it gave
//   up, the first complete frame the terminal sends is taken as that late reply and dropped,
//   whether a command's settling or a loop's read finds it. The next command waits (at most
//   until the window ends) for that frame before it writes, so its own reply can never be
//   mistaken for the late one or the other way round.
// - A command's reply is carved out of what its read collected by the frame's own length and
//   check bytes; bytes around it go to a listening loop or are dropped. A read without a
//   complete frame is judged whole, as it always was.
// - Loops read through ReadForLoop / ReadRawForLoop: the inbox first, then the line.
//
// Everything here runs with LinkLock held.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantorel::link {

// At open and close: nothing owed, nothing kept for a loop.
void ResetInput() noexcept;

// The exchange that just ended received nothing; its reply may still come.
void NoteUnanswered() noexcept;

// A command was sent without reading (cancel; restart over serial): whatever the terminal
// answers belongs to nobody unless a loop listens, so with none listening its answer is owed
// like a late reply.
void NoteSentWithoutReading() noexcept;

// Before a command writes (over HID after the device was opened afresh): settles what waits
// on the line as described above.
void SettleInput() noexcept;

// After a command's read: moves the first complete frame in reply[0, received) to the start
// of `reply`, zeroes what follows it and hands the bytes around it on (with `startsLoop`,
// what follows it is kept even before the loop listens). Returns the reply's new length
// (received unchanged when no complete frame is there).
int CarveReply(std::uint8_t* reply, int received, bool startsLoop = false) noexcept;

// A start that was refused: what it kept for its loop belongs to nobody.
void DropUnclaimedInput() noexcept;

// A loop's read of one message (over HID the joined reports, over serial a whole read) and
// the signature capture's raw serial read. A late reply still owed is removed. The bytes
// stored, 0 when nothing came.
int ReadForLoop(std::uint8_t* buffer, std::size_t maxLength, int hidTimeoutMs) noexcept;
int ReadRawForLoop(std::uint8_t* buffer, std::size_t count) noexcept;

// Marks a polling loop that expects unsolicited messages. Begin() with the link held (in the
// starting command's success handler, so no other command settles input in between); the
// end, when the last listener goes, drops whatever was kept for loops.
class LoopListener {
 public:
  LoopListener() = default;
  ~LoopListener();
  LoopListener(const LoopListener&) = delete;
  LoopListener& operator=(const LoopListener&) = delete;
  void Begin() noexcept;

 private:
  bool listening_ = false;
};

}  // namespace vantorel::link
