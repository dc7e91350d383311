// OpenSSL helpers for the crypto tests: keys generated at test time, reference results
// computed with OpenSSL's own big-number code.
#pragma once

#include <openssl/bn.h>
#include <openssl/rand.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "vantorel.h"

namespace vantorel::crypto::testing {

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
struct BnCtxFree {
  void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using BnCtx = std::unique_ptr<BN_CTX, BnCtxFree>;

inline Bn NewBn() {
  return Bn(BN_new());
}
inline Bn BnFromBytes(const std::uint8_t* bytes, std::size_t length) {
  return Bn(BN_bin2bn(bytes, static_cast<int>(length), nullptr));
}
inline Bn BnFromWord(unsigned long word) {
  Bn bn = NewBn();
  BN_set_word(bn.get(), word);
  return bn;
}
inline Bn BnCopy(const BIGNUM* from) {
  return Bn(BN_dup(from));
}

// `length` big-endian bytes; the number must fit.
inline std::vector<std::uint8_t> BnToBytes(const BIGNUM* bn, std::size_t length) {
  std::vector<std::uint8_t> out(length);
  if (BN_bn2binpad(bn, out.data(), static_cast<int>(length)) < 0) out.clear();
  return out;
}

inline std::vector<std::uint8_t> RandomBytes(std::size_t length) {
  std::vector<std::uint8_t> out(length);
  if (length != 0) RAND_bytes(out.data(), static_cast<int>(length));
  return out;
}

// A complete key: the record plus the OpenSSL numbers for reference results.
struct TestKey {
  RsaPrivateKey record{};
  Bn n, d, p, q;
};

inline void Put(unsigned char* field, std::size_t size, const BIGNUM* value) {
  BN_bn2binpad(value, field, static_cast<int>(size));
}

// Builds the record from primes p and q (p becomes prime1) with e = 65537. Returns false
// when e is not invertible modulo (p-1)(q-1).
inline bool KeyFromPrimes(TestKey& key, const BIGNUM* p, const BIGNUM* q) {
  BnCtx ctx(BN_CTX_new());
  Bn e = BnFromWord(65537), n = NewBn(), pm1 = BnCopy(p), qm1 = BnCopy(q), phi = NewBn();
  Bn d = NewBn(), dp = NewBn(), dq = NewBn(), qinv = NewBn();
  BN_mul(n.get(), p, q, ctx.get());
  BN_sub_word(pm1.get(), 1);
  BN_sub_word(qm1.get(), 1);
  BN_mul(phi.get(), pm1.get(), qm1.get(), ctx.get());
  if (BN_mod_inverse(d.get(), e.get(), phi.get(), ctx.get()) == nullptr) return false;
  BN_mod(dp.get(), d.get(), pm1.get(), ctx.get());
  BN_mod(dq.get(), d.get(), qm1.get(), ctx.get());
  if (BN_mod_inverse(qinv.get(), q, p, ctx.get()) == nullptr) return false;
  key.record = RsaPrivateKey{};
  key.record.bits = static_cast<unsigned short>(BN_num_bits(n.get()));
  Put(key.record.modulus, sizeof key.record.modulus, n.get());
  Put(key.record.publicExponent, sizeof key.record.publicExponent, e.get());
  Put(key.record.privateExponent, sizeof key.record.privateExponent, d.get());
  Put(key.record.prime1, sizeof key.record.prime1, p);
  Put(key.record.prime2, sizeof key.record.prime2, q);
  Put(key.record.exponent1, sizeof key.record.exponent1, dp.get());
  Put(key.record.exponent2, sizeof key.record.exponent2, dq.get());
  Put(key.record.coefficient, sizeof key.record.coefficient, qinv.get());
  key.n = std::move(n);
  key.d = std::move(d);
  key.p = BnCopy(p);
  key.q = BnCopy(q);
  return true;
}

// A random key whose modulus has exactly `bits` bits (bits even or odd, 64 to 1024),
// prime1 > prime2 as usual keys have.
inline TestKey RandomKey(int bits) {
  TestKey key;
  const int pBits = (bits + 1) / 2, qBits = bits - pBits;
  for (;;) {
    Bn p = NewBn(), q = NewBn(), n = NewBn();
    BnCtx ctx(BN_CTX_new());
    BN_generate_prime_ex(p.get(), pBits, 0, nullptr, nullptr, nullptr);
    BN_generate_prime_ex(q.get(), qBits, 0, nullptr, nullptr, nullptr);
    if (BN_cmp(p.get(), q.get()) == 0) continue;
    if (BN_cmp(p.get(), q.get()) < 0) std::swap(p, q);
    BN_mul(n.get(), p.get(), q.get(), ctx.get());
    if (BN_num_bits(n.get()) != bits) continue;
    if (KeyFromPrimes(key, p.get(), q.get())) return key;
  }
}

// block ^ d mod n, computed directly with the full private exponent.
inline Bn Reference(const TestKey& key, const std::uint8_t* block, std::size_t length) {
  BnCtx ctx(BN_CTX_new());
  Bn c = BnFromBytes(block, length), r = NewBn();
  BN_mod_exp(r.get(), c.get(), key.d.get(), key.n.get(), ctx.get());
  return r;
}

}  // namespace vantorel::crypto::testing
