// Composing the bytes of a command or of a part of one (PIN-pad entry bodies, the manual
// entry's header, prompt lines) in a fixed area, remembering when something did not fit so
// that the export can refuse with 99 before anything is sent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/secure_wipe.h"

namespace vantorel::link {

// A 32-bit value sent as 16 bits: its low byte, then the low byte of value / 256 (truncated
// toward zero, so -1 goes out as FF 00). The one place this form is spelled.
inline void PutWord(std::uint8_t* out, std::int32_t value) noexcept {
  out[0] = static_cast<std::uint8_t>(value & 0xFF);
  out[1] = static_cast<std::uint8_t>((value / 256) & 0xFF);
}

template <std::size_t N>
class ByteWriter {
 public:
  static constexpr std::size_t kCapacity = N;

  ByteWriter() = default;
  ByteWriter(const ByteWriter&) = default;
  ByteWriter& operator=(const ByteWriter&) = default;
  // The bytes may be an account number, a key or prompt data: wiped when the writer goes.
  ~ByteWriter() { crypto::SecureWipe(bytes_.data(), bytes_.size()); }

  ByteWriter& Byte(std::uint8_t b) noexcept { return Bytes(&b, 1); }
  ByteWriter& Word(std::int32_t value) noexcept {
    std::uint8_t two[2];
    PutWord(two, value);
    return Bytes(two, sizeof two);
  }
  ByteWriter& Bytes(const void* data, std::size_t n) noexcept {
    if (!fits_ || n > N - size_) {
      fits_ = false;
    } else if (n != 0) {
      std::memcpy(bytes_.data() + size_, data, n);
      size_ += n;
    }
    return *this;
  }
  // Lets `encode(out, capacity, written)` write in place behind what is there; a refusal
  // (false) counts as not fitting.
  template <class Encode>
  ByteWriter& Encoded(Encode&& encode) noexcept {
    std::size_t written = 0;
    if (fits_ && encode(bytes_.data() + size_, N - size_, written)) {
      size_ += written;
    } else {
      fits_ = false;
    }
    return *this;
  }
  bool Fits() const noexcept { return fits_; }
  const std::uint8_t* data() const noexcept { return bytes_.data(); }
  std::size_t size() const noexcept { return size_; }

 private:
  std::array<std::uint8_t, N> bytes_{};
  std::size_t size_ = 0;
  bool fits_ = true;
};

}  // namespace vantorel::link
