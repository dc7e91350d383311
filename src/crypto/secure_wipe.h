// Wiping secrets so that the compiler cannot prove the stores dead and drop them.
#pragma once

#include <cstddef>

namespace vantorel::crypto {

// Overwrites `size` bytes at `data` with zeros. The stores survive optimisation even when
// the memory is never read again (an asm barrier claims to read it afterwards).
void SecureWipe(void* data, std::size_t size) noexcept;

// Overwrites the stack below the caller's frame, where a callee that has just returned kept
// its spills and local arrays. Call it right after the function that held secrets returns.
void BurnStack() noexcept;

}  // namespace vantorel::crypto
