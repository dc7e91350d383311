// Constant-time multi-precision arithmetic for the RSA private-key operation.
//
// Numbers are fixed-size arrays of limbs, least significant limb first. Every routine runs
// the same instruction sequence and touches the same addresses whatever the limb values:
// no branch and no array index depends on a number, only on sizes. Choices are masks (all
// ones or all zeros) applied with AND/OR; a value barrier stops the optimiser from turning
// a mask back into a branch.
//
// Limbs are 64-bit where the compiler offers a 128-bit product type and 32-bit otherwise
// (32-bit Windows). Both widths compile everywhere the 128-bit type exists, so both are
// tested on 64-bit hosts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantorel::crypto::mp {

#if defined(__SIZEOF_INT128__)
#define VANTOREL_MP_HAS_64BIT_LIMBS 1
__extension__ typedef unsigned __int128 Uint128;
#else
#define VANTOREL_MP_HAS_64BIT_LIMBS 0
#endif

template <typename Limb>
struct LimbTraits;

template <>
struct LimbTraits<std::uint32_t> {
  using Wide = std::uint64_t;
};

#if VANTOREL_MP_HAS_64BIT_LIMBS
template <>
struct LimbTraits<std::uint64_t> {
  using Wide = Uint128;
};
using NativeLimb = std::uint64_t;
#else
using NativeLimb = std::uint32_t;
#endif

template <typename Limb>
inline constexpr unsigned kLimbBits = sizeof(Limb) * 8;

// Hides a value from the optimiser so that it cannot reason about masks derived from it.
// Constant-time in value: an empty asm, no instruction.
template <typename T>
inline T Barrier(T value) noexcept {
#if defined(__GNUC__)
  __asm__("" : "+r"(value));
#endif
  return value;
}

// 0 or 1 -> all zeros or all ones. Constant-time in bit: one subtraction.
template <typename Limb>
inline Limb MaskFromBit(Limb bit) noexcept {
  return Barrier(static_cast<Limb>(Limb{0} - bit));
}

// All ones when x is zero. Constant-time in x: or, negate, shift; no comparison.
template <typename Limb>
inline Limb ZeroMask(Limb x) noexcept {
  const Limb nonzero =
      static_cast<Limb>((x | static_cast<Limb>(Limb{0} - x)) >> (kLimbBits<Limb> - 1));
  return MaskFromBit<Limb>(nonzero ^ 1);
}

// All ones when a == b. Constant-time in a and b: through ZeroMask.
template <typename Limb>
inline Limb EqualMask(Limb a, Limb b) noexcept {
  return ZeroMask<Limb>(a ^ b);
}

// r = mask ? a : b, limb by limb. Constant-time in mask, a and b; time depends only on N.
template <typename Limb, std::size_t N>
inline void Select(Limb* r, Limb mask, const Limb* a, const Limb* b) noexcept {
  for (std::size_t i = 0; i < N; ++i) r[i] = static_cast<Limb>((a[i] & mask) | (b[i] & ~mask));
}

// r = a + b; returns the carry (0 or 1). r may be a or b.
// Constant-time in a and b (carries from shifts); time depends only on N.
template <typename Limb, std::size_t N>
inline Limb Add(Limb* r, const Limb* a, const Limb* b) noexcept {
  using Wide = typename LimbTraits<Limb>::Wide;
  Limb carry = 0;
  for (std::size_t i = 0; i < N; ++i) {
    const Wide s = static_cast<Wide>(a[i]) + b[i] + carry;
    r[i] = static_cast<Limb>(s);
    carry = static_cast<Limb>(s >> kLimbBits<Limb>);
  }
  return carry;
}

// r = a - b; returns the borrow (0 or 1). r may be a or b.
// Constant-time in a and b (borrows from shifts); time depends only on N.
template <typename Limb, std::size_t N>
inline Limb Sub(Limb* r, const Limb* a, const Limb* b) noexcept {
  using Wide = typename LimbTraits<Limb>::Wide;
  Limb borrow = 0;
  for (std::size_t i = 0; i < N; ++i) {
    const Wide s = static_cast<Wide>(a[i]) - b[i] - borrow;
    r[i] = static_cast<Limb>(s);
    borrow = static_cast<Limb>(s >> kLimbBits<Limb>) & 1;
  }
  return borrow;
}

// Given the N+1-limb value (top, t) < 2m, writes (top, t) mod m to r. r may be t.
// Constant-time in top, t and m: always subtracts, then selects by mask; time depends only on N.
template <typename Limb, std::size_t N>
inline void ReduceOnce(Limb* r, Limb top, const Limb* t, const Limb* m) noexcept {
  Limb d[N];
  const Limb borrow = Sub<Limb, N>(d, t, m);
  // The difference is negative only when the borrow is not absorbed by the top limb.
  const Limb keep = MaskFromBit<Limb>(borrow & ~top & 1);
  Select<Limb, N>(r, keep, t, d);
}

// r = (a + b) mod m for a, b < m.
// Constant-time in a, b and m: Add, then ReduceOnce; time depends only on N.
template <typename Limb, std::size_t N>
inline void ModAdd(Limb* r, const Limb* a, const Limb* b, const Limb* m) noexcept {
  Limb s[N];
  const Limb carry = Add<Limb, N>(s, a, b);
  ReduceOnce<Limb, N>(r, carry, s, m);
}

// r = (a - b) mod m for a, b < m.
// Constant-time in a, b and m: always adds m back, then selects; time depends only on N.
template <typename Limb, std::size_t N>
inline void ModSub(Limb* r, const Limb* a, const Limb* b, const Limb* m) noexcept {
  Limb d[N];
  Limb back[N];
  const Limb borrow = Sub<Limb, N>(d, a, b);
  Add<Limb, N>(back, d, m);
  Select<Limb, N>(r, MaskFromBit<Limb>(borrow), back, d);
}

// x = 2x mod m for x < m. Constant-time in x and m: shifts, then ReduceOnce.
template <typename Limb, std::size_t N>
inline void ModDouble(Limb* x, const Limb* m) noexcept {
  const Limb top = x[N - 1] >> (kLimbBits<Limb> - 1);
  for (std::size_t i = N - 1; i > 0; --i) {
    x[i] = static_cast<Limb>((x[i] << 1) | (x[i - 1] >> (kLimbBits<Limb> - 1)));
  }
  x[0] = static_cast<Limb>(x[0] << 1);
  ReduceOnce<Limb, N>(x, top, x, m);
}

// -m^-1 mod 2^w for odd m0 (Newton's iteration doubles the correct low bits each step;
// m0 * 3 ^ 2 is right to 5 bits). For even m0 the value is meaningless but harmless.
// Constant-time in m0: a fixed five multiplications.
template <typename Limb>
inline Limb NegInverse(Limb m0) noexcept {
  Limb x = static_cast<Limb>((m0 * 3) ^ 2);
  for (int i = 0; i < 5; ++i) x = static_cast<Limb>(x * (2 - m0 * x));
  return static_cast<Limb>(Limb{0} - x);
}

// Number of significant bits of a (0 for zero), without branching on the limbs.
// Constant-time in a: every bit of every limb is looked at; time depends only on N.
template <typename Limb, std::size_t N>
inline unsigned BitLength(const Limb* a) noexcept {
  unsigned length = 0;
  Limb found = 0;  // all ones once the top non-zero limb was seen
  for (std::size_t i = N; i-- > 0;) {
    const Limb here = static_cast<Limb>(~ZeroMask<Limb>(a[i]) & ~found);
    unsigned bits = 0;
    for (unsigned b = 0; b < kLimbBits<Limb>; ++b) {
      bits += static_cast<unsigned>((a[i] >> b) != 0);
    }
    length |= static_cast<unsigned>(here) & static_cast<unsigned>(i * kLimbBits<Limb> + bits);
    found |= here;
  }
  return length;
}

// A column accumulator of three limbs: the low two as one wide value (the form compilers
// turn into add/adc), the third counting the carries out of it.
// Constant-time in every argument: straight-line arithmetic (see below for the carry tests).
//
// Two carry formulations, on purpose. Optimising compilers turn the wide comparison below
// into add/adc/setc (checked under valgrind, see bench/crypto_ctgrind.cpp); unoptimised GCC
// turns it, and __builtin_add_overflow too, into a jump on the carry, so unoptimised builds
// take carries from shifts instead. No single form is both branch-free unoptimised and as
// fast optimised with GCC 12: carries from shifts cost the RSA block 1.8x (64-bit limbs) and
// 2.6x (32-bit); splitting each product into a low-limb and a high-limb wide sum (no carry
// at all) 1.35x with 64-bit limbs (32-bit unchanged); a lowest limb and a wide upper pair
// 1.8x; the carry read from the upper limb alone (a one-limb comparison, branch-free
// unoptimised) 1.03x with 64-bit limbs but 1.25x on a 32-bit x86 build, the one that ships
// with 32-bit limbs. Unoptimised builds are for debugging only and never ship.
#if defined(__OPTIMIZE__)
inline constexpr bool kCarryByComparison = true;
#else
inline constexpr bool kCarryByComparison = false;
#endif

// `byComparison` picks the formulation; both are compiled in every build, so that the tests
// check the one that ships against the other under the sanitizers too.
template <typename Limb, bool byComparison = kCarryByComparison>
struct Column {
  typename LimbTraits<Limb>::Wide low = 0;
  Limb top = 0;

  void MulAdd(Limb x, Limb y) noexcept {
    using Wide = typename LimbTraits<Limb>::Wide;
    const Wide p = static_cast<Wide>(x) * y;
    if constexpr (byComparison) {
      low += p;
      top = static_cast<Limb>(top + static_cast<Limb>(low < p));
    } else {
      AddLimbs(static_cast<Limb>(p), static_cast<Limb>(p >> kLimbBits<Limb>), 0);
    }
  }
  void Add(Limb x) noexcept {
    if constexpr (byComparison) {
      using Wide = typename LimbTraits<Limb>::Wide;
      low += x;
      top = static_cast<Limb>(top + static_cast<Limb>(low < static_cast<Wide>(x)));
    } else {
      AddLimbs(x, 0, 0);
    }
  }
  // (top, low) += (x2, x1, x0), carries from shifts only.
  void AddLimbs(Limb x0, Limb x1, Limb x2) noexcept {
    using Wide = typename LimbTraits<Limb>::Wide;
    constexpr unsigned w = kLimbBits<Limb>;
    const Wide s0 = static_cast<Wide>(static_cast<Limb>(low)) + x0;
    const Wide s1 =
        static_cast<Wide>(static_cast<Limb>(low >> w)) + x1 + static_cast<Limb>(s0 >> w);
    low = (static_cast<Wide>(static_cast<Limb>(s1)) << w) | static_cast<Limb>(s0);
    top = static_cast<Limb>(top + x2 + static_cast<Limb>(s1 >> w));
  }
  // Adds twice the other column's value.
  void AddTwice(const Column& other) noexcept {
    using Wide = typename LimbTraits<Limb>::Wide;
    const Wide doubled = other.low << 1;
    const Limb doubledTop = static_cast<Limb>(
        (other.top << 1) | static_cast<Limb>(other.low >> (2 * kLimbBits<Limb> - 1)));
    if constexpr (byComparison) {
      low += doubled;
      top = static_cast<Limb>(top + doubledTop + static_cast<Limb>(low < doubled));
    } else {
      AddLimbs(static_cast<Limb>(doubled), static_cast<Limb>(doubled >> kLimbBits<Limb>),
               doubledTop);
    }
  }
  Limb Lowest() const noexcept { return static_cast<Limb>(low); }
  // Emits the lowest limb and moves to the next column.
  Limb Shift() noexcept {
    using Wide = typename LimbTraits<Limb>::Wide;
    const Limb out = static_cast<Limb>(low);
    low = (low >> kLimbBits<Limb>) | (static_cast<Wide>(top) << kLimbBits<Limb>);
    top = 0;
    return out;
  }
};

// Montgomery product r = a * b / R mod m, R = 2^(w N), product scanning with the reduction
// interleaved column by column. Needs m odd, m0inv = NegInverse(m[0]), a < R and b < m (or
// a < m and b < R); then r < m. r may be a or b.
// Constant-time in a, b, m and m0inv: loops over N only, Column's straight-line steps.
template <typename Limb, std::size_t N>
[[gnu::noinline]] void MontMul(Limb* r, const Limb* a, const Limb* b, const Limb* m,
                               Limb m0inv) noexcept {
  Limb u[N];
  Limb t[N];
  Column<Limb> c;
#pragma GCC unroll 16
  for (std::size_t i = 0; i < N; ++i) {
#pragma GCC unroll 16
    for (std::size_t j = 0; j < i; ++j) {
      c.MulAdd(a[j], b[i - j]);
      c.MulAdd(u[j], m[i - j]);
    }
    c.MulAdd(a[i], b[0]);
    u[i] = static_cast<Limb>(c.Lowest() * m0inv);
    c.MulAdd(u[i], m[0]);  // clears the lowest limb
    c.Shift();
  }
#pragma GCC unroll 16
  for (std::size_t i = N; i < 2 * N - 1; ++i) {
#pragma GCC unroll 16
    for (std::size_t j = i - N + 1; j < N; ++j) {
      c.MulAdd(a[j], b[i - j]);
      c.MulAdd(u[j], m[i - j]);
    }
    t[i - N] = c.Shift();
  }
  t[N - 1] = c.Shift();
  ReduceOnce<Limb, N>(r, c.Lowest(), t, m);
}

// Montgomery squaring r = a * a / R mod m, column by column like MontMul but with each
// cross product a[i] * a[j] (i < j) formed once and doubled. Same conditions as MontMul with
// b = a (a < m). Constant-time in a, m and m0inv: the branches test the column index only.
template <typename Limb, std::size_t N>
[[gnu::noinline]] void MontSqr(Limb* r, const Limb* a, const Limb* m, Limb m0inv) noexcept {
  Limb u[N];
  Limb t[N];
  Column<Limb> c;
#pragma GCC unroll 32
  for (std::size_t k = 0; k < 2 * N - 1; ++k) {
    Column<Limb> cross;
    const std::size_t lo = k < N ? 0 : k - N + 1;
#pragma GCC unroll 16
    for (std::size_t i = lo; 2 * i < k; ++i) cross.MulAdd(a[i], a[k - i]);
    c.AddTwice(cross);
    if (k % 2 == 0) c.MulAdd(a[k / 2], a[k / 2]);
    if (k < N) {
#pragma GCC unroll 16
      for (std::size_t j = 0; j < k; ++j) c.MulAdd(u[j], m[k - j]);
      u[k] = static_cast<Limb>(c.Lowest() * m0inv);
      c.MulAdd(u[k], m[0]);  // clears the lowest limb
      c.Shift();
    } else {
#pragma GCC unroll 16
      for (std::size_t j = k - N + 1; j < N; ++j) c.MulAdd(u[j], m[k - j]);
      t[k - N] = c.Shift();
    }
  }
  t[N - 1] = c.Shift();
  ReduceOnce<Limb, N>(r, c.Lowest(), t, m);
}

// r = table[index] for a table of `count` entries, reading every entry so that the
// addresses touched do not depend on the (secret) index. Rows are handled 16 bytes at a
// time where the compiler has vector types (plain limbs otherwise).
// Constant-time in index and the entries: every row is read and masked; time depends on count.
template <typename Limb, std::size_t N>
inline void LookUp(Limb* r, const Limb (*table)[N], std::size_t count, Limb index) noexcept {
#if defined(__GNUC__)
  constexpr std::size_t kLanes = 16 / sizeof(Limb);
  static_assert(N % kLanes == 0, "rows are whole vectors");
  typedef Limb Vector __attribute__((vector_size(16)));
  Vector acc[N / kLanes] = {};
#pragma GCC unroll 32
  for (std::size_t i = 0; i < count; ++i) {
    const Limb mask = EqualMask<Limb>(static_cast<Limb>(i), index);
    Vector maskVector;
    for (std::size_t l = 0; l < kLanes; ++l) maskVector[l] = mask;
#pragma GCC unroll 8
    for (std::size_t v = 0; v < N / kLanes; ++v) {
      Vector row;
      __builtin_memcpy(&row, &table[i][v * kLanes], sizeof row);
      acc[v] |= row & maskVector;
    }
  }
  __builtin_memcpy(r, acc, sizeof acc);
#else
  for (std::size_t j = 0; j < N; ++j) r[j] = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const Limb mask = EqualMask<Limb>(static_cast<Limb>(i), index);
    for (std::size_t j = 0; j < N; ++j) r[j] = static_cast<Limb>(r[j] | (table[i][j] & mask));
  }
#endif
}

// a = the big-endian byte string read as a number, keeping its low `limbs` limbs' worth
// of bytes (the leading bytes beyond that are ignored).
// Constant-time in the bytes: loops over the lengths only.
template <typename Limb>
inline void Decode(Limb* a, std::size_t limbs, const std::uint8_t* bytes,
                   std::size_t length) noexcept {
  for (std::size_t i = 0; i < limbs; ++i) a[i] = 0;
  const std::size_t used = length < limbs * sizeof(Limb) ? length : limbs * sizeof(Limb);
  for (std::size_t k = 0; k < used; ++k) {
    const std::uint8_t byte = bytes[length - 1 - k];
    a[k / sizeof(Limb)] = static_cast<Limb>(a[k / sizeof(Limb)] |
                                            (static_cast<Limb>(byte) << (8 * (k % sizeof(Limb)))));
  }
}

// Writes the low `length` bytes of a (`limbs` limbs) big-endian to bytes; positions above
// the number are zero. Constant-time in a: the one branch tests a position against the size.
template <typename Limb>
inline void Encode(std::uint8_t* bytes, std::size_t length, const Limb* a,
                   std::size_t limbs) noexcept {
  for (std::size_t k = 0; k < length; ++k) {
    std::uint8_t byte = 0;
    if (k < limbs * sizeof(Limb))
      byte = static_cast<std::uint8_t>(a[k / sizeof(Limb)] >> (8 * (k % sizeof(Limb))));
    bytes[length - 1 - k] = byte;
  }
}

}  // namespace vantorel::crypto::mp
