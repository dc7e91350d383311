#include "link/return_codes.h"

#include "vantorel.h"

namespace vantorel::link {
namespace {

constexpr ReturnCode kCodes[] = {
    {VANTOREL_FAILURE, {}, 0, "FAILURE", "failure: no reply, a short reply or an unknown status"},
    {VANTOREL_SUCCESS, {}, 0, "SUCCESS", "success"},
    {VANTOREL_INVALID_ARGUMENT,
     {0xE1},
     1,
     "INVALID_ARGUMENT",
     "invalid argument, or terminal status E1"},
    {VANTOREL_STATUS_EC, {0xEC}, 1, "STATUS_EC", "terminal status EC"},
    {VANTOREL_STATUS_6A_EE, {0x6A, 0xEE}, 2, "STATUS_6A_EE", "terminal status 6A or EE"},
    {VANTOREL_STATUS_C1_ED, {0xC1, 0xED}, 2, "STATUS_C1_ED", "terminal status C1 or ED"},
    {VANTOREL_STATUS_81, {0x81}, 1, "STATUS_81", "terminal status 81"},
    {VANTOREL_STATUS_E8, {0xE8}, 1, "STATUS_E8", "terminal status E8"},
    {VANTOREL_STATUS_18, {0x18}, 1, "STATUS_18", "terminal status 18"},
    {VANTOREL_STATUS_19, {0x19}, 1, "STATUS_19", "terminal status 19"},
    {VANTOREL_STATUS_03, {0x03}, 1, "STATUS_03", "terminal status 03"},
    {VANTOREL_STATUS_04, {0x04}, 1, "STATUS_04", "terminal status 04"},
    {VANTOREL_STATUS_05, {0x05}, 1, "STATUS_05", "terminal status 05"},
    {VANTOREL_STATUS_0D, {0x0D}, 1, "STATUS_0D", "terminal status 0D"},
    {VANTOREL_ALREADY_OPEN, {}, 0, "ALREADY_OPEN", "a connection is already open"},
    {VANTOREL_NOT_OPEN, {}, 0, "NOT_OPEN", "no connection is open"},
    {VANTOREL_PIN_ENTRY_ACTIVE, {}, 0, "PIN_ENTRY_ACTIVE", "a PIN-pad entry is running"},
    {VANTOREL_SECURE_HEAD_ACTIVE, {}, 0, "SECURE_HEAD_ACTIVE", "secure reading is running"},
    {VANTOREL_CAPTURE_ACTIVE, {}, 0, "CAPTURE_ACTIVE", "a signature capture is running"},
    {VANTOREL_ENCRYPTED_ENTRY_ACTIVE,
     {},
     0,
     "ENCRYPTED_ENTRY_ACTIVE",
     "an encrypted data entry is running"},
};

}  // namespace

std::span<const ReturnCode> ReturnCodes() noexcept {
  return kCodes;
}

std::uint8_t CodeForStatus(std::uint8_t status) noexcept {
  for (const ReturnCode& row : kCodes) {
    for (std::uint8_t i = 0; i < row.statusCount; ++i) {
      if (row.statuses[i] == status) return row.code;
    }
  }
  return VANTOREL_FAILURE;
}

const char* ReturnCodeText(std::uint8_t code) noexcept {
  for (const ReturnCode& row : kCodes) {
    if (row.code == code) return row.text;
  }
  return "unknown code";
}

}  // namespace vantorel::link

extern "C" const char* VANTOREL_CALL Brixa_ReturnCodeText(unsigned char code) noexcept {
  return vantorel::link::ReturnCodeText(code);
}
