// The return codes: one row per code with the terminal status bytes that map to it, a short
// name (the VANTOREL_ macro's without its prefix) and one line of text. Reply judging, the
// trace, Brixa_ReturnCodeText and the bring-up tool all read this table.
#pragma once

#include <cstdint>
#include <span>

namespace vantorel::link {

struct ReturnCode {
  std::uint8_t code;
  std::uint8_t statuses[2];  // the refusal status bytes that map to the code
  std::uint8_t statusCount;  // 0 for codes the library gives itself
  const char* name;
  const char* text;
};

// Every code an export returns, in ascending order.
std::span<const ReturnCode> ReturnCodes() noexcept;

// The code for a refusal's status byte; 0 (failure) for a byte not in the table.
std::uint8_t CodeForStatus(std::uint8_t status) noexcept;

// The code's one line of text; "unknown code" for a value no export returns. Never null.
const char* ReturnCodeText(std::uint8_t code) noexcept;

}  // namespace vantorel::link
