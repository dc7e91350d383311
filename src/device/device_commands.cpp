// Device management: version, serial and model numbers, LEDs, tone, audio, restart.
#include <cstring>

#include "link/command.h"
#include "link/trace.h"
#include "vantorel.h"

namespace vantorel::device {
namespace {

using link::Accept;
using link::CommandBytes;

constexpr char kSdkVersion[] = VANTOREL_VERSION_STRING;

// The reply's data to the caller's buffer, their count to `length`. A text too long for the
// reply area fails whole rather than coming back cut.
std::uint8_t ReadData(CommandBytes command, char* buffer, int* length) {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  if (buffer == nullptr || length == nullptr) return VANTOREL_INVALID_ARGUMENT;
  return link::RunCommand(command, {.accept = Accept::Data, .exchange = {.wholeReply = true}},
                          [&](const link::Reply& reply) {
                            const auto data = reply.Data();
                            std::memcpy(buffer, data.data(), data.size());
                            *length = static_cast<int>(data.size());
                          });
}

// High nibble for the first selector, low nibble for the second; 0 differs between them.
constexpr std::uint8_t kLedHigh[] = {0x3, 0x4, 0x6, 0x5, 0x7};
constexpr std::uint8_t kLedLow[] = {0x0, 0x4, 0x6, 0x5, 0x7};

}  // namespace
}  // namespace vantorel::device

using namespace vantorel;
using device::ReadData;
using link::Command;
using link::CommandBytes;
using link::LinkIsOpen;

extern "C" unsigned char VANTOREL_CALL Brixa_GetVersion(char* buffer, int* length) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(ReadData(link::VersionQuery(), buffer, length));
}

extern "C" unsigned char VANTOREL_CALL Brixa_GetSerialNumber(char* buffer, int* length) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(ReadData(CommandBytes{Command::kSerialNumber}, buffer, length));
}

extern "C" unsigned char VANTOREL_CALL Brixa_GetModelNumber(char* buffer, int* length) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(ReadData(CommandBytes{Command::kModelNumber}, buffer, length));
}

extern "C" unsigned char VANTOREL_CALL Brixa_SetSerialNumber(const char* serialNumber,
                                                             int serialLength) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (serialLength != 8 || serialNumber == nullptr || link::TextLength(serialNumber, 8) != 8) {
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  }
  CommandBytes command{Command::kSetSerialNumber};
  command.Bytes(serialNumber, 8);
  return call.Result(link::RunCommand(command));
}

extern "C" unsigned char VANTOREL_CALL Brixa_ControlLED(unsigned char ledSelect1,
                                                        unsigned char ledSelect2) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (ledSelect1 > 4 || ledSelect2 > 4) return call.Result(VANTOREL_INVALID_ARGUMENT);
  CommandBytes command{Command::kControlLed};
  command.Byte(
      static_cast<std::uint8_t>(device::kLedHigh[ledSelect1] << 4 | device::kLedLow[ledSelect2]));
  return call.Result(link::RunCommand(command));
}

extern "C" unsigned char VANTOREL_CALL Brixa_GenerateTone(int frequency, int duration) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (frequency < 6 || frequency > 39999 || duration < 0 || duration > 65535) {
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  }
  CommandBytes command{Command::kTone};
  command.Word(frequency).Word(duration);
  return call.Result(link::RunCommand(command));
}

extern "C" unsigned char VANTOREL_CALL Brixa_ControlAudio(unsigned char audioSetting) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(link::RunByteCommand(Command::kControlAudio, audioSetting));
}

extern "C" unsigned char VANTOREL_CALL Brixa_ReSet(void) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  CommandBytes command{Command::kRestart};
  command.Bytes("IRFW", 4);
  // Over HID the terminal's acknowledgement is read (and ignored), so it reaches no loop.
  link::RunCommand(
      command, {.reply = link::ReplyUse::kDroppedOverHid, .exchange = {.replyMayComeLate = false}});
  return call.Result(VANTOREL_SUCCESS);
}

extern "C" unsigned char VANTOREL_CALL Brixa_GetSdkVersion(char* buffer, int* length) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (buffer == nullptr || length == nullptr) return call.Result(VANTOREL_INVALID_ARGUMENT);
  std::memcpy(buffer, device::kSdkVersion, sizeof device::kSdkVersion);
  *length = static_cast<int>(sizeof device::kSdkVersion - 1);
  return call.Result(VANTOREL_SUCCESS);
}
