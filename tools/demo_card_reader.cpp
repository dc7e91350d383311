// The card reader's part of the demo: a few settings, secure reading on a thread of its
// own while the virtual terminal swipes a card and presses Enter, then a manual entry.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/demo.h"
#include "vantorel.h"
#include "vterm/card_reader.h"

namespace demo {
namespace {

using namespace std::chrono_literals;

// What the data handler received, shared with the thread that waits for it.
struct Received {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> lines;
};
Received received;

std::string Printable(const unsigned char* data, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    const unsigned char c = data[i];
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    }
  }
  return text;
}

void VANTOREL_CALL OnCardData(const unsigned char* data, int count, int context) {
  std::string line;
  if (count == 2 && data[0] == 0x7B) {
    static const char* const kKeys[] = {"?", "Cancel", "Backspace", "Enter"};
    line = "key event: " + std::string(kKeys[data[1] <= 3 ? data[1] : 0]);
  } else {
    line = "card data, " + std::to_string(count) + " bytes: \"" + Printable(data, count) + "\"";
  }
  line += "  (context " + std::to_string(context) + ")";
  std::printf("    handler: %s\n", line.c_str());
  std::fflush(stdout);
  std::lock_guard lock(received.mutex);
  received.lines.push_back(line);
  received.cv.notify_all();
}

void ShowBlock(const Demo& demo, const char* name,
               unsigned char(VANTOREL_CALL* read)(unsigned char*, int*)) {
  unsigned char buffer[512] = {};
  int length = 0;
  if (demo.Call(std::string(name) + "(buffer, &length)", read(buffer, &length)) ==
      VANTOREL_SUCCESS) {
    demo.Say("    \"" + Printable(buffer, length) + "\"");
  }
}

}  // namespace

void RunCardReader(Demo& demo) {
  auto& reader = demo.terminal.Get<vterm::CardReaderModule>();
  demo.Say("Card reader");
  ShowBlock(demo, "MSR_SerialNumber", MSR_SerialNumber);
  ShowBlock(demo, "MSR_GetSecureHeadFirmware", MSR_GetSecureHeadFirmware);
  ShowBlock(demo, "MSR_ReviewKSNAndCountID", MSR_ReviewKSNAndCountID);
  demo.Call("MSR_SetDecodingSetting('2')", MSR_SetDecodingSetting('2'));
  unsigned char decoding = 0;
  if (demo.Call("MSR_GetDecodingSetting(&value)", MSR_GetDecodingSetting(&decoding)) ==
      VANTOREL_SUCCESS) {
    demo.Say(std::string("    value '") + static_cast<char>(decoding) + "'");
  }
  demo.Call("MSR_SetDecodingSetting('7')   (allowed: '0'-'4')", MSR_SetDecodingSetting('7'));

  demo.Say("Secure reading");
  demo.Call("MSR_AddDataHandle(OnCardData, 42)", MSR_AddDataHandle(OnCardData, 42));
  unsigned char enableRc = 0;
  std::thread readingThread([&] { enableRc = MSR_EnableSecureHead(); });
  for (int i = 0; i < 200 && reader.KeyPolls() == 0; ++i) std::this_thread::sleep_for(25ms);
  demo.Say("  the reader is polling; the terminal swipes a card and the cardholder presses Enter");
  reader.Swipe(vterm::CardReaderModule::TrackText(
                   {"%B4761739001010119^DEMO/CARDHOLDER^2512101?", ";4761739001010119=2512101?"}),
               vterm::Via::kUnsolicited);
  reader.PressKey(vterm::PadKey::kEnter, vterm::Via::kKeyPoll);
  {
    std::unique_lock lock(received.mutex);
    received.cv.wait_for(lock, 15s, [] { return received.lines.size() >= 2; });
  }
  demo.Call("MSR_DisableSecureHead()", MSR_DisableSecureHead());
  readingThread.join();
  demo.Call("MSR_EnableSecureHead()   (returned on the reading thread)", enableRc);

  demo.Say("Manual card entry");
  unsigned char result[512] = {};
  int resultLength = 0;
  ManualEntryRequest request{};
  request.result = result;
  request.resultLength = &resultLength;
  request.mode = 1;
  request.entryKind = 1;
  request.upperBound = 19;
  request.lowerBound = 13;
  request.promptLineCount = 1;
  request.promptLines[0].x = 10;
  request.promptLines[0].y = 40;
  request.promptLines[0].text = "Key the card number";
  if (demo.Call("MSR_ManualInputCardData(request)", MSR_ManualInputCardData(request)) ==
      VANTOREL_SUCCESS) {
    demo.Say("    the terminal's whole message: \"" + Printable(result, resultLength) + "\"");
  }

  std::ofstream file(demo.outDir / "card_reader.txt");
  file << "What the card-data handler received during secure reading:\n";
  std::lock_guard lock(received.mutex);
  for (const auto& line : received.lines) file << "  " << line << "\n";
}

}  // namespace demo
