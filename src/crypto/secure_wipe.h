// Wiping secrets so that the compiler cannot prove the stores dead and drop them.
#pragma once

#include <cstddef>

namespace vantorel::crypto {

// Overwrites `size` bytes at `data` with zeros. The stores survive optimisation even when
// the memory is never read again (an asm barrier claims to read it afterwards).
void SecureWipe(void* data, std::size_t size) noexcept;

// Wipes `size` bytes at `data` when it goes out of scope, whichever way the scope is left.
class ScopedWipe {
 public:
  ScopedWipe(void* data, std::size_t size) noexcept : data_(data), size_(size) {}
  ~ScopedWipe() { SecureWipe(data_, size_); }
  ScopedWipe(const ScopedWipe&) = delete;
  ScopedWipe& operator=(const ScopedWipe&) = delete;

 private:
  void* data_;
  std::size_t size_;
};

// Overwrites the stack below the caller's frame, where a callee that has just returned kept
// its spills and local arrays. Call it right after the function that held secrets returns.
void BurnStack() noexcept;

}  // namespace vantorel::crypto
