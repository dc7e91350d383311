// The RSA private-key block and the private-key operation beneath it, against OpenSSL.
//
// Keys are built here from a table of primes of many sizes (equal and unequal halves,
// either one the larger, tiny ones) or from a prime found near the fuzzer's bytes, with a
// chosen public exponent. Then the key's shape is kept or spoilt: `bits` changed (short
// keys cut the output's high bytes, more than 1024 is refused), or one byte of the record
// flipped (the result is then meaningless, but must still be exactly the promised length).
//
// Properties: pieces over 117 bytes give 1030 and a block not below the modulus 1025, with
// the outputs untouched; a consistent key gives exactly OpenSSL's block^d mod n, in
// (bits + 7) / 8 bytes written into a buffer of exactly that size; both limb widths agree
// on the code always and on the result for consistent keys.
//
// Input: operation byte, prime choices, exponent choice, shape byte and its parameters,
// then the piece (block operation) or the block (key operation).
#include <openssl/bn.h>

#include <array>
#include <cstring>
#include <memory>

#include "crypto/rsa_crt.h"
#include "crypto/rsa_private_block.h"
#include "fuzz_input.h"

namespace vantorel::fuzz {
namespace {

using crypto::kRsaBadArgument;
using crypto::kRsaDataNotBelowModulus;
using crypto::kRsaOk;
using crypto::kRsaPieceTooLong;

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
Bn NewBn() {
  return Bn(BN_new());
}

BN_CTX* Ctx() {
  static BN_CTX* ctx = BN_CTX_new();
  return ctx;
}

// 512 down to 17 bits.
constexpr const char* kPrimes[] = {
    "E154FD4BF4806976AD9DCCF220010C53091023A20B886762747910937591941A2AB5868CB2A21516485A793D64"
    "9B6F192494D199129ED0F6723327549A0B5983",
    "D4ACDFFCC7D58F99545502A481DF202B2A69E0023ADF14C4B505E47C142AA9384E6589571521652B57DFB432F8"
    "6C8377BD0B0BA587CD376DAC05D9AF9A056EF3",
    "73E17A0F3665CFB07B6C527A18306006EDD228786C79F8871B62374009098202B9C8C45721475307E5069E6ADD"
    "E5FA432A4F0DFB193F10755F6A9AA937530C5B",
    "0DD459B4342EA0D5D34FFDEE58E241DE917417D94DC42417DD948200D2B6CDC73D0FCC12BBC19CDC49F23F17D5"
    "13595181190430D0F2DD1747E030FD6AA6D9",
    "F2C979979E5E304737698E850D501BAC457006D8003E668F5ACDCE1AE3ABDE8C6702945C28E5190697CDC81746"
    "473FFB",
    "0C5C2B455C3C3D4B83A9833F24209375D4488198D2475BEF3A273B377CA6BA2A6C197EC9A26B",
    "C354197192789F5F1ABE73F9C9BC9A469C86C2741D80CAAEB17AB8D4896AB4CD",
    "E159CB874E858CADCD7B068DCCF48D746EA955A4E6477256D27C4901CAFD18EF",
    "DC0C42404D00450A761081DDFDF1F60D6F19305D",
    "D7D4FC01735E1EA671CCCE9A210FC939",
    "F00839E068E2142F",
    "D9F1CFD64872FF1D",
    "CAABB811C1",
    "01B57E0C51",
    "D8B6A367",
    "019E67",
};
constexpr std::size_t kPrimeCount = sizeof kPrimes / sizeof kPrimes[0];

// A prime from the table, or (choice past the table) the first prime from the fuzzer's
// bytes upwards, up to 512 bits.
Bn PickPrime(std::uint8_t choice, Input& in) {
  Bn p = NewBn();
  if (choice % 24 < kPrimeCount) {
    BIGNUM* raw = p.get();
    BN_hex2bn(&raw, kPrimes[choice % 24]);
    return p;
  }
  const Bytes seed = in.Take(1 + in.Byte() % 64);
  BN_bin2bn(seed.data(), static_cast<int>(seed.size()), p.get());
  BN_set_bit(p.get(), 1);  // at least 3
  BN_set_bit(p.get(), 0);
  for (int tries = 0; tries < 2000 && BN_num_bits(p.get()) <= 512; ++tries) {
    if (BN_check_prime(p.get(), Ctx(), nullptr) == 1) return p;
    BN_add_word(p.get(), 2);
  }
  return nullptr;
}

void Put(unsigned char* field, std::size_t size, const BIGNUM* value) {
  BN_bn2binpad(value, field, static_cast<int>(size));
}

struct Key {
  RsaPrivateKey record{};
  Bn n, d;
};

// The record for primes p and q (p as prime1) and exponent e; false when e has no inverse.
bool MakeKey(Key& key, const BIGNUM* p, const BIGNUM* q, unsigned long e) {
  if (BN_cmp(p, q) == 0) return false;
  Bn eBn = NewBn(), pm1(BN_dup(p)), qm1(BN_dup(q)), phi = NewBn(), dp = NewBn(), dq = NewBn();
  Bn qinv = NewBn();
  key.n = NewBn();
  key.d = NewBn();
  BN_set_word(eBn.get(), e);
  BN_mul(key.n.get(), p, q, Ctx());
  BN_sub_word(pm1.get(), 1);
  BN_sub_word(qm1.get(), 1);
  BN_mul(phi.get(), pm1.get(), qm1.get(), Ctx());
  if (BN_mod_inverse(key.d.get(), eBn.get(), phi.get(), Ctx()) == nullptr) return false;
  if (BN_mod_inverse(qinv.get(), q, p, Ctx()) == nullptr) return false;
  BN_mod(dp.get(), key.d.get(), pm1.get(), Ctx());
  BN_mod(dq.get(), key.d.get(), qm1.get(), Ctx());
  key.record.bits = static_cast<unsigned short>(BN_num_bits(key.n.get()));
  Put(key.record.modulus, sizeof key.record.modulus, key.n.get());
  Put(key.record.publicExponent, sizeof key.record.publicExponent, eBn.get());
  Put(key.record.privateExponent, sizeof key.record.privateExponent, key.d.get());
  Put(key.record.prime1, sizeof key.record.prime1, p);
  Put(key.record.prime2, sizeof key.record.prime2, q);
  Put(key.record.exponent1, sizeof key.record.exponent1, dp.get());
  Put(key.record.exponent2, sizeof key.record.exponent2, dq.get());
  Put(key.record.coefficient, sizeof key.record.coefficient, qinv.get());
  return true;
}

using Operation = int (*)(std::uint8_t*, unsigned*, const std::uint8_t*, unsigned,
                          const RsaPrivateKey&);

struct Outcome {
  int code = -1;
  unsigned length = 0xDEADBEEF;
  Bytes output;
};

Outcome Run(Operation op, const Key& key, const Bytes& input, std::size_t outputSize) {
  CallerBuffer output(outputSize);
  Outcome o;
  o.code =
      op(output.data(), &o.length, input.data(), static_cast<unsigned>(input.size()), key.record);
  if (o.code == kRsaOk) {
    o.output.assign(output.data(), output.data() + outputSize);
  } else {
    FUZZ_CHECK(o.length == 0xDEADBEEF && output.UntouchedFrom(0));
  }
  return o;
}

// The block operation's wrapping, done here from its description.
Bytes WrapPiece(const Bytes& piece) {
  Bytes block(128, 0xFF);
  block[0] = block[1] = block[2] = 0;
  block[3] = static_cast<std::uint8_t>(piece.size());
  block[127 - piece.size()] = 0;
  Copy(block.data() + 128 - piece.size(), piece.data(), piece.size());
  return block;
}

}  // namespace
}  // namespace vantorel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel;
  using namespace vantorel::fuzz;
  Input in(data, size);
  const bool wholeBlock = in.Byte() & 1;  // PrivateKeyCrt on any block, else RsaPrivateBlock
  const std::uint8_t pChoice = in.Byte();
  const std::uint8_t qChoice = in.Byte();
  const Bn p = PickPrime(pChoice, in);
  const Bn q = PickPrime(qChoice, in);
  if (!p || !q) return 0;
  static constexpr unsigned long kExponents[] = {65537, 3, 17, 5, 257};
  const std::uint8_t eChoice = in.Byte();
  const unsigned long e = eChoice < 5 * 40 ? kExponents[eChoice % 5] : 3 + 2ul * eChoice;
  Key key;
  if (!MakeKey(key, p.get(), q.get(), e)) return 0;
  if (BN_num_bits(key.n.get()) > 1024) return 0;

  bool consistent = true;
  const std::uint8_t shape = in.Byte();
  if (shape % 4 == 1) {  // another length: cut the output, or refuse past 1024 bits
    key.record.bits = in.Word() % 1100;
  } else if (shape % 4 == 2) {  // one byte of the record spoilt
    const std::size_t at = in.Word() % sizeof key.record;
    reinterpret_cast<std::uint8_t*>(&key.record)[at] ^= in.Byte() | 1;
    consistent = false;
  }
  const unsigned bits = key.record.bits;
  const std::size_t length = (bits + 7) / 8;

  Bytes input = wholeBlock ? in.Take(in.Word() % 200) : in.Take(in.Byte() % 130);
  const Bytes block = wholeBlock ? input : (input.size() <= 117 ? WrapPiece(input) : Bytes{});

  const Operation ops[] = {
      wholeBlock ? &crypto::PrivateKeyCrt : &crypto::RsaPrivateBlock,
      wholeBlock ? &crypto::detail::PrivateKeyCrtWithLimbs<std::uint32_t> : nullptr,
  };
  Outcome first;
  for (Operation op : ops) {
    if (op == nullptr) continue;
    const Outcome o = Run(op, key, input, bits > 1024 ? 1 : length);
    if (first.code == -1) first = o;
    FUZZ_CHECK(o.code == first.code);
    // A spoilt key's result is meaningless (an even "prime" has no Montgomery form at all),
    // so the limb widths need not agree on it.
    if (consistent) FUZZ_CHECK(o.output == first.output);
  }

  if (!wholeBlock && input.size() > 117) {
    FUZZ_CHECK(first.code == kRsaPieceTooLong);
    return 0;
  }
  if (bits > 1024) {
    FUZZ_CHECK(first.code == kRsaBadArgument);
    return 0;
  }
  // The range rule: the block (its last 132 bytes) against the modulus field as it stands.
  const std::size_t counted = block.size() > 132 ? 132 : block.size();
  Bn c(BN_bin2bn(block.data() + block.size() - counted, static_cast<int>(counted), nullptr));
  Bn n(BN_bin2bn(key.record.modulus, sizeof key.record.modulus, nullptr));
  if (BN_cmp(c.get(), n.get()) >= 0) {
    FUZZ_CHECK(first.code == kRsaDataNotBelowModulus);
    return 0;
  }
  FUZZ_CHECK(first.code == kRsaOk);
  FUZZ_CHECK(first.length == length);
  if (!consistent) return 0;
  Bn expected = NewBn();
  BN_mod_exp(expected.get(), c.get(), key.d.get(), key.n.get(), Ctx());
  std::array<std::uint8_t, 128> full{};
  BN_bn2binpad(expected.get(), full.data(), static_cast<int>(full.size()));
  // A short `bits` cuts the high bytes.
  FUZZ_CHECK(Equal(first.output.data(), full.data() + full.size() - length, length));
  return 0;
}
