// Constant-time check of the RSA block under valgrind's memcheck. The secret key fields and
// the piece are marked undefined; memcheck then reports every branch and every memory
// address that depends on them. Run:
//   valgrind --error-exitcode=1 --suppressions=bench/crypto_ctgrind.supp build/bench/crypto_ctgrind
// The suppressions name the two places that look at secret-derived data on purpose: the
// prime's bit length (a public size) and the range verdict (the result code itself).
#include <openssl/bn.h>
#include <valgrind/memcheck.h>

#include <cstddef>
#include <cstdio>
#include <initializer_list>

#include "crypto/rsa_crt.h"
#include "crypto/rsa_private_block.h"

namespace {

bool MakeKey(RsaPrivateKey& key) {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *p = BN_new(), *q = BN_new(), *n = BN_new(), *e = BN_new(), *d = BN_new();
  BIGNUM *p1 = BN_new(), *q1 = BN_new(), *phi = BN_new(), *dp = BN_new(), *dq = BN_new(),
         *qi = BN_new();
  BN_set_word(e, 65537);
  bool ok = false;
  for (int tries = 0; tries < 100 && !ok; ++tries) {
    BN_generate_prime_ex(p, 512, 0, nullptr, nullptr, nullptr);
    BN_generate_prime_ex(q, 512, 0, nullptr, nullptr, nullptr);
    if (BN_cmp(p, q) <= 0) continue;
    BN_mul(n, p, q, ctx);
    BN_sub(p1, p, BN_value_one());
    BN_sub(q1, q, BN_value_one());
    BN_mul(phi, p1, q1, ctx);
    if (BN_mod_inverse(d, e, phi, ctx) == nullptr || BN_mod_inverse(qi, q, p, ctx) == nullptr)
      continue;
    BN_mod(dp, d, p1, ctx);
    BN_mod(dq, d, q1, ctx);
    key.bits = static_cast<unsigned short>(BN_num_bits(n));
    BN_bn2binpad(n, key.modulus, sizeof key.modulus);
    BN_bn2binpad(e, key.publicExponent, sizeof key.publicExponent);
    BN_bn2binpad(d, key.privateExponent, sizeof key.privateExponent);
    BN_bn2binpad(p, key.prime1, sizeof key.prime1);
    BN_bn2binpad(q, key.prime2, sizeof key.prime2);
    BN_bn2binpad(dp, key.exponent1, sizeof key.exponent1);
    BN_bn2binpad(dq, key.exponent2, sizeof key.exponent2);
    BN_bn2binpad(qi, key.coefficient, sizeof key.coefficient);
    ok = true;
  }
  for (BIGNUM* bn : {p, q, n, e, d, p1, q1, phi, dp, dq, qi}) BN_clear_free(bn);
  BN_CTX_free(ctx);
  return ok;
}

template <typename Fn>
int Check(const char* name, Fn run) {
  RsaPrivateKey key{};
  if (!MakeKey(key)) return 2;
  unsigned char piece[116];
  for (unsigned i = 0; i < sizeof piece; ++i) piece[i] = static_cast<unsigned char>(i * 7 + 3);
  VALGRIND_MAKE_MEM_UNDEFINED(key.privateExponent,
                              sizeof key - offsetof(RsaPrivateKey, privateExponent));
  VALGRIND_MAKE_MEM_UNDEFINED(piece, sizeof piece);
  unsigned char out[128];
  unsigned length = 0;
  int result = run(out, &length, piece, key);
  VALGRIND_MAKE_MEM_DEFINED(out, sizeof out);
  VALGRIND_MAKE_MEM_DEFINED(&result, sizeof result);
  std::printf("%s: result %d, %u bytes\n", name, result, length);
  return result == 0 && length == 128 ? 0 : 1;
}

}  // namespace

int main() {
  int failures = Check("native limbs", [](unsigned char* out, unsigned* length,
                                          const unsigned char* piece, const RsaPrivateKey& key) {
    return vantorel::crypto::RsaPrivateBlock(out, length, piece, 116, key);
  });
  failures += Check("32-bit limbs", [](unsigned char* out, unsigned* length,
                                       const unsigned char* piece, const RsaPrivateKey& key) {
    std::uint8_t block[vantorel::crypto::kRsaBlockLength];
    vantorel::crypto::BuildRsaBlock(block, piece, 116);
    // Called through a pointer so that it stays a frame of its own for the suppressions.
    int (*volatile crt)(std::uint8_t*, unsigned*, const std::uint8_t*, unsigned,
                        const RsaPrivateKey&) noexcept =
        &vantorel::crypto::detail::PrivateKeyCrtWithLimbs<std::uint32_t>;
    return crt(out, length, block, sizeof block, key);
  });
  return failures;
}
