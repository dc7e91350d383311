// The RSA private-key block next to OpenSSL's raw (unpadded) private operation, on the same
// freshly generated 1024-bit keys and the same blocks.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/rsa_crt.h"
#include "crypto/rsa_private_block.h"

namespace {

using vantorel::crypto::kRsaBlockLength;

struct BenchKey {
  EVP_PKEY* pkey = nullptr;
  EVP_PKEY_CTX* decrypt = nullptr;
  RsaPrivateKey record{};
  std::array<std::uint8_t, kRsaBlockLength> block{};
  std::vector<std::uint8_t> piece;
};

void PutParam(const EVP_PKEY* pkey, const char* name, unsigned char* field, int size) {
  BIGNUM* value = nullptr;
  if (EVP_PKEY_get_bn_param(pkey, name, &value) != 1 || BN_bn2binpad(value, field, size) != size) {
    std::abort();
  }
  BN_clear_free(value);
}

std::vector<BenchKey>& Keys() {
  static std::vector<BenchKey> keys = [] {
    std::vector<BenchKey> made(4);
    for (BenchKey& k : made) {
      k.pkey = EVP_RSA_gen(1024);
      if (k.pkey == nullptr) std::abort();
      RsaPrivateKey& r = k.record;
      r.bits = 1024;
      PutParam(k.pkey, OSSL_PKEY_PARAM_RSA_N, r.modulus, sizeof r.modulus);
      PutParam(k.pkey, OSSL_PKEY_PARAM_RSA_E, r.publicExponent, sizeof r.publicExponent);
      PutParam(k.pkey, OSSL_PKEY_PARAM_RSA_D, r.privateExponent, sizeof r.privateExponent);
      PutParam(k.pkey, OSSL_PKEY_PARAM_RSA_FACTOR1, r.prime1, sizeof r.prime1);
      PutParam(k.pkey, OSSL_PKEY_PARAM_RSA_FACTOR2, r.prime2, sizeof r.prime2);
      PutParam(k.pkey, OSSL_PKEY_PARAM_RSA_EXPONENT1, r.exponent1, sizeof r.exponent1);
      PutParam(k.pkey, OSSL_PKEY_PARAM_RSA_EXPONENT2, r.exponent2, sizeof r.exponent2);
      PutParam(k.pkey, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, r.coefficient, sizeof r.coefficient);
      k.piece.resize(116);
      RAND_bytes(k.piece.data(), static_cast<int>(k.piece.size()));
      vantorel::crypto::BuildRsaBlock(
          *reinterpret_cast<std::uint8_t(*)[kRsaBlockLength]>(k.block.data()), k.piece.data(),
          static_cast<unsigned>(k.piece.size()));
      k.decrypt = EVP_PKEY_CTX_new(k.pkey, nullptr);
      if (k.decrypt == nullptr || EVP_PKEY_decrypt_init(k.decrypt) != 1 ||
          EVP_PKEY_CTX_set_rsa_padding(k.decrypt, RSA_NO_PADDING) != 1) {
        std::abort();
      }
      // Both sides must compute the same thing.
      std::uint8_t ours[128], theirs[128];
      unsigned ourLength = 0;
      std::size_t theirLength = sizeof theirs;
      if (vantorel::crypto::RsaPrivateBlock(ours, &ourLength, k.piece.data(),
                                            static_cast<unsigned>(k.piece.size()), r) != 0 ||
          EVP_PKEY_decrypt(k.decrypt, theirs, &theirLength, k.block.data(), k.block.size()) != 1 ||
          ourLength != 128 || theirLength != 128 || std::memcmp(ours, theirs, 128) != 0) {
        std::abort();
      }
    }
    return made;
  }();
  return keys;
}

void BM_RsaPrivateBlock(benchmark::State& state) {
  std::vector<BenchKey>& keys = Keys();
  std::uint8_t output[128];
  unsigned length = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    const BenchKey& k = keys[i++ % keys.size()];
    benchmark::DoNotOptimize(vantorel::crypto::RsaPrivateBlock(
        output, &length, k.piece.data(), static_cast<unsigned>(k.piece.size()), k.record));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RsaPrivateBlock);

// The 32-bit-limb arithmetic that 32-bit Windows builds use, run here for comparison.
void BM_PrivateKeyCrt32BitLimbs(benchmark::State& state) {
  std::vector<BenchKey>& keys = Keys();
  std::uint8_t output[128];
  unsigned length = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    const BenchKey& k = keys[i++ % keys.size()];
    benchmark::DoNotOptimize(vantorel::crypto::detail::PrivateKeyCrtWithLimbs<std::uint32_t>(
        output, &length, k.block.data(), kRsaBlockLength, k.record));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PrivateKeyCrt32BitLimbs);

// OpenSSL's raw private operation through EVP with no padding (CRT, blinding on, result
// verification as OpenSSL does by default).
void BM_OpenSslRawPrivate(benchmark::State& state) {
  std::vector<BenchKey>& keys = Keys();
  std::uint8_t output[128];
  std::size_t i = 0;
  for (auto _ : state) {
    BenchKey& k = keys[i++ % keys.size()];
    std::size_t length = sizeof output;
    benchmark::DoNotOptimize(
        EVP_PKEY_decrypt(k.decrypt, output, &length, k.block.data(), k.block.size()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_OpenSslRawPrivate);

}  // namespace

BENCHMARK_MAIN();
