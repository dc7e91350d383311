// The RSA private-key block against OpenSSL, with keys generated here for each run.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crypto/rsa_crt.h"
#include "crypto/rsa_private_block.h"
#include "crypto_bn_helpers.h"

namespace vantorel::crypto {
namespace {

using testing::BnFromBytes;
using testing::BnToBytes;
using testing::RandomBytes;
using testing::RandomKey;
using testing::Reference;
using testing::TestKey;

using Block = std::vector<std::uint8_t>;

Block MakeBlock(const std::vector<std::uint8_t>& piece) {
  std::uint8_t block[kRsaBlockLength];
  BuildRsaBlock(block, piece.data(), static_cast<unsigned>(piece.size()));
  return Block(block, block + kRsaBlockLength);
}

// The range rule as the terminal's counterpart expects it: the block's low 32-bit digits,
// as many as the modulus has significant ones, compared with the modulus.
bool PassesRangeRule(const TestKey& key, const Block& block) {
  testing::Bn c = BnFromBytes(block.data(), block.size());
  return BN_cmp(c.get(), key.n.get()) < 0;
}

// Every implementation of the operation under test: the exported one and both limb widths.
using CrtFunction = int (*)(std::uint8_t*, unsigned*, const std::uint8_t*, unsigned,
                            const RsaPrivateKey&);
struct Variant {
  const char* name;
  CrtFunction crt;
};
const Variant kVariants[] = {
    {"native", &PrivateKeyCrt},
    {"32-bit limbs", &detail::PrivateKeyCrtWithLimbs<std::uint32_t>},
#if VANTOREL_MP_HAS_64BIT_LIMBS
    {"64-bit limbs", &detail::PrivateKeyCrtWithLimbs<std::uint64_t>},
#endif
};

constexpr std::uint8_t kUntouched = 0xA5;

struct Outcome {
  int code;
  unsigned length;
  std::vector<std::uint8_t> output;  // the whole 200-byte buffer
};

Outcome RunCrt(CrtFunction crt, const TestKey& key, const Block& block) {
  Outcome o{-1, 0xDEADBEEF, std::vector<std::uint8_t>(200, kUntouched)};
  o.code = crt(o.output.data(), &o.length, block.data(), static_cast<unsigned>(block.size()),
               key.record);
  return o;
}

Outcome RunBlock(const TestKey& key, const std::vector<std::uint8_t>& piece) {
  Outcome o{-1, 0xDEADBEEF, std::vector<std::uint8_t>(200, kUntouched)};
  o.code = RsaPrivateBlock(o.output.data(), &o.length, piece.data(),
                           static_cast<unsigned>(piece.size()), key.record);
  return o;
}

// Checks a result against block^d mod n written in (bits + 7) / 8 bytes, and that nothing
// beyond those bytes was written.
void ExpectSigned(const Outcome& o, const TestKey& key, const Block& block) {
  const unsigned length = (key.record.bits + 7u) / 8u;
  ASSERT_EQ(o.code, kRsaOk);
  ASSERT_EQ(o.length, length);
  const std::vector<std::uint8_t> want =
      BnToBytes(Reference(key, block.data(), block.size()).get(), length);
  ASSERT_EQ(std::vector<std::uint8_t>(o.output.begin(), o.output.begin() + length), want);
  for (std::size_t i = length; i < o.output.size(); ++i) ASSERT_EQ(o.output[i], kUntouched) << i;
}

void ExpectUntouched(const Outcome& o, int code) {
  EXPECT_EQ(o.code, code);
  EXPECT_EQ(o.length, 0xDEADBEEFu);
  EXPECT_TRUE(std::all_of(o.output.begin(), o.output.end(),
                          [](std::uint8_t b) { return b == kUntouched; }));
}

TEST(CryptoRsaBlock, LayoutForEveryEdgeLength) {
  for (unsigned length : {0u, 1u, 50u, 116u, 117u}) {
    std::vector<std::uint8_t> piece(length);
    for (unsigned i = 0; i < length; ++i) piece[i] = static_cast<std::uint8_t>(i + 1);
    const Block block = MakeBlock(piece);
    Block want(kRsaBlockLength);
    want[3] = static_cast<std::uint8_t>(length);
    for (unsigned i = 4; i < 127 - length; ++i) want[i] = 0xFF;
    want[127 - length] = 0x00;
    std::copy(piece.begin(), piece.end(), want.begin() + (128 - length));
    EXPECT_EQ(block, want) << "length " << length;
  }
  // The shortest piece leaves 123 bytes of FF; the longest leaves 6.
  const Block empty = MakeBlock({});
  EXPECT_EQ(std::count(empty.begin(), empty.end(), 0xFF), 123);
  EXPECT_EQ(empty[127], 0x00);
  const Block full = MakeBlock(std::vector<std::uint8_t>(117, 0x11));
  EXPECT_EQ(std::count(full.begin(), full.begin() + 11, 0xFF), 6);
}

TEST(CryptoRsaBlock, MatchesOpenSslForRandom1024BitKeys) {
  for (int k = 0; k < 8; ++k) {
    const TestKey key = RandomKey(1024);
    for (unsigned length : {0u, 1u, 28u, 116u, 117u}) {
      const std::vector<std::uint8_t> piece = RandomBytes(length);
      const Outcome o = RunBlock(key, piece);
      ExpectSigned(o, key, MakeBlock(piece));
      EXPECT_EQ(o.length, 128u);
    }
    // Arbitrary blocks below the modulus through every implementation.
    for (const Variant& v : kVariants) {
      SCOPED_TRACE(v.name);
      Block block = RandomBytes(128);
      block[0] = static_cast<std::uint8_t>(block[0] % key.record.modulus[0]);
      ExpectSigned(RunCrt(v.crt, key, block), key, block);
    }
  }
}

// From 1023 bits down to where the block stops fitting: the output length follows `bits`,
// and a block at or above the modulus (by the digit-limited rule) is refused.
TEST(CryptoRsaBlock, SmallerKeysFollowTheRangeRuleAndOutputLength) {
  struct Case {
    int bits;
    unsigned outputLength;
  };
  const Case cases[] = {{1023, 128}, {1001, 126}, {1000, 125}, {999, 125}, {998, 125}, {994, 125},
                        {993, 125},  {992, 124},  {961, 121},  {768, 96},  {512, 64}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    const TestKey key = RandomKey(c.bits);
    int accepted = 0, refused = 0;
    for (unsigned length : {0u, 1u, 10u, 63u, 64u, 100u, 116u, 117u}) {
      const std::vector<std::uint8_t> piece = RandomBytes(length);
      const Block block = MakeBlock(piece);
      const Outcome o = RunBlock(key, piece);
      if (PassesRangeRule(key, block)) {
        ExpectSigned(o, key, block);
        EXPECT_EQ(o.length, c.outputLength);
        ++accepted;
      } else {
        ExpectUntouched(o, kRsaDataNotBelowModulus);
        ++refused;
      }
    }
    if (c.bits >= 1000) {
      EXPECT_EQ(refused, 0);
    }
    // Every block is at least 2^992 - 256: a smaller modulus refuses them all.
    if (c.bits < 992) {
      EXPECT_EQ(accepted, 0);
    }
  }
}

TEST(CryptoRsaBlock, BlockAtTheModulusBoundary) {
  const TestKey key = RandomKey(1024);
  const Block n(key.record.modulus, key.record.modulus + 128);
  Block nMinusOne = n;
  for (std::size_t i = 128; i-- > 0;) {
    if (nMinusOne[i]-- != 0) break;
  }
  Block nPlusSmall = n;
  nPlusSmall[127] = static_cast<std::uint8_t>(nPlusSmall[127] | 0x01);  // n is odd: n itself
  Block allOnes(128, 0xFF);
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    ExpectUntouched(RunCrt(v.crt, key, n), kRsaDataNotBelowModulus);
    ExpectUntouched(RunCrt(v.crt, key, allOnes), kRsaDataNotBelowModulus);
    ExpectSigned(RunCrt(v.crt, key, nMinusOne), key, nMinusOne);
    ExpectSigned(RunCrt(v.crt, key, Block(128, 0)), key, Block(128, 0));
    Block one(128, 0);
    one[127] = 1;
    ExpectSigned(RunCrt(v.crt, key, one), key, one);
  }
}

TEST(CryptoRsaBlock, PieceLengthLimit) {
  const TestKey key = RandomKey(1024);
  ExpectUntouched(RunBlock(key, RandomBytes(118)), kRsaPieceTooLong);
  ExpectUntouched(RunBlock(key, RandomBytes(300)), kRsaPieceTooLong);
  EXPECT_EQ(RunBlock(key, RandomBytes(117)).code, kRsaOk);
}

TEST(CryptoRsaBlock, BadArgumentsAreRefusedWithoutWriting) {
  TestKey key = RandomKey(1024);
  std::uint8_t output[200];
  unsigned length = 7;
  std::memset(output, kUntouched, sizeof output);
  const std::uint8_t piece[4] = {1, 2, 3, 4};
  EXPECT_EQ(RsaPrivateBlock(nullptr, &length, piece, 4, key.record), kRsaBadArgument);
  EXPECT_EQ(RsaPrivateBlock(output, nullptr, piece, 4, key.record), kRsaBadArgument);
  EXPECT_EQ(RsaPrivateBlock(output, &length, nullptr, 4, key.record), kRsaBadArgument);
  EXPECT_EQ(length, 7u);
  // A null piece of length 0 is an empty piece.
  EXPECT_EQ(RsaPrivateBlock(output, &length, nullptr, 0, key.record), kRsaOk);
  EXPECT_EQ(length, 128u);

  // `bits` beyond the 1024-bit modulus field would make the output run past any buffer.
  length = 7;
  std::memset(output, kUntouched, sizeof output);
  key.record.bits = 1025;
  EXPECT_EQ(RsaPrivateBlock(output, &length, piece, 4, key.record), kRsaBadArgument);
  key.record.bits = 0xFFFF;
  EXPECT_EQ(RsaPrivateBlock(output, &length, piece, 4, key.record), kRsaBadArgument);
  EXPECT_EQ(length, 7u);
  EXPECT_TRUE(
      std::all_of(output, output + sizeof output, [](std::uint8_t b) { return b == kUntouched; }));
}

// `bits` is taken at its word: a shorter figure cuts the result's high bytes, zero writes
// nothing.
TEST(CryptoRsaBlock, OutputLengthFollowsBitsField) {
  TestKey key = RandomKey(1024);
  const std::vector<std::uint8_t> piece = RandomBytes(40);
  const std::vector<std::uint8_t> full =
      BnToBytes(Reference(key, MakeBlock(piece).data(), 128).get(), 128);
  for (unsigned bits : {1000u, 1017u, 8u, 1u, 0u}) {
    key.record.bits = static_cast<unsigned short>(bits);
    const Outcome o = RunBlock(key, piece);
    const unsigned length = (bits + 7) / 8;
    ASSERT_EQ(o.code, kRsaOk);
    ASSERT_EQ(o.length, length);
    EXPECT_TRUE(std::equal(o.output.begin(), o.output.begin() + length, full.end() - length));
    EXPECT_EQ(o.output[length], kUntouched);
  }
}

// Keys whose second prime is the larger one, or much larger, still give the right result
// (the difference of the two half results is reduced properly).
TEST(CryptoRsaBlock, SecondPrimeLargerThanFirst) {
  for (int k = 0; k < 4; ++k) {
    const TestKey usual = RandomKey(1024);
    TestKey swapped;
    ASSERT_TRUE(testing::KeyFromPrimes(swapped, usual.q.get(), usual.p.get()));
    const Block block = MakeBlock(RandomBytes(116));
    for (const Variant& v : kVariants) ExpectSigned(RunCrt(v.crt, swapped, block), swapped, block);
  }
  testing::Bn p = testing::NewBn(), q = testing::NewBn();
  TestKey uneven;
  do {
    BN_generate_prime_ex(p.get(), 488, 0, nullptr, nullptr, nullptr);
    BN_generate_prime_ex(q.get(), 512, 0, nullptr, nullptr, nullptr);
  } while (!testing::KeyFromPrimes(uneven, p.get(), q.get()));
  const Block block = MakeBlock(RandomBytes(116));
  for (const Variant& v : kVariants) ExpectSigned(RunCrt(v.crt, uneven, block), uneven, block);
}

// The range check compares the whole block. A 992-bit modulus whose top 56 bits are
// FF FF FF FF FF FF 80 lies above the low 31 digits of a block with a 117-byte piece
// (FF x 6, 00, piece), though the whole block exceeds it: a check over the modulus's
// significant digits only would accept that block and sign it reduced.
TEST(CryptoRsaBlock, BlockAboveASmallModulusIsRefused) {
  testing::BnCtx ctx(BN_CTX_new());
  testing::Bn p = testing::NewBn(), q = testing::NewBn(), target = testing::NewBn(),
              rem = testing::NewBn();
  TestKey key;
  for (;;) {
    BN_generate_prime_ex(p.get(), 496, 0, nullptr, nullptr, nullptr);
    BN_set_word(target.get(), 0xFFFFFFFFFFFF80ul);
    BN_lshift(target.get(), target.get(), 992 - 56);
    BN_div(q.get(), rem.get(), target.get(), p.get(), ctx.get());
    BN_set_bit(q.get(), 0);
    while (BN_check_prime(q.get(), ctx.get(), nullptr) != 1) BN_add_word(q.get(), 2);
    if (testing::KeyFromPrimes(key, p.get(), q.get())) break;
  }
  ASSERT_EQ(key.record.bits, 992);
  const Block block = MakeBlock(RandomBytes(117));
  testing::Bn whole = BnFromBytes(block.data(), block.size());
  ASSERT_GT(BN_cmp(whole.get(), key.n.get()), 0);
  // Its low 31 digits are below n, but the block as a whole is not.
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    ExpectUntouched(RunCrt(v.crt, key, block), kRsaDataNotBelowModulus);
  }
  ExpectUntouched(RunBlock(key, std::vector<std::uint8_t>(block.begin() + 11, block.end())),
                  kRsaDataNotBelowModulus);
}

// Longer strings keep their last 132 bytes.
TEST(CryptoRsaBlock, LongBlockKeepsItsLast132Bytes) {
  const TestKey key = RandomKey(1024);
  Block block = RandomBytes(140);
  for (int i = 8; i < 12; ++i) block[i] = 0;  // the kept value stays below n
  block[12] = static_cast<std::uint8_t>(block[12] % key.record.modulus[0]);
  const Block kept(block.begin() + 8, block.end());
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(v.name);
    ExpectSigned(RunCrt(v.crt, key, block), key, kept);
  }
}

TEST(CryptoRsaBlock, OutputMayOverlapTheBlock) {
  const TestKey key = RandomKey(1024);
  Block buffer = MakeBlock(RandomBytes(90));
  const Block original = buffer;
  unsigned length = 0;
  ASSERT_EQ(PrivateKeyCrt(buffer.data(), &length, buffer.data(), 128, key.record), kRsaOk);
  EXPECT_EQ(buffer, BnToBytes(Reference(key, original.data(), 128).get(), 128));
}

}  // namespace
}  // namespace vantorel::crypto
