// The list of stored pictures (Zelto_RetrieveStorePicture), end to end over HID with the
// fuzzer's bytes as the reply, read into the 4,896-byte reply area.
//
// Properties: success exactly on an acknowledging reply; the count is twice the number of
// entries that both the count byte names and that arrived whole before the three trailing
// frame bytes, so at most 510; those bytes from reply offset 5 are copied and nothing
// after them (the caller's buffer is exactly 510 bytes); a refusal maps this reply's
// status and writes nothing.
//
// Input: replies, each a length-prefixed message; one command per reply.
#include <cstring>

#include "fake_terminal.h"
#include "fuzz_input.h"
#include "link/frame.h"
#include "link/hid_device.h"
#include "vantorel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel;
  using namespace vantorel::fuzz;
  constexpr std::size_t kReplyArea = 4896;
  Input in(data, size);
  FakeTerminal terminal;
  OpenFakeLink(terminal);
  for (int i = 0; i < 4 && !in.Empty(); ++i) {
    const Bytes message = in.Message(kReplyArea + 100);
    terminal.script = {message};
    ForgetInput();
    const Bytes r = Carved(JoinedReply(message, kReplyArea));

    CallerBuffer buffer(510);
    int count = -12345;
    const std::uint8_t rc = Zelto_RetrieveStorePicture(buffer.data(), &count);

    if (!(r.size() > 3 && r[3] == 0x06)) {
      Bytes padded = r;
      padded.resize(kReplyArea, 0);
      FUZZ_CHECK(rc == link::MapReplyStatus(padded.data()));
      FUZZ_CHECK(count == -12345 && buffer.UntouchedFrom(0));
      continue;
    }
    const std::size_t named = r.size() > 4 ? r[4] : 0;
    const std::size_t whole = r.size() > 8 ? (r.size() - 8) / 2 : 0;
    const std::size_t entries = named < whole ? named : whole;
    FUZZ_CHECK(rc == 1);
    FUZZ_CHECK(count == static_cast<int>(2 * entries) && count <= 510);
    FUZZ_CHECK(Equal(buffer.data(), r.data() + 5, 2 * entries));
    FUZZ_CHECK(buffer.UntouchedFrom(2 * entries));
  }
  link::TheHidDevice().UseBackend(nullptr);
  return 0;
}
