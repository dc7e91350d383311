// HidDevice: the USB transport's report logic, OS-neutral, over a HidBackend.
//
// Output report: id 0, a count byte (0xBF = 63 bytes and more to come; the last report
// carries its 1-63 byte count), then up to 63 frame bytes, zero-filled. Input reports are
// joined while bit 7 of their count byte is set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/hid_backend.h"

namespace vantorel::link {

inline constexpr std::size_t kReportData = 63;
inline constexpr std::size_t kChunkSize = 64;  // count byte + 63 data bytes

class HidDevice {
 public:
  // Routes all I/O through `backend` (tests); null restores the OS's backend.
  void UseBackend(HidBackend* backend) noexcept;

  // Searches for the device and opens it afresh; 1 if found.
  int Open(int vendorId, int productId) noexcept;
  // Writes the frame as output reports; 1 when all were written.
  int WriteFrame(const std::uint8_t* bytes, std::size_t length) noexcept;
  // Reads one input report: `chunk` (64 bytes) receives the count byte and the data, or a
  // count byte of 0 when nothing arrived. 0 on an I/O error, else 1.
  int ReadReport(std::uint8_t* chunk, int timeoutMs) noexcept;
  // Joins input reports into `reply`; the bytes stored. A report that would pass
  // maxLength, or whose count byte claims more data than a report carries, is dropped.
  int ReadReply(std::uint8_t* reply, std::size_t maxLength, int timeoutMs) noexcept;
  // Open, write, read the reply (nothing read when `reply` is null).
  int Transact(int vendorId, int productId, const std::uint8_t* bytes, std::size_t length,
               std::uint8_t* reply, std::size_t maxLength, int timeoutMs) noexcept;
  void Close() noexcept;

 private:
  HidBackend& Backend() noexcept;

  HidBackend* backend_ = nullptr;
  bool open_ = false;
  int vendorId_ = 0;
  int productId_ = 0;
};

// The one instance of the process.
HidDevice& TheHidDevice() noexcept;

}  // namespace vantorel::link
