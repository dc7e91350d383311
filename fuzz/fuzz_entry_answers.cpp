// The PIN-pad entries and manual card entry, end to end over HID: the fuzzer's bytes are
// the terminal's answer to the entry command and then the messages the entry wait reads.
// When they run out the wait is ended from outside, as a close from another thread would.
//
// Each export's copy rule is checked against the message that ended the wait, in a caller
// buffer of exactly the size the export documents (so the address sanitizer sees any write
// past it): PIN block r - 7 bytes from offset 4 and a zero; numeric entry the value at
// offset 4 and the digits from offset 5 up to 'F' or the check bytes, and a zero; card
// account and encrypted data r - 9 bytes from offset 6, no zero; manual entry the whole
// message, or nothing on an acknowledged entry. Which message ends the wait, the code of a
// refusal, the result of a wait ended from outside and untouched outputs are checked too.
//
// Input: selector byte, mode byte (manual entry), the entry command's reply, then the
// messages.
#include <cstring>

#include "fake_terminal.h"
#include "fuzz_input.h"
#include "link/frame.h"
#include "link/hid_device.h"
#include "link/link_state.h"
#include "vantorel.h"

namespace vantorel::fuzz {
namespace {

constexpr std::size_t kMessage = 512;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr int kLengthSentinel = -12345;

enum class Entry { kPinBlock, kNumeric, kCardAccount, kEncryptedData, kManual };

std::uint8_t At(const Bytes& m, std::size_t i) {
  return i < m.size() ? m[i] : 0;
}

std::uint8_t StatusOf(const Bytes& m) {
  Bytes padded = m;
  padded.resize(kMessage, 0);
  return link::MapReplyStatus(padded.data());
}

// A key the block operation accepts: the prompt blocks are all below an all-ones modulus.
// Its fields do not belong together, which only makes the signed prompt meaningless.
RsaPrivateKey AnyKey() {
  RsaPrivateKey key;
  std::memset(&key, 0xFF, sizeof key);
  key.bits = 1024;
  return key;
}

struct Expected {
  enum class End { kMessage, kRefused, kOutside } end = End::kOutside;
  Bytes message;
  std::uint8_t code = 0;
};

// Which message ends the wait, by the rules of the PIN-pad entry wait or of manual entry.
Expected Wait(Entry entry, bool endsOnAck, const std::vector<Bytes>& messages) {
  Expected e;
  for (const Bytes& m : messages) {
    const std::size_t r = m.size();
    if (entry == Entry::kManual) {
      if (r == 0) continue;
      if (endsOnAck ? At(m, 3) == kAck : r > 10) {
        e.end = Expected::End::kMessage;
      } else if (At(m, 3) == kNak) {
        e.end = Expected::End::kRefused;
      } else {
        continue;
      }
    } else if (r > 10 && At(m, 3) == kAck) {
      e.end = Expected::End::kMessage;
    } else if (r > 6 && (At(m, 3) == kNak || (At(m, 3) == kAck && At(m, 4) == kNak))) {
      e.end = Expected::End::kRefused;
    } else {
      continue;
    }
    e.message = m;
    e.code = StatusOf(m);
    return e;
  }
  return e;
}

std::size_t ResultSize(Entry entry) {
  switch (entry) {
    case Entry::kPinBlock:
    case Entry::kNumeric:
      return 506;
    case Entry::kCardAccount:
    case Entry::kEncryptedData:
      return 503;
    case Entry::kManual:
      return 512;
  }
  return 0;
}

void CheckCopy(Entry entry, bool endsOnAck, const Bytes& m, const CallerBuffer& result,
               int length) {
  const std::size_t r = m.size();
  switch (entry) {
    case Entry::kPinBlock: {
      const std::size_t n = r - 7;
      FUZZ_CHECK(length == static_cast<int>(n));
      FUZZ_CHECK(Equal(result.data(), m.data() + 4, n) && result[n] == 0);
      FUZZ_CHECK(result.UntouchedFrom(n + 1));
      return;
    }
    case Entry::kNumeric: {
      FUZZ_CHECK(length == m[4]);
      std::size_t n = 0;
      while (5 + n < r - 3 && m[5 + n] != 0x46) ++n;
      FUZZ_CHECK(Equal(result.data(), m.data() + 5, n) && result[n] == 0);
      FUZZ_CHECK(result.UntouchedFrom(n + 1));
      return;
    }
    case Entry::kCardAccount:
    case Entry::kEncryptedData: {
      const std::size_t n = r - 9;
      FUZZ_CHECK(length == static_cast<int>(n));
      FUZZ_CHECK(Equal(result.data(), m.data() + 6, n));
      FUZZ_CHECK(result.UntouchedFrom(n));
      return;
    }
    case Entry::kManual:
      if (endsOnAck) {
        FUZZ_CHECK(length == 0 && result.UntouchedFrom(0));
      } else {
        FUZZ_CHECK(length == static_cast<int>(r));
        FUZZ_CHECK(Equal(result.data(), m.data(), r));
        FUZZ_CHECK(result.UntouchedFrom(r));
      }
      return;
  }
}

}  // namespace
}  // namespace vantorel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel;
  using namespace vantorel::fuzz;
  Input in(data, size);
  const auto entry = static_cast<Entry>(in.Byte() % 5);
  const std::uint8_t mode = in.Byte();
  const Bytes start = in.Message(kMessage);
  const std::vector<Bytes> messages = in.Messages(kMessage, 64);

  FakeTerminal terminal;
  OpenFakeLink(terminal);
  terminal.script.push_back(start);
  terminal.script.insert(terminal.script.end(), messages.begin(), messages.end());
  terminal.onSilence = EndModes;

  CallerBuffer result(ResultSize(entry));
  int length = kLengthSentinel;
  PinEntryRequest request{};
  request.result = result.data();
  request.resultLength = &length;
  request.mode = '0';
  request.accountNumber = "";
  ManualEntryRequest manual{};
  manual.result = result.data();
  manual.resultLength = &length;
  manual.mode = mode & 1;
  manual.entryKind = static_cast<unsigned char>(1 + (mode >> 1) % 3);
  const bool endsOnAck = manual.mode == 0 && manual.entryKind != 3;

  std::uint8_t rc = 0;
  switch (entry) {
    case Entry::kPinBlock:
      request.upperBound = request.lowerBound = 4;
      rc = PIN_GetPINBlock(request);
      break;
    case Entry::kNumeric:
      request.upperBound = request.lowerBound = 4;
      rc = PIN_GetNumericOrAmount(1 + (mode & 1), request, AnyKey());
      break;
    case Entry::kCardAccount:
      request.upperBound = request.lowerBound = 16;
      rc = PIN_GetCardAccount(request);
      break;
    case Entry::kEncryptedData:
      request.upperBound = request.lowerBound = 8;
      rc = PIN_GetEncryptedData(mode, request);
      break;
    case Entry::kManual:
      rc = MSR_ManualInputCardData(manual);
      break;
  }

  // Bytes behind the start's reply frame are the wait's to read first.
  Bytes tail;
  const Bytes reply = Carved(JoinedReply(start, kMessage), &tail);
  std::vector<Bytes> waited = messages;
  if (!tail.empty()) waited.insert(waited.begin(), tail);
  if (!(reply.size() > 3 && reply[3] == kAck)) {
    FUZZ_CHECK(rc == StatusOf(reply));
    FUZZ_CHECK(length == kLengthSentinel && result.UntouchedFrom(0));
  } else {
    const Expected e = Wait(entry, endsOnAck, waited);
    switch (e.end) {
      case Expected::End::kMessage:
        FUZZ_CHECK(rc == 1);
        CheckCopy(entry, endsOnAck, e.message, result, length);
        break;
      case Expected::End::kRefused:
        FUZZ_CHECK(rc == e.code);
        FUZZ_CHECK(length == kLengthSentinel && result.UntouchedFrom(0));
        break;
      case Expected::End::kOutside:
        FUZZ_CHECK(rc == (entry == Entry::kEncryptedData ? 1 : 0));
        FUZZ_CHECK(length == kLengthSentinel && result.UntouchedFrom(0));
        break;
    }
  }
  FUZZ_CHECK(link::State().pinEntryActive == 0 && link::State().encryptedEntryActive == 0);
  link::TheHidDevice().UseBackend(nullptr);
  return 0;
}
