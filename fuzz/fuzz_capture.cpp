// Signature capture over HID, end to end: Zelto_StartCapture with the fuzzer's bytes as the
// start's reply and then as the pad's messages (pen packets split anywhere, events, junk),
// each read as one message of up to 76 bytes. The capture ends when the messages run out,
// as a close from another thread would end it.
//
// Properties: the start succeeds exactly when its reply acknowledges; a refused start runs
// no loop and leaves captureActive clear; every delivery holds whole pairs, at most 72
// values; a pair is a pen-up (-1, -1) or two values in the format's range; formats without
// a decoding, and a null context, deliver events only; no more pairs are delivered than
// events and whole packets arrived.
//
// Input: format byte, context byte (odd: null), the start's reply, then the messages.
#include <cstring>

#include "fake_terminal.h"
#include "fuzz_input.h"
#include "link/frame.h"
#include "link/hid_device.h"
#include "link/link_state.h"
#include "vantorel.h"

namespace vantorel::fuzz {
namespace {

std::vector<std::vector<int>> deliveries;

void VANTOREL_CALL OnPoints(const int* values, int count, void*) {
  FUZZ_CHECK(count > 0 && count % 2 == 0 && count <= 72);
  deliveries.emplace_back(values, values + count);
}

}  // namespace
}  // namespace vantorel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel;
  using namespace vantorel::fuzz;
  Input in(data, size);
  const std::uint8_t format = in.Byte() % 6;
  const bool nullContext = in.Byte() & 1;
  const Bytes start = in.Message(80);
  const std::vector<Bytes> messages = in.Messages(76, 400);

  FakeTerminal terminal;
  OpenFakeLink(terminal);
  terminal.script.push_back(start);
  terminal.script.insert(terminal.script.end(), messages.begin(), messages.end());
  terminal.onSilence = EndModes;
  deliveries.clear();
  static int context = 0;
  Zelto_AddPointHandle(OnPoints, nullContext ? nullptr : &context);

  const std::uint8_t rc = Zelto_StartCapture(format, 1, 2, 3, 4, 5, 6, 7);

  Bytes tail;  // behind the start's reply frame: the loop's first message
  const Bytes reply = Carved(JoinedReply(start, 512), &tail);
  const bool acked = reply.size() > 3 && reply[3] == 0x06;
  if (!acked) {
    Bytes padded = reply;
    padded.resize(512, 0);
    FUZZ_CHECK(rc == link::MapReplyStatus(padded.data()));
    FUZZ_CHECK(link::State().captureActive == 0);
    FUZZ_CHECK(deliveries.empty());
  } else {
    FUZZ_CHECK(rc == 1);
  }

  std::size_t events = 0;
  std::size_t packets = 0;
  std::vector<Bytes> read = messages;
  if (acked && !tail.empty()) read.insert(read.begin(), tail);
  // A tail longer than one read's 76 bytes is joined with what follows: then only the bound
  // by bytes holds.
  std::size_t bytes = 0;
  for (const Bytes& m : read) bytes += m.size();
  const bool oneMessagePerRead = tail.size() <= 76;
  for (const Bytes& m : read) {
    if (m.size() == 4 && m[0] == 0x7A) ++events;
    if (m.size() > 4 && m.size() <= 64) packets += m.size();
  }
  packets /= 5;  // whole packets, counting the ones completed across reads

  const bool decodes = format == 1 || format == 2 || format == 4;
  const int top = format == 2 ? 1024 : 1023;
  std::size_t pairs = 0;
  std::size_t eventDeliveries = 0;
  for (const auto& values : deliveries) {
    const bool event =
        values.size() == 2 && ((values[0] == 122 && values[1] >= 0 && values[1] <= 254) ||
                               (values[0] == 123 && values[1] >= 1 && values[1] <= 3));
    if (event) ++eventDeliveries;
    if (!decodes || nullContext) FUZZ_CHECK(event);
    for (std::size_t i = 0; i < values.size(); i += 2) {
      const int x = values[i];
      const int y = values[i + 1];
      FUZZ_CHECK((x == -1 && y == -1) || (x >= 0 && x <= top && y >= 0 && y <= top));
    }
    pairs += values.size() / 2;
  }
  if (oneMessagePerRead) {
    FUZZ_CHECK(eventDeliveries <= events || decodes);
    FUZZ_CHECK(pairs <= events + packets);
  }
  FUZZ_CHECK(pairs <= bytes / 4);

  link::TheHidDevice().UseBackend(nullptr);
  return 0;
}
