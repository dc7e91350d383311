// The PIN-pad part of the demo: a PIN block and an amount, with prompt lines on the pad.
// The amount entry's prompt is processed with a private key made here at run time; the
// virtual pad holds the public half and checks every piece with it.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/demo.h"
#include "vantorel.h"
#include "vterm/card_reader.h"
#include "vterm/pin_pad.h"
#include "vterm/pin_pad_keys.h"

namespace demo {
namespace {

PinEntryRequest Prompt(unsigned char* result, int* resultLength, const char* first,
                       const char* second) {
  PinEntryRequest request{};
  request.result = result;
  request.resultLength = resultLength;
  request.mode = '1';
  request.accountNumber = "";
  const char* texts[2] = {first, second};
  for (int i = 0; i < 2; ++i) {
    PromptLine& line = request.promptLines[i];
    line.x = 10;
    line.y = 40 + 30 * i;
    line.text = texts[i];
  }
  request.promptLineCount = 2;
  return request;
}

std::string Printable(const unsigned char* data, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = data[i];
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    }
  }
  return text;
}

void ShowLines(Demo& demo, vterm::PinPadModule& pad) {
  const auto entry = pad.LastEntry();
  if (!entry) return;
  for (const auto& line : entry->lines) {
    demo.Say("  pad shows at (" + std::to_string(line.x) + ", " + std::to_string(line.y) + "): \"" +
             line.text + "\"");
  }
}

}  // namespace

void RunPinPad(Demo& demo) {
  demo.Say("PIN pad");
  auto& pad = demo.terminal.Get<vterm::PinPadModule>();
  unsigned char result[512] = {};
  int resultLength = 0;

  demo.Say("The cardholder keys a PIN; the pad answers with its PIN block.");
  PinEntryRequest pin = Prompt(result, &resultLength, "Amount 12.50", "Enter PIN");
  pin.upperBound = 6;
  pin.lowerBound = 4;
  if (demo.Call("PIN_GetPINBlock(request)", PIN_GetPINBlock(pin)) == VANTOREL_SUCCESS) {
    ShowLines(demo, pad);
    demo.Say("  PIN block: " + Printable(result, static_cast<std::size_t>(resultLength)) + " (" +
             std::to_string(resultLength) + " bytes)");
  }

  demo.Say("An amount, its prompt processed piece by piece with a fresh 1024-bit key.");
  vterm::RsaKeyPair pair = vterm::GenerateRsaKeyPair(1024);
  vterm::UsePublicKey(demo.terminal, pair);
  pad.ScriptNextEntry({vterm::EntryScript::Kind::kAnswer, vterm::kDefaultEntryDelayMs,
                       vterm::PinPadModule::NumericAnswer("1250", 8), 0});
  PinEntryRequest amount = Prompt(result, &resultLength, "Tip amount?", "Confirm with ENTER");
  amount.upperBound = 8;
  amount.lowerBound = 4;
  const unsigned char rc = demo.Call("PIN_GetNumericOrAmount(2, request, key)",
                                     PIN_GetNumericOrAmount(2, amount, pair.privateKey));
  std::memset(&pair.privateKey, 0, sizeof pair.privateKey);  // demo key, gone after use
  if (rc == VANTOREL_SUCCESS) {
    ShowLines(demo, pad);
    if (const auto entry = pad.LastEntry()) {
      demo.Say("  pad recovered a " + std::to_string(entry->promptMessage.size()) +
               "-byte prompt from " + std::to_string(entry->pieces) + " processed piece(s)");
    }
    demo.Say("  entered: \"" + std::string(reinterpret_cast<char*>(result)) +
             "\", first answer byte " + std::to_string(resultLength));
  }

  demo.Say("The cardholder presses ENTER.");
  demo.terminal.Get<vterm::CardReaderModule>().PressKey(vterm::PadKey::kEnter);
  char key[10] = {};
  int keyLength = 0;
  if (demo.Call("PIN_GetKey(name, &length)", PIN_GetKey(key, &keyLength)) == VANTOREL_SUCCESS) {
    demo.Say("  key: " + std::string(key, static_cast<std::size_t>(keyLength)));
  }
}

}  // namespace demo
