// SetupAPI + HID class library backend: finds the HID interface by its ids, then moves one
// report at a time with overlapped I/O.
//
// A polling read may still be pending when another thread writes a command's reports, so
// reads and writes each have their own OVERLAPPED record and event: one operation
// completing never signals, resets or overwrites the other's.
// clang-format off
#include <windows.h>
#include <setupapi.h>
// mingw's HID class library headers declare C functions without C++ linkage guards.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/hid_backend.h"
#include "link/timing.h"
#include "link/trace.h"

namespace vantorel::link {
namespace {

#if defined(_WIN32) && !defined(_WIN64)
// The records SetupAPI checks by size: what a 32-bit caller must announce.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "interface data record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "fixed part of the detail record");
#endif

// A report write still pending after this long aborts the frame.

// One overlapped operation slot: a manual-reset event made once and kept for the process.
struct IoSlot {
  OVERLAPPED overlapped{};
  HANDLE event = nullptr;

  bool Prepare() noexcept {
    if (event == nullptr) {
      event = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
      if (event == nullptr) return false;
    }
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = event;
    ::ResetEvent(event);
    return true;
  }
};

class Win32HidBackend final : public HidBackend {
 public:
  bool Open(int vendorId, int productId) noexcept override {
    Close();
    GUID guid;
    ::HidD_GetHidGuid(&guid);
    const HDEVINFO set =
        ::SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
      trace::OsErrorCode("SetupDiGetClassDevsA", "HID", ::GetLastError());
      return false;
    }

    HANDLE found = INVALID_HANDLE_VALUE;
    SP_DEVICE_INTERFACE_DATA interfaceData;
    for (DWORD index = 0;; ++index) {
      std::memset(&interfaceData, 0, sizeof interfaceData);
      interfaceData.cbSize = sizeof interfaceData;
      if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &interfaceData)) break;
      const HANDLE h = OpenInterface(set, interfaceData);
      if (h == nullptr) break;  // the detail fetch failed: give up the search
      if (h == INVALID_HANDLE_VALUE) continue;
      if (Matches(h, vendorId, productId)) {
        found = h;
        break;
      }
      trace::Note("HID: an interface with other ids skipped");
      ::CloseHandle(h);
    }
    if (found == INVALID_HANDLE_VALUE) {
      if (trace::On()) [[unlikely]] {  // the line is formatted only for the trace
        char text[96];
        std::snprintf(text, sizeof text, "HID: no openable interface with ids %04X:%04X",
                      static_cast<unsigned>(vendorId) & 0xFFFFu,
                      static_cast<unsigned>(productId) & 0xFFFFu);
        trace::Note(text);
      }
      ::SetupDiDestroyDeviceInfoList(set);
      return false;
    }

    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!::HidD_GetPreparsedData(found, &preparsed)) {
      ::CloseHandle(found);
      ::SetupDiDestroyDeviceInfoList(set);
      return false;
    }
    HIDP_CAPS caps{};
    const NTSTATUS status = ::HidP_GetCaps(preparsed, &caps);
    ::HidD_FreePreparsedData(preparsed);
    ::SetupDiDestroyDeviceInfoList(set);
    if (status != HIDP_STATUS_SUCCESS) {
      ::CloseHandle(found);
      return false;
    }
    inputLength_ = caps.InputReportByteLength;
    outputLength_ = caps.OutputReportByteLength;
    handle_ = found;
    return true;
  }

  void Close() noexcept override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    inputLength_ = 0;
    outputLength_ = 0;
  }

  std::size_t InputReportLength() const noexcept override { return inputLength_; }
  std::size_t OutputReportLength() const noexcept override { return outputLength_; }

  bool WriteReport(const std::uint8_t* report, std::size_t length) noexcept override {
    if (handle_ == INVALID_HANDLE_VALUE || report == nullptr || length != outputLength_ ||
        length == 0 || !write_.Prepare()) {
      return false;
    }
    DWORD written = 0;
    if (::WriteFile(handle_, report, static_cast<DWORD>(length), &written, &write_.overlapped)) {
      return true;
    }
    if (::GetLastError() != ERROR_IO_PENDING) return false;
    if (::WaitForSingleObject(write_.event, static_cast<DWORD>(ToMs(kHidReportWriteWait))) ==
        WAIT_OBJECT_0) {
      return ::GetOverlappedResult(handle_, &write_.overlapped, &written, FALSE) != 0;
    }
    // The caller reuses the report buffer: the write must be over before we return.
    Abandon(write_);
    return false;
  }

  int ReadReport(std::uint8_t* report, std::size_t capacity, int timeoutMs) noexcept override {
    if (handle_ == INVALID_HANDLE_VALUE || report == nullptr || inputLength_ == 0 ||
        capacity < inputLength_ || !read_.Prepare()) {
      return -1;
    }
    DWORD got = 0;
    if (::ReadFile(handle_, report, static_cast<DWORD>(inputLength_), &got, &read_.overlapped)) {
      return static_cast<int>(got);
    }
    if (::GetLastError() != ERROR_IO_PENDING) return -1;
    const DWORD wait = ::WaitForSingleObject(read_.event, timeoutMs < 0 ? 0 : timeoutMs);
    if (wait == WAIT_OBJECT_0) {
      if (!::GetOverlappedResult(handle_, &read_.overlapped, &got, FALSE)) return -1;
      return static_cast<int>(got);
    }
    // Time-out. A report that completes while the read is being cancelled is kept: it is
    // the terminal's answer, and dropping it would lose it for good.
    return Abandon(read_);
  }

 private:
  // Cancels a pending operation and waits until the system is done with its buffer.
  // The bytes it moved anyway, 0 when it was cancelled, -1 when cancelling failed.
  int Abandon(IoSlot& slot) noexcept {
    if (!::CancelIo(handle_)) {
      ::ResetEvent(slot.event);
      return -1;
    }
    DWORD moved = 0;
    if (::GetOverlappedResult(handle_, &slot.overlapped, &moved, TRUE)) {
      return static_cast<int>(moved);
    }
    return 0;
  }

  // Opens one interface of the set for overlapped reading and writing. Null when its
  // detail could not be fetched (the search ends), INVALID_HANDLE_VALUE when it does not
  // open (held exclusively by the system: skipped).
  static HANDLE OpenInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData) noexcept {
    DWORD required = 0;
    ::SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return nullptr;
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, required));
    if (detail == nullptr) return nullptr;
    // The size of the fixed part, not of the record allocated.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!::SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, required, nullptr,
                                            nullptr)) {
      std::free(detail);
      return nullptr;
    }
    const HANDLE h = ::CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) trace::OsErrorCode("open", detail->DevicePath, ::GetLastError());
    std::free(detail);
    return h;
  }

  // The attributes carry 16-bit ids: an id outside 0-0xFFFF never matches.
  static bool Matches(HANDLE h, int vendorId, int productId) noexcept {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!::HidD_GetAttributes(h, &attributes)) return false;
    return static_cast<int>(attributes.VendorID) == vendorId &&
           static_cast<int>(attributes.ProductID) == productId;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::size_t inputLength_ = 0;
  std::size_t outputLength_ = 0;
  IoSlot read_;
  IoSlot write_;
};

}  // namespace

HidBackend& SystemHidBackend() {
  static Win32HidBackend backend;
  return backend;
}

}  // namespace vantorel::link
