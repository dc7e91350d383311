// The commands the library knows, in one table: class, function and sub-command, a name, and
// whether its bytes or its reply carry secrets. Exports compose their command bytes from it
// (`CommandBytes{Command::kSerialNumber}`), the trace reads it to name a command and to decide
// what it may show, and the virtual terminal's frame log names commands through it. A plain
// constexpr table in this header alone: no OS code, nothing to link.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantorel::link {

// Class bytes: the terminal's modules.
inline constexpr std::uint8_t kDeviceClass = 0x78;
inline constexpr std::uint8_t kLedClass = 0x76;
inline constexpr std::uint8_t kAudioClass = 0x7B;
inline constexpr std::uint8_t kDisplayClass = 0x8A;
inline constexpr std::uint8_t kSignatureClass = 0x7A;
inline constexpr std::uint8_t kReaderClass = 0x73;
inline constexpr std::uint8_t kPinPadClass = 0x75;

// Function bytes.
inline constexpr std::uint8_t kPerform = 0x46;
inline constexpr std::uint8_t kRead = 0x52;
inline constexpr std::uint8_t kWrite = 0x53;

// The reader settings whose data are secret (their sub-commands; the settings' own table has
// the rest).
inline constexpr std::uint8_t kEncryptedDataSetting = 0x74;
inline constexpr std::uint8_t kDeviceKeySetting = 0x76;

// Function or sub-command of a row that matches every byte.
inline constexpr std::uint16_t kAnyByte = 0x100;

// Every command the library sends by name, in the order of kCommands below.
enum class Command : std::uint8_t {
  kVersion,
  kSerialNumber,
  kSetSerialNumber,
  kModelNumber,
  kRestart,
  kControlLed,
  kControlAudio,
  kTone,
  kPenColour,
  kDrawLine,
  kDrawRectangle,
  kDrawArc,
  kBrushColour,
  kFillRectangle,
  kFillArc,
  kFont,
  kTextColour,
  kBackgroundColour,
  kBackgroundMode,
  kDrawStringInRectangle,
  kDrawString,
  kGetPicture,
  kShowPicture,
  kStorePicture,
  kShowStoredPicture,
  kListStoredPictures,
  kSetBacklight,
  kGetBacklight,
  kCalibrate,
  kSetClipArea,
  kCreateRegion,
  kStartCapture,
  kContinueCapture,
  kPauseCapture,
  kPointCount,
  kClearSignature,
  kExitCapture,
  kGetSignFormat,  // four sub-commands, one per format
  kSetSignFormat,  // four sub-commands, one per format
  kSecureHeadSwitch,
  kReaderOutput,
  kPinBlock,
  kCancelEntry,
  kNumericEntry,  // two sub-commands, one per entry mode
  kCardAccount,
  kEncryptedEntry,
  kManualEntry,
  kGetKey,
  kClearKey,
  kInvalidateKey,
};

struct CatalogueEntry {
  Command id;  // the row's own name (rows are in enum order); unused in kClassRows
  std::uint8_t commandClass;
  std::uint16_t function;    // kAnyByte: every function of the class
  std::uint16_t subCommand;  // kAnyByte: every sub-command
  std::uint8_t subCount;     // sub-commands subCommand .. subCommand + subCount - 1
  const char* name;
  bool commandSecret;  // its own bytes carry secrets (an account number, a key, prompt data)
  bool replySecret;    // its reply carries secrets (a PIN block, card data, a key field)
};

// clang-format off
inline constexpr CatalogueEntry kCommands[] = {
    {Command::kVersion, kDeviceClass, kPerform, 0x01, 1, "version", false, false},
    {Command::kSerialNumber, kDeviceClass, kPerform, 0x02, 1, "serial number", false, false},
    {Command::kSetSerialNumber, kDeviceClass, kPerform, 0x03, 1, "set serial number", false, false},
    {Command::kModelNumber, kDeviceClass, kPerform, 0x20, 1, "model number", false, false},
    {Command::kRestart, kDeviceClass, kPerform, 0x0A, 1, "restart", false, false},
    {Command::kControlLed, kLedClass, kPerform, 0x01, 1, "LEDs", false, false},
    {Command::kControlAudio, kAudioClass, kPerform, 0x01, 1, "audio", false, false},
    {Command::kTone, kAudioClass, kPerform, 0x02, 1, "tone", false, false},
    {Command::kPenColour, kDisplayClass, kPerform, 0x10, 1, "pen colour", false, false},
    {Command::kDrawLine, kDisplayClass, kPerform, 0x11, 1, "line", false, false},
    {Command::kDrawRectangle, kDisplayClass, kPerform, 0x12, 1, "rectangle", false, false},
    {Command::kDrawArc, kDisplayClass, kPerform, 0x13, 1, "arc", false, false},
    {Command::kBrushColour, kDisplayClass, kPerform, 0x20, 1, "brush colour", false, false},
    {Command::kFillRectangle, kDisplayClass, kPerform, 0x22, 1, "filled rectangle", false, false},
    {Command::kFillArc, kDisplayClass, kPerform, 0x23, 1, "filled arc", false, false},
    {Command::kFont, kDisplayClass, kPerform, 0x40, 1, "font", false, false},
    {Command::kTextColour, kDisplayClass, kPerform, 0x41, 1, "text colour", false, false},
    {Command::kBackgroundColour, kDisplayClass, kPerform, 0x42, 1, "background colour", false, false},
    {Command::kBackgroundMode, kDisplayClass, kPerform, 0x43, 1, "background mode", false, false},
    {Command::kDrawStringInRectangle, kDisplayClass, kPerform, 0x4E, 1, "text in rectangle", false, false},
    {Command::kDrawString, kDisplayClass, kPerform, 0x4F, 1, "text", false, false},
    {Command::kGetPicture, kDisplayClass, kPerform, 0x60, 1, "read picture", false, false},
    {Command::kShowPicture, kDisplayClass, kPerform, 0x61, 1, "show picture", false, false},
    {Command::kStorePicture, kDisplayClass, kPerform, 0x70, 1, "store picture", false, false},
    {Command::kShowStoredPicture, kDisplayClass, kPerform, 0x71, 1, "show stored picture", false, false},
    {Command::kListStoredPictures, kDisplayClass, kPerform, 0x72, 1, "list stored pictures", false, false},
    {Command::kSetBacklight, kDisplayClass, kWrite, 0x80, 1, "set backlight", false, false},
    {Command::kGetBacklight, kDisplayClass, kRead, 0x80, 1, "backlight", false, false},
    {Command::kCalibrate, kSignatureClass, kPerform, 0x01, 1, "calibrate", false, false},
    {Command::kSetClipArea, kSignatureClass, kPerform, 0x03, 1, "clip area", false, false},
    {Command::kCreateRegion, kSignatureClass, kPerform, 0x04, 1, "region", false, false},
    {Command::kStartCapture, kSignatureClass, kPerform, 0x10, 1, "start capture", false, false},
    {Command::kContinueCapture, kSignatureClass, kPerform, 0x11, 1, "continue capture", false, false},
    {Command::kPauseCapture, kSignatureClass, kPerform, 0x12, 1, "pause capture", false, false},
    {Command::kPointCount, kSignatureClass, kPerform, 0x17, 1, "point count", false, false},
    {Command::kClearSignature, kSignatureClass, kPerform, 0x19, 1, "clear signature", false, false},
    {Command::kExitCapture, kSignatureClass, kPerform, 0x1F, 1, "exit capture", false, false},
    {Command::kGetSignFormat, kSignatureClass, kPerform, 0x20, 4, "read sign format", false, false},
    {Command::kSetSignFormat, kSignatureClass, kPerform, 0x30, 4, "write sign format", false, false},
    {Command::kSecureHeadSwitch, kReaderClass, kPerform, 0xE1, 1, "secure head switch", false, false},
    {Command::kReaderOutput, kReaderClass, kWrite, 0x1A, 1, "reader output", false, false},
    {Command::kPinBlock, kPinPadClass, kPerform, 0x07, 1, "PIN block entry", true, true},
    {Command::kCancelEntry, kPinPadClass, kPerform, 0x09, 1, "cancel entry", true, true},
    {Command::kNumericEntry, kPinPadClass, kPerform, 0x22, 2, "numeric entry", true, true},
    {Command::kCardAccount, kPinPadClass, kPerform, 0x24, 1, "card account entry", true, true},
    {Command::kEncryptedEntry, kPinPadClass, kPerform, 0x25, 1, "encrypted data entry", true, true},
    {Command::kManualEntry, kPinPadClass, kPerform, 0x40, 1, "manual card entry", true, true},
    {Command::kGetKey, kPinPadClass, kPerform, 0x81, 1, "get key", false, false},
    {Command::kClearKey, kPinPadClass, kPerform, 0x82, 1, "clear key", false, false},
    {Command::kInvalidateKey, kPinPadClass, kPerform, 0x84, 1, "invalidate key", false, false},
};
// clang-format on

constexpr bool RowsInEnumOrder() noexcept {
  for (std::size_t i = 0; i < sizeof kCommands / sizeof kCommands[0]; ++i) {
    if (static_cast<std::size_t>(kCommands[i].id) != i) return false;
  }
  return true;
}
static_assert(RowsInEnumOrder(), "kCommands lists the commands in the order of Command");
static_assert(sizeof kCommands / sizeof kCommands[0] ==
                  static_cast<std::size_t>(Command::kInvalidateKey) + 1,
              "every Command has its row");

constexpr const CatalogueEntry& Entry(Command command) noexcept {
  return kCommands[static_cast<std::size_t>(command)];
}

namespace catalogue_detail {

inline constexpr std::uint16_t kAny = kAnyByte;
inline constexpr Command kNone = Command::kVersion;  // class rows have no Command of their own

// What a class's other commands are, looked at after kCommands: first match wins, so the
// exceptions of a class come before its row for every byte, which names the class.
// clang-format off
inline constexpr CatalogueEntry kClassRows[] = {
    {kNone, kDeviceClass, kAny, kAny, 1, "device", false, false},
    {kNone, kLedClass, kAny, kAny, 1, "LED", false, false},
    {kNone, kAudioClass, kAny, kAny, 1, "audio", false, false},
    {kNone, kDisplayClass, kAny, kAny, 1, "display", false, false},
    {kNone, kSignatureClass, kAny, kAny, 1, "signpad", false, false},
    {kNone, kReaderClass, kWrite, kEncryptedDataSetting, 1, "reader: write encrypted data", true, true},
    {kNone, kReaderClass, kWrite, kDeviceKeySetting, 1, "reader: load device key", true, true},
    {kNone, kReaderClass, kAny, kEncryptedDataSetting, 1, "reader: encrypted data", false, true},
    {kNone, kReaderClass, kAny, kDeviceKeySetting, 1, "reader: device key", false, true},
    {kNone, kReaderClass, kAny, kAny, 1, "reader", false, false},
    {kNone, kPinPadClass, kAny, kAny, 1, "pinpad", true, true},
};
// clang-format on

inline constexpr CatalogueEntry kUnknown{kNone, 0, kAny, kAny, 1, "unknown", true, true};

struct FunctionRow {
  std::uint8_t function;
  const char* name;
};
inline constexpr FunctionRow kFunctions[] = {
    {kPerform, "perform"}, {kRead, "read"}, {kWrite, "write"}};

constexpr bool Matches(const CatalogueEntry& e, const std::uint8_t* command) noexcept {
  const bool subMatches = e.subCommand == kAny ||
                          (command[2] >= e.subCommand && command[2] < e.subCommand + e.subCount);
  return e.commandClass == command[0] && (e.function == kAny || e.function == command[1]) &&
         subMatches;
}

}  // namespace catalogue_detail

// The entry for a command that starts with class, function and sub-command: its own row, or
// its class's row (the reader settings, commands the library does not send). An unknown class
// gets an entry that keeps everything secret. Never null.
constexpr const CatalogueEntry& LookUpCommand(const std::uint8_t* command,
                                              std::size_t length) noexcept {
  using namespace catalogue_detail;
  if (command == nullptr || length < 3) return kUnknown;
  for (const CatalogueEntry& e : kCommands) {
    if (Matches(e, command)) return e;
  }
  for (const CatalogueEntry& e : kClassRows) {
    if (Matches(e, command)) return e;
  }
  return kUnknown;
}

// Names of a command class and of a function byte ("unknown" for others).
constexpr const char* CommandClassName(std::uint8_t commandClass) noexcept {
  using namespace catalogue_detail;
  for (const CatalogueEntry& e : kClassRows) {
    if (e.commandClass == commandClass && e.function == kAny && e.subCommand == kAny) {
      return e.name;
    }
  }
  return kUnknown.name;
}

constexpr const char* FunctionName(std::uint8_t function) noexcept {
  using namespace catalogue_detail;
  for (const FunctionRow& f : kFunctions) {
    if (f.function == function) return f.name;
  }
  return "unknown";
}

}  // namespace vantorel::link
