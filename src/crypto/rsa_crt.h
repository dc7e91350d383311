// The RSA private-key operation by the Chinese Remainder Theorem, in constant time.
//
// Sizes are fixed at the largest key the record holds: every prime is handled as a 512-bit
// number (R = 2^512), every CRT exponent as 512 bits, so the work does not depend on the
// key's values. The one size-dependent loop (forming R mod p) runs a number of times that
// depends only on the prime's bit length, which is public: it follows from the modulus.
//
// Templated on the limb type so that both the 64-bit and the 32-bit arithmetic can be
// tested on one host; the library instantiates the native one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/mp_ct.h"
#include "crypto/rsa_private_block.h"
#include "crypto/secure_wipe.h"
#include "vantorel.h"

namespace vantorel::crypto::detail {

inline constexpr std::size_t kPrimeBits = 512;
inline constexpr std::size_t kWindowBits = 4;
inline constexpr std::size_t kWindowEntries = std::size_t{1} << kWindowBits;
// The input block is read as at most 33 32-bit digits; longer strings lose their leading
// bytes.
inline constexpr std::size_t kInputDigits = 33;
inline constexpr std::size_t kInputBytes = kInputDigits * 4;
inline constexpr std::size_t kModulusDigits = sizeof(RsaPrivateKey::modulus) / 4;

// Whether the whole block is below the modulus. Neither value is secret, but the comparison
// is branch-free anyway.
inline bool BlockBelowModulus(const std::uint8_t* block, std::size_t blockLength,
                              const RsaPrivateKey& key) noexcept {
  // The whole block is compared with the modulus. Comparing only as many digits as the
  // modulus has would let a block above a small modulus through, and its result (the
  // reduced block raised to d) is something the terminal cannot turn back into the prompt.
  std::uint32_t c[kInputDigits];
  std::uint32_t n[kInputDigits];
  mp::Decode<std::uint32_t>(c, kInputDigits, block, blockLength);
  mp::Decode<std::uint32_t>(n, kInputDigits, key.modulus, sizeof key.modulus);
  const std::uint32_t borrow = mp::Sub<std::uint32_t, kInputDigits>(c, c, n);
  SecureWipe(c, sizeof c);
  return borrow != 0;
}

template <typename Limb>
struct CrtWorkspace {
  static constexpr std::size_t N = kPrimeBits / mp::kLimbBits<Limb>;

  struct Prime {
    Limb m[N];         // the prime
    Limb m0inv;        // -m^-1 mod 2^w
    Limb one[N];       // R mod m: 1 in Montgomery form
    Limb rr[N];        // R^2 mod m
    Limb exponent[N];  // the CRT exponent
    Limb result[N];    // c^exponent mod m (Montgomery form for p, plain for q)
  };

  Limb c[3 * N];  // the input block, up to 1056 bits used
  Prime p;
  Prime q;
  Limb qInv[N];
  Limb table[kWindowEntries][N];
  Limb acc[N];
  Limb tmp[N];
  Limb tmp2[N];
  Limb out[2 * N];
};

// Fills in m0inv, one (R mod m) and rr (R^2 mod m) for prime.m.
template <typename Limb>
void PrepareMontgomery(typename CrtWorkspace<Limb>::Prime& prime) noexcept {
  constexpr std::size_t N = CrtWorkspace<Limb>::N;
  constexpr unsigned w = mp::kLimbBits<Limb>;
  prime.m0inv = mp::NegInverse<Limb>(prime.m[0]);
  unsigned length = mp::BitLength<Limb, N>(prime.m);
  if (length == 0) length = 1;  // zero "prime": any bounded garbage will do
  // 2^(length-1) <= m; double it up to 2^512, reducing as it grows.
  for (std::size_t i = 0; i < N; ++i) prime.one[i] = 0;
  prime.one[(length - 1) / w] = static_cast<Limb>(Limb{1} << ((length - 1) % w));
  for (std::size_t k = length - 1; k < kPrimeBits; ++k) mp::ModDouble<Limb, N>(prime.one, prime.m);
  // 2R mod m is 2 in Montgomery form; nine squarings give 2^512 in Montgomery form, R^2 mod m.
  for (std::size_t i = 0; i < N; ++i) prime.rr[i] = prime.one[i];
  mp::ModDouble<Limb, N>(prime.rr, prime.m);
  for (int k = 0; k < 9; ++k) mp::MontSqr<Limb, N>(prime.rr, prime.rr, prime.m, prime.m0inv);
}

// prime.result = c^exponent mod m in Montgomery form (c * R mod m raised, times R).
template <typename Limb>
void ModExpCrtHalf(CrtWorkspace<Limb>& ws, typename CrtWorkspace<Limb>::Prime& prime) noexcept {
  constexpr std::size_t N = CrtWorkspace<Limb>::N;
  constexpr unsigned w = mp::kLimbBits<Limb>;
  const Limb* m = prime.m;
  const Limb m0inv = prime.m0inv;

  // Base in Montgomery form: c = c0 + c1 R + c2 R^2, so c R = c0 R + c1 R^2 + c2 R^3;
  // MontMul(ci, R^(i+2)) = ci R^(i+1) (every ci < R, every power reduced below m).
  Limb* rPower = ws.tmp2;  // R^2, then R^3, then R^4
  for (std::size_t i = 0; i < N; ++i) rPower[i] = prime.rr[i];
  mp::MontMul<Limb, N>(ws.table[1], ws.c, rPower, m, m0inv);
  for (std::size_t chunk = 1; chunk < 3; ++chunk) {
    mp::MontMul<Limb, N>(rPower, rPower, prime.rr, m, m0inv);
    mp::MontMul<Limb, N>(ws.tmp, ws.c + chunk * N, rPower, m, m0inv);
    mp::ModAdd<Limb, N>(ws.table[1], ws.table[1], ws.tmp, m);
  }

  for (std::size_t i = 0; i < N; ++i) ws.table[0][i] = prime.one[i];
  for (std::size_t e = 2; e < kWindowEntries; ++e) {
    if (e % 2 == 0) {
      mp::MontSqr<Limb, N>(ws.table[e], ws.table[e / 2], m, m0inv);
    } else {
      mp::MontMul<Limb, N>(ws.table[e], ws.table[e - 1], ws.table[1], m, m0inv);
    }
  }

  // Fixed 4-bit windows over all 512 exponent bits, from the top. Windows never straddle a
  // limb (4 divides the limb width).
  constexpr std::size_t kWindows = kPrimeBits / kWindowBits;
  auto window = [&](std::size_t k) {
    const std::size_t bit = k * kWindowBits;
    return static_cast<Limb>((prime.exponent[bit / w] >> (bit % w)) & (kWindowEntries - 1));
  };
  mp::LookUp<Limb, N>(ws.acc, ws.table, kWindowEntries, window(kWindows - 1));
  for (std::size_t k = kWindows - 1; k-- > 0;) {
    for (std::size_t s = 0; s < kWindowBits; ++s) mp::MontSqr<Limb, N>(ws.acc, ws.acc, m, m0inv);
    mp::LookUp<Limb, N>(ws.tmp, ws.table, kWindowEntries, window(k));
    mp::MontMul<Limb, N>(ws.acc, ws.acc, ws.tmp, m, m0inv);
  }
  for (std::size_t i = 0; i < N; ++i) prime.result[i] = ws.acc[i];
}

// The whole computation for a key already checked; writes outputLength bytes to output.
template <typename Limb>
[[gnu::noinline]] void ComputeCrt(CrtWorkspace<Limb>& ws, std::uint8_t* output,
                                  unsigned outputLength, const std::uint8_t* block,
                                  std::size_t blockLength, const RsaPrivateKey& key) noexcept {
  constexpr std::size_t N = CrtWorkspace<Limb>::N;
  if (blockLength > kInputBytes) {  // the leading bytes beyond 33 digits do not count
    block += blockLength - kInputBytes;
    blockLength = kInputBytes;
  }
  mp::Decode<Limb>(ws.c, 3 * N, block, blockLength);
  mp::Decode<Limb>(ws.p.m, N, key.prime1, sizeof key.prime1);
  mp::Decode<Limb>(ws.q.m, N, key.prime2, sizeof key.prime2);
  mp::Decode<Limb>(ws.p.exponent, N, key.exponent1, sizeof key.exponent1);
  mp::Decode<Limb>(ws.q.exponent, N, key.exponent2, sizeof key.exponent2);
  mp::Decode<Limb>(ws.qInv, N, key.coefficient, sizeof key.coefficient);

  PrepareMontgomery<Limb>(ws.p);
  ModExpCrtHalf<Limb>(ws, ws.p);
  PrepareMontgomery<Limb>(ws.q);
  ModExpCrtHalf<Limb>(ws, ws.q);

  // mQ out of Montgomery form: MontMul by plain 1.
  for (std::size_t i = 0; i < N; ++i) ws.tmp[i] = 0;
  ws.tmp[0] = 1;
  mp::MontMul<Limb, N>(ws.q.result, ws.q.result, ws.tmp, ws.q.m, ws.q.m0inv);

  // h = (mP - mQ) * qInv mod p. mQ < q may exceed p, so it is reduced mod p on the way into
  // Montgomery form; mP is still in Montgomery form, and the last MontMul by the plain qInv
  // drops the R again.
  const Limb* p = ws.p.m;
  mp::MontMul<Limb, N>(ws.tmp, ws.q.result, ws.p.rr, p, ws.p.m0inv);
  mp::ModSub<Limb, N>(ws.tmp, ws.p.result, ws.tmp, p);
  mp::MontMul<Limb, N>(ws.tmp, ws.tmp, ws.qInv, p, ws.p.m0inv);

  // m = mQ + q * h < n = p q: schoolbook product seeded with mQ. Row i's carry lands on a
  // limb no earlier row has written.
  {
    using Wide = typename mp::LimbTraits<Limb>::Wide;
    constexpr unsigned w = mp::kLimbBits<Limb>;
    const Limb* q = ws.q.m;
    for (std::size_t i = 0; i < N; ++i) {
      ws.out[i] = ws.q.result[i];
      ws.out[N + i] = 0;
    }
    for (std::size_t i = 0; i < N; ++i) {
      Limb carry = 0;
      for (std::size_t j = 0; j < N; ++j) {
        const Wide s = static_cast<Wide>(q[j]) * ws.tmp[i] + ws.out[i + j] + carry;
        ws.out[i + j] = static_cast<Limb>(s);
        carry = static_cast<Limb>(s >> w);
      }
      ws.out[i + N] = carry;
    }
  }
  mp::Encode<Limb>(output, outputLength, ws.out, 2 * N);
}

template <typename Limb>
int PrivateKeyCrtWithLimbs(std::uint8_t* output, unsigned* outputLength, const std::uint8_t* block,
                           unsigned blockLength, const RsaPrivateKey& key) noexcept {
  if (output == nullptr || outputLength == nullptr || (block == nullptr && blockLength != 0)) {
    return kRsaBadArgument;
  }
  const std::uint16_t bits = key.bits;
  if (bits > kRsaMaxModulusBits) return kRsaBadArgument;
  if (!BlockBelowModulus(block, blockLength, key)) return kRsaDataNotBelowModulus;

  const unsigned length = (static_cast<unsigned>(bits) + 7) / 8;
  // Computed into a local first, so that an output overlapping the block or the key cannot
  // disturb the inputs.
  std::uint8_t result[sizeof key.modulus];
  CrtWorkspace<Limb> ws;
  ComputeCrt<Limb>(ws, result, length, block, blockLength, key);
  SecureWipe(&ws, sizeof ws);
  BurnStack();
  for (unsigned i = 0; i < length; ++i) output[i] = result[i];
  SecureWipe(result, sizeof result);
  *outputLength = length;
  return kRsaOk;
}

}  // namespace vantorel::crypto::detail
