#include "crypto/rsa_private_block.h"

#include "crypto/mp_ct.h"
#include "crypto/rsa_crt.h"
#include "crypto/secure_wipe.h"

namespace vantorel::crypto {

void BuildRsaBlock(std::uint8_t (&block)[kRsaBlockLength], const std::uint8_t* piece,
                   unsigned pieceLength) noexcept {
  const unsigned zeroAt = kRsaBlockLength - 1 - pieceLength;
  block[0] = 0;
  block[1] = 0;
  block[2] = 0;
  block[3] = static_cast<std::uint8_t>(pieceLength);
  for (unsigned i = 4; i < zeroAt; ++i) block[i] = 0xFF;
  block[zeroAt] = 0;
  for (unsigned i = 0; i < pieceLength; ++i) block[zeroAt + 1 + i] = piece[i];
}

int RsaPrivateBlock(std::uint8_t* output, unsigned* outputLength, const std::uint8_t* piece,
                    unsigned pieceLength, const RsaPrivateKey& key) noexcept {
  if (pieceLength > kRsaMaxPieceLength) return kRsaPieceTooLong;
  if (piece == nullptr && pieceLength != 0) return kRsaBadArgument;
  std::uint8_t block[kRsaBlockLength];
  BuildRsaBlock(block, piece, pieceLength);
  const int result = PrivateKeyCrt(output, outputLength, block, kRsaBlockLength, key);
  SecureWipe(block, sizeof block);
  return result;
}

int PrivateKeyCrt(std::uint8_t* output, unsigned* outputLength, const std::uint8_t* block,
                  unsigned blockLength, const RsaPrivateKey& key) noexcept {
  return detail::PrivateKeyCrtWithLimbs<mp::NativeLimb>(output, outputLength, block, blockLength,
                                                        key);
}

}  // namespace vantorel::crypto
