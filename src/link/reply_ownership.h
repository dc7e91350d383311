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
// - A command's read sorts what arrives while it waits for its reply: a complete frame is the
//   reply; over serial the bytes around it, over HID whole messages that begin no frame (pen
//   reports, card data) while a loop listens, go to that loop. Nothing is dropped because a
//   read buffer filled: the room check judges the reply frame alone.
// - Loops read through ReadMessage / ReadSerialRaw (command.h): the inbox first, then the line.
//
// Everything here runs with LinkLock held.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/serial_port.h"
#include "link/timing.h"

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
// on the line as described above. `forLoop`: the exchange is a polling loop's own (the reading
// loop's key poll), which does not wait the window out for a frame already held back for
// that loop.
void SettleInput(bool forLoop = false) noexcept;

// After a command's read: moves the first complete frame in reply[0, received) to the start
// of `reply`, zeroes what follows it and hands the bytes around it on (with `startsLoop`,
// what follows it is kept even before the loop listens; with `longToo` a long frame counts).
// Returns the reply's new length (received unchanged when no complete frame is there).
int CarveReply(std::uint8_t* reply, int received, bool startsLoop = false,
               bool longToo = false) noexcept;

// How a command's read of its reply goes.
struct ReplyRead {
  std::size_t limit = 0;  // room for the reply frame
  bool longToo = false;   // the reply may come as a long frame
  bool startsLoop = false;
  Millis hidTimeout{};
  // Serial, prompt profile: the read ends once the reply frame is complete, and its first
  // call waits this much longer for a first byte (ReadEnd).
  bool endAtFrame = false;
  Millis firstByteGrace{0};
};

// A command's serial read: chunks until the line falls silent, or until the reply frame is
// complete and the line goes on with bytes that are not part of it (pen packets, card data:
// handed on; with `endAtFrame` as soon as the frame is complete). Bytes that cannot begin the reply
// are handed on when the room runs out, so the room is the reply's alone. A reply that begins the
// read with a length larger than the room ends the read as before and is described in `overflow`.
// The count stored, -1 on a failed read.
int ReadSerialReply(std::uint8_t* reply, const ReplyRead& how, ReadOverflow* overflow) noexcept;

// A command's HID read: joined reports; while a loop listens, a message that begins no frame
// (a pen report, card data) is the loop's and the read goes on. `overflowed` as in
// HidDevice::ReadReply.
int ReadHidReply(std::uint8_t* reply, const ReplyRead& how, bool* overflowed) noexcept;

// A loop's own exchange (the key poll) brought the loop a message of its own: a frame held
// back before it was the late reply.
void LoopMessageArrived() noexcept;

// A start that was refused: what it kept for its loop belongs to nobody.
void DropUnclaimedInput() noexcept;

// Whether a complete frame is a message the listening loop waits for (an entry's answer,
// framed card data). Such a frame is never taken for an owed late reply.
using LoopMessageTest = bool (*)(const void* context, const std::uint8_t* frame,
                                 std::size_t length);

// Marks a polling loop that expects unsolicited messages. Begin() with the link held (in the
// starting command's success handler, so no other command settles input in between); the
// end, when the last listener goes, drops whatever was kept for loops (wiped).
class LoopListener {
 public:
  LoopListener() = default;
  ~LoopListener();
  LoopListener(const LoopListener&) = delete;
  LoopListener& operator=(const LoopListener&) = delete;
  void Begin(LoopMessageTest isMessage = nullptr, const void* context = nullptr) noexcept;

 private:
  bool listening_ = false;
  int claimant_ = -1;  // the slot of its message test, -1 for none
};

// Tests: whether any buffer the library keeps between calls (commandBuffer, the serial inbox,
// the kept HID reports) holds `needle`. Link held.
bool KeptBuffersHold(const std::uint8_t* needle, std::size_t length) noexcept;

}  // namespace vantorel::link
