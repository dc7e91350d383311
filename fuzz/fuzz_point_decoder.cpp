// The pen-packet decoder in every format, with the state a capture carries between reads:
// the bytes of an unfinished packet and, in the relative format, the position.
//
// Properties: only formats 1, 2 and 4 decode; a run succeeds exactly when every whole
// packet's status byte is the format's point or pen-up code and the values fit; a success
// writes two values per whole packet; a pen-up is (-1, -1); absolute points lie in
// 0-1023, relative ones in 0-1024; nothing is written past the values given; and a stream
// decoded read by read (carrying the unfinished packet and the position, as the capture
// loop does) gives the same points as the stream decoded at once.
//
// Input: format byte, capacity byte (values offered per run), then the pen bytes as reads,
// each a length byte and that many bytes.
#include <cstring>

#include "fuzz_input.h"
#include "signpad/point_decoder.h"

namespace vantorel::fuzz {
namespace {

using signpad::DecodePointPackets;
using signpad::kPacketSize;
using signpad::RelativePosition;

struct Codes {
  bool known = false;
  std::uint8_t point = 0;
  std::uint8_t penUp = 0;
};

Codes CodesOf(int format) {
  switch (format) {
    case 1:
      return {true, 0x9C, 0x8C};
    case 2:
    case 4:
      return {true, 0x90, 0x80};
    default:
      return {};
  }
}

// One run as the decoder sees it; checks what it wrote against the packets.
bool CheckedRun(int format, const Bytes& bytes, std::size_t capacity, RelativePosition& position,
                std::vector<std::int32_t>& out) {
  std::vector<std::int32_t> values(capacity, 0x5A5A5A5A);
  int count = -1;
  const RelativePosition before = position;
  const bool ok = DecodePointPackets(format, {bytes.data(), bytes.size()},
                                     {values.data(), values.size()}, count, position);
  const std::size_t packets = bytes.size() / kPacketSize;
  const Codes codes = CodesOf(format);
  FUZZ_CHECK(count >= 0 && count % 2 == 0 && static_cast<std::size_t>(count) <= capacity);
  FUZZ_CHECK(static_cast<std::size_t>(count) <= 2 * packets);
  if (!codes.known || packets == 0) {
    FUZZ_CHECK(!ok && count == 0);
    return false;
  }
  // Where the run must stop: the first packet with a foreign status byte, or the first
  // one whose values would not fit.
  std::size_t good = 0;
  while (good < packets &&
         (bytes[good * kPacketSize] == codes.point || bytes[good * kPacketSize] == codes.penUp)) {
    ++good;
  }
  const std::size_t fitting = capacity / 2;
  FUZZ_CHECK(ok == (good == packets && fitting >= packets));
  FUZZ_CHECK(static_cast<std::size_t>(count) == 2 * std::min(good, fitting));
  for (std::size_t k = static_cast<std::size_t>(count); k < capacity; ++k) {
    FUZZ_CHECK(values[k] == 0x5A5A5A5A);
  }
  for (std::size_t i = 0; 2 * i < static_cast<std::size_t>(count); ++i) {
    const std::int32_t x = values[2 * i];
    const std::int32_t y = values[2 * i + 1];
    if (bytes[i * kPacketSize] == codes.penUp) {
      FUZZ_CHECK(x == -1 && y == -1);
    } else {
      const std::int32_t top = format == 2 ? 1024 : 1023;
      FUZZ_CHECK(x >= 0 && x <= top && y >= 0 && y <= top);
    }
  }
  if (format != 2) FUZZ_CHECK(position.x == before.x && position.y == before.y);
  if (ok) out.insert(out.end(), values.begin(), values.begin() + count);
  return ok;
}

}  // namespace
}  // namespace vantorel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel::fuzz;
  Input in(data, size);
  const int format = static_cast<std::int8_t>(in.Byte());  // 0-5 and beyond, negative too
  const std::size_t capacity = in.Byte() % 40;

  // Read by read, as the capture loop does: the unfinished packet waits for the next read.
  RelativePosition position;
  std::vector<std::int32_t> stepwise;
  Bytes stream;
  Bytes pending;
  bool allOk = true;
  while (!in.Empty()) {
    const Bytes read = in.Take(in.Byte() % 80);
    pending.insert(pending.end(), read.begin(), read.end());
    const std::size_t whole = pending.size() - pending.size() % kPacketSize;
    if (whole == 0) continue;
    const Bytes run(pending.begin(), pending.begin() + static_cast<long>(whole));
    stream.insert(stream.end(), run.begin(), run.end());
    allOk = CheckedRun(format, run, capacity, position, stepwise) && allOk;
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(whole));
  }

  // All at once: when every read succeeded, the same points (the position carried across
  // reads is what makes a stroke split over two reads go on where it left off).
  if (allOk && !stream.empty()) {
    std::vector<std::int32_t> values(2 * (stream.size() / kPacketSize));
    int count = 0;
    FUZZ_CHECK(DecodePointPackets(format, {stream.data(), stream.size()},
                                  {values.data(), values.size()}, count));
    values.resize(static_cast<std::size_t>(count));
    FUZZ_CHECK(values == stepwise);
  }
  return 0;
}
