#include "vterm/pin_pad_keys.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "vterm/pin_pad.h"

namespace vterm {
namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BnFree {
  void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn Param(EVP_PKEY* key, const char* name) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &bn) != 1) {
    throw std::runtime_error(std::string("vterm: RSA key lacks ") + name);
  }
  return Bn(bn);
}

template <std::size_t N>
void Put(unsigned char (&field)[N], const BIGNUM* value) {
  if (BN_bn2binpad(value, field, static_cast<int>(N)) < 0) {
    throw std::invalid_argument("vterm: RSA key number does not fit its field");
  }
}

Bytes ToBytes(const BIGNUM* value) {
  Bytes out(static_cast<std::size_t>(BN_num_bytes(value)));
  BN_bn2bin(value, out.data());
  return out;
}

}  // namespace

RsaKeyPair GenerateRsaKeyPair(int bits) {
  if (bits < 512 || bits > 1024) throw std::invalid_argument("vterm: key size out of range");
  std::unique_ptr<EVP_PKEY, PkeyFree> key(
      EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<std::size_t>(bits)));
  if (!key) throw std::runtime_error("vterm: RSA key generation failed");
  const Bn n = Param(key.get(), OSSL_PKEY_PARAM_RSA_N);
  const Bn e = Param(key.get(), OSSL_PKEY_PARAM_RSA_E);
  const Bn d = Param(key.get(), OSSL_PKEY_PARAM_RSA_D);
  const Bn p = Param(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR1);
  const Bn q = Param(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR2);
  const Bn dp = Param(key.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1);
  const Bn dq = Param(key.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2);
  const Bn qinv = Param(key.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1);

  RsaKeyPair pair;
  RsaPrivateKey& record = pair.privateKey;
  record.bits = static_cast<unsigned short>(BN_num_bits(n.get()));
  Put(record.modulus, n.get());
  Put(record.publicExponent, e.get());
  Put(record.privateExponent, d.get());
  Put(record.prime1, p.get());
  Put(record.prime2, q.get());
  Put(record.exponent1, dp.get());
  Put(record.exponent2, dq.get());
  Put(record.coefficient, qinv.get());
  pair.modulus = ToBytes(n.get());
  pair.publicExponent = ToBytes(e.get());
  return pair;
}

bool ReadPublicKeyPem(const std::string& path, Bytes& modulus, Bytes& exponent) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
  if (!file) return false;
  // No pass phrase: an encrypted key is refused rather than asked for on the terminal.
  pem_password_cb* noPassword = [](char*, int, int, void*) { return 0; };
  std::unique_ptr<EVP_PKEY, PkeyFree> key(
      PEM_read_PUBKEY(file.get(), nullptr, noPassword, nullptr));
  if (!key) {
    std::rewind(file.get());
    key.reset(PEM_read_PrivateKey(file.get(), nullptr, noPassword, nullptr));
  }
  if (!key || EVP_PKEY_base_id(key.get()) != EVP_PKEY_RSA) return false;
  modulus = ToBytes(Param(key.get(), OSSL_PKEY_PARAM_RSA_N).get());
  exponent = ToBytes(Param(key.get(), OSSL_PKEY_PARAM_RSA_E).get());
  return true;
}

void UsePublicKey(Terminal& terminal, const RsaKeyPair& pair) {
  terminal.Get<PinPadModule>().SetPublicKey(pair.modulus, pair.publicExponent);
}

}  // namespace vterm
