// The short commands: connection, info, the test screen, the key buffer and the reader's
// settings by name. Only the public API talks to the terminal.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/cli/cli.h"
#include "tools/cli/cli_text.h"
#include "vantorel.h"

namespace cli {

namespace {

// What the library says about the calling thread's last failure, when that says more than
// the code's own text.
std::string Cause(unsigned char rc) {
  const std::string cause = Brixa_GetLastErrorText();
  return cause == Brixa_ReturnCodeText(rc) ? std::string() : cause;
}

constexpr int kRates[] = {1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200};

}  // namespace

void Check(const std::string& call, unsigned char rc) {
  if (rc == VANTOREL_SUCCESS) return;
  const std::string cause = Cause(rc);
  throw Failure(call + " returned " + ReturnCodeText(rc) + (cause.empty() ? "" : ": " + cause));
}

Connection::Connection(const Target& target) {
  if (target.hid) {
    if (!target.port.empty()) {
      throw UsageError("--hid and --port name two different connections: give one of them");
    }
    CheckHidDevice(target.vendorId, target.productId);
    const unsigned char rc = Brixa_OpenHid(target.vendorId, target.productId);
    if (rc != VANTOREL_SUCCESS) throw Failure(Brixa_GetLastErrorText());
    return;
  }
  if (target.port.empty()) throw UsageError("name the terminal's port with --port, or use --hid");
  if (std::find(std::begin(kRates), std::end(kRates), target.baud) == std::end(kRates)) {
    throw UsageError("--baud " + std::to_string(target.baud) +
                     ": not a rate the terminal takes (1200, 2400, 4800, 9600, 14400, 19200, "
                     "28800, 38400, 57600, 115200)");
  }
  int com = 0;
  const std::string path = PortDevice(target.port, com);
  const std::string& line = target.line;
  if (line.size() != 3 || (line[0] != '7' && line[0] != '8') ||
      (line[1] != 'N' && line[1] != 'E' && line[1] != 'O') || (line[2] != '1' && line[2] != '2')) {
    throw UsageError("--line " + line + ": expected data bits, parity and stop bits such as 8N1");
  }
  CheckSerialDevice(path);
  if (com == 0) {
    // A path: map the highest COM number to it for this run.
    com = 100;
    Check("Brixa_MapPort", Brixa_MapPort(com, path.c_str()));
  }
  const unsigned char rc = Brixa_OpenPort(com, target.baud, line[1], line[2] - '0', line[0] - '0');
  if (rc == VANTOREL_SUCCESS) return;
  std::string why = Brixa_GetLastErrorText();
  // Silence at the handshake is most often a terminal that is off or set to another speed.
  if (why.rfind("no answer", 0) == 0) {
    why += " (is it connected, switched on and set to " + std::to_string(target.baud) + " baud " +
           line + "?)";
  }
  throw Failure(why);
}

Connection::~Connection() {
  Brixa_Close();
}

Progress::Progress(std::string what, int total)
    : what_(std::move(what)), total_(total), shown_(ErrorIsTerminal()) {}

Progress::~Progress() {
  if (shown_ && done_ > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(what_.size()) + 16, "");
}

void Progress::Step() {
  ++done_;
  if (shown_) std::fprintf(stderr, "\r%s: %d/%d", what_.c_str(), done_, total_);
}

namespace {

using BlockGetter = unsigned char(VANTOREL_CALL*)(unsigned char*, int*);
using TextGetter = unsigned char(VANTOREL_CALL*)(char*, int*);

struct Report {
  std::vector<std::string> failures;

  void Text(const char* label, const char* call, TextGetter get) {
    std::array<char, 512> buffer{};
    int length = 0;
    const unsigned char rc = get(buffer.data(), &length);
    Show(label, call, rc,
         rc == 1 ? Printable(reinterpret_cast<const unsigned char*>(buffer.data()),
                             static_cast<std::size_t>(std::max(length, 0)))
                 : std::string());
  }
  void Block(const char* label, const char* call, BlockGetter get, bool hex) {
    std::array<unsigned char, 512> buffer{};
    int length = 0;
    const unsigned char rc = get(buffer.data(), &length);
    const auto n = static_cast<std::size_t>(std::max(length, 0));
    Show(label, call, rc,
         rc == 1 ? (hex ? Hex(buffer.data(), n) : Printable(buffer.data(), n)) : "");
  }
  void Show(const char* label, const char* call, unsigned char rc, const std::string& value) {
    if (rc == VANTOREL_SUCCESS) {
      std::printf("%-22s %s\n", label, value.c_str());
    } else {
      std::printf("%-22s (%s returned %s)\n", label, call, ReturnCodeText(rc).c_str());
      const std::string cause = Cause(rc);
      failures.push_back(std::string(call) + " returned " + ReturnCodeText(rc) +
                         (cause.empty() ? "" : ": " + cause));
    }
  }
};

}  // namespace

int Info(const Target& target) {
  Connection connection(target);
  Report report;
  report.Text("library", "Brixa_GetSdkVersion", Brixa_GetSdkVersion);
  report.Text("firmware version", "Brixa_GetVersion", Brixa_GetVersion);
  report.Text("model", "Brixa_GetModelNumber", Brixa_GetModelNumber);
  report.Text("serial number", "Brixa_GetSerialNumber", Brixa_GetSerialNumber);
  report.Block("reader serial number", "MSR_SerialNumber", MSR_SerialNumber, false);
  report.Block("secure-head firmware", "MSR_GetSecureHeadFirmware", MSR_GetSecureHeadFirmware,
               false);
  // The terminal sends the key serial number as text; hex only if it ever sends other bytes.
  report.Block("KSN and counter", "MSR_ReviewKSNAndCountID", MSR_ReviewKSNAndCountID, false);
  std::fflush(stdout);
  if (!report.failures.empty()) {
    std::string what = report.failures.front();
    if (report.failures.size() > 1) {
      what += " (and " + std::to_string(report.failures.size() - 1) + " more)";
    }
    throw Failure(what);
  }
  return 0;
}

int Screen(const Target& target) {
  Connection connection(target);
  Progress progress("screen", 28);
  const auto Check = [&progress](const char* call, unsigned char rc) {
    cli::Check(call, rc);
    progress.Step();
  };
  Check("Zelto_SetBackLight", Zelto_SetBackLight(160));
  Check("Zelto_BrushColor", Zelto_BrushColor(255, 255, 255));
  Check("Zelto_FillRectangle", Zelto_FillRectangle(0, 0, 319, 239));
  // Eight colour bars: a wrong channel order or a missing bit shows at a glance.
  static constexpr unsigned char kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255},
                                                {0, 255, 0},     {255, 0, 255}, {255, 0, 0},
                                                {0, 0, 255},     {0, 0, 0}};
  for (int i = 0; i < 8; ++i) {
    Check("Zelto_BrushColor", Zelto_BrushColor(kBars[i][0], kBars[i][1], kBars[i][2]));
    Check("Zelto_FillRectangle", Zelto_FillRectangle(i * 40, 0, i * 40 + 39, 99));
  }
  Check("Zelto_SetPenColor", Zelto_SetPenColor(0, 0, 0, 1, 0, 0, 0));
  Check("Zelto_DrawRectangle", Zelto_DrawRectangle(0, 0, 319, 239));
  Check("Zelto_DrawLine", Zelto_DrawLine(0, 239, 319, 100));
  Check("Zelto_DrawArc", Zelto_DrawArc(270, 170, 40, 0, 360));
  Check("Zelto_SetFont", Zelto_SetFont(2, 1, 0, 0, 0, 0));
  Check("Zelto_SetTextColor", Zelto_SetTextColor(0, 0, 0));
  static constexpr char kTitle[] = "Vantorel test screen";
  Check("Zelto_DrawString", Zelto_DrawString(10, 112, sizeof kTitle - 1, kTitle));
  Check("Zelto_SetFont", Zelto_SetFont(1, 0, 0, 0, 0, 0));
  static constexpr char kHint[] = "Bars: white yellow cyan green magenta red blue black";
  Check("Zelto_DrawStringInRectangle",
        Zelto_DrawStringInRectangle(10, 140, 230, 200, sizeof kHint - 1, kHint));
  std::printf("test screen drawn\n");
  return 0;
}

int Keys(const Target& target, bool clear, bool invalidate, double waitSeconds) {
  Connection connection(target);
  if (invalidate) {
    Check("PIN_InvalidateKey", PIN_InvalidateKey());
    std::printf("key invalidated\n");
  }
  if (clear) {
    Check("PIN_ClearKey", PIN_ClearKey());
    std::printf("key buffer cleared\n");
  }
  if (invalidate && waitSeconds <= 0 && !clear) return 0;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(waitSeconds * 1000));
  for (;;) {
    std::array<char, 16> name{};
    int length = 0;
    Check("PIN_GetKey", PIN_GetKey(name.data(), &length));
    if (length > 0) {
      std::printf("key: %s\n", name.data());
      return 0;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      if (waitSeconds <= 0) {
        std::printf("key: none\n");
        return 0;
      }
      throw Failure("no function key was pressed within " +
                    std::to_string(waitSeconds).substr(0, 4) + " s");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// ---- Settings ---------------------------------------------------------------------------

namespace {

using ByteGetter = unsigned char(VANTOREL_CALL*)(unsigned char*);
using ByteSetter = unsigned char(VANTOREL_CALL*)(unsigned char);
using BlockSetter = unsigned char(VANTOREL_CALL*)(const unsigned char*, int);
using Flags3Setter = unsigned char(VANTOREL_CALL*)(unsigned char, unsigned char, unsigned char);
using Flags4Setter = unsigned char(VANTOREL_CALL*)(unsigned char, unsigned char, unsigned char,
                                                   unsigned char);

enum class BlockKind { kNone, kText, kHex };

// One reader setting by name, and the exports that read and write it. Together the rows
// cover all thirty settings exports.
struct Setting {
  const char* name;
  const char* getName;
  const char* setName;
  ByteGetter getByte = nullptr;
  BlockGetter getBlock = nullptr;
  BlockKind blockKind = BlockKind::kNone;
  ByteSetter setByte = nullptr;
  BlockSetter setBlock = nullptr;
  int blockSize = 0;
  Flags3Setter setFlags3 = nullptr;
  Flags4Setter setFlags4 = nullptr;
  bool secret = false;  // the value is never shown
  // The values a one-byte setter takes (the reader refuses others).
  unsigned char low = 0x00;
  unsigned char high = 0xFF;
};

const std::vector<Setting>& Settings() {
  static const std::vector<Setting> kSettings = [] {
    std::vector<Setting> s;
    auto byte = [&](const char* name, const char* g, ByteGetter get, const char* n, ByteSetter set,
                    char low = 0, char high = 0) {
      Setting row{name, g, n};
      row.getByte = get;
      row.setByte = set;
      if (low != 0) {
        row.low = static_cast<unsigned char>(low);
        row.high = static_cast<unsigned char>(high);
      }
      s.push_back(row);
    };
    auto block = [&](const char* name, const char* g, BlockGetter get, BlockKind kind) {
      Setting row{name, g, nullptr};
      row.getBlock = get;
      row.blockKind = kind;
      s.push_back(row);
    };
    byte("output", "MSR_GetOutputSetting", MSR_GetOutputSetting, nullptr, nullptr);
    byte("decoding", "MSR_GetDecodingSetting", MSR_GetDecodingSetting, "MSR_SetDecodingSetting",
         MSR_SetDecodingSetting, '0', '4');
    block("all", "MSR_GetAllSettings", MSR_GetAllSettings, BlockKind::kHex);
    block("secure-head-firmware", "MSR_GetSecureHeadFirmware", MSR_GetSecureHeadFirmware,
          BlockKind::kText);
    byte("pre-pan-id", "MSR_ReviewSecureHeadPrePANID", MSR_ReviewSecureHeadPrePANID,
         "MSR_SetSecureHeadPrePANID", MSR_SetSecureHeadPrePANID);
    byte("post-pan-id", "MSR_ReviewSecureHeadPostPANID", MSR_ReviewSecureHeadPostPANID,
         "MSR_SetSecureHeadPostPANID", MSR_SetSecureHeadPostPANID);
    byte("mask-pan", "MSR_ReviewSecureHeadMaskPAN", MSR_ReviewSecureHeadMaskPAN,
         "MSR_SetSecureHeadMaskPAN", MSR_SetSecureHeadMaskPAN);
    block("ksn", "MSR_ReviewKSNAndCountID", MSR_ReviewKSNAndCountID, BlockKind::kHex);
    byte("expiration", nullptr, nullptr, "MSR_SetExpirationData", MSR_SetExpirationData, '0', '1');
    byte("encryption", nullptr, nullptr, "MSR_SetEncryption", MSR_SetEncryption, '0', '2');
    block("serial-number", "MSR_SerialNumber", MSR_SerialNumber, BlockKind::kText);
    byte("key-model", "MSR_GetKeyModel", MSR_GetKeyModel, "MSR_SetKeyModel", MSR_SetKeyModel, '0',
         '1');
    {
      Setting row{"encrypted-data", "MSR_GetEncryptedData", "MSR_SetEncryptedData"};
      row.getBlock = MSR_GetEncryptedData;
      row.blockKind = BlockKind::kHex;
      row.setBlock = MSR_SetEncryptedData;
      row.blockSize = 8;
      s.push_back(row);
    }
    {
      Setting row{"device-key", nullptr, "MSR_LoadDeviceKey"};
      row.setBlock = MSR_LoadDeviceKey;
      row.blockSize = 16;
      row.secret = true;
      s.push_back(row);
    }
    byte("security-level", "MSR_GetSecurityLevel", MSR_GetSecurityLevel, nullptr, nullptr);
    byte("output-status", "MSR_GetMSROutputStatus", MSR_GetMSROutputStatus, nullptr, nullptr);
    byte("data-output-format", "MSR_GetDataOutputFormat", MSR_GetDataOutputFormat,
         "MSR_SetDataOutputFormat", MSR_SetDataOutputFormat, '0', '2');
    byte("output-encrypted-format", nullptr, nullptr, "MSR_SetOutputEncryptedFormat",
         MSR_SetOutputEncryptedFormat, '0', '1');
    {
      Setting row{"encrypt-option", nullptr, "MSR_SetEncryptOption"};
      row.setFlags4 = MSR_SetEncryptOption;
      s.push_back(row);
    }
    {
      Setting row{"hash-option", nullptr, "MSR_SetHashOption"};
      row.setFlags3 = MSR_SetHashOption;
      s.push_back(row);
    }
    {
      Setting row{"mask-option", nullptr, "MSR_SetMaskOption"};
      row.setFlags3 = MSR_SetMaskOption;
      s.push_back(row);
    }
    byte("data-pin-or-data-key", "MSR_getDataPINorDataKey", MSR_getDataPINorDataKey,
         "MSR_SetDataPINorDataKey", MSR_SetDataPINorDataKey, '0', '1');
    return s;
  }();
  return kSettings;
}

const Setting& FindSetting(const std::string& name) {
  for (const Setting& s : Settings()) {
    if (name == s.name) return s;
  }
  throw UsageError("unknown setting " + name + " (`vantorel settings list` names them)");
}

std::string ValueForm(const Setting& s) {
  if (s.setByte != nullptr && s.low >= '0' && s.high <= '9') {
    std::string values;
    for (int c = s.low; c <= s.high; ++c) {
      values += (values.empty() ? "" : ", ") + std::string(1, static_cast<char>(c));
    }
    return "one of " + values;
  }
  if (s.setByte != nullptr) return "one character (2) or a byte (0x32)";
  if (s.setBlock != nullptr) return std::to_string(s.blockSize) + " bytes in hex";
  if (s.setFlags3 != nullptr) return "three flags, first first (101)";
  if (s.setFlags4 != nullptr) return "four flags, first first (1011)";
  return "";
}

}  // namespace

int SettingsList() {
  for (const Setting& s : Settings()) {
    std::string access = s.getName != nullptr ? "get" : "";
    if (s.setName != nullptr) access += access.empty() ? "set" : "/set";
    std::printf("%-24s %-8s %-30s %s\n", s.name, access.c_str(), s.getName ? s.getName : "-",
                s.setName ? (std::string(s.setName) + "  VALUE: " + ValueForm(s)).c_str() : "-");
  }
  return 0;
}

int SettingsGet(const Target& target, const std::string& name) {
  const Setting& s = FindSetting(name);
  if (s.getName == nullptr) throw UsageError("setting " + name + " cannot be read, only set");
  Connection connection(target);
  if (s.getByte != nullptr) {
    unsigned char value = 0;
    Check(s.getName, s.getByte(&value));
    std::printf("%s = %s\n", s.name, ShowByte(value).c_str());
    return 0;
  }
  std::array<unsigned char, 512> buffer{};
  int length = 0;
  Check(s.getName, s.getBlock(buffer.data(), &length));
  const auto n = static_cast<std::size_t>(std::max(length, 0));
  std::printf("%s = %s\n", s.name,
              (s.blockKind == BlockKind::kHex ? Hex(buffer.data(), n) : Printable(buffer.data(), n))
                  .c_str());
  return 0;
}

int SettingsSet(const Target& target, const std::string& name, const std::string& value) {
  const Setting& s = FindSetting(name);
  if (s.setName == nullptr) throw UsageError("setting " + name + " is read-only");
  // Check the value before opening, so a typo costs no round trip to the terminal. A secret
  // value is never repeated in an error.
  const std::string shown = s.secret ? "the value" : "value " + value;
  if (s.setByte != nullptr) {
    const auto byte = ParseSettingByte(value);
    if (!byte || *byte < s.low || *byte > s.high)
      throw UsageError(shown + " for " + name + ": expected " + ValueForm(s));
    Connection connection(target);
    Check(s.setName, s.setByte(*byte));
    std::printf("%s set to %s\n", s.name, ShowByte(*byte).c_str());
    return 0;
  }
  if (s.setBlock != nullptr) {
    auto bytes = ParseHex(value);
    if (!bytes || bytes->size() != static_cast<std::size_t>(s.blockSize)) {
      throw UsageError(shown + " for " + name + ": expected " + ValueForm(s));
    }
    Connection connection(target);
    const unsigned char rc = s.setBlock(bytes->data(), s.blockSize);
    std::fill(bytes->begin(), bytes->end(), 0);
    Check(s.setName, rc);
    std::printf("%s set (%d bytes)\n", s.name, s.blockSize);
    return 0;
  }
  const std::size_t count = s.setFlags4 != nullptr ? 4 : 3;
  const auto flags = ParseFlags(value, count);
  if (!flags) throw UsageError(shown + " for " + name + ": expected " + ValueForm(s));
  Connection connection(target);
  const auto& f = *flags;
  Check(s.setName,
        count == 4 ? s.setFlags4(f[0], f[1], f[2], f[3]) : s.setFlags3(f[0], f[1], f[2]));
  std::printf("%s set to %s\n", s.name, value.c_str());
  return 0;
}

}  // namespace cli
