// The thirty reader settings exports against the virtual terminal: bytes sent, value checks,
// what each shape writes to the caller, the family's stricter reply test.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cardreader_test_support.h"

namespace {

using cardreader_test::Reader;
using support::Bytes;
using support::TransportTest;

using SetFn = unsigned char(VANTOREL_CALL*)(unsigned char);
using GetFn = unsigned char(VANTOREL_CALL*)(unsigned char*);
using BlockFn = unsigned char(VANTOREL_CALL*)(unsigned char*, int*);

struct ByteSetter {
  const char* name;
  SetFn fn;
  std::uint8_t sub;
  int low, high;  // allowed values; -1/256 when every byte is allowed
};
const ByteSetter kSetters[] = {
    {"SetDecodingSetting", MSR_SetDecodingSetting, 0x1D, '0', '4'},
    {"SetSecureHeadPrePANID", MSR_SetSecureHeadPrePANID, 0x49, -1, 256},
    {"SetSecureHeadPostPANID", MSR_SetSecureHeadPostPANID, 0x4A, -1, 256},
    {"SetSecureHeadMaskPAN", MSR_SetSecureHeadMaskPAN, 0x4B, -1, 256},
    {"SetExpirationData", MSR_SetExpirationData, 0x50, '0', '1'},
    {"SetEncryption", MSR_SetEncryption, 0x4C, '0', '2'},
    {"SetKeyModel", MSR_SetKeyModel, 0x58, '0', '1'},
    {"SetDataOutputFormat", MSR_SetDataOutputFormat, 0xE3, '0', '2'},
    {"SetOutputEncryptedFormat", MSR_SetOutputEncryptedFormat, 0x85, '0', '1'},
    {"SetDataPINorDataKey", MSR_SetDataPINorDataKey, 0xE4, '0', '1'},
};

struct ByteGetter {
  const char* name;
  GetFn fn;
  std::uint8_t sub;
};
const ByteGetter kGetters[] = {
    {"GetOutputSetting", MSR_GetOutputSetting, 0x1A},
    {"GetDecodingSetting", MSR_GetDecodingSetting, 0x1D},
    {"ReviewSecureHeadPrePANID", MSR_ReviewSecureHeadPrePANID, 0x49},
    {"ReviewSecureHeadPostPANID", MSR_ReviewSecureHeadPostPANID, 0x4A},
    {"ReviewSecureHeadMaskPAN", MSR_ReviewSecureHeadMaskPAN, 0x4B},
    {"GetKeyModel", MSR_GetKeyModel, 0x58},
    {"GetSecurityLevel", MSR_GetSecurityLevel, 0x7E},
    {"GetMSROutputStatus", MSR_GetMSROutputStatus, 0xE2},
    {"GetDataOutputFormat", MSR_GetDataOutputFormat, 0xE3},
    {"getDataPINorDataKey", MSR_getDataPINorDataKey, 0xE4},
};

class CardReaderSettings : public TransportTest {
 protected:
  void SetUp() override { ASSERT_EQ(session.Open(), VANTOREL_SUCCESS); }
  // Over serial every command costs ~600 ms: the bulk runs over HID, serial takes every
  // third row (and each shape at least once elsewhere).
  bool Sample(std::size_t row) const { return !session.serial() || row % 3 == 0; }
};
VANTOREL_ON_BOTH_TRANSPORTS(CardReaderSettings);

TEST_P(CardReaderSettings, ByteSettersSendTheirValueAndCheckTheirRange) {
  for (std::size_t i = 0; i < std::size(kSetters); ++i) {
    const ByteSetter& s = kSetters[i];
    if (!Sample(i)) continue;
    const std::uint8_t value = static_cast<std::uint8_t>(s.high > 255 ? 0xA7 : s.high);
    session.Clear();
    ASSERT_EQ(s.fn(value), VANTOREL_SUCCESS) << s.name;
    EXPECT_EQ(session.OnlyCommand(), (Bytes{0x73, 0x53, s.sub, 0x01, value})) << s.name;
    EXPECT_EQ(Reader(session).Setting(s.sub), value) << s.name;
    // Out of range, at both ends: 99 and nothing sent.
    session.Clear();
    if (s.low > 0) {
      EXPECT_EQ(s.fn(static_cast<std::uint8_t>(s.low - 1)), 99) << s.name;
      EXPECT_EQ(s.fn(0x00), 99) << s.name;
    }
    if (s.high < 255) {
      EXPECT_EQ(s.fn(static_cast<std::uint8_t>(s.high + 1)), 99) << s.name;
      EXPECT_EQ(s.fn(0xFF), 99) << s.name;
    }
    EXPECT_TRUE(session.Commands().empty()) << s.name;
  }
}

TEST_P(CardReaderSettings, DecodingSettingFramesAndBounds) {
  ASSERT_EQ(MSR_SetDecodingSetting('2'), VANTOREL_SUCCESS);
  EXPECT_EQ(session.Frames().at(0),
            (Bytes{0x02, 0x05, 0x00, 0x73, 0x53, 0x1D, 0x01, 0x32, 0x0E, 0x16, 0x03}));
  session.Clear();
  unsigned char value = 0;
  ASSERT_EQ(MSR_GetDecodingSetting(&value), VANTOREL_SUCCESS);
  EXPECT_EQ(session.Frames().at(0), (Bytes{0x02, 0x03, 0x00, 0x73, 0x52, 0x1D, 0x3C, 0xE2, 0x03}));
  EXPECT_EQ(value, '2');
  session.Clear();
  EXPECT_EQ(MSR_SetDecodingSetting('4'), VANTOREL_SUCCESS);
  EXPECT_EQ(MSR_SetDecodingSetting('5'), 99);
  EXPECT_EQ(MSR_SetDecodingSetting(0x2F), 99);
  EXPECT_EQ(session.Commands().size(), 1u);
}

TEST_P(CardReaderSettings, ByteGettersReturnReplyByteSix) {
  for (std::size_t i = 0; i < std::size(kGetters); ++i) {
    const ByteGetter& g = kGetters[i];
    if (!Sample(i)) continue;
    const auto value = static_cast<std::uint8_t>(0x80 + i);
    Reader(session).SetSetting(g.sub, value);
    session.Clear();
    unsigned char out = 0;
    ASSERT_EQ(g.fn(&out), VANTOREL_SUCCESS) << g.name;
    EXPECT_EQ(session.OnlyCommand(), (Bytes{0x73, 0x52, g.sub})) << g.name;
    EXPECT_EQ(out, value) << g.name;
    EXPECT_EQ(g.fn(nullptr), 99) << g.name;
    EXPECT_EQ(session.Commands().size(), 1u) << g.name << ": null output sent nothing";
  }
}

TEST_P(CardReaderSettings, BlockAndCountedGettersWriteBytesAndCount) {
  auto& reader = Reader(session);
  reader.SetFirmware("SH FW 9.99 build 17");
  reader.SetReaderSerial("R-123456");
  reader.SetKsn("FFFF0123456789A00042");
  reader.SetEncryptedData(Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  struct Case {
    const char* name;
    BlockFn fn;
    std::uint8_t sub;
    Bytes expected;
  };
  const std::string fw = reader.Firmware();
  const std::string serial = reader.ReaderSerial();
  const std::string ksn = reader.Ksn();
  const Case cases[] = {
      {"GetAllSettings", MSR_GetAllSettings, 0x1F, reader.AllSettings()},
      {"GetSecureHeadFirmware", MSR_GetSecureHeadFirmware, 0x22, Bytes(fw.begin(), fw.end())},
      {"SerialNumber", MSR_SerialNumber, 0x4E, Bytes(serial.begin(), serial.end())},
      {"ReviewKSNAndCountID", MSR_ReviewKSNAndCountID, 0x51, Bytes(ksn.begin(), ksn.end())},
      {"GetEncryptedData", MSR_GetEncryptedData, 0x74, Bytes{1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    if (session.serial() && i % 2 == 1) continue;
    session.Clear();
    unsigned char buffer[512];
    std::memset(buffer, 0xEE, sizeof buffer);
    int length = -1;
    ASSERT_EQ(c.fn(buffer, &length), VANTOREL_SUCCESS) << c.name;
    EXPECT_EQ(session.OnlyCommand(), (Bytes{0x73, 0x52, c.sub})) << c.name;
    ASSERT_EQ(length, static_cast<int>(c.expected.size())) << c.name;
    EXPECT_EQ(Bytes(buffer, buffer + length), c.expected) << c.name;
    EXPECT_EQ(buffer[length], 0xEE) << c.name << ": nothing beyond the count";
    EXPECT_EQ(c.fn(nullptr, &length), 99) << c.name;
    EXPECT_EQ(c.fn(buffer, nullptr), 99) << c.name;
    EXPECT_EQ(session.Commands().size(), 1u) << c.name;
  }
}

TEST_P(CardReaderSettings, BlockSettersCheckTheirLength) {
  const unsigned char data[16] = {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7,
                                  0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF};
  ASSERT_EQ(MSR_SetEncryptedData(data, 8), VANTOREL_SUCCESS);
  Bytes expected{0x73, 0x53, 0x74, 0x08};
  expected.insert(expected.end(), data, data + 8);
  EXPECT_EQ(session.OnlyCommand(), expected);
  EXPECT_EQ(Reader(session).EncryptedData(), Bytes(data, data + 8));

  session.Clear();
  ASSERT_EQ(MSR_LoadDeviceKey(data, 16), VANTOREL_SUCCESS);
  expected = {0x73, 0x53, 0x76, 0x10};
  expected.insert(expected.end(), data, data + 16);
  EXPECT_EQ(session.OnlyCommand(), expected);
  EXPECT_EQ(session.Frames().at(0).size(), 26u);
  EXPECT_EQ(Reader(session).DeviceKey(), Bytes(data, data + 16));

  session.Clear();
  EXPECT_EQ(MSR_SetEncryptedData(data, 7), 99);
  EXPECT_EQ(MSR_SetEncryptedData(data, 9), 99);
  EXPECT_EQ(MSR_SetEncryptedData(data, -8), 99);
  EXPECT_EQ(MSR_SetEncryptedData(nullptr, 8), 99);
  EXPECT_EQ(MSR_LoadDeviceKey(data, 8), 99);
  EXPECT_EQ(MSR_LoadDeviceKey(nullptr, 16), 99);
  EXPECT_TRUE(session.Commands().empty());
}

TEST_P(CardReaderSettings, FlagSettersFoldTheirFlags) {
  struct Case {
    const char* what;
    std::function<unsigned char()> call;
    Bytes command;
  };
  const Case cases[] = {
      {"hash all", [] { return MSR_SetHashOption(1, 1, 1); }, {0x73, 0x53, 0x5C, 0x01, '7'}},
      {"hash none", [] { return MSR_SetHashOption(0, 0, 0); }, {0x73, 0x53, 0x5C, 0x01, '0'}},
      {"hash second", [] { return MSR_SetHashOption(0, 9, 0); }, {0x73, 0x53, 0x5C, 0x01, '2'}},
      {"mask all", [] { return MSR_SetMaskOption(3, 3, 3); }, {0x73, 0x53, 0x86, 0x01, 0x07}},
      {"mask none", [] { return MSR_SetMaskOption(0, 0, 0); }, {0x73, 0x53, 0x86, 0x01, 0x00}},
      {"mask third", [] { return MSR_SetMaskOption(0, 0, 1); }, {0x73, 0x53, 0x86, 0x01, 0x04}},
      {"encrypt all",
       [] { return MSR_SetEncryptOption(1, 1, 1, 0xFF); },
       {0x73, 0x53, 0x84, 0x01, 0x0F}},
      {"encrypt fourth",
       [] { return MSR_SetEncryptOption(0, 0, 0, 1); },
       {0x73, 0x53, 0x84, 0x01, 0x08}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    if (!Sample(i)) continue;
    const Case& c = cases[i];
    session.Clear();
    ASSERT_EQ(c.call(), VANTOREL_SUCCESS) << c.what;
    EXPECT_EQ(session.OnlyCommand(), c.command) << c.what;
  }
}

TEST_P(CardReaderSettings, SettersNeedMoreThanSixBytesToo) {
  // ACK at byte 3 but only six bytes: other set-only commands would accept it.
  session.terminal().TruncateNext(1, 6);
  EXPECT_EQ(MSR_SetKeyModel('1'), VANTOREL_FAILURE);
  session.terminal().TruncateNext(1, 6);
  EXPECT_EQ(MSR_SetHashOption(1, 0, 0), VANTOREL_FAILURE);
  // A bare ACK frame has seven bytes and is enough.
  session.terminal().Register(0x73, 0x53, 0x58, [](vterm::Terminal&, const vterm::Command&) {
    return vterm::Response::Ack();
  });
  EXPECT_EQ(MSR_SetKeyModel('1'), VANTOREL_SUCCESS);
}

TEST_P(CardReaderSettings, RefusalsMapTheStatusAndLeaveOutputsAlone) {
  session.terminal().RefuseNext(1, 0xE8);
  unsigned char value = 0x42;
  EXPECT_EQ(MSR_GetKeyModel(&value), 104);
  EXPECT_EQ(value, 0x42);
  session.terminal().SilenceNext(1);
  unsigned char buffer[512];
  int length = -5;
  EXPECT_EQ(MSR_GetAllSettings(buffer, &length), VANTOREL_FAILURE);
  EXPECT_EQ(length, -5);
  session.terminal().RefuseNext(1, 0xE1);
  EXPECT_EQ(MSR_SetEncryption('1'), 99);
}

TEST_P(CardReaderSettings, CountedAndEightByteRepliesOfOddSizes) {
  auto& t = session.terminal();
  unsigned char buffer[512];
  int length = -1;
  // A block getter with a bare ACK: success, nothing written.
  t.Register(0x73, 0x52, 0x22,
             [](vterm::Terminal&, const vterm::Command&) { return vterm::Response::Ack(); });
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(MSR_GetSecureHeadFirmware(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(buffer[0], 0xEE);
  // A counted getter with a count of 0 copies nothing.
  t.Register(0x73, 0x52, 0x4E, [](vterm::Terminal&, const vterm::Command&) {
    return vterm::Response::Ack(Bytes{0x4E, 0x00, 0x00, 'X', 'Y'});
  });
  length = -1;
  EXPECT_EQ(MSR_SerialNumber(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(buffer[0], 0xEE);
  // A count claiming more than arrived is not handed on as data.
  t.Register(0x73, 0x52, 0x51, [](vterm::Terminal&, const vterm::Command&) {
    return vterm::Response::Ack(Bytes{0x51, 0x00, 0x09, 'A', 'B'});
  });
  length = -1;
  EXPECT_EQ(MSR_ReviewKSNAndCountID(buffer, &length), VANTOREL_FAILURE);
  EXPECT_EQ(length, -1);
  // Eight-byte getter: always eight bytes on success; fewer arrived is a failure.
  t.Register(0x73, 0x52, 0x74, [](vterm::Terminal&, const vterm::Command&) {
    return vterm::Response::Ack(Bytes{9, 8, 7});
  });
  EXPECT_EQ(MSR_GetEncryptedData(buffer, &length), VANTOREL_FAILURE);
  EXPECT_EQ(length, -1);
  t.Register(0x73, 0x52, 0x74, [](vterm::Terminal&, const vterm::Command&) {
    return vterm::Response::Ack(Bytes{9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
  });
  EXPECT_EQ(MSR_GetEncryptedData(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(length, 8);
  EXPECT_EQ(Bytes(buffer, buffer + 8), (Bytes{9, 8, 7, 6, 5, 4, 3, 2}));
}

// Without a connection: 201 from every member, even with bad arguments, nothing sent.
class CardReaderSettingsClosed : public TransportTest {};
VANTOREL_ON_BOTH_TRANSPORTS(CardReaderSettingsClosed);

TEST_P(CardReaderSettingsClosed, EveryMemberReturns201) {
  unsigned char b = 0;
  int n = 0;
  for (const auto& s : kSetters) EXPECT_EQ(s.fn(0xFF), VANTOREL_NOT_OPEN) << s.name;
  for (const auto& g : kGetters) EXPECT_EQ(g.fn(nullptr), VANTOREL_NOT_OPEN) << g.name;
  for (BlockFn f : {MSR_GetAllSettings, MSR_GetSecureHeadFirmware, MSR_SerialNumber,
                    MSR_ReviewKSNAndCountID, MSR_GetEncryptedData}) {
    EXPECT_EQ(f(nullptr, nullptr), VANTOREL_NOT_OPEN);
    EXPECT_EQ(f(&b, &n), VANTOREL_NOT_OPEN);
  }
  EXPECT_EQ(MSR_SetEncryptedData(nullptr, 3), VANTOREL_NOT_OPEN);
  EXPECT_EQ(MSR_LoadDeviceKey(nullptr, 3), VANTOREL_NOT_OPEN);
  EXPECT_EQ(MSR_SetEncryptOption(1, 1, 1, 1), VANTOREL_NOT_OPEN);
  EXPECT_EQ(MSR_SetHashOption(1, 1, 1), VANTOREL_NOT_OPEN);
  EXPECT_EQ(MSR_SetMaskOption(1, 1, 1), VANTOREL_NOT_OPEN);
  EXPECT_TRUE(session.Commands().empty());
}

}  // namespace
