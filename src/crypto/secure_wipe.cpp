#include "crypto/secure_wipe.h"

#include <cstring>

namespace vantorel::crypto {

namespace {

// Large enough for the frames of the modular exponentiation and its helpers (their local
// arrays are a few hundred bytes; spills add little).
constexpr std::size_t kBurnBytes = 4096;

inline void ClobberMemory(void* data) noexcept {
#if defined(__GNUC__)
  // The empty asm takes the pointer and clobbers memory: as far as the optimiser knows it
  // reads the zeros, so the memset before it is not dead.
  __asm__ __volatile__("" : : "r"(data) : "memory");
#else
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
  (void)*bytes;
#endif
}

}  // namespace

void SecureWipe(void* data, std::size_t size) noexcept {
  if (data == nullptr || size == 0) return;
  std::memset(data, 0, size);
  ClobberMemory(data);
}

[[gnu::noinline]] void BurnStack() noexcept {
  unsigned char scratch[kBurnBytes];
  std::memset(scratch, 0, sizeof scratch);
  ClobberMemory(scratch);
}

}  // namespace vantorel::crypto
