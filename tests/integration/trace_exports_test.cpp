// Every export that returns a code writes it to the trace, also when it returns before sending
// anything, and the long-running ones write their final code once their loop has ended. The
// list of exports is the DLL's .def file: an export added there without a case here, or
// without its trace line, fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "integration/cardreader_test_support.h"
#include "integration/pinpad_test_support.h"
#include "integration/signpad_test_support.h"
#include "link/link_state.h"
#include "link/trace.h"
#include "vterm/pin_pad_keys.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The exports the DLL lists, in its order.
std::vector<std::string> DefExports() {
  std::ifstream in(std::string(VANTOREL_SOURCE_DIR) + "/exports/vantorel.def");
  std::vector<std::string> names;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string name;
    std::string equals;
    if (words >> name >> equals && equals == "=") names.push_back(name);
  }
  return names;
}

// The exports the public header declares.
std::set<std::string> HeaderExports() {
  std::ifstream in(std::string(VANTOREL_SOURCE_DIR) + "/include/vantorel.h");
  std::ostringstream text;
  text << in.rdbuf();
  const std::string header = text.str();
  const std::regex declaration(
      R"(VANTOREL_API (?:unsigned char|const char\*) VANTOREL_CALL\s+(\w+)\s*\()");
  std::set<std::string> names;
  for (auto it = std::sregex_iterator(header.begin(), header.end(), declaration);
       it != std::sregex_iterator(); ++it) {
    names.insert((*it)[1]);
  }
  return names;
}

// Not a code: the call would send a valid command when the link is open.
constexpr int kSends = -1;
// Not a code: the export returns text, which it does not trace (the call returns whether the
// text was there).
constexpr int kText = -2;

struct Case {
  int closed;  // code with the link closed
  int open;    // code with the link open: a null pointer or an argument out of range
  std::function<unsigned char()> call;
};

PinEntryRequest NullOutputs() {
  PinEntryRequest r{};
  r.mode = '1';
  r.upperBound = 12;
  r.lowerBound = 12;
  r.accountNumber = "";
  return r;  // result and resultLength null
}

// Every export, called with null outputs or an argument out of range where it has one.
std::map<std::string, Case> Cases() {
  static int count = 0;
  static unsigned int number = 0;
  static char text[512];
  static unsigned char buffer[512];
  const RsaPrivateKey key{};
  ManualEntryRequest manual{};
  manual.mode = 1;
  manual.entryKind = 1;
  manual.upperBound = 19;
  manual.lowerBound = 13;  // result and resultLength null
  return {
      // The connection: no link needed to refuse an argument.
      {"Brixa_OpenHid", {0, 200, [] { return Brixa_OpenHid(0, 0); }}},
      {"Brixa_OpenPort", {99, 200, [] { return Brixa_OpenPort(0, 9600, 'N', 1, 8); }}},
      {"Brixa_Close", {0, kSends, [] { return Brixa_Close(); }}},
      {"Brixa_MapPort", {99, 99, [] { return Brixa_MapPort(0, "/dev/null"); }}},
      {"Brixa_GetSdkVersion", {99, 99, [] { return Brixa_GetSdkVersion(nullptr, &count); }}},
      {"Brixa_ReturnCodeText",
       {kText, kText,
        [] { return static_cast<unsigned char>(Brixa_ReturnCodeText(255) != nullptr); }}},
      {"Brixa_GetLastError", {kText, kText, [] { return Brixa_GetLastError() != 0 ? 1 : 0; }}},
      {"Brixa_GetLastErrorText",
       {kText, kText,
        [] { return static_cast<unsigned char>(Brixa_GetLastErrorText() != nullptr); }}},
      {"Brixa_SetTiming", {99, 99, [] { return Brixa_SetTiming(7, 0); }}},
      // Registrations send nothing.
      {"Zelto_AddPointHandle", {1, 1, [] { return Zelto_AddPointHandle(nullptr, nullptr); }}},
      {"MSR_AddDataHandle", {1, 1, [] { return MSR_AddDataHandle(nullptr, 0); }}},
      // Device.
      {"Brixa_GetVersion", {201, 99, [] { return Brixa_GetVersion(nullptr, &count); }}},
      {"Brixa_GetSerialNumber", {201, 99, [] { return Brixa_GetSerialNumber(text, nullptr); }}},
      {"Brixa_GetModelNumber", {201, 99, [] { return Brixa_GetModelNumber(nullptr, nullptr); }}},
      {"Brixa_SetSerialNumber", {201, 99, [] { return Brixa_SetSerialNumber(nullptr, 8); }}},
      {"Brixa_ControlLED", {201, 99, [] { return Brixa_ControlLED(5, 0); }}},
      {"Brixa_GenerateTone", {201, 99, [] { return Brixa_GenerateTone(5, 100); }}},
      {"Brixa_ControlAudio", {201, kSends, [] { return Brixa_ControlAudio(0); }}},
      {"Brixa_ReSet", {201, kSends, [] { return Brixa_ReSet(); }}},
      // Display.
      {"Zelto_SetPenColor", {201, kSends, [] { return Zelto_SetPenColor(0, 0, 0, 0, 0, 0, 0); }}},
      {"Zelto_DrawLine", {201, 99, [] { return Zelto_DrawLine(9999, 0, 0, 0); }}},
      {"Zelto_DrawRectangle", {201, 99, [] { return Zelto_DrawRectangle(0, 0, 9999, 0); }}},
      {"Zelto_FillRectangle", {201, 99, [] { return Zelto_FillRectangle(0, 0, 9999, 0); }}},
      {"Zelto_DrawArc", {201, 99, [] { return Zelto_DrawArc(9999, 0, 1, 1, 1); }}},
      {"Zelto_FillArc", {201, 99, [] { return Zelto_FillArc(9999, 0, 1, 1, 1); }}},
      {"Zelto_BrushColor", {201, kSends, [] { return Zelto_BrushColor(0, 0, 0); }}},
      {"Zelto_SetFont", {201, kSends, [] { return Zelto_SetFont(0, 0, 0, 0, 0, 0); }}},
      {"Zelto_SetTextColor", {201, kSends, [] { return Zelto_SetTextColor(0, 0, 0); }}},
      {"Zelto_SetBackgroundColor", {201, kSends, [] { return Zelto_SetBackgroundColor(0, 0, 0); }}},
      {"Zelto_SelectBackgroundMode", {201, kSends, [] { return Zelto_SelectBackgroundMode(0); }}},
      {"Zelto_DrawString", {201, 99, [] { return Zelto_DrawString(0, 0, 4, nullptr); }}},
      {"Zelto_DrawStringInRectangle",
       {201, 99, [] { return Zelto_DrawStringInRectangle(0, 0, 10, 10, 4, nullptr); }}},
      {"Zelto_SetClipArea", {201, 99, [] { return Zelto_SetClipArea(0, 0, 9999, 0, 0, 0, 0, 0); }}},
      {"Zelto_CreateRegion",
       {201, 99, [] { return Zelto_CreateRegion(1, 1, 0, 0, 0, 10, 10, 4, nullptr); }}},
      {"Zelto_SetBackLight", {201, 99, [] { return Zelto_SetBackLight(255); }}},
      {"Zelto_ReviewBackLight", {201, 99, [] { return Zelto_ReviewBackLight(nullptr); }}},
      // Pictures.
      {"Zelto_GetPicture",
       {201, 99, [] { return Zelto_GetPicture(0, 0, 10, 10, nullptr, 512, &number); }}},
      {"Zelto_ShowPicture", {201, 99, [] { return Zelto_ShowPicture(0, 0, 10, 10, nullptr, 4); }}},
      {"Zelto_StorePicture", {201, 99, [] { return Zelto_StorePicture(1, 0, nullptr, 4); }}},
      {"Zelto_ShowStorePicture",
       {201, 99, [] { return Zelto_ShowStorePicture(1, 0, 0, 9999, 0); }}},
      {"Zelto_RetrieveStorePicture",
       {201, 99, [] { return Zelto_RetrieveStorePicture(buffer, nullptr); }}},
      // Capture.
      {"Zelto_StartCapture",
       {201, 99, [] { return Zelto_StartCapture(255, 0, 0, 0, 0, 0, 0, 0); }}},
      {"Zelto_ContinueCapture", {201, kSends, [] { return Zelto_ContinueCapture(); }}},
      {"Zelto_PauseCapture", {201, 99, [] { return Zelto_PauseCapture(nullptr); }}},
      {"Zelto_GetPointCount", {201, 99, [] { return Zelto_GetPointCount(nullptr); }}},
      {"Zelto_ClearSignature", {201, kSends, [] { return Zelto_ClearSignature(); }}},
      {"Zelto_ExitCapture", {201, kSends, [] { return Zelto_ExitCapture(); }}},
      {"Zelto_CalibrateDevice", {201, kSends, [] { return Zelto_CalibrateDevice(); }}},
      {"Zelto_GetSignFormat",
       {201, 99, [] { return Zelto_GetSignFormat(1, nullptr, 64, &number); }}},
      {"Zelto_SetSignFormat", {201, 99, [] { return Zelto_SetSignFormat(1, nullptr, 4); }}},
      // Reader.
      {"MSR_EnableSecureHead", {201, kSends, [] { return MSR_EnableSecureHead(); }}},
      {"MSR_DisableSecureHead", {201, kSends, [] { return MSR_DisableSecureHead(); }}},
      {"MSR_GetOutputSetting", {201, 99, [] { return MSR_GetOutputSetting(nullptr); }}},
      {"MSR_GetDecodingSetting", {201, 99, [] { return MSR_GetDecodingSetting(nullptr); }}},
      {"MSR_SetDecodingSetting", {201, 99, [] { return MSR_SetDecodingSetting(255); }}},
      {"MSR_GetAllSettings", {201, 99, [] { return MSR_GetAllSettings(nullptr, &count); }}},
      {"MSR_SetEncryption", {201, 99, [] { return MSR_SetEncryption(255); }}},
      {"MSR_SerialNumber", {201, 99, [] { return MSR_SerialNumber(buffer, nullptr); }}},
      {"MSR_GetKeyModel", {201, 99, [] { return MSR_GetKeyModel(nullptr); }}},
      {"MSR_SetKeyModel", {201, 99, [] { return MSR_SetKeyModel(255); }}},
      {"MSR_GetEncryptedData", {201, 99, [] { return MSR_GetEncryptedData(nullptr, nullptr); }}},
      {"MSR_SetEncryptedData", {201, 99, [] { return MSR_SetEncryptedData(nullptr, 8); }}},
      {"MSR_LoadDeviceKey", {201, 99, [] { return MSR_LoadDeviceKey(buffer, 15); }}},
      {"MSR_GetSecurityLevel", {201, 99, [] { return MSR_GetSecurityLevel(nullptr); }}},
      {"MSR_GetMSROutputStatus", {201, 99, [] { return MSR_GetMSROutputStatus(nullptr); }}},
      {"MSR_GetSecureHeadFirmware",
       {201, 99, [] { return MSR_GetSecureHeadFirmware(nullptr, &count); }}},
      {"MSR_ReviewSecureHeadPrePANID",
       {201, 99, [] { return MSR_ReviewSecureHeadPrePANID(nullptr); }}},
      {"MSR_ReviewSecureHeadPostPANID",
       {201, 99, [] { return MSR_ReviewSecureHeadPostPANID(nullptr); }}},
      {"MSR_ReviewSecureHeadMaskPAN",
       {201, 99, [] { return MSR_ReviewSecureHeadMaskPAN(nullptr); }}},
      {"MSR_ReviewKSNAndCountID",
       {201, 99, [] { return MSR_ReviewKSNAndCountID(nullptr, nullptr); }}},
      {"MSR_SetSecureHeadPrePANID", {201, kSends, [] { return MSR_SetSecureHeadPrePANID(255); }}},
      {"MSR_SetSecureHeadPostPANID", {201, kSends, [] { return MSR_SetSecureHeadPostPANID(255); }}},
      {"MSR_SetSecureHeadMaskPAN", {201, kSends, [] { return MSR_SetSecureHeadMaskPAN(255); }}},
      {"MSR_SetExpirationData", {201, 99, [] { return MSR_SetExpirationData(255); }}},
      {"MSR_GetDataOutputFormat", {201, 99, [] { return MSR_GetDataOutputFormat(nullptr); }}},
      {"MSR_SetDataOutputFormat", {201, 99, [] { return MSR_SetDataOutputFormat(255); }}},
      {"MSR_SetOutputEncryptedFormat", {201, 99, [] { return MSR_SetOutputEncryptedFormat(255); }}},
      {"MSR_SetEncryptOption", {201, kSends, [] { return MSR_SetEncryptOption(0, 0, 0, 0); }}},
      {"MSR_SetHashOption", {201, kSends, [] { return MSR_SetHashOption(0, 0, 0); }}},
      {"MSR_SetMaskOption", {201, kSends, [] { return MSR_SetMaskOption(0, 0, 0); }}},
      {"MSR_SetDataPINorDataKey", {201, 99, [] { return MSR_SetDataPINorDataKey(255); }}},
      {"MSR_getDataPINorDataKey", {201, 99, [] { return MSR_getDataPINorDataKey(nullptr); }}},
      {"MSR_ManualInputCardData", {201, 99, [manual] { return MSR_ManualInputCardData(manual); }}},
      // PIN pad.
      {"PIN_GetPINBlock", {201, 99, [] { return PIN_GetPINBlock(NullOutputs()); }}},
      {"PIN_CancelPIN", {201, kSends, [] { return PIN_CancelPIN(); }}},
      {"PIN_GetNumericOrAmount",
       {201, 99, [key] { return PIN_GetNumericOrAmount(1, NullOutputs(), key); }}},
      {"PIN_GetCardAccount", {201, 99, [] { return PIN_GetCardAccount(NullOutputs()); }}},
      {"PIN_GetEncryptedData", {201, 99, [] { return PIN_GetEncryptedData(0, NullOutputs()); }}},
      {"PIN_GetKey", {201, 99, [] { return PIN_GetKey(nullptr, &count); }}},
      {"PIN_ClearKey", {201, kSends, [] { return PIN_ClearKey(); }}},
      {"PIN_InvalidateKey", {201, kSends, [] { return PIN_InvalidateKey(); }}},
  };
}

// The trace in a file of the test's own; Since() gives what was written after a mark.
class TraceFile {
 public:
  TraceFile()
      : path_(fs::temp_directory_path() /
              ("vantorel-trace-exports-" + std::to_string(::getpid()) + ".log")) {
    fs::remove(path_);
    vantorel::link::trace::Configure(path_.c_str());
  }
  ~TraceFile() {
    vantorel::link::trace::Configure(nullptr);
    fs::remove(path_);
  }
  std::string All() const {
    std::ifstream in(path_);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::size_t Mark() const { return All().size(); }
  std::string Since(std::size_t mark) const { return All().substr(mark); }

 private:
  fs::path path_;
};

std::string ResultLine(const std::string& name, int code) {
  return " " + name + " returned " + std::to_string(code) + " (" +
         vantorel::link::trace::ReturnCodeMeaning(static_cast<std::uint8_t>(code)) + ")\n";
}

// The lines naming `name`, in order.
std::vector<std::string> LinesOf(const std::string& trace, const std::string& name) {
  std::vector<std::string> lines;
  std::istringstream in(trace);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find(" " + name + " ") != std::string::npos) lines.push_back(line);
  }
  return lines;
}

// How many result lines name `name`.
int ResultLines(const std::string& trace, const std::string& name) {
  int results = 0;
  for (const auto& line : LinesOf(trace, name)) {
    results += line.find(" " + name + " returned ") != std::string::npos;
  }
  return results;
}

class TraceExportsTest : public support::TransportTest {
 protected:
  // Calls every case in the state as it is and checks its code and its one result line.
  void CallEvery(bool open) {
    const auto cases = Cases();
    for (const std::string& name : DefExports()) {
      const auto found = cases.find(name);
      ASSERT_NE(found, cases.end()) << name << " is exported but has no case here";
      const Case& c = found->second;
      const int expected = open ? c.open : c.closed;
      if (expected == kSends) continue;
      session.Clear();
      const std::size_t mark = trace_.Mark();
      if (expected == kText) {
        EXPECT_EQ(c.call(), 1) << name;
        EXPECT_TRUE(LinesOf(trace_.Since(mark), name).empty()) << name;
        EXPECT_TRUE(session.Commands().empty()) << name << " sent a command";
        continue;
      }
      EXPECT_EQ(c.call(), expected) << name << (open ? " (open)" : " (closed)");
      // The thread's last error is the code just returned, and reading it changes nothing.
      EXPECT_EQ(Brixa_GetLastError(), expected) << name;
      if (expected == VANTOREL_INVALID_ARGUMENT) {
        EXPECT_STREQ(Brixa_GetLastErrorText(),
                     "an argument is out of range, too long or null; nothing was sent")
            << name;
      } else if (expected >= VANTOREL_ALREADY_OPEN) {  // the library's own state: no cause
        EXPECT_STREQ(Brixa_GetLastErrorText(), Brixa_ReturnCodeText(expected)) << name;
      }
      EXPECT_EQ(Brixa_GetLastError(), expected) << name;
      const std::string written = trace_.Since(mark);
      EXPECT_NE(written.find(ResultLine(name, expected)), std::string::npos)
          << name << (open ? " (open)" : " (closed)") << ":\n"
          << written;
      EXPECT_EQ(ResultLines(written, name), 1) << name << ":\n" << written;
      if (open && name != "Brixa_OpenHid" && name != "Brixa_OpenPort") {
        EXPECT_TRUE(session.Commands().empty()) << name << " sent a command";
      }
    }
  }

  TraceFile trace_;
};
VANTOREL_ON_BOTH_TRANSPORTS(TraceExportsTest);

TEST_P(TraceExportsTest, EveryExportTracesItsEarlyReturn) {
  const auto exported = DefExports();
  EXPECT_EQ(std::set<std::string>(exported.begin(), exported.end()), HeaderExports());
  EXPECT_EQ(Cases().size(), DefExports().size()) << "a case for an export the DLL lacks";
  CallEvery(false);
  ASSERT_EQ(session.Open(), 1);
  CallEvery(true);
}

// A start refused by the mode running: the refusal is the export's one line.
TEST_P(TraceExportsTest, ModeRefusalsAreTraced) {
  ASSERT_EQ(session.Open(), 1);
  auto& state = vantorel::link::State();
  struct Refusal {
    std::atomic<std::uint8_t>& mode;
    const char* name;
    int code;
    std::function<unsigned char()> call;
  };
  pinpad_test::Request request;
  const Refusal refusals[] = {
      {state.pinEntryActive, "Zelto_StartCapture", 202,
       [] { return Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0); }},
      {state.secureHeadActive, "PIN_GetPINBlock", 204,
       [&] { return PIN_GetPINBlock(request.record); }},
      {state.captureActive, "PIN_GetEncryptedData", 205,
       [&] { return PIN_GetEncryptedData(0, request.record); }},
      {state.encryptedEntryActive, "Zelto_StartCapture", 207,
       [] { return Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0); }},
  };
  for (const Refusal& r : refusals) {
    r.mode = 1;
    const std::size_t mark = trace_.Mark();
    EXPECT_EQ(r.call(), r.code) << r.name;
    r.mode = 0;
    const std::string written = trace_.Since(mark);
    EXPECT_NE(written.find(ResultLine(r.name, r.code)), std::string::npos) << written;
    EXPECT_EQ(LinesOf(written, r.name).size(), 1U) << written;
  }
  EXPECT_TRUE(session.Commands().empty());
}

// The result line of a long-running export is its final code: written once, as the last
// line naming it, after the lines of its loop.
void ExpectFinalLine(const std::string& trace, const std::string& name, int code) {
  const auto lines = LinesOf(trace, name);
  ASSERT_GE(lines.size(), 2U) << name << ":\n" << trace;
  EXPECT_TRUE((lines.back() + "\n").ends_with(ResultLine(name, code))) << name << ":\n" << trace;
  EXPECT_EQ(ResultLines(trace, name), 1) << name << ":\n" << trace;
}

TEST_P(TraceExportsTest, CaptureTracesItsFinalCodeAfterItsLoop) {
  ASSERT_EQ(session.Open(), 1);
  session.terminal().Get<vterm::SignpadModule>().SetHidLink(!session.serial());
  {
    signpad_test::Capture capture(1);
    ASSERT_TRUE(signpad_test::Capture::WaitRunning());
    std::this_thread::sleep_for(100ms);  // a few polling turns
    EXPECT_EQ(Zelto_ExitCapture(), 1);
    EXPECT_EQ(capture.Finish(), 1);
  }
  ExpectFinalLine(trace_.All(), "Zelto_StartCapture", 1);
}

TEST_P(TraceExportsTest, EntriesAndSecureReadingTraceTheirFinalCodes) {
  const vterm::RsaKeyPair key = vterm::GenerateRsaKeyPair(1024);
  vterm::UsePublicKey(session.terminal(), key);
  ASSERT_EQ(session.Open(), 1);

  pinpad_test::Answer(session, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
  pinpad_test::Request pin;
  pin.Line("ENTER PIN");
  EXPECT_EQ(PIN_GetPINBlock(pin.record), 1);

  pinpad_test::Answer(session, vterm::PinPadModule::NumericAnswer("1234"));
  pinpad_test::Request amount;
  EXPECT_EQ(PIN_GetNumericOrAmount(2, amount.record, key.privateKey), 1);

  pinpad_test::Answer(session,
                      vterm::PinPadModule::TwoByteAnswer(pinpad_test::Bytes{
                          '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2', '3'}));
  pinpad_test::Request card(20, 12);
  EXPECT_EQ(PIN_GetCardAccount(card.record), 1);

  pinpad_test::Answer(session, vterm::PinPadModule::TwoByteAnswer({0xDE, 0xAD, 0xBE, 0xEF}));
  pinpad_test::Request encrypted(0, 0);
  EXPECT_EQ(PIN_GetEncryptedData(0xC3, encrypted.record), 1);

  cardreader_test::Reader(session).ScriptManualEntry(
      vterm::ManualEntryOutcome::Data({'4', '1', '1', '1', '1', '1', '1', '1', '1', '1', '1',
                                       '1', '1', '1', '1', '1', '=', '3', '0', '1', '2'}));
  std::array<unsigned char, 512> manualResult{};
  int manualLength = 0;
  ManualEntryRequest manual{};
  manual.result = manualResult.data();
  manual.resultLength = &manualLength;
  manual.mode = 1;
  manual.entryKind = 1;
  manual.upperBound = 19;
  manual.lowerBound = 13;
  EXPECT_EQ(MSR_ManualInputCardData(manual), 1);

  {
    cardreader_test::Reading reading;
    ASSERT_TRUE(cardreader_test::WaitForKeyPolls(session, 2));
    EXPECT_EQ(MSR_DisableSecureHead(), 1);
    EXPECT_EQ(reading.Result(), 1);
  }

  const std::string trace = trace_.All();
  for (const char* name :
       {"PIN_GetPINBlock", "PIN_GetNumericOrAmount", "PIN_GetCardAccount", "PIN_GetEncryptedData",
        "MSR_ManualInputCardData", "MSR_EnableSecureHead"}) {
    ExpectFinalLine(trace, name, 1);
  }
}

}  // namespace
