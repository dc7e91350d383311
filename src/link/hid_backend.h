// The small OS seam under HidDevice: find and open a HID interface by ids, exchange one
// report at a time, close. Reports always carry the report id in byte 0 in both
// directions; a backend whose OS drops it for unnumbered reports puts a 0 back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantorel::link {

class HidBackend {
 public:
  virtual ~HidBackend() = default;
  // Searches the present HID interfaces for the first one with these ids that opens for
  // reading and writing; closes a device still held first. True when one was opened.
  virtual bool Open(int vendorId, int productId) = 0;
  virtual void Close() = 0;
  // Searches again without opening: true when the first interface with these ids is the one
  // already open and its handle still works, which is then kept, so that no report waiting
  // on it is lost between two handles. The default never keeps (every exchange reopens).
  virtual bool Reuse(int vendorId, int productId) {
    (void)vendorId;
    (void)productId;
    return false;
  }
  // Report lengths of the open device, report id included (65 for the terminal).
  virtual std::size_t InputReportLength() const = 0;
  virtual std::size_t OutputReportLength() const = 0;
  // Writes one output report; gives up after kHidReportWriteWait. False on failure.
  virtual bool WriteReport(const std::uint8_t* report, std::size_t length) = 0;
  // Reads one input report into `report` (capacity >= InputReportLength()); waits at most
  // `timeoutMs`. The bytes read, 0 when nothing arrived in time, -1 on an I/O error.
  virtual int ReadReport(std::uint8_t* report, std::size_t capacity, int timeoutMs) = 0;
};

// The OS's backend (hidraw on Linux, SetupAPI and the HID class library on Windows).
HidBackend& SystemHidBackend();

}  // namespace vantorel::link
