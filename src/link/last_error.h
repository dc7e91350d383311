// The calling thread's last export result: its code and, where the library knows it, one
// line on the cause. Every export records through its trace::ExportCall; lower layers that
// know why something failed (an OS call, a refused handshake, a vanished device) say so with
// Cause() while the export runs. Causes never carry secrets.
#pragma once

#include <cstdint>

namespace vantorel::link::last_error {

// A new export call begins on this thread: its cause is not known yet.
void Begin() noexcept;
// The export returns `code`.
void Record(std::uint8_t code) noexcept;
// Why the running export on this thread fails (printf-style, cut to one line of 255
// characters). The first cause of a call wins: it is the closest to the fault.
void Cause(const char* format, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace vantorel::link::last_error
