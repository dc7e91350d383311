#include "vterm/pin_pad.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <memory>
#include <span>
#include <stdexcept>

namespace vterm {
namespace {

constexpr std::uint8_t kPinPad = 0x75;
constexpr std::uint8_t kPerform = 0x46;
constexpr std::uint8_t kPinBlock = 0x07;
constexpr std::uint8_t kCancel = 0x09;
constexpr std::uint8_t kNumeric1 = 0x22;
constexpr std::uint8_t kNumeric2 = 0x23;
constexpr std::uint8_t kCardAccount = 0x24;
constexpr std::uint8_t kEncryptedData = 0x25;
constexpr std::uint8_t kInvalidateKey = 0x84;

// The numeric entry's prompt travels in 128-byte blocks: 00 00 00 len FF.. 00 piece.
constexpr std::size_t kBlockLength = 128;
constexpr std::size_t kMaxPiece = kBlockLength - 11;

using Span = std::span<const std::uint8_t>;

std::uint16_t Word(Span p, std::size_t at) {
  return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8));
}

// selector, 16 option bytes, four words, flag, line count, 00, then exactly the lines.
bool ParseEntryFields(Span p, PinPadEntry& entry) {
  constexpr std::size_t kFields = 28;
  if (p.size() < kFields || p[27] != 0x00) return false;
  entry.selector = p[0];
  std::copy_n(p.begin() + 1, 16, entry.optionBytes.begin());
  for (std::size_t i = 0; i < 4; ++i) entry.values[i] = Word(p, 17 + 2 * i);
  entry.flagByte = p[25];
  entry.lineCount = p[26];
  std::size_t at = kFields;
  for (std::uint8_t i = 0; i < entry.lineCount; ++i) {
    if (p.size() - at < 21) return false;
    const std::size_t n = p[at + 19];
    if (p[at] != 21 + n || p[at + 1] != 0x00 || p[at + 20] != 0x00 || p.size() - at < 21 + n) {
      return false;
    }
    ShownLine line;
    std::copy_n(p.begin() + static_cast<std::ptrdiff_t>(at + 2), 13, line.attributes.begin());
    line.x = Word(p, at + 15);
    line.y = Word(p, at + 17);
    line.text.assign(p.begin() + static_cast<std::ptrdiff_t>(at + 21),
                     p.begin() + static_cast<std::ptrdiff_t>(at + 21 + n));
    entry.lines.push_back(std::move(line));
    at += 21 + n;
  }
  return at == p.size();
}

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CtxFree {
  void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct BnFree {
  void operator()(BIGNUM* bn) const { BN_free(bn); }
};
struct BldFree {
  void operator()(OSSL_PARAM_BLD* bld) const { OSSL_PARAM_BLD_free(bld); }
};
struct ParamFree {
  void operator()(OSSL_PARAM* params) const { OSSL_PARAM_free(params); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Ctx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Pkey PublicKey(const Bytes& modulus, const Bytes& exponent) {
  Bn n(BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr));
  Bn e(BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr));
  std::unique_ptr<OSSL_PARAM_BLD, BldFree> bld(OSSL_PARAM_BLD_new());
  if (!n || !e || !bld || OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1) {
    return nullptr;
  }
  std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(bld.get()));
  Ctx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* key = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return nullptr;
  }
  return Pkey(key);
}

// The public-key operation on one processed piece (raw, no padding), giving the 128-byte
// block; nullopt when OpenSSL refuses it (a value not below the modulus, for one).
std::optional<Bytes> RecoverBlock(EVP_PKEY* key, Span piece) {
  Ctx ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1) {
    return std::nullopt;
  }
  Bytes out(static_cast<std::size_t>(EVP_PKEY_get_size(key)));
  std::size_t outLength = out.size();
  if (EVP_PKEY_verify_recover(ctx.get(), out.data(), &outLength, piece.data(), piece.size()) != 1 ||
      outLength > kBlockLength) {
    return std::nullopt;
  }
  Bytes block(kBlockLength - outLength, 0x00);
  block.insert(block.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(outLength));
  return block;
}

// The piece inside a block, or nullopt when the block is not 00 00 00 len FF.. 00 piece.
std::optional<Bytes> PieceOf(const Bytes& block) {
  if (block.size() != kBlockLength || block[0] != 0 || block[1] != 0 || block[2] != 0) {
    return std::nullopt;
  }
  const std::size_t length = block[3];
  if (length > kMaxPiece) return std::nullopt;
  const std::size_t zeroAt = kBlockLength - 1 - length;
  for (std::size_t i = 4; i < zeroAt; ++i) {
    if (block[i] != 0xFF) return std::nullopt;
  }
  if (block[zeroAt] != 0x00) return std::nullopt;
  return Bytes(block.begin() + static_cast<std::ptrdiff_t>(zeroAt + 1), block.end());
}

Bytes Text(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// The most digits a keyed entry takes (a format-0 PIN block holds 14).
constexpr std::size_t kMaxKeyedDigits = 14;

// The virtual pad's PIN key (two-key triple DES); a test key, nothing real uses it.
constexpr std::uint8_t kPinKey[16] = {0x0B, 0x7A, 0x3C, 0x51, 0xE2, 0x94, 0x68, 0xD5,
                                      0x2F, 0xC1, 0x86, 0x4D, 0x97, 0x13, 0xAE, 0x70};

void Wipe(std::string& s) {
  volatile char* p = s.data();
  for (std::size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

std::string HexDigits(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
  return out;
}

// Whole 8-byte blocks under the PIN key, no padding.
Bytes Encrypt(const Bytes& in, bool encrypt) {
  struct CipherFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
  };
  std::unique_ptr<EVP_CIPHER_CTX, CipherFree> ctx(EVP_CIPHER_CTX_new());
  Bytes out(in.size() + 8);
  int n = 0;
  int tail = 0;
  if (!ctx ||
      EVP_CipherInit_ex(ctx.get(), EVP_des_ede_ecb(), nullptr, kPinKey, nullptr, encrypt ? 1 : 0) !=
          1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_CipherUpdate(ctx.get(), out.data(), &n, in.data(), static_cast<int>(in.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) != 1) {
    throw std::runtime_error("vterm: triple DES failed");
  }
  out.resize(static_cast<std::size_t>(n + tail));
  return out;
}

// The account field of a format-0 block: 0000 and the 12 digits before the check digit.
Bytes PanField(const std::string& account) {
  Bytes field(8, 0);
  if (account.size() < 13) return field;
  const std::string twelve = account.substr(account.size() - 13, 12);
  for (std::size_t i = 0; i < 6; ++i) {
    field[2 + i] =
        static_cast<std::uint8_t>(((twelve[2 * i] - '0') << 4) | (twelve[2 * i + 1] - '0'));
  }
  return field;
}

Bytes ClearPinBlock(const std::string& digits, const std::string& account) {
  std::string nibbles = "0";
  nibbles.push_back("0123456789ABCDEF"[digits.size() & 0x0F]);
  nibbles += digits;
  nibbles.resize(16, 'F');
  Bytes block = *ParseHex(nibbles);
  Wipe(nibbles);
  const Bytes pan = PanField(account);
  for (std::size_t i = 0; i < 8; ++i) block[i] ^= pan[i];
  return block;
}

Bytes DefaultAnswer(const PinPadEntry& entry) {
  switch (entry.sub) {
    case kPinBlock:
      return Text("5A1F3C9E07B2D846");
    case kNumeric1:
    case kNumeric2:
      return PinPadModule::NumericAnswer("125", entry.upperBound);
    case kCardAccount:
      return PinPadModule::TwoByteAnswer(Text("4111111111111111"));
    default:
      return PinPadModule::TwoByteAnswer(
          Bytes{0x3D, 0x91, 0x0C, 0xE7, 0x52, 0x18, 0xA4, 0x6F, 0xB0, 0x2E, 0x85, 0x73});
  }
}

}  // namespace

void PinPadModule::Install(Terminal& t) {
  terminal_ = &t;
  auto reject = [](std::uint8_t status) { return Response::Nak(status); };

  t.Register(kPinPad, kPerform, kPinBlock, [this, reject](Terminal&, const Command& c) {
    const Span p = c.Params();
    if (p.size() < 4 || p[3] > 1) return reject(kStatusBadParameter);
    PinPadEntry entry;
    entry.sub = kPinBlock;
    entry.mode = p[0];
    entry.upperBound = p[1];
    entry.lowerBound = p[2];
    std::size_t at = 4;
    if (p[3] == 1) {
      if (p.size() < 20) return reject(kStatusBadParameter);
      entry.accountNumber.assign(p.begin() + 4, p.begin() + 20);
      at = 20;
    }
    if (!ParseEntryFields(p.subspan(at), entry)) return reject(kStatusBadParameter);
    return Accept(c, std::move(entry));
  });
  t.Register(kPinPad, kPerform, kNumeric1,
             [this](Terminal&, const Command& c) { return NumericEntry(c); });
  t.Register(kPinPad, kPerform, kNumeric2,
             [this](Terminal&, const Command& c) { return NumericEntry(c); });
  t.Register(kPinPad, kPerform, kCardAccount, [this, reject](Terminal&, const Command& c) {
    const Span p = c.Params();
    PinPadEntry entry;
    entry.sub = kCardAccount;
    if (p.size() < 2 || !ParseEntryFields(p.subspan(2), entry)) {
      return reject(kStatusBadParameter);
    }
    entry.upperBound = p[0];
    entry.lowerBound = p[1];
    return Accept(c, std::move(entry));
  });
  t.Register(kPinPad, kPerform, kEncryptedData, [this, reject](Terminal&, const Command& c) {
    const Span p = c.Params();
    PinPadEntry entry;
    entry.sub = kEncryptedData;
    if (p.size() < 3 || !ParseEntryFields(p.subspan(3), entry)) {
      return reject(kStatusBadParameter);
    }
    entry.mode = p[0];
    entry.upperBound = p[1];
    entry.lowerBound = p[2];
    return Accept(c, std::move(entry));
  });
  t.Register(kPinPad, kPerform, kCancel, [this](Terminal& term, const Command&) {
    ++cancels_;
    if (pending_) {
      EndPendingLocked();
      term.Push(NakFrame(kStatusEntryCancelled));
    }
    // The cancel itself is not answered: the host does not read a reply to it.
    return Response::None();
  });
  t.Register(kPinPad, kPerform, kInvalidateKey, [this](Terminal&, const Command&) {
    ++keyInvalidates_;
    return Response::Ack();
  });
}

Response PinPadModule::NumericEntry(const Command& c) {
  const Span p = c.Params();
  if (p.size() < 2 || modulus_.empty()) return Response::Nak(kStatusBadSignature);
  const Pkey key = PublicKey(modulus_, exponent_);
  const std::size_t pieceSize = modulus_.size();
  const Span pieces = p.subspan(2);
  if (!key || pieces.empty() || pieces.size() % pieceSize != 0) {
    return Response::Nak(kStatusBadSignature);
  }
  PinPadEntry entry;
  entry.sub = c.Sub();
  entry.upperBound = p[0];
  entry.lowerBound = p[1];
  for (std::size_t at = 0; at < pieces.size(); at += pieceSize) {
    const auto block = RecoverBlock(key.get(), pieces.subspan(at, pieceSize));
    const auto piece = block ? PieceOf(*block) : std::nullopt;
    if (!piece) return Response::Nak(kStatusBadSignature);
    entry.promptMessage.insert(entry.promptMessage.end(), piece->begin(), piece->end());
    ++entry.pieces;
  }
  if (!ParseEntryFields(entry.promptMessage, entry)) return Response::Nak(kStatusBadSignature);
  return Accept(c, std::move(entry));
}

Response PinPadModule::Accept(const Command&, PinPadEntry entry) {
  // The pad runs one entry at a time: a new one replaces a pending one.
  EndPendingLocked();
  EntryScript script;
  const bool scripted = !scripts_.empty();
  if (scripted) {
    script = std::move(scripts_.front());
    scripts_.pop_front();
  }
  if (script.kind == EntryScript::Kind::kAnswer && script.data.empty()) {
    script.data = DefaultAnswer(entry);
  }
  last_ = std::move(entry);
  ++entries_;
  pending_ = true;
  if (keyed_ && !scripted) {
    keyedWaiting_ = true;
    acceptedAt_ = Clock::now();
    return Response::Ack();
  }
  if (script.kind != EntryScript::Kind::kHold) {
    Bytes message =
        script.kind == EntryScript::Kind::kAnswer ? AckFrame(script.data) : NakFrame(script.status);
    answerTask_ = terminal_->Schedule(script.delayMs,
                                      [this, message = std::move(message)](Terminal& term) mutable {
                                        pending_ = false;
                                        answerTask_.reset();
                                        term.Push(std::move(message));
                                      });
  }
  return Response::Ack();
}

void PinPadModule::EndPendingLocked() {
  if (answerTask_) terminal_->Cancel(*answerTask_);
  answerTask_.reset();
  pending_ = false;
  keyedWaiting_ = false;
  Wipe(digits_);
}

void PinPadModule::SetKeyedEntries(bool on) {
  auto lock = terminal_->Lock();
  keyed_ = on;
}

bool PinPadModule::KeyedEntryPending() const {
  auto lock = terminal_->Lock();
  return keyedWaiting_;
}

std::size_t PinPadModule::KeyedDigitCount() const {
  auto lock = terminal_->Lock();
  return digits_.size();
}

bool PinPadModule::Key(char key) {
  auto lock = terminal_->Lock();
  if (!keyedWaiting_ || !last_) return false;
  const std::size_t most = last_->upperBound > 0 ? last_->upperBound : kMaxKeyedDigits;
  const std::size_t least = last_->lowerBound;
  if (key >= '0' && key <= '9') {
    if (digits_.size() >= std::min(most, kMaxKeyedDigits)) return false;
    digits_.push_back(key);
    return true;
  }
  switch (key) {
    case 'B':
      if (digits_.empty()) return false;
      digits_.pop_back();
      return true;
    case 'X':
      if (digits_.empty()) return false;
      Wipe(digits_);
      return true;
    case 'C':
      EndPendingLocked();
      terminal_->PushAfter(AnswerDelayLocked(), NakFrame(kStatusEntryCancelled));
      return true;
    case 'E': {
      if (digits_.size() < least || digits_.empty()) return false;
      Bytes answer = KeyedAnswerLocked();
      EndPendingLocked();
      terminal_->PushAfter(AnswerDelayLocked(), AckFrame(answer));
      std::fill(answer.begin(), answer.end(), 0);
      return true;
    }
    default:
      return false;
  }
}

// A serial host reads the entry command's reply until the line stays quiet; an answer
// keyed quickly would run into that read and be lost with it. So a keyed answer leaves no
// earlier than a scripted one would.
int PinPadModule::AnswerDelayLocked() const {
  const auto since =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - acceptedAt_);
  return std::max(0, kDefaultEntryDelayMs - static_cast<int>(since.count()));
}

Bytes PinPadModule::KeyedAnswerLocked() const {
  switch (last_->sub) {
    case kPinBlock:
      return Text(PinBlock(digits_, last_->accountNumber));
    case kNumeric1:
    case kNumeric2:
      return NumericAnswer(digits_, last_->upperBound);
    case kCardAccount:
      return TwoByteAnswer(Text(digits_));
    default: {
      // Encrypted data: the digits, padded with 'F' to whole blocks, under the PIN key.
      std::string padded = digits_;
      padded.resize((padded.size() + 7) / 8 * 8, 'F');
      Bytes out = TwoByteAnswer(Encrypt(Text(padded), true));
      Wipe(padded);
      return out;
    }
  }
}

std::string PinPadModule::PinBlock(const std::string& digits, const std::string& account) {
  Bytes block = ClearPinBlock(digits, account);
  const Bytes encrypted = Encrypt(block, true);
  std::fill(block.begin(), block.end(), 0);
  return HexDigits(encrypted);
}

std::optional<std::string> PinPadModule::PinFromBlock(std::string_view block,
                                                      const std::string& account) {
  const auto bytes = ParseHex(block);
  if (!bytes || bytes->size() != 8) return std::nullopt;
  Bytes clear = Encrypt(*bytes, false);
  const Bytes pan = PanField(account);
  for (std::size_t i = 0; i < 8; ++i) clear[i] ^= pan[i];
  const std::string nibbles = HexDigits(clear);
  std::fill(clear.begin(), clear.end(), 0);
  const std::size_t n = static_cast<std::size_t>(std::stoi(nibbles.substr(1, 1), nullptr, 16));
  if (nibbles[0] != '0' || n < 1 || n > 14) return std::nullopt;
  std::string digits = nibbles.substr(2, n);
  if (digits.find_first_not_of("0123456789") != std::string::npos ||
      nibbles.find_first_not_of('F', 2 + n) != std::string::npos) {
    return std::nullopt;
  }
  return digits;
}

void PinPadModule::Restart() {
  EndPendingLocked();
}

void PinPadModule::ScriptNextEntry(EntryScript script) {
  auto lock = terminal_->Lock();
  scripts_.push_back(std::move(script));
}

void PinPadModule::ClearScripts() {
  auto lock = terminal_->Lock();
  scripts_.clear();
}

void PinPadModule::SetPublicKey(Bytes modulus, Bytes exponent) {
  auto lock = terminal_->Lock();
  const auto first = std::find_if(modulus.begin(), modulus.end(), [](auto b) { return b != 0; });
  modulus_.assign(first, modulus.end());
  exponent_ = std::move(exponent);
}

std::optional<PinPadEntry> PinPadModule::LastEntry() const {
  auto lock = terminal_->Lock();
  return last_;
}

std::vector<ShownLine> PinPadModule::Lines() const {
  auto lock = terminal_->Lock();
  return pending_ && last_ ? last_->lines : std::vector<ShownLine>{};
}

bool PinPadModule::EntryPending() const {
  auto lock = terminal_->Lock();
  return pending_;
}

int PinPadModule::EntryCount() const {
  auto lock = terminal_->Lock();
  return entries_;
}

int PinPadModule::CancelCount() const {
  auto lock = terminal_->Lock();
  return cancels_;
}

int PinPadModule::InvalidateKeyCount() const {
  auto lock = terminal_->Lock();
  return keyInvalidates_;
}

Bytes PinPadModule::NumericAnswer(const std::string& digits, std::size_t width) {
  // Built by push_back: g++ 12 at -O2 misreads an insert into a one-byte vector as an
  // out-of-bounds copy (-Warray-bounds).
  Bytes out;
  out.reserve(1 + std::max(digits.size(), width));
  out.push_back(static_cast<std::uint8_t>(digits.size()));
  for (char c : digits) out.push_back(static_cast<std::uint8_t>(c));
  for (std::size_t i = digits.size(); i < width; ++i) out.push_back('F');
  return out;
}

Bytes PinPadModule::TwoByteAnswer(const Bytes& payload) {
  // Sized first, then filled: g++ 12 misreads an insert behind a braced-initialised vector
  // as an out-of-bounds copy (-Warray-bounds).
  Bytes out(2 + payload.size());
  out[1] = static_cast<std::uint8_t>(payload.size());
  std::copy(payload.begin(), payload.end(), out.begin() + 2);
  return out;
}

}  // namespace vterm
