#include "link/command_catalogue.h"

namespace vantorel::link {
namespace {

constexpr std::uint16_t kAny = kAnyByte;

// First match wins: the exceptions of a class come before its default row.
constexpr CatalogueEntry kCatalogue[] = {
    {0x78, kAny, kAny, "device", false, false},
    {0x76, kAny, kAny, "LED", false, false},
    {0x7B, kAny, kAny, "audio", false, false},
    {0x8A, kAny, kAny, "display", false, false},
    {0x7A, kAny, kAny, "signature pad", false, false},
    {0x73, 0x53, 0x74, "reader: write encrypted data", true, true},
    {0x73, 0x53, 0x76, "reader: load device key", true, true},
    {0x73, kAny, 0x74, "reader: encrypted data", false, true},
    {0x73, kAny, 0x76, "reader: device key", false, true},
    {0x73, kAny, kAny, "reader", false, false},
    {0x75, 0x46, 0x81, "PIN pad: get key", false, false},
    {0x75, 0x46, 0x82, "PIN pad: clear key", false, false},
    {0x75, 0x46, 0x84, "PIN pad: invalidate key", false, false},
    {0x75, kAny, kAny, "PIN pad: entry", true, true},
};

constexpr CatalogueEntry kUnknown{0, kAny, kAny, "unknown", true, true};

bool Matches(std::uint16_t pattern, std::uint8_t byte) noexcept {
  return pattern == kAny || pattern == byte;
}

}  // namespace

const CatalogueEntry& LookUpCommand(const std::uint8_t* command, std::size_t length) noexcept {
  if (command == nullptr || length < 3) return kUnknown;
  for (const CatalogueEntry& e : kCatalogue) {
    if (e.commandClass == command[0] && Matches(e.function, command[1]) &&
        Matches(e.subCommand, command[2])) {
      return e;
    }
  }
  return kUnknown;
}

const char* CommandClassName(std::uint8_t commandClass) noexcept {
  switch (commandClass) {
    case 0x78:
      return "device";
    case 0x76:
      return "LED";
    case 0x7B:
      return "audio";
    case 0x8A:
      return "display";
    case 0x7A:
      return "signpad";
    case 0x73:
      return "reader";
    case 0x75:
      return "pinpad";
    default:
      return "unknown";
  }
}

const char* FunctionName(std::uint8_t function) noexcept {
  switch (function) {
    case 0x46:
      return "perform";
    case 0x52:
      return "read";
    case 0x53:
      return "write";
    default:
      return "unknown";
  }
}

}  // namespace vantorel::link
