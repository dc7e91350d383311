// The PIN pad's function-key commands: read the last key by name, clear, invalidate.
#include <cstring>

#include "link/command.h"
#include "link/trace.h"
#include "vantorel.h"

namespace vantorel::pinpad {
namespace {

using link::Accept;
using link::Command;
using link::CommandBytes;

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
std::uint8_t KeyCommand(Command command) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  return link::RunCommand(CommandBytes{command}, {.accept = Accept::Data});
}

}  // namespace
}  // namespace vantorel::pinpad

using namespace vantorel;

extern "C" unsigned char VANTOREL_CALL PIN_GetKey(char* keyName, int* keyNameLength) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!link::LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (keyName == nullptr || keyNameLength == nullptr) return call.Result(VANTOREL_INVALID_ARGUMENT);
  return call.Result(link::RunCommand(link::CommandBytes{link::Command::kGetKey},
                                      {link::Accept::Data}, [&](const link::Reply& reply) {
                                        if (!reply.Holds(1)) return false;
                                        const char* name = pinpad::KeyName(reply.At(0));
                                        const std::size_t length = std::strlen(name);
                                        std::memcpy(keyName, name, length + 1);
                                        *keyNameLength = static_cast<int>(length);
                                        return true;
                                      }));
}

extern "C" unsigned char VANTOREL_CALL PIN_ClearKey(void) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(pinpad::KeyCommand(link::Command::kClearKey));
}

extern "C" unsigned char VANTOREL_CALL PIN_InvalidateKey(void) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(pinpad::KeyCommand(link::Command::kInvalidateKey));
}
