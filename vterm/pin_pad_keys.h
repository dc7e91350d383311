// RSA key pairs for the numeric entry, generated with OpenSSL at run time (tests and the
// demo never carry a key): the application's private record and the pad's public half.
#pragma once

#include <string>

#include "include/vantorel.h"
#include "vterm/frame_codec.h"

namespace vterm {

class Terminal;

struct RsaKeyPair {
  RsaPrivateKey privateKey{};  // the record the application hands to the library
  Bytes modulus;               // big-endian, no leading zero bytes
  Bytes publicExponent;
};

// A fresh key of `bits` bits (OpenSSL accepts 512 and more) with exponent 65537. The
// record's fields are filled from OpenSSL's key; `bits` above 1024 do not fit the record
// and throw std::invalid_argument, as does a failure of OpenSSL.
RsaKeyPair GenerateRsaKeyPair(int bits);

// Reads an RSA public key (or the public half of a private key) from a PEM file into
// big-endian numbers; false when the file holds none.
bool ReadPublicKeyPem(const std::string& path, Bytes& modulus, Bytes& exponent);

// Installs the pair's public half into the terminal's PIN pad.
void UsePublicKey(Terminal& terminal, const RsaKeyPair& pair);

}  // namespace vterm
