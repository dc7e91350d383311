// The fuzzers' shared input reader and property check.
//
// Inputs are laid out so that seeds can be written by hand: a target's fixed fields first
// (single bytes, little-endian words), then messages, each a 16-bit little-endian length
// followed by that many bytes (fewer when the input ends first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vantorel::fuzz {

using Bytes = std::vector<std::uint8_t>;

// A property that does not hold: report which one (never the data, which may stand for
// card tracks or key material) and stop, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

// memcmp and memcpy that accept the null data() of an empty vector when n is 0.
inline bool Equal(const void* a, const void* b, std::size_t n) {
  return n == 0 || std::memcmp(a, b, n) == 0;
}
inline void Copy(void* to, const void* from, std::size_t n) {
  if (n != 0) std::memcpy(to, from, n);
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return at_ >= size_; }
  std::size_t Left() const { return Empty() ? 0 : size_ - at_; }

  // 0 once the input is used up.
  std::uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
  std::uint16_t Word() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | Byte() << 8);
  }
  Bytes Take(std::size_t n) {
    if (n > Left()) n = Left();
    Bytes out(data_ + at_, data_ + at_ + n);
    at_ += n;
    return out;
  }
  // A length-prefixed message of at most `cap` bytes (longer lengths wrap).
  Bytes Message(std::size_t cap) { return Take(Word() % (cap + 1)); }
  // Every remaining message.
  std::vector<Bytes> Messages(std::size_t cap, std::size_t maxCount) {
    std::vector<Bytes> out;
    while (!Empty() && out.size() < maxCount) out.push_back(Message(cap));
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A heap buffer of exactly the size a caller must provide, so that the address sanitizer
// catches a write past it, filled with a sentinel so that "left untouched" can be checked.
class CallerBuffer {
 public:
  explicit CallerBuffer(std::size_t size, std::uint8_t fill = 0xA5)
      : bytes_(size == 0 ? 1 : size, fill), size_(size), fill_(fill) {}
  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t size() const { return size_; }
  std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }
  // True when no byte from `from` on was written.
  bool UntouchedFrom(std::size_t from) const {
    for (std::size_t i = from; i < size_; ++i) {
      if (bytes_[i] != fill_) return false;
    }
    return true;
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t size_;
  std::uint8_t fill_;
};

}  // namespace vantorel::fuzz
