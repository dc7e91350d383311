// The constant-time limb arithmetic under the RSA block, for both limb widths, against
// OpenSSL's big numbers: Montgomery products at the edges of their input ranges, the
// carries and borrows of the modular helpers, and the masked table lookup.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/mp_ct.h"
#include "crypto_bn_helpers.h"

namespace vantorel::crypto::mp {
namespace {

using testing::Bn;
using testing::BnCtx;
using testing::NewBn;

constexpr std::size_t kBytes = 64;

std::string HexOf(const BIGNUM* bn) {
  char* hex = BN_bn2hex(bn);
  std::string out(hex);
  OPENSSL_free(hex);
  return out;
}

template <typename Limb>
class CryptoMp : public ::testing::Test {
 protected:
  static constexpr std::size_t N = kBytes / sizeof(Limb);
  using Number = std::vector<Limb>;

  static Number FromBn(const BIGNUM* bn) {
    std::uint8_t bytes[kBytes];
    EXPECT_EQ(BN_bn2binpad(bn, bytes, kBytes), static_cast<int>(kBytes));
    Number a(N);
    Decode<Limb>(a.data(), N, bytes, kBytes);
    return a;
  }
  static Bn ToBn(const Number& a) {
    std::uint8_t bytes[kBytes];
    Encode<Limb>(bytes, kBytes, a.data(), N);
    return testing::BnFromBytes(bytes, kBytes);
  }
  static Bn Hex(const char* hex) {
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, hex);
    return Bn(bn);
  }
  static Bn Random(const BIGNUM* below) {
    Bn r = NewBn();
    BN_rand_range(r.get(), below);
    return r;
  }

  // The moduli worth trying: the largest odd 512-bit value, the smallest 512-bit one, a
  // random one, and small odd ones that leave most limbs zero.
  std::vector<Bn> Moduli() {
    std::vector<Bn> out;
    out.push_back(Hex(std::string(128, 'F').c_str()));
    out.push_back(Hex(("8" + std::string(126, '0') + "1").c_str()));
    Bn random = NewBn();
    BN_rand(random.get(), 512, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ODD);
    out.push_back(std::move(random));
    out.push_back(Hex("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFC5"));  // above one 64-bit limb
    out.push_back(Hex("3"));
    return out;
  }

  // Operands in [0, m): 0, 1, m - 1, m - 2, and random values.
  std::vector<Bn> Operands(const BIGNUM* m) {
    std::vector<Bn> out;
    out.push_back(testing::BnFromWord(0));
    out.push_back(testing::BnFromWord(1));
    Bn top = testing::BnCopy(m);
    BN_sub_word(top.get(), 1);
    out.push_back(testing::BnCopy(top.get()));
    BN_sub_word(top.get(), 1);
    out.push_back(std::move(top));
    for (int i = 0; i < 4; ++i) out.push_back(Random(m));
    return out;
  }

  BnCtx ctx_{BN_CTX_new()};
};

#if VANTOREL_MP_HAS_64BIT_LIMBS
using LimbTypes = ::testing::Types<std::uint32_t, std::uint64_t>;
#else
using LimbTypes = ::testing::Types<std::uint32_t>;
#endif
TYPED_TEST_SUITE(CryptoMp, LimbTypes);

// a * b / R mod m, with R = 2^512, for MontMul (a < R allowed) and MontSqr.
TYPED_TEST(CryptoMp, MontgomeryProductsMatchOpenSsl) {
  using Limb = TypeParam;
  constexpr std::size_t N = TestFixture::N;
  Bn r = NewBn(), rInv = NewBn(), want = NewBn();
  BN_set_bit(r.get(), 512);
  for (const Bn& m : this->Moduli()) {
    SCOPED_TRACE(HexOf(m.get()));
    ASSERT_NE(BN_mod_inverse(rInv.get(), r.get(), m.get(), this->ctx_.get()), nullptr);
    const auto mm = this->FromBn(m.get());
    const Limb m0inv = NegInverse<Limb>(mm[0]);
    ASSERT_EQ(static_cast<Limb>(mm[0] * m0inv), static_cast<Limb>(~Limb{0}));  // m * m0inv = -1
    std::vector<Bn> as = this->Operands(m.get());
    as.push_back(this->Hex(std::string(128, 'F').c_str()));  // R - 1: the largest a MontMul takes
    for (const Bn& a : as) {
      for (const Bn& b : this->Operands(m.get())) {
        auto out = this->FromBn(b.get());
        MontMul<Limb, N>(out.data(), this->FromBn(a.get()).data(), out.data(), mm.data(), m0inv);
        BN_mod_mul(want.get(), a.get(), b.get(), m.get(), this->ctx_.get());
        BN_mod_mul(want.get(), want.get(), rInv.get(), m.get(), this->ctx_.get());
        ASSERT_EQ(BN_cmp(this->ToBn(out).get(), want.get()), 0);
      }
      if (BN_cmp(a.get(), m.get()) >= 0) continue;
      auto sq = this->FromBn(a.get());
      MontSqr<Limb, N>(sq.data(), sq.data(), mm.data(), m0inv);
      BN_mod_mul(want.get(), a.get(), a.get(), m.get(), this->ctx_.get());
      BN_mod_mul(want.get(), want.get(), rInv.get(), m.get(), this->ctx_.get());
      ASSERT_EQ(BN_cmp(this->ToBn(sq).get(), want.get()), 0);
    }
  }
}

// Sums that carry out of the top limb, differences that borrow, doublings at m - 1.
// The two carry formulations of the column accumulator agree step by step at the limb
// edges, so a build of either kind (the sanitizers run unoptimised) checks the one that ships.
TYPED_TEST(CryptoMp, BothCarryFormsAgree) {
  using Limb = TypeParam;
  constexpr Limb kMax = static_cast<Limb>(~Limb{0});
  constexpr Limb kEdges[] = {0,
                             1,
                             2,
                             kMax,
                             static_cast<Limb>(kMax - 1),
                             static_cast<Limb>(Limb{1} << (kLimbBits<Limb> - 1)),
                             static_cast<Limb>(kMax >> 1),
                             static_cast<Limb>(0x5A5A5A5A5A5A5A5Aull)};
  Column<Limb, true> byComparison;
  Column<Limb, false> byShifts;
  Column<Limb, true> otherC;
  Column<Limb, false> otherS;
  int step = 0;
  const auto same = [&] {
    ASSERT_EQ(byComparison.low, byShifts.low) << "step " << step;
    ASSERT_EQ(byComparison.top, byShifts.top) << "step " << step;
  };
  for (Limb x : kEdges) {
    for (Limb y : kEdges) {
      ++step;
      byComparison.MulAdd(x, y);
      byShifts.MulAdd(x, y);
      same();
      byComparison.Add(y);
      byShifts.Add(y);
      same();
      otherC.MulAdd(y, x);
      otherS.MulAdd(y, x);
      if (step % 3 == 0) {
        byComparison.AddTwice(otherC);
        byShifts.AddTwice(otherS);
        same();
      }
      if (step % 5 == 0) {
        ASSERT_EQ(byComparison.Shift(), byShifts.Shift()) << "step " << step;
        ASSERT_EQ(otherC.Shift(), otherS.Shift()) << "step " << step;
        same();
      }
    }
  }
}

TYPED_TEST(CryptoMp, ModularAddSubDoubleAtTheEdges) {
  using Limb = TypeParam;
  constexpr std::size_t N = TestFixture::N;
  Bn want = NewBn();
  for (const Bn& m : this->Moduli()) {
    SCOPED_TRACE(HexOf(m.get()));
    const auto mm = this->FromBn(m.get());
    for (const Bn& a : this->Operands(m.get())) {
      const auto aa = this->FromBn(a.get());
      for (const Bn& b : this->Operands(m.get())) {
        const auto bb = this->FromBn(b.get());
        typename TestFixture::Number out(N);
        ModAdd<Limb, N>(out.data(), aa.data(), bb.data(), mm.data());
        BN_mod_add(want.get(), a.get(), b.get(), m.get(), this->ctx_.get());
        ASSERT_EQ(BN_cmp(this->ToBn(out).get(), want.get()), 0);
        ModSub<Limb, N>(out.data(), aa.data(), bb.data(), mm.data());
        BN_mod_sub(want.get(), a.get(), b.get(), m.get(), this->ctx_.get());
        ASSERT_EQ(BN_cmp(this->ToBn(out).get(), want.get()), 0);
      }
      auto doubled = aa;
      ModDouble<Limb, N>(doubled.data(), mm.data());
      BN_mod_lshift1(want.get(), a.get(), m.get(), this->ctx_.get());
      ASSERT_EQ(BN_cmp(this->ToBn(doubled).get(), want.get()), 0);
    }
  }
}

// ReduceOnce decides on the top limb and the borrow together: (1, small) is above m even
// though its low limbs are below it.
TYPED_TEST(CryptoMp, ReduceOnceUsesTheTopLimb) {
  using Limb = TypeParam;
  constexpr std::size_t N = TestFixture::N;
  const auto m = this->FromBn(this->Hex(std::string(128, 'F').c_str()).get());  // R - 1
  typename TestFixture::Number t(N, 0), out(N);
  t[0] = 5;
  ReduceOnce<Limb, N>(out.data(), Limb{1}, t.data(), m.data());  // R + 5 - (R - 1) = 6
  EXPECT_EQ(out[0], Limb{6});
  ReduceOnce<Limb, N>(out.data(), Limb{0}, t.data(), m.data());  // 5 < m: kept
  EXPECT_EQ(out[0], Limb{5});
  ReduceOnce<Limb, N>(out.data(), Limb{0}, m.data(), m.data());  // m itself -> 0
  for (Limb limb : out) EXPECT_EQ(limb, Limb{0});
}

TYPED_TEST(CryptoMp, LookUpReturnsEveryEntryAndMasksAreExact) {
  using Limb = TypeParam;
  constexpr std::size_t N = TestFixture::N;
  Limb table[16][N];
  for (std::size_t i = 0; i < 16; ++i) {
    for (std::size_t j = 0; j < N; ++j) table[i][j] = static_cast<Limb>(~Limb{0} - i * 131 - j);
  }
  for (Limb index = 0; index < 16; ++index) {
    Limb out[N];
    LookUp<Limb, N>(out, table, 16, index);
    EXPECT_EQ(std::memcmp(out, table[index], sizeof out), 0) << index;
  }
  const Limb all = static_cast<Limb>(~Limb{0});
  EXPECT_EQ(ZeroMask<Limb>(0), all);
  EXPECT_EQ(ZeroMask<Limb>(1), Limb{0});
  EXPECT_EQ(ZeroMask<Limb>(all), Limb{0});
  EXPECT_EQ(ZeroMask<Limb>(static_cast<Limb>(Limb{1} << (kLimbBits<Limb> - 1))), Limb{0});
  EXPECT_EQ(EqualMask<Limb>(7, 7), all);
  EXPECT_EQ(EqualMask<Limb>(7, 15), Limb{0});
}

TYPED_TEST(CryptoMp, BitLengthAndByteCodec) {
  using Limb = TypeParam;
  constexpr std::size_t N = TestFixture::N;
  typename TestFixture::Number a(N, 0);
  EXPECT_EQ((BitLength<Limb, N>(a.data())), 0u);
  for (unsigned bit : {0u, 1u, 31u, 32u, 63u, 64u, 300u, 511u}) {
    std::fill(a.begin(), a.end(), Limb{0});
    a[bit / kLimbBits<Limb>] = static_cast<Limb>(Limb{1} << (bit % kLimbBits<Limb>));
    a[0] |= 1;
    EXPECT_EQ((BitLength<Limb, N>(a.data())), bit + 1) << bit;
  }
  // Decoding keeps the string's last bytes; encoding pads with zeros in front or cuts.
  std::vector<std::uint8_t> bytes(70);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i + 1);
  Decode<Limb>(a.data(), N, bytes.data(), bytes.size());
  std::vector<std::uint8_t> out(66, 0xEE);
  Encode<Limb>(out.data(), out.size(), a.data(), N);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
  EXPECT_TRUE(std::equal(out.begin() + 2, out.end(), bytes.begin() + 6));
  Encode<Limb>(out.data(), 3, a.data(), N);
  EXPECT_EQ(out[0], 68);
  EXPECT_EQ(out[2], 70);
}

}  // namespace
}  // namespace vantorel::crypto::mp
