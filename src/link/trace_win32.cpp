// The system's own text for a Windows error code, for the trace.
#include <windows.h>

#include <cstdio>

#include "link/trace.h"

namespace vantorel::link::trace {

void detail::OsErrorCode(const char* call, const char* path, unsigned long code,
                         const char* hint) noexcept {
  char message[256] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, message, sizeof message, nullptr);
  // The system's text ends in a line break; a line of the trace must not.
  DWORD end = n;
  while (end > 0 &&
         (message[end - 1] == '\r' || message[end - 1] == '\n' || message[end - 1] == ' ')) {
    --end;
  }
  message[end] = '\0';
  if (end == 0) std::snprintf(message, sizeof message, "error %lu", code);
  detail::OsError(call, path, message, hint);
}

}  // namespace vantorel::link::trace
