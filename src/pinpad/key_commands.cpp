// The PIN pad's function-key commands: read the last key by name, clear, invalidate.
#include <cstring>

#include "link/command.h"
#include "vantorel.h"

namespace vantorel::pinpad {
namespace {

using link::Accept;
using link::CommandBytes;

constexpr std::uint8_t kGetKey = 0x81;
constexpr std::uint8_t kClearKey = 0x82;
constexpr std::uint8_t kInvalidateKey = 0x84;

const char* KeyName(std::uint8_t key) noexcept {
  switch (key) {
    case 'C':
      return "CANCEL";
    case 'B':
      return "BACKSPACE";
    case 'E':
      return "ENTER";
    default:
      return "";
  }
}

// Both succeed only with more than six reply bytes, stricter than a plain trigger.
std::uint8_t KeyCommand(std::uint8_t sub, const char* caller = __builtin_FUNCTION()) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  return link::RunCommand(CommandBytes{0x75, 0x46, sub}, {Accept::Data}, caller);
}

}  // namespace
}  // namespace vantorel::pinpad

using namespace vantorel;

extern "C" unsigned char VANTOREL_CALL PIN_GetKey(char* keyName, int* keyNameLength) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  if (keyName == nullptr || keyNameLength == nullptr) return VANTOREL_INVALID_ARGUMENT;
  return link::RunCommand(link::CommandBytes{0x75, 0x46, pinpad::kGetKey}, {link::Accept::Data},
                          [&](const std::uint8_t* reply, int) {
                            const char* name = pinpad::KeyName(reply[4]);
                            const std::size_t length = std::strlen(name);
                            std::memcpy(keyName, name, length + 1);
                            *keyNameLength = static_cast<int>(length);
                          });
}

extern "C" unsigned char VANTOREL_CALL PIN_ClearKey(void) noexcept {
  return pinpad::KeyCommand(pinpad::kClearKey);
}

extern "C" unsigned char VANTOREL_CALL PIN_InvalidateKey(void) noexcept {
  return pinpad::KeyCommand(pinpad::kInvalidateKey);
}
