#include "link/last_error.h"

#include <cstdarg>
#include <cstdio>

#include "link/return_codes.h"
#include "vantorel.h"

namespace vantorel::link::last_error {
namespace {

struct Slot {
  std::uint8_t code = VANTOREL_SUCCESS;
  bool hasCause = false;
  char cause[256] = {};
};

thread_local Slot slot;

}  // namespace

void Begin() noexcept {
  slot.hasCause = false;
}

void Record(std::uint8_t code) noexcept {
  slot.code = code;
}

void Cause(const char* format, ...) noexcept {
  if (slot.hasCause) return;
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(slot.cause, sizeof slot.cause, format, arguments);
  va_end(arguments);
  slot.hasCause = true;
}

}  // namespace vantorel::link::last_error

using namespace vantorel::link;

extern "C" unsigned char VANTOREL_CALL Brixa_GetLastError(void) noexcept {
  return last_error::slot.code;
}

extern "C" const char* VANTOREL_CALL Brixa_GetLastErrorText(void) noexcept {
  // A success has no cause worth more than its code's text.
  if (last_error::slot.hasCause && last_error::slot.code != VANTOREL_SUCCESS) {
    return last_error::slot.cause;
  }
  // A 99 that no reply gave is the export's own refusal of an argument.
  if (last_error::slot.code == VANTOREL_INVALID_ARGUMENT) {
    return "an argument is out of range, too long or null; nothing was sent";
  }
  return ReturnCodeText(last_error::slot.code);
}
