// Reply judging (the reply carved out of what arrived by its frame) and the getters that
// copy reply data out: every export shape that reads a
// reply (data, one byte, block, counted block, eight bytes, a number, a key name, set-only
// acknowledgements, and the sign-format and picture reads straight into the caller's
// buffer), driven end to end through the HID seam with the fuzzer's bytes as the terminal's
// replies. Several commands run per input, so that a reply judged after another one shows
// whether anything of the earlier reply was left over.
//
// Input, per command: a selector byte, a parameter byte, for the reads into the caller's
// buffer its size (16 bits, 7 added), then the reply message.
#include <cstring>

#include "fake_terminal.h"
#include "fuzz_input.h"
#include "link/frame.h"
#include "link/hid_device.h"
#include "vantorel.h"

namespace vantorel::fuzz {
namespace {

constexpr std::size_t kReplySize = 512;
constexpr std::uint8_t kAck = 0x06;
constexpr int kLengthSentinel = -12345;

std::uint8_t At(const Bytes& r, std::size_t i) {
  return i < r.size() ? r[i] : 0;
}

// The reply as the library judges it: bytes that did not arrive read as zero.
bool Acked(const Bytes& r, std::size_t minBytes) {
  return r.size() > minBytes && At(r, 3) == kAck;
}

void CheckRefused(std::uint8_t rc, const Bytes& r) {
  Bytes padded = r;
  padded.resize(kReplySize > r.size() ? kReplySize : r.size(), 0);
  // The status of this reply, never one left from an earlier exchange; too short a reply
  // has none.
  FUZZ_CHECK(rc == link::MapReplyStatus(padded.data()));
  FUZZ_CHECK(rc == 0 || (rc >= 99 && rc <= 110));
  if (r.size() < 5) FUZZ_CHECK(rc == 0);
}

bool SameBytes(const std::uint8_t* a, const Bytes& r, std::size_t from, std::size_t n) {
  return from + n <= r.size() && Equal(a, r.data() + from, n);
}

using DataGetter = unsigned char(VANTOREL_CALL*)(char*, int*);
using ByteGetter = unsigned char(VANTOREL_CALL*)(unsigned char*);
using BlockGetter = unsigned char(VANTOREL_CALL*)(unsigned char*, int*);
using Plain = unsigned char(VANTOREL_CALL*)();
using NumberGetter = unsigned char(VANTOREL_CALL*)(unsigned int*);

// Data from reply byte 4 up to the three trailing frame bytes (data getters, block getters).
void CheckDataCopy(std::uint8_t rc, const Bytes& r, const CallerBuffer& buffer, int length) {
  if (!Acked(r, 6)) {
    CheckRefused(rc, r);
    FUZZ_CHECK(length == kLengthSentinel);
    FUZZ_CHECK(buffer.UntouchedFrom(0));
    return;
  }
  FUZZ_CHECK(rc == 1);
  FUZZ_CHECK(length == static_cast<int>(r.size()) - 7);
  FUZZ_CHECK(static_cast<std::size_t>(length) <= buffer.size());
  FUZZ_CHECK(SameBytes(buffer.data(), r, 4, static_cast<std::size_t>(length)));
  FUZZ_CHECK(buffer.UntouchedFrom(static_cast<std::size_t>(length)));
}

void RunData(DataGetter getter, const Bytes& r) {
  CallerBuffer buffer(505);  // what a caller must allow for
  int length = kLengthSentinel;
  const std::uint8_t rc = getter(reinterpret_cast<char*>(buffer.data()), &length);
  CheckDataCopy(rc, r, buffer, length);
}

void RunBlock(BlockGetter getter, const Bytes& r) {
  CallerBuffer buffer(505);
  int length = kLengthSentinel;
  const std::uint8_t rc = getter(buffer.data(), &length);
  CheckDataCopy(rc, r, buffer, length);
}

void RunByte(ByteGetter getter, const Bytes& r) {
  CallerBuffer value(1);
  const std::uint8_t rc = getter(value.data());
  if (!Acked(r, 6)) {
    CheckRefused(rc, r);
    FUZZ_CHECK(value.UntouchedFrom(0));
    return;
  }
  // The value is the third data byte; a whole frame without it is no value.
  if (r.size() < 7 + 3) {
    FUZZ_CHECK(rc == 0 && value.UntouchedFrom(0));
    return;
  }
  FUZZ_CHECK(rc == 1);
  FUZZ_CHECK(value[0] == At(r, 6));
}

// Reply byte 6 counts the bytes from byte 7 on; they must all have arrived before the
// trailing frame bytes.
void RunCounted(BlockGetter getter, const Bytes& r) {
  CallerBuffer buffer(255);
  int length = kLengthSentinel;
  const std::uint8_t rc = getter(buffer.data(), &length);
  if (!Acked(r, 6)) {
    CheckRefused(rc, r);
    FUZZ_CHECK(length == kLengthSentinel && buffer.UntouchedFrom(0));
    return;
  }
  const std::size_t n = At(r, 6);
  if (7 + n + 3 > r.size()) {
    FUZZ_CHECK(rc == VANTOREL_FAILURE);
    FUZZ_CHECK(length == kLengthSentinel && buffer.UntouchedFrom(0));
    return;
  }
  FUZZ_CHECK(rc == 1);
  FUZZ_CHECK(length == static_cast<int>(n));
  FUZZ_CHECK(SameBytes(buffer.data(), r, 7, n));
  FUZZ_CHECK(buffer.UntouchedFrom(n));
}

void RunEight(const Bytes& r) {
  CallerBuffer buffer(8);
  int length = kLengthSentinel;
  const std::uint8_t rc = MSR_GetEncryptedData(buffer.data(), &length);
  if (!Acked(r, 6)) {
    CheckRefused(rc, r);
    FUZZ_CHECK(length == kLengthSentinel && buffer.UntouchedFrom(0));
    return;
  }
  if (r.size() < 4 + 8 + 3) {
    FUZZ_CHECK(rc == VANTOREL_FAILURE);
    FUZZ_CHECK(length == kLengthSentinel && buffer.UntouchedFrom(0));
    return;
  }
  FUZZ_CHECK(rc == 1 && length == 8);
  FUZZ_CHECK(SameBytes(buffer.data(), r, 4, 8));
}

void RunKeyName(const Bytes& r) {
  CallerBuffer name(10);
  int length = kLengthSentinel;
  const std::uint8_t rc = PIN_GetKey(reinterpret_cast<char*>(name.data()), &length);
  if (!Acked(r, 6)) {
    CheckRefused(rc, r);
    FUZZ_CHECK(length == kLengthSentinel && name.UntouchedFrom(0));
    return;
  }
  if (r.size() < 7 + 1) {  // a whole frame without the key byte
    FUZZ_CHECK(rc == 0 && length == kLengthSentinel && name.UntouchedFrom(0));
    return;
  }
  const char* expected = At(r, 4) == 'C'   ? "CANCEL"
                         : At(r, 4) == 'B' ? "BACKSPACE"
                         : At(r, 4) == 'E' ? "ENTER"
                                           : "";
  FUZZ_CHECK(rc == 1);
  FUZZ_CHECK(length == static_cast<int>(std::strlen(expected)));
  FUZZ_CHECK(Equal(name.data(), expected, std::strlen(expected) + 1));
}

// Set-only and trigger commands: ACK and at least `minBytes` + 1 bytes.
void RunPlain(Plain command, std::size_t minBytes, const Bytes& r) {
  const std::uint8_t rc = command();
  if (Acked(r, minBytes)) {
    FUZZ_CHECK(rc == 1);
  } else {
    CheckRefused(rc, r);
  }
}

void RunSetter(std::uint8_t value, const Bytes& r) {
  // Any byte is in range for this setter; the family wants more than six reply bytes.
  const std::uint8_t rc = MSR_SetSecureHeadPrePANID(value);
  if (Acked(r, 6)) {
    FUZZ_CHECK(rc == 1);
  } else {
    CheckRefused(rc, r);
  }
}

void RunNumber(NumberGetter getter, const Bytes& r) {
  unsigned int value = 0xDEADBEEF;
  const std::uint8_t rc = getter(&value);
  if (!Acked(r, 0)) {
    CheckRefused(rc, r);
    FUZZ_CHECK(value == 0xDEADBEEF);
    return;
  }
  // All four bytes of the number must be data, not check bytes.
  if (r.size() < 7 + 4) {
    FUZZ_CHECK(rc == 0 && value == 0xDEADBEEF);
    return;
  }
  FUZZ_CHECK(rc == 1);
  const unsigned int expected =
      At(r, 4) | At(r, 5) << 8 | At(r, 6) << 16 | static_cast<unsigned int>(At(r, 7)) << 24;
  FUZZ_CHECK(value == expected);
}

// Sign-format and picture reads: the reply goes straight into the caller's buffer of
// `bufferSize` bytes, in the short frame layout up to 65,541 bytes and the long one from
// 65,543; byte 3 or byte 4 acknowledges.
void CheckCallerBufferRead(std::uint8_t rc, const Bytes& r, const CallerBuffer& buffer,
                           unsigned int length) {
  const bool acked = r.size() >= 7 && (r[3] == kAck || r[4] == kAck);
  std::size_t offset = 0;
  if (acked && r.size() <= 65541) offset = 4;
  if (acked && r.size() >= 65543) offset = 5;
  if (offset == 0) {
    CheckRefused(rc, r);
    FUZZ_CHECK(length == 0xDEADBEEF);
    return;
  }
  const std::size_t n = r.size() - offset - 3;
  FUZZ_CHECK(rc == 1);
  FUZZ_CHECK(length == n);
  FUZZ_CHECK(n <= buffer.size());
  FUZZ_CHECK(SameBytes(buffer.data(), r, offset, n));
}

// A reply of about 65,540 bytes, to reach both sides of the two frame layouts' border.
Bytes LargeReply(const Bytes& head, std::uint8_t pick) {
  Bytes message(65538 + pick % 8, 0);
  Copy(message.data(), head.data(), head.size() < message.size() ? head.size() : 0);
  return message;
}

// A reply larger than the getter's room: 0, and neither the length nor (except where the
// read clears it) the caller's buffer touched.
void RunOversized(unsigned kind, std::uint8_t parameter, std::size_t bufferSize) {
  static constexpr DataGetter kData[] = {Brixa_GetVersion, Brixa_GetSerialNumber,
                                         Brixa_GetModelNumber};
  static constexpr ByteGetter kByte[] = {MSR_GetDecodingSetting, MSR_GetKeyModel,
                                         MSR_GetMSROutputStatus, MSR_getDataPINorDataKey};
  static constexpr BlockGetter kBlock[] = {MSR_GetAllSettings, MSR_GetSecureHeadFirmware,
                                           MSR_ReviewKSNAndCountID, MSR_SerialNumber,
                                           MSR_GetEncryptedData};
  if (kind <= 2) {
    CallerBuffer buffer(505);
    int length = kLengthSentinel;
    FUZZ_CHECK(kData[kind](reinterpret_cast<char*>(buffer.data()), &length) == 0);
    FUZZ_CHECK(length == kLengthSentinel && buffer.UntouchedFrom(0));
  } else if (kind <= 4 || (kind >= 20 && kind <= 21)) {
    CallerBuffer value(1);
    FUZZ_CHECK(kByte[kind <= 4 ? kind - 3 : kind - 18](value.data()) == 0);
    FUZZ_CHECK(value.UntouchedFrom(0));
  } else if (kind <= 9) {
    CallerBuffer buffer(505);
    int length = kLengthSentinel;
    FUZZ_CHECK(kBlock[kind - 5](buffer.data(), &length) == 0);
    FUZZ_CHECK(length == kLengthSentinel && buffer.UntouchedFrom(0));
  } else {
    CallerBuffer buffer(bufferSize);
    unsigned int length = 0xDEADBEEF;
    const std::uint8_t rc = kind == 22
                                ? Zelto_GetSignFormat(1 + parameter % 4, buffer.data(),
                                                      static_cast<unsigned>(bufferSize), &length)
                                : Zelto_GetPicture(0, 0, 319, 239, buffer.data(),
                                                   static_cast<int>(bufferSize), &length);
    FUZZ_CHECK(rc == 0 && length == 0xDEADBEEF);
  }
}

void RunOne(Input& in, FakeTerminal& terminal) {
  const std::uint8_t which = in.Byte();
  const std::uint8_t parameter = in.Byte();
  const bool readsIntoBuffer = which % 24 >= 22;
  std::size_t bufferSize = readsIntoBuffer ? 7 + in.Word() % 1200 : 0;
  Bytes message = in.Message(700);
  std::size_t limit = kReplySize;
  if (readsIntoBuffer) {
    if (parameter & 1) {
      message = LargeReply(message, parameter >> 1);
      bufferSize = message.size() + (parameter >> 4) % 3;
    }
    limit = bufferSize;
  }
  // Sign-format and picture reads may come in the long layout: carved in either.
  const Bytes r = Carved(JoinedReply(message, limit), nullptr, readsIntoBuffer);
  terminal.script = {message};
  ForgetInput();

  // Getters whose data go to the caller take the reply whole or not at all: one larger than
  // their room fails with 0 and leaves the caller's outputs alone (the sign-format and
  // picture reads clear their buffer).
  const unsigned kind = which % 24;
  const bool wholeReply = kind <= 9 || kind == 20 || kind == 21 || readsIntoBuffer;
  if (wholeReply && message.size() > limit) return RunOversized(kind, parameter, bufferSize);

  switch (kind) {
    case 0:
      return RunData(Brixa_GetVersion, r);
    case 1:
      return RunData(Brixa_GetSerialNumber, r);
    case 2:
      return RunData(Brixa_GetModelNumber, r);
    case 3:
      return RunByte(MSR_GetDecodingSetting, r);
    case 4:
      return RunByte(MSR_GetKeyModel, r);
    case 5:
      return RunBlock(MSR_GetAllSettings, r);
    case 6:
      return RunBlock(MSR_GetSecureHeadFirmware, r);
    case 7:
      return RunCounted(MSR_ReviewKSNAndCountID, r);
    case 8:
      return RunCounted(MSR_SerialNumber, r);
    case 9:
      return RunEight(r);
    case 10:
      return RunSetter(parameter, r);
    case 11:
      return RunKeyName(r);
    case 12:
      return RunPlain(PIN_ClearKey, 6, r);
    case 13:
      return RunPlain(PIN_InvalidateKey, 6, r);
    case 14:
      return RunNumber(Zelto_PauseCapture, r);
    case 15:
      return RunNumber(Zelto_GetPointCount, r);
    case 16:
      return RunPlain(Zelto_ClearSignature, 0, r);
    case 17:
      return RunPlain(Zelto_CalibrateDevice, 0, r);
    case 18:
      return RunPlain(MSR_DisableSecureHead, 0, r);
    case 19:
      return RunPlain(Zelto_ContinueCapture, 0, r);
    case 20:
      return RunByte(MSR_GetMSROutputStatus, r);
    case 21:
      return RunByte(MSR_getDataPINorDataKey, r);
    case 22: {
      CallerBuffer buffer(bufferSize);
      unsigned int length = 0xDEADBEEF;
      const std::uint8_t rc = Zelto_GetSignFormat(1 + parameter % 4, buffer.data(),
                                                  static_cast<unsigned>(bufferSize), &length);
      return CheckCallerBufferRead(rc, r, buffer, length);
    }
    default: {
      CallerBuffer buffer(bufferSize);
      unsigned int length = 0xDEADBEEF;
      const std::uint8_t rc =
          Zelto_GetPicture(0, 0, 319, 239, buffer.data(), static_cast<int>(bufferSize), &length);
      return CheckCallerBufferRead(rc, r, buffer, length);
    }
  }
}

}  // namespace
}  // namespace vantorel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel::fuzz;
  FakeTerminal terminal;
  OpenFakeLink(terminal);
  Input in(data, size);
  for (int i = 0; i < 8 && !in.Empty(); ++i) RunOne(in, terminal);
  vantorel::link::TheHidDevice().UseBackend(nullptr);
  return 0;
}
