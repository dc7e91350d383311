// PIN-pad entries through the DLL over COM3: the request record and the RSA private key
// travel by value, the entry blocks until the pad answers, and PIN_CancelPIN from another
// thread ends it. The numeric entry's key is made by the system's CryptoAPI here; the
// virtual pad checks every processed piece with the public half, so an accepted entry
// proves the DLL's private-key block against two implementations that are not ours.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "serial_session.h"

namespace wintest {
namespace {

PinEntryRequest Request(unsigned char* result, int* resultLength, unsigned char upper,
                        unsigned char lower) {
  PinEntryRequest request;
  std::memset(&request, 0, sizeof request);
  request.result = result;
  request.resultLength = resultLength;
  request.mode = '0';
  request.upperBound = upper;
  request.lowerBound = lower;
  request.accountNumber = "";
  return request;
}

std::string HexOf(const unsigned char* bytes, std::size_t n) {
  std::string out;
  char two[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02X", bytes[i]);
    out += two;
  }
  return out;
}

// A 1024-bit key pair from CryptoAPI, as the record the DLL takes and the public half's
// numbers in hex (big-endian) for the virtual pad.
struct TestKey {
  RsaPrivateKey record;
  std::string modulusHex;
  std::string exponentHex;
};

// Copies a little-endian CryptoAPI number into a big-endian field, right-aligned.
void FieldFrom(const BYTE* littleEndian, std::size_t n, unsigned char* field,
               std::size_t fieldSize) {
  std::memset(field, 0, fieldSize);
  for (std::size_t i = 0; i < n && i < fieldSize; ++i) field[fieldSize - 1 - i] = littleEndian[i];
}

bool MakeKey(TestKey& out) {
  HCRYPTPROV provider = 0;
  if (!::CryptAcquireContextA(&provider, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  HCRYPTKEY key = 0;
  bool ok = ::CryptGenKey(provider, AT_KEYEXCHANGE, (1024u << 16) | CRYPT_EXPORTABLE, &key);
  DWORD size = 0;
  std::vector<BYTE> blob;
  if (ok) ok = ::CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size);
  if (ok) {
    blob.resize(size);
    ok = ::CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size);
  }
  if (key != 0) ::CryptDestroyKey(key);
  ::CryptReleaseContext(provider, 0);
  // BLOBHEADER, RSAPUBKEY, then modulus, prime1, prime2, exponent1, exponent2,
  // coefficient, private exponent, all little-endian.
  const std::size_t head = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
  if (!ok || size < head) return false;
  RSAPUBKEY pub;
  std::memcpy(&pub, blob.data() + sizeof(BLOBHEADER), sizeof pub);
  const std::size_t n = pub.bitlen / 8;
  const std::size_t half = n / 2;
  if (pub.bitlen != 1024 || size < head + n * 2 + half * 5) return false;

  RsaPrivateKey& r = out.record;
  std::memset(&r, 0, sizeof r);
  r.bits = 1024;
  const BYTE* p = blob.data() + head;
  FieldFrom(p, n, r.modulus, sizeof r.modulus);
  p += n;
  FieldFrom(p, half, r.prime1, sizeof r.prime1);
  p += half;
  FieldFrom(p, half, r.prime2, sizeof r.prime2);
  p += half;
  FieldFrom(p, half, r.exponent1, sizeof r.exponent1);
  p += half;
  FieldFrom(p, half, r.exponent2, sizeof r.exponent2);
  p += half;
  FieldFrom(p, half, r.coefficient, sizeof r.coefficient);
  p += half;
  FieldFrom(p, n, r.privateExponent, sizeof r.privateExponent);
  const BYTE e[4] = {static_cast<BYTE>(pub.pubexp), static_cast<BYTE>(pub.pubexp >> 8),
                     static_cast<BYTE>(pub.pubexp >> 16), static_cast<BYTE>(pub.pubexp >> 24)};
  FieldFrom(e, sizeof e, r.publicExponent, sizeof r.publicExponent);
  out.modulusHex = HexOf(r.modulus, sizeof r.modulus);
  out.exponentHex = HexOf(r.publicExponent + sizeof r.publicExponent - 4, 4);
  // Only the public half ever leaves this function in text.
  ::SecureZeroMemory(blob.data(), blob.size());
  return true;
}

class PinPad : public SerialSession {
 protected:
  unsigned char result[512];
  int length = -1;
};

TEST_F(PinPad, PinBlockAnswerIsCopiedWithItsTerminator) {
  std::memset(result, 0x5A, sizeof result);
  PinEntryRequest request = Request(result, &length, 12, 4);
  request.accountNumber = "4761739001010119";
  request.promptLineCount = 1;
  request.promptLines[0].text = "Enter PIN";
  // The pad answers its default PIN block a second after accepting the entry.
  EXPECT_EQ(PIN_GetPINBlock(request), VANTOREL_SUCCESS);
  const Bytes command = OnlyCommand();
  const Bytes head{0x75, 0x46, 0x07, '0', 12, 4, 1, '4', '7', '6', '1'};
  ASSERT_GE(command.size(), head.size());
  EXPECT_EQ(Bytes(command.begin(), command.begin() + head.size()), head);
  EXPECT_EQ(length, 16);
  EXPECT_STREQ(reinterpret_cast<const char*>(result), "5A1F3C9E07B2D846");
  EXPECT_EQ(result[17], 0x5A) << "nothing written past the terminator";
}

TEST_F(PinPad, CancelFromAnotherThreadEndsTheEntry) {
  console.Execute("entry hold");
  PinEntryRequest request = Request(result, &length, 12, 4);
  auto entry = std::async(std::launch::async, [request] { return PIN_GetPINBlock(request); });
  ASSERT_TRUE(console.WaitForCommands({0x75, 0x46, 0x07}, 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(PIN_CancelPIN(), VANTOREL_SUCCESS);
  ASSERT_EQ(entry.wait_for(std::chrono::seconds(5)), std::future_status::ready)
      << "the entry did not end";
  // The pad ends a cancelled entry with status 0x18.
  EXPECT_EQ(entry.get(), VANTOREL_STATUS_18);
  EXPECT_TRUE(console.WaitForCommands({0x75, 0x46, 0x09}, 1, 1000));
  EXPECT_EQ(length, -1) << "no result on a cancelled entry";
}

class NumericEntry : public PinPad {
 protected:
  static void SetUpTestSuite() {
    key = new TestKey;
    if (!MakeKey(*key)) {
      delete key;
      key = nullptr;
    }
  }
  static void TearDownTestSuite() {
    delete key;
    key = nullptr;
  }
  static TestKey* key;
};
TestKey* NumericEntry::key = nullptr;

TEST_F(NumericEntry, PadAcceptsOnlyPiecesOfTheKeyItHolds) {
  ASSERT_NE(key, nullptr) << "CryptoAPI made no RSA key";
  // Another modulus of the same size: a byte in its middle changed.
  std::string other = key->modulusHex;
  other[100] = other[100] == '0' ? '1' : '0';
  struct Case {
    const char* what;
    std::string modulus;
    unsigned char code;
  };
  const Case cases[] = {
      {"the pad holds this key", key->modulusHex, VANTOREL_SUCCESS},
      {"the pad holds another key", other, VANTOREL_STATUS_C1_ED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    console.Clear();
    console.Execute("pubkey " + c.modulus + " " + key->exponentHex);
    length = -1;
    std::memset(result, 0x5A, sizeof result);
    PinEntryRequest request = Request(result, &length, 20, 4);
    request.promptLineCount = 1;
    request.promptLines[0].text = "Amount?";
    EXPECT_EQ(PIN_GetNumericOrAmount(1, request, key->record), c.code);
    // Bounds in clear, then one processed piece of 128 bytes.
    const Bytes command = OnlyCommand();
    EXPECT_EQ(command.size(), 5u + 128u);
    EXPECT_EQ(Bytes(command.begin(), command.begin() + 5), (Bytes{0x75, 0x46, 0x22, 20, 4}));
    if (c.code == VANTOREL_SUCCESS) {
      // The pad's default answer: three digits, then F padding up to the upper bound.
      EXPECT_EQ(length, 3);
      EXPECT_STREQ(reinterpret_cast<const char*>(result), "125");
    } else {
      EXPECT_EQ(length, -1);
    }
  }
}

}  // namespace
}  // namespace wintest
