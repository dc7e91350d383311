// What secure reading makes of one read or one key-poll reply: the card-data delivery with
// its track line-end rewrite, and the key-reply test.
//
// Properties: more than 10 bytes are delivered whole (at most 512), a framed record (STX
// first) unchanged and plain track text with exactly the LFs that follow '?' and are not
// followed by CR turned into CR, nothing else changed; the rewrite is idempotent; an 8-byte
// ACK reply with 'C', 'B' or 'E' at byte 4 becomes the two bytes 7B 01/02/03; anything
// else delivers nothing and leaves the delivery buffer alone.
//
// Input: the received count (16 bits, wrapped to 0-512), then the received bytes.
#include <cstring>

#include "cardreader/card_data.h"
#include "fuzz_input.h"

namespace vantorel::fuzz {
namespace {

constexpr std::size_t kBuffer = 512;

// Which bytes the rewrite turns from LF into CR, judged on the original bytes.
std::vector<bool> Rewritten(const Bytes& original, std::size_t n) {
  std::vector<bool> changed(n, false);
  for (std::size_t i = 1; i < n; ++i) {
    changed[i] =
        original[i] == 0x0A && original[i - 1] == '?' && (i + 1 == n || original[i + 1] != 0x0D);
  }
  return changed;
}

}  // namespace
}  // namespace vantorel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel::cardreader;
  using namespace vantorel::fuzz;
  Input in(data, size);
  const int count = in.Word() % (kBuffer + 1);
  Bytes received = in.Take(kBuffer);
  received.resize(kBuffer, 0);  // the loop's receive buffer is cleared before each read
  const Bytes original = received;
  CallerBuffer delivery(kDeliverySize);

  const std::size_t n = PrepareDelivery(received.data(), count, delivery.data());

  if (count > 10) {
    FUZZ_CHECK(n == static_cast<std::size_t>(count));
    if (original[0] == 0x02) {
      FUZZ_CHECK(Equal(delivery.data(), original.data(), n));
    } else {
      const std::vector<bool> changed = Rewritten(original, n);
      for (std::size_t i = 0; i < n; ++i) {
        FUZZ_CHECK(delivery[i] == (changed[i] ? 0x0D : original[i]));
      }
      // Rewriting what was rewritten changes nothing.
      Bytes again(delivery.data(), delivery.data() + n);
      RewriteTrackLineEnds(again.data(), again.size());
      FUZZ_CHECK(Equal(again.data(), delivery.data(), n));
    }
    FUZZ_CHECK(delivery.UntouchedFrom(n));
  } else if (count == 8 && original[3] == 0x06 &&
             (original[4] == 'C' || original[4] == 'B' || original[4] == 'E')) {
    const std::uint8_t code = original[4] == 'C' ? 1 : original[4] == 'B' ? 2 : 3;
    FUZZ_CHECK(n == 2 && delivery[0] == 0x7B && delivery[1] == code);
    FUZZ_CHECK(KeyCode(original[4]) == code);
    FUZZ_CHECK(delivery.UntouchedFrom(2));
  } else {
    FUZZ_CHECK(n == 0);
    FUZZ_CHECK(delivery.UntouchedFrom(0));
    FUZZ_CHECK(received == original);
  }
  // Bytes past the count are never touched.
  FUZZ_CHECK(Equal(received.data() + count, original.data() + count, kBuffer - count));
  return 0;
}
