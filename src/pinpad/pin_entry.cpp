// The PIN-pad entries: PIN block, numeric or amount (prompt signed with the caller's key),
// card account and encrypted data, and the cancel command.
#include <algorithm>
#include <array>
#include <cstring>

#include "crypto/rsa_private_block.h"
#include "crypto/secure_wipe.h"
#include "link/command.h"
#include "link/modes.h"
#include "link/trace.h"
#include "pinpad/entry_wait.h"
#include "pinpad/prompt_line.h"
#include "vantorel.h"

namespace vantorel::pinpad {
namespace {

using link::CommandBytes;
using Kind = EntryOutcome::Kind;

// The terminal takes a body of at most this many bytes after the three command bytes.
constexpr std::size_t kBodyLimit = 512;
// The numeric entry's prompt message, before it is cut into pieces for the private key.
constexpr std::size_t kMessageLimit = 256;
constexpr std::size_t kPieceLength = 116;
constexpr std::size_t kMaxPieces = (kMessageLimit + kPieceLength - 1) / kPieceLength;

template <std::size_t N>
using Body = link::ByteWriter<N>;

// Checks every entry shares after its own: the selector, the line count, and the caller's
// output pointers (a null one would be written through when the answer comes).
bool CommonArgumentsValid(const PinEntryRequest& request) noexcept {
  return request.selector <= 3 && PromptLineCount(request.promptLineCount) <= kMaxPromptLines &&
         request.result != nullptr && request.resultLength != nullptr;
}

// The state checks: the link, then the mode table, whose claim the entry holds until its
// start was answered.
std::uint8_t EntryStateCheck(link::LoopStart& start) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  const std::uint8_t rc = start.Claim();
  return rc != 0 ? rc : VANTOREL_SUCCESS;
}

bool IsAccountNumber(const char* text, std::size_t length) noexcept {
  if (length == 0) return true;
  if (length != 16) return false;
  return std::all_of(text, text + 16, [](char c) { return c >= '0' && c <= '9'; });
}

// The terminal's data bytes after the first two, without a terminator.
void CopyAfterTwo(const PinEntryRequest& request, const link::Reply& message) {
  const auto data = message.Data().subspan(2);
  std::memcpy(request.result, data.data(), data.size());
  *request.resultLength = static_cast<int>(data.size());
}

// The common tail of the entries: run it, turn its outcome into the return code.
template <class Copy>
std::uint8_t Run(const CommandBytes& command, link::LoopStart& start, std::uint8_t endedFromOutside,
                 Copy&& copy) noexcept {
  EntryMessage message;
  const crypto::ScopedWipe wipe(message.data(), message.size());
  const EntryOutcome outcome = RunEntry(command, message, start);
  switch (outcome.kind) {
    case Kind::kMessage:
      // The wait's judge let only messages with more than four data bytes through.
      copy(link::Reply(message.data(), outcome.length));
      return VANTOREL_SUCCESS;
    case Kind::kEndedFromOutside:
      return endedFromOutside;
    case Kind::kNotStarted:
    case Kind::kRefused:
      break;
  }
  return outcome.code;
}

template <std::size_t N>
bool Append(CommandBytes& command, const Body<N>& body) noexcept {
  if (!body.Fits()) return false;
  command.Bytes(body.data(), body.size());
  return command.Fits();
}

}  // namespace
}  // namespace vantorel::pinpad

using namespace vantorel;
using link::CommandBytes;
using pinpad::Body;
using pinpad::kBodyLimit;

extern "C" unsigned char VANTOREL_CALL PIN_GetPINBlock(PinEntryRequest request) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  link::LoopStart start(link::Mode::kPinPadEntry);
  if (const auto rc = pinpad::EntryStateCheck(start); rc != VANTOREL_SUCCESS)
    return call.Result(rc);
  if (request.mode != '0' && request.mode != '1') return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (request.upperBound < 4 || request.upperBound > 12)
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (request.lowerBound < 4 || request.lowerBound > 12)
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (request.upperBound < request.lowerBound) return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (request.accountNumber == nullptr) return call.Result(VANTOREL_INVALID_ARGUMENT);
  const std::size_t accountLength = link::TextLength(request.accountNumber, 16);
  if (!pinpad::IsAccountNumber(request.accountNumber, accountLength)) {
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  }
  if (!pinpad::CommonArgumentsValid(request)) return call.Result(VANTOREL_INVALID_ARGUMENT);

  Body<kBodyLimit> body;
  body.Byte(request.mode).Byte(request.upperBound).Byte(request.lowerBound);
  body.Byte(accountLength == 16 ? 1 : 0).Bytes(request.accountNumber, accountLength);
  pinpad::PutEntryFields(body, request);
  CommandBytes command{link::Command::kPinBlock};
  if (!pinpad::Append(command, body)) return call.Result(VANTOREL_INVALID_ARGUMENT);

  return call.Result(pinpad::Run(command, start, VANTOREL_FAILURE, [&](const link::Reply& message) {
    const auto data = message.Data();
    std::memcpy(request.result, data.data(), data.size());
    request.result[data.size()] = 0;
    *request.resultLength = static_cast<int>(data.size());
  }));
}

extern "C" unsigned char VANTOREL_CALL PIN_CancelPIN(void) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!link::LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  // The terminal ends the pending entry with a refusal, which the waiting call reads.
  return call.Result(link::RunCommand(CommandBytes{link::Command::kCancelEntry},
                                      {.reply = link::ReplyUse::kNotRead}));
}

extern "C" unsigned char VANTOREL_CALL PIN_GetNumericOrAmount(unsigned char entryMode,
                                                              PinEntryRequest request,
                                                              RsaPrivateKey key) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  link::LoopStart start(link::Mode::kPinPadEntry);
  if (const auto rc = pinpad::EntryStateCheck(start); rc != VANTOREL_SUCCESS)
    return call.Result(rc);
  if (entryMode != 1 && entryMode != 2) return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (request.upperBound < 4 || request.upperBound > 20)
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (request.lowerBound < 4 || request.lowerBound > 20)
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (request.upperBound < request.lowerBound) return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (!pinpad::CommonArgumentsValid(request)) return call.Result(VANTOREL_INVALID_ARGUMENT);

  Body<pinpad::kMessageLimit> message;
  pinpad::PutEntryFields(message, request);
  if (!message.Fits()) return call.Result(VANTOREL_INVALID_ARGUMENT);

  // Each piece goes through the private key before anything is sent; the bounds travel in
  // clear, the rest of the description only inside the processed pieces.
  std::array<std::uint8_t, pinpad::kMaxPieces * crypto::kRsaMaxOutputLength> signedPieces;
  std::size_t total = 0;
  for (std::size_t offset = 0; offset < message.size(); offset += pinpad::kPieceLength) {
    const auto pieceLength =
        static_cast<unsigned>(std::min(pinpad::kPieceLength, message.size() - offset));
    unsigned outputLength = 0;
    if (crypto::RsaPrivateBlock(signedPieces.data() + total, &outputLength, message.data() + offset,
                                pieceLength, key) != crypto::kRsaOk) {
      crypto::SecureWipe(&key, sizeof key);
      return call.Result(VANTOREL_FAILURE);
    }
    total += outputLength;
  }
  // The record came by value: this frame holds a copy of the caller's private key, which
  // must not outlive its use (the entry wait can last minutes).
  crypto::SecureWipe(&key, sizeof key);

  CommandBytes command{link::Command::kNumericEntry, entryMode == 1 ? 0u : 1u};
  command.Byte(request.upperBound).Byte(request.lowerBound).Bytes(signedPieces.data(), total);
  if (!command.Fits()) return call.Result(VANTOREL_INVALID_ARGUMENT);

  return call.Result(pinpad::Run(command, start, VANTOREL_FAILURE, [&](const link::Reply& reply) {
    // The first data byte is the terminal's value; the digits follow, up
    // to its 'F' padding or the check bytes.
    const auto data = reply.Data();
    *request.resultLength = data[0];
    std::size_t n = 0;
    for (std::size_t i = 1; i < data.size() && data[i] != 0x46; ++i) {
      request.result[n++] = static_cast<char>(data[i]);
    }
    request.result[n] = 0;
  }));
}

extern "C" unsigned char VANTOREL_CALL PIN_GetCardAccount(PinEntryRequest request) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  link::LoopStart start(link::Mode::kPinPadEntry);
  if (const auto rc = pinpad::EntryStateCheck(start); rc != VANTOREL_SUCCESS)
    return call.Result(rc);
  if (request.upperBound < 12 || request.upperBound > 20)
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (request.lowerBound < 12 || request.lowerBound > 20)
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (request.upperBound < request.lowerBound) return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (!pinpad::CommonArgumentsValid(request)) return call.Result(VANTOREL_INVALID_ARGUMENT);

  Body<kBodyLimit> body;
  body.Byte(request.upperBound).Byte(request.lowerBound);
  pinpad::PutEntryFields(body, request);
  CommandBytes command{link::Command::kCardAccount};
  if (!pinpad::Append(command, body)) return call.Result(VANTOREL_INVALID_ARGUMENT);

  return call.Result(pinpad::Run(command, start, VANTOREL_FAILURE, [&](const link::Reply& message) {
    pinpad::CopyAfterTwo(request, message);
  }));
}

extern "C" unsigned char VANTOREL_CALL PIN_GetEncryptedData(unsigned char dataMode,
                                                            PinEntryRequest request) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  link::LoopStart start(link::Mode::kEncryptedEntry);
  if (const auto rc = pinpad::EntryStateCheck(start); rc != VANTOREL_SUCCESS)
    return call.Result(rc);
  if (request.upperBound > 20 || request.lowerBound > 20)
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (request.upperBound < request.lowerBound) return call.Result(VANTOREL_INVALID_ARGUMENT);
  if (!pinpad::CommonArgumentsValid(request)) return call.Result(VANTOREL_INVALID_ARGUMENT);

  Body<kBodyLimit> body;
  body.Byte(dataMode).Byte(request.upperBound).Byte(request.lowerBound);
  pinpad::PutEntryFields(body, request);
  CommandBytes command{link::Command::kEncryptedEntry};
  if (!pinpad::Append(command, body)) return call.Result(VANTOREL_INVALID_ARGUMENT);

  // Superseded by another entry or ended by closing: reported as success, outputs untouched.
  return call.Result(pinpad::Run(command, start, VANTOREL_SUCCESS, [&](const link::Reply& message) {
    pinpad::CopyAfterTwo(request, message);
  }));
}
