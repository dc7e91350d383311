#include "link/serial_port.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "crypto/secure_wipe.h"
#include "link/trace.h"

namespace vantorel::link {

namespace {

constexpr std::size_t kMinOpenString = 10;
constexpr std::size_t kMaxOpenString = 256;
constexpr std::uint8_t kEtx = 0x03;

std::size_t BoundedLength(const char* text, std::size_t limit) noexcept {
  std::size_t length = 0;
  while (length < limit && text[length] != '\0') ++length;
  return length;
}

void TraceOpen(const char* name, const char* device, const char* lineSettings) noexcept {
  if (!trace::On()) [[likely]]
    return;  // the line is composed only for the trace
  try {
    if (device[0] == '\0') {
      trace::Note((std::string("serial: ") + name + " names no device").c_str());
      return;
    }
    trace::Note(
        (std::string("serial: opening ") + name + " as " + device + " (" + lineSettings + ")")
            .c_str());
  } catch (...) {
  }
}

bool IsSeparator(char c) noexcept {
  return c == ' ' || c == '\t';
}

char Upper(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(const char* text, std::size_t length, const char* word) noexcept {
  const std::size_t wordLength = std::strlen(word);
  if (length != wordLength) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (Upper(text[i]) != Upper(word[i])) return false;
  }
  return true;
}

// A plain decimal number: digits only, no sign, at most nine of them (so it fits an int).
bool ParseNumber(const char* text, std::size_t length, int& out) noexcept {
  if (length == 0 || length > 9) return false;
  int value = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  out = value;
  return true;
}

bool ApplySetting(const char* key, std::size_t keyLength, const char* value,
                  std::size_t valueLength, LineSettings& settings) noexcept {
  int number = 0;
  if (EqualsNoCase(key, keyLength, "baud")) {
    // Any rate a UART could run at; whether the device takes it is the OS half's call.
    if (!ParseNumber(value, valueLength, number) || number < 50 || number > 4000000) return false;
    settings.baud = number;
    return true;
  }
  if (EqualsNoCase(key, keyLength, "parity")) {
    if (valueLength != 1) return false;
    const char parity = Upper(value[0]);
    if (parity != 'N' && parity != 'E' && parity != 'O' && parity != 'M' && parity != 'S') {
      return false;
    }
    settings.parity = parity;
    return true;
  }
  if (EqualsNoCase(key, keyLength, "data")) {
    if (!ParseNumber(value, valueLength, number) || number < 5 || number > 8) return false;
    settings.dataBits = number;
    return true;
  }
  if (EqualsNoCase(key, keyLength, "stop")) {
    if (!ParseNumber(value, valueLength, number) || (number != 1 && number != 2)) return false;
    settings.stopBits = number;
    return true;
  }
  return false;
}

// Brixa_MapPort's table: an empty entry means the OS default for that port.
struct PortMap {
  std::mutex mutex;
  std::array<std::array<char, kMaxDevicePath + 1>, kMaxPort> paths{};
};

PortMap& ThePortMap() noexcept {
  static PortMap map;
  return map;
}

// The n of "\\.\COMn" or "COMn" (COM in either case, as Windows takes it), n 1-100 without
// leading zeros; 0 for any other name.
int PortNumberOf(const char* name) noexcept {
  if (std::strncmp(name, "\\\\.\\", 4) == 0) name += 4;
  if (Upper(name[0]) != 'C' || Upper(name[1]) != 'O' || Upper(name[2]) != 'M') return 0;
  const char* digits = name + 3;
  const std::size_t length = std::strlen(digits);
  int port = 0;
  if (length == 0 || digits[0] == '0' || !ParseNumber(digits, length, port)) return 0;
  return port <= kMaxPort ? port : 0;
}

void CopyOrEmpty(const char* text, char* out, std::size_t outSize) noexcept {
  const std::size_t length = std::strlen(text);
  // A path cut short would name some other device: hand back nothing instead, which no
  // open accepts.
  if (length >= outSize) {
    out[0] = '\0';
    return;
  }
  std::memcpy(out, text, length + 1);
}

void NoteOverflow(ReadOverflow& overflow, const std::uint8_t* stored, std::size_t storedLength,
                  const std::uint8_t* chunk, std::size_t chunkLength) noexcept {
  overflow.happened = true;
  overflow.arrived = storedLength + chunkLength;
  std::size_t n = 0;
  for (std::size_t i = 0; i < storedLength && n < sizeof overflow.head; ++i) {
    overflow.head[n++] = stored[i];
  }
  for (std::size_t i = 0; i < chunkLength && n < sizeof overflow.head; ++i) {
    overflow.head[n++] = chunk[i];
  }
  overflow.headLength = n;
}

}  // namespace

bool SplitOpenString(const char* openString, OpenString& out) noexcept {
  out = OpenString{};
  if (openString == nullptr) return false;
  const std::size_t length = BoundedLength(openString, kMaxOpenString + 1);
  if (length < kMinOpenString || length > kMaxOpenString) return false;

  std::array<char, kMaxOpenString + 1> work{};
  std::size_t used = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = openString[i];
    if (IsSeparator(c)) continue;
    work[used++] = (c == '/') ? ' ' : c;
  }
  work[used] = '\0';

  const char* blank = std::strchr(work.data(), ' ');
  const std::size_t nameLength = blank ? static_cast<std::size_t>(blank - work.data()) : used;
  std::memcpy(out.deviceName, work.data(), nameLength);
  out.deviceName[nameLength] = '\0';
  if (blank != nullptr) std::strcpy(out.lineSettings, blank + 1);
  return true;
}

bool ParseLineSettings(const char* text, LineSettings& out) noexcept {
  out = LineSettings{};
  if (text == nullptr) return false;
  LineSettings parsed;
  const char* p = text;
  for (;;) {
    while (IsSeparator(*p)) ++p;
    if (*p == '\0') break;
    const char* pairEnd = p;
    while (*pairEnd != '\0' && !IsSeparator(*pairEnd)) ++pairEnd;
    const char* equals = static_cast<const char*>(std::memchr(p, '=', pairEnd - p));
    if (equals == nullptr || equals == p) return false;
    if (!ApplySetting(p, equals - p, equals + 1, pairEnd - equals - 1, parsed)) return false;
    p = pairEnd;
  }
  out = parsed;
  return true;
}

int SerialPort::Open(const char* openString) noexcept {
  std::lock_guard lock(mutex_);
  if (isOpen_.load() != 0) return 0;
  OpenString parts;
  if (!SplitOpenString(openString, parts)) return 0;
  char device[sizeof parts.deviceName];
  ResolvePortDevice(parts.deviceName, device, sizeof device);
  std::snprintf(device_, sizeof device_, "%s", device);
  std::memcpy(lineSettings_, parts.lineSettings, sizeof lineSettings_);
  TraceOpen(parts.deviceName, device, lineSettings_);
  if (device[0] == '\0') last_error::Cause("%s names no device", parts.deviceName);
  if (device[0] == '\0' || !OpenDevice(device, lineSettings_)) {
    CloseDevice();
    isOpen_.store(0);
    return 0;
  }
  isOpen_.store(1);
  return 1;
}

int SerialPort::Write(const std::uint8_t* bytes, std::size_t length) noexcept {
  std::lock_guard lock(mutex_);
  if (isOpen_.load() == 0 || bytes == nullptr || length > static_cast<std::size_t>(INT_MAX)) {
    return 0;
  }
  if (length == 0) return 0;
  const int written = WriteOnce(bytes, length);
  return written > 0 ? written : 0;
}

int SerialPort::Read(std::uint8_t* buffer, std::size_t maxLength, ReadOverflow* overflow) noexcept {
  std::lock_guard lock(mutex_);
  if (isOpen_.load() == 0 || (buffer == nullptr && maxLength != 0)) return -1;
  maxLength = std::min<std::size_t>(maxLength, INT_MAX);

  std::array<std::uint8_t, kReadChunkSize> chunk;
  const crypto::ScopedWipe wipe(chunk.data(),
                                chunk.size());  // it may hold card data or a PIN block
  int got = ReadOnce(chunk.data(), chunk.size());
  if (got < 0) return -1;
  // A lone ACK or status byte is a complete answer. The byte is stored only where the
  // caller has room for it.
  if (got == 1 && chunk[0] != kEtx && maxLength >= 1) {
    buffer[0] = chunk[0];
    return 1;
  }
  std::size_t total = 0;
  for (;;) {
    const auto length = static_cast<std::size_t>(got);
    if (total + length > maxLength) {
      if (overflow != nullptr) NoteOverflow(*overflow, buffer, total, chunk.data(), length);
      return static_cast<int>(total);
    }
    if (length == 0) return static_cast<int>(total);
    std::memcpy(buffer + total, chunk.data(), length);
    total += length;
    got = ReadOnce(chunk.data(), chunk.size());
    if (got < 0) return -1;
  }
}

int SerialPort::ReadRaw(std::uint8_t* buffer, std::size_t count, const ReadEnd& end) noexcept {
  std::lock_guard lock(mutex_);
  if (isOpen_.load() == 0 || (buffer == nullptr && count != 0)) return -1;
  if (count == 0) return 0;
  return ReadOnce(buffer, std::min<std::size_t>(count, INT_MAX), end);
}

int SerialPort::ReadWaiting(std::uint8_t* buffer, std::size_t count) noexcept {
  std::lock_guard lock(mutex_);
  if (isOpen_.load() == 0 || (buffer == nullptr && count != 0)) return -1;
  if (count == 0) return 0;
  return ReadNow(buffer, std::min<std::size_t>(count, INT_MAX));
}

void SerialPort::Close() noexcept {
  std::lock_guard lock(mutex_);
  CloseDevice();
  isOpen_.store(0);
}

bool MapPort(int port, const char* devicePath) noexcept {
  if (port < 1 || port > kMaxPort) return false;
  std::size_t length = 0;
  if (devicePath != nullptr) {
    length = BoundedLength(devicePath, kMaxDevicePath + 1);
    if (length > kMaxDevicePath) return false;
  }
  PortMap& map = ThePortMap();
  std::lock_guard lock(map.mutex);
  auto& entry = map.paths[static_cast<std::size_t>(port - 1)];
  if (length != 0) std::memcpy(entry.data(), devicePath, length);
  entry[length] = '\0';
  return true;
}

void ResolvePortDevice(const char* deviceName, char* out, std::size_t outSize) noexcept {
  if (out == nullptr || outSize == 0) return;
  if (deviceName == nullptr) {
    out[0] = '\0';
    return;
  }
  const int port = PortNumberOf(deviceName);
  if (port == 0) {
    CopyOrEmpty(deviceName, out, outSize);
    return;
  }
  {
    PortMap& map = ThePortMap();
    std::lock_guard lock(map.mutex);
    const auto& entry = map.paths[static_cast<std::size_t>(port - 1)];
    if (entry[0] != '\0') {
      CopyOrEmpty(entry.data(), out, outSize);
      return;
    }
  }
  DefaultPortDevice(port, out, outSize);
}

}  // namespace vantorel::link
