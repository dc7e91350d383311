// The trace against the virtual terminal: a session that carries every kind of secret leaves
// none of their bytes in the trace; OS errors are named with the device and the system's
// message.
#include "link/trace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "integration/cardreader_test_support.h"
#include "integration/pinpad_test_support.h"
#include "vterm/pin_pad_keys.h"

namespace {

namespace fs = std::filesystem;
using pinpad_test::Bytes;

fs::path TraceFile() {
  return fs::temp_directory_path() / ("vantorel-trace-" + std::to_string(::getpid()) + ".log");
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string SpacedHex(const unsigned char* data, std::size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    if (i != 0) out += ' ';
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0x0F];
  }
  return out;
}

// Fails when any six consecutive bytes of `secret` appear in the trace as hex (spaced or
// not, either case) or as text.
void ExpectAbsent(const std::string& trace, const std::string& label, const Bytes& secret) {
  std::string lower = trace;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t window = std::min<std::size_t>(6, secret.size());
  for (std::size_t i = 0; i + window <= secret.size(); ++i) {
    const std::string spaced = SpacedHex(secret.data() + i, window);
    std::string joined;
    for (char c : spaced) {
      if (c != ' ') joined += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string spacedLower;
    for (char c : spaced)
      spacedLower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string text(secret.begin() + static_cast<std::ptrdiff_t>(i),
                           secret.begin() + static_cast<std::ptrdiff_t>(i + window));
    EXPECT_EQ(lower.find(spacedLower), std::string::npos) << label << " as hex at " << i;
    EXPECT_EQ(lower.find(joined), std::string::npos) << label << " as joined hex at " << i;
    EXPECT_EQ(trace.find(text), std::string::npos) << label << " as text at " << i;
  }
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

class TraceTest : public support::TransportTest {
 protected:
  void SetUp() override {
    fs::remove(file_);
    vantorel::link::trace::Configure(file_.c_str());
  }
  void TearDown() override {
    vantorel::link::trace::Configure(nullptr);
    fs::remove(file_);
  }
  std::string Trace() const { return ReadFile(file_); }

  fs::path file_ = TraceFile();
};
VANTOREL_ON_BOTH_TRANSPORTS(TraceTest);

TEST_P(TraceTest, SessionWithEverySecretLeavesNoneOfTheirBytes) {
  const vterm::RsaKeyPair key = vterm::GenerateRsaKeyPair(1024);
  vterm::UsePublicKey(session.terminal(), key);
  ASSERT_EQ(session.Open(), 1);

  // PIN block, with the account number it is bound to.
  const std::string account = "4929517305846221";
  const Bytes pinBlock = {0x8F, 0x3A, 0x51, 0xC2, 0x9D, 0x04, 0x7E, 0xB6};
  pinpad_test::Answer(session, pinBlock);
  pinpad_test::Request pin;
  pin.record.accountNumber = account.c_str();
  pin.Line("ENTER PIN");
  EXPECT_EQ(PIN_GetPINBlock(pin.record), 1);

  // Numeric entry with the application's key; the digits keyed are the answer.
  const std::string digits = "73915064";
  pinpad_test::Answer(session, vterm::PinPadModule::NumericAnswer(digits));
  pinpad_test::Request amount;
  amount.Line("AMOUNT");
  EXPECT_EQ(PIN_GetNumericOrAmount(2, amount.record, key.privateKey), 1);

  // Card account entry: the digits keyed.
  const std::string keyedAccount = "6011000990139424";
  pinpad_test::Answer(session, vterm::PinPadModule::TwoByteAnswer(Text(keyedAccount)));
  pinpad_test::Request card(20, 12);
  EXPECT_EQ(PIN_GetCardAccount(card.record), 1);

  // Secure reading: a swipe with both tracks.
  const std::string track1 = "%B5105105105105100^PRIVATE/PERSON^2911101987650000?";
  const std::string track2 = ";5105105105105100=29111019876543?";
  cardreader_test::Deliveries::Instance().Register();
  {
    cardreader_test::Reading reading;
    ASSERT_TRUE(cardreader_test::WaitForKeyPolls(session, 1));
    cardreader_test::Reader(session).Swipe(vterm::CardReaderModule::TrackText({track1, track2}));
    EXPECT_TRUE(cardreader_test::Deliveries::Instance().WaitFor(1));
    EXPECT_EQ(MSR_DisableSecureHead(), 1);
    EXPECT_EQ(reading.Result(), 1);
  }

  // Manual entry: the card number and expiry keyed.
  const std::string manual = "3530111333300000=3012";
  cardreader_test::Reader(session).ScriptManualEntry(vterm::ManualEntryOutcome::Data(Text(manual)));
  std::array<unsigned char, 512> manualResult{};
  int manualLength = 0;
  ManualEntryRequest manualRequest{};
  manualRequest.result = manualResult.data();
  manualRequest.resultLength = &manualLength;
  manualRequest.mode = 1;
  manualRequest.entryKind = 1;
  manualRequest.upperBound = 19;
  manualRequest.lowerBound = 13;
  EXPECT_EQ(MSR_ManualInputCardData(manualRequest), 1);

  // Key loading and encrypted data.
  const Bytes deviceKey = {0xA7, 0x1C, 0x5E, 0x93, 0x2B, 0xD0, 0x64, 0xF8,
                           0x17, 0xC9, 0x3A, 0x8E, 0x55, 0x02, 0xBD, 0x6F};
  const Bytes encrypted = {0x4D, 0xE2, 0x91, 0x0B, 0x7A, 0xC3, 0x36, 0x58};
  EXPECT_EQ(MSR_LoadDeviceKey(deviceKey.data(), 16), 1);
  EXPECT_EQ(MSR_SetEncryptedData(encrypted.data(), 8), 1);
  std::array<unsigned char, 8> readBack{};
  int readLength = 0;
  EXPECT_EQ(MSR_GetEncryptedData(readBack.data(), &readLength), 1);

  const std::string trace = Trace();
  // The session is there, by export and by frame...
  for (const char* expected :
       {"PIN_GetPINBlock sent", "PIN_GetNumericOrAmount sent", "PIN_GetCardAccount sent",
        "MSR_EnableSecureHead sent", "MSR_ManualInputCardData sent", "MSR_LoadDeviceKey sent",
        "MSR_LoadDeviceKey returned 1 (success)", "data withheld",
        "the terminal sent by itself: data withheld"}) {
    EXPECT_NE(trace.find(expected), std::string::npos) << expected << "\n" << trace;
  }
  // ... and none of the secrets.
  ExpectAbsent(trace, "PIN block", pinBlock);
  ExpectAbsent(trace, "account number", Text(account));
  ExpectAbsent(trace, "numeric digits", Text(digits));
  ExpectAbsent(trace, "keyed account", Text(keyedAccount));
  ExpectAbsent(trace, "track 1", Text(track1));
  ExpectAbsent(trace, "track 2", Text(track2));
  ExpectAbsent(trace, "manual entry", Text(manual));
  ExpectAbsent(trace, "device key", deviceKey);
  ExpectAbsent(trace, "encrypted data", encrypted);
  const RsaPrivateKey& k = key.privateKey;
  ExpectAbsent(trace, "private exponent", Bytes(k.privateExponent + 64, k.privateExponent + 128));
  ExpectAbsent(trace, "prime 1", Bytes(k.prime1 + 32, k.prime1 + 64));
  ExpectAbsent(trace, "prime 2", Bytes(k.prime2 + 32, k.prime2 + 64));
  ExpectAbsent(trace, "coefficient", Bytes(k.coefficient + 32, k.coefficient + 64));
}

TEST_P(TraceTest, FramesAreDecodedAndResultsExplained) {
  ASSERT_EQ(session.Open(), 1);
  char version[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(version, &length), 1);
  session.terminal().RefuseNext(1, 0xEC);
  unsigned char value = 0;
  EXPECT_EQ(MSR_GetDecodingSetting(&value), 100);
  const std::string trace = Trace();
  EXPECT_NE(trace.find(" Brixa_GetVersion sent 9 bytes [device 78, perform 46, sub 01]: "
                       "02 03 00 78 46 01 3F BF 03\n"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find(" Brixa_GetVersion received "), std::string::npos);
  EXPECT_NE(trace.find(" Brixa_GetVersion returned 1 (success)\n"), std::string::npos);
  EXPECT_NE(trace.find(" MSR_GetDecodingSetting received 8 bytes [status EC: 100, terminal "
                       "status EC]"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find(" MSR_GetDecodingSetting returned 100 (terminal status EC)\n"),
            std::string::npos);
}

// OS errors, on a pseudo-terminal of the test's own (no virtual terminal thread: one test
// forks).
class TraceOsErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove(file_);
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    path_ = ::ptsname(master_);
  }
  void TearDown() override {
    vantorel::link::trace::Configure(nullptr);
    Brixa_MapPort(5, nullptr);
    ::close(master_);
    fs::remove(file_);
  }
  std::string Trace() const { return ReadFile(file_); }

  fs::path file_ = TraceFile();
  int master_ = -1;
  std::string path_;
};

TEST_F(TraceOsErrors, MissingDeviceIsNamed) {
  vantorel::link::trace::Configure(file_.c_str());
  ASSERT_EQ(Brixa_MapPort(5, "/dev/vantorel-no-such-port"), 1);
  EXPECT_EQ(Brixa_OpenPort(5, 9600, 'N', 1, 8), 0);
  const std::string trace = Trace();
  EXPECT_NE(trace.find(" Brixa_OpenPort open /dev/vantorel-no-such-port: No such file or "
                       "directory\n"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find(" Brixa_OpenPort returned 0 (failure"), std::string::npos);
  EXPECT_STREQ(Brixa_GetLastErrorText(),
               "open /dev/vantorel-no-such-port: No such file or directory");
}

TEST_F(TraceOsErrors, PortHeldByAnotherProgramIsNamed) {
  const int held = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  vantorel::link::trace::Configure(file_.c_str());
  ASSERT_EQ(Brixa_MapPort(5, path_.c_str()), 1);
  EXPECT_EQ(Brixa_OpenPort(5, 9600, 'N', 1, 8), 0);
  EXPECT_EQ(Brixa_GetLastErrorText(), path_ + " is in use by another program or connection");
  ::close(held);
  EXPECT_NE(Trace().find(" Brixa_OpenPort " + path_ + " is in use by another program\n"),
            std::string::npos)
      << Trace();
}

TEST_F(TraceOsErrors, PermissionDeniedIsNamedWithTheRemedy) {
  // Root opens anything: an unprivileged child makes the attempt.
  ASSERT_EQ(::chmod(path_.c_str(), 0600), 0);
  vantorel::link::trace::Configure(file_.c_str());
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    Brixa_MapPort(5, path_.c_str());
    const unsigned char rc = Brixa_OpenPort(5, 9600, 'N', 1, 8);
    // The cause says the same as the trace, with the remedy: 4 when it does not.
    const std::string cause = Brixa_GetLastErrorText();
    ::_exit(cause.rfind("open " + path_ + ": Permission denied (the user needs", 0) == 0 ? rc : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_NE(WEXITSTATUS(status), 3) << "cannot become an unprivileged user";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(Trace().find(" Brixa_OpenPort open " + path_ +
                         ": Permission denied — the user needs read and write access"),
            std::string::npos)
      << Trace();
}

}  // namespace
