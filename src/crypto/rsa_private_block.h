// The RSA private-key block applied to prompt data before it is sent to the PIN pad.
//
// A piece of at most 117 bytes is wrapped in a fixed 128-byte block
//   00 00 00 len | FF ... FF (123 - len bytes) | 00 | piece
// (not the PKCS #1 type-1 layout, and 128 bytes whatever the key length), then raised to
// the private exponent by the Chinese Remainder Theorem with the caller's key. Keys up to
// 1024 bits with primes up to 512 bits. The computation is constant-time with respect to
// the key and the block, allocates nothing, and wipes every secret it held.
#pragma once

#include <cstdint>

#include "vantorel.h"

namespace vantorel::crypto {

inline constexpr int kRsaOk = 0;
// The block, read as a number, is not below the modulus.
inline constexpr int kRsaDataNotBelowModulus = 1025;
// pieceLength + 11 exceeds the 128-byte block.
inline constexpr int kRsaPieceTooLong = 1030;
// A null pointer, or a key whose `bits` exceeds what its 128-byte modulus can hold (the
// output would run past any sensible buffer).
inline constexpr int kRsaBadArgument = 99;

inline constexpr unsigned kRsaBlockLength = 128;
inline constexpr unsigned kRsaMaxPieceLength = kRsaBlockLength - 11;
inline constexpr unsigned kRsaMaxModulusBits = 1024;
// The most RsaPrivateBlock or PrivateKeyCrt ever writes to `output`.
inline constexpr unsigned kRsaMaxOutputLength = kRsaMaxModulusBits / 8;

// Wraps `piece` in the 128-byte block and applies PrivateKeyCrt to it. On 0, `output`
// holds (key.bits + 7) / 8 bytes, big-endian (high bytes cut if key.bits is short), and
// `outputLength` that count. Codes: 0; 1030 when pieceLength > 117; 99 for a null `output`
// or `outputLength`, a null `piece` with a non-zero length, or key.bits > 1024; 1025 when
// the block is not below the modulus. On any failure `output` and `outputLength` are left
// untouched. A key whose fields are inconsistent is not detected: the output is then wrong.
int RsaPrivateBlock(std::uint8_t* output, unsigned* outputLength, const std::uint8_t* piece,
                    unsigned pieceLength, const RsaPrivateKey& key) noexcept;

// The private-key operation on a big-endian string of `blockLength` bytes (only its last
// 132 bytes count). 1025 when the block, as a whole, is not below the modulus: a block
// above a small modulus is refused, never reduced first. Otherwise as RsaPrivateBlock.
int PrivateKeyCrt(std::uint8_t* output, unsigned* outputLength, const std::uint8_t* block,
                  unsigned blockLength, const RsaPrivateKey& key) noexcept;

// Builds the 128-byte block for a piece of at most 117 bytes (unchecked).
void BuildRsaBlock(std::uint8_t (&block)[kRsaBlockLength], const std::uint8_t* piece,
                   unsigned pieceLength) noexcept;

}  // namespace vantorel::crypto
