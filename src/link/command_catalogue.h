// What the library knows about each command it sends, in one table: its class, function and
// sub-command, a name, and whether its bytes or its reply carry secrets. The trace reads it
// to decide what it may show; nothing else decides that.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantorel::link {

struct CatalogueEntry {
  std::uint8_t commandClass;
  std::uint16_t function;    // kAnyByte: every function of the class
  std::uint16_t subCommand;  // kAnyByte: every sub-command
  const char* name;
  bool commandSecret;  // its own bytes carry secrets (an account number, a key, prompt data)
  bool replySecret;    // its reply carries secrets (a PIN block, card data, a key field)
};

inline constexpr std::uint16_t kAnyByte = 0x100;

// The entry for a command that starts with class, function and sub-command; an unknown
// command gets an entry that keeps everything secret. Never null.
const CatalogueEntry& LookUpCommand(const std::uint8_t* command, std::size_t length) noexcept;

// Names of a command class and of a function byte ("unknown" for others).
const char* CommandClassName(std::uint8_t commandClass) noexcept;
const char* FunctionName(std::uint8_t function) noexcept;

}  // namespace vantorel::link
