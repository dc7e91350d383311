// The system's own text for a Windows error code, for the trace.
#include <windows.h>

#include <cstdio>

#include "link/trace.h"

namespace vantorel::link::trace {

const char* WindowsErrorText(unsigned long code, char* out, std::size_t outSize) noexcept {
  if (outSize == 0) return out;
  out[0] = '\0';
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, out, static_cast<DWORD>(outSize), nullptr);
  // The system's text ends in a line break; a line of the trace or a cause must not.
  DWORD end = n < outSize ? n : static_cast<DWORD>(outSize - 1);
  while (end > 0 && (out[end - 1] == '\r' || out[end - 1] == '\n' || out[end - 1] == ' ')) {
    --end;
  }
  out[end] = '\0';
  if (end == 0) std::snprintf(out, outSize, "error %lu", code);
  return out;
}

void detail::OsErrorCode(const char* call, const char* path, unsigned long code,
                         const char* hint) noexcept {
  char message[256];
  detail::OsError(call, path, WindowsErrorText(code, message, sizeof message), hint);
}

}  // namespace vantorel::link::trace
