#include <gtest/gtest.h>

#include <string>

#include "link/serial_port.h"

namespace vantorel::link {
namespace {

struct Split {
  bool ok;
  std::string device, settings;
};

Split SplitOf(const char* text) {
  OpenString parts;
  const bool ok = SplitOpenString(text, parts);
  return {ok, parts.deviceName, parts.lineSettings};
}

TEST(SplitOpenString, CleansAndSplits) {
  struct Case {
    const char* text;
    const char* device;
    const char* settings;
  };
  const Case cases[] = {
      // What Brixa_OpenPort formats for COM3 at 9600 8N1.
      {"\\\\.\\COM3/baud=9600/parity=N/stop=1/data=8", "\\\\.\\COM3",
       "baud=9600 parity=N stop=1 data=8"},
      // A blank before the slash is dropped, so only the slash ends the name.
      {"\\\\.\\COM3 /baud=9600", "\\\\.\\COM3", "baud=9600"},
      {"CO M12\t/baud = 1200\t/parity=E", "COM12", "baud=1200 parity=E"},
      // Blanks and tabs are not separators: without a slash everything is the name.
      {"COM3 baud=9600 data=8", "COM3baud=9600data=8", ""},
      {"\t\tCOM100//baud=9600", "COM100", " baud=9600"},
      {"/COM3/baud=9600", "", "COM3 baud=9600"},
  };
  for (const auto& c : cases) {
    const Split s = SplitOf(c.text);
    EXPECT_TRUE(s.ok) << c.text;
    EXPECT_EQ(s.device, c.device) << c.text;
    EXPECT_EQ(s.settings, c.settings) << c.text;
  }
}

TEST(SplitOpenString, LengthIsCountedBeforeCleanUp) {
  EXPECT_FALSE(SplitOf(nullptr).ok);
  EXPECT_FALSE(SplitOf("").ok);
  EXPECT_FALSE(SplitOf("COM3/baud").ok);  // 9
  EXPECT_TRUE(SplitOf("COM3/baud=").ok);  // 10
  // Ten characters of which most are blanks still pass: the limit is on the raw string.
  const Split blanks = SplitOf("C         ");
  EXPECT_TRUE(blanks.ok);
  EXPECT_EQ(blanks.device, "C");

  const std::string prefix = "COM1/baud=9600/";
  const std::string fits = prefix + std::string(256 - prefix.size(), 'x');
  const Split longest = SplitOf(fits.c_str());
  EXPECT_TRUE(longest.ok);
  EXPECT_EQ(longest.settings.size(), 256 - 5);
  EXPECT_FALSE(SplitOf((fits + "x").c_str()).ok);  // 257
  EXPECT_FALSE(SplitOf(std::string(5000, 'x').c_str()).ok);
}

TEST(SplitOpenString, FailureLeavesNothingBehind) {
  OpenString parts;
  ASSERT_TRUE(SplitOpenString("COM3/baud=9600", parts));
  EXPECT_FALSE(SplitOpenString("short", parts));
  EXPECT_STREQ(parts.deviceName, "");
  EXPECT_STREQ(parts.lineSettings, "");
}

TEST(ParseLineSettings, Accepted) {
  struct Case {
    const char* text;
    int baud;
    char parity;
    int dataBits, stopBits;
  };
  const Case cases[] = {
      {"", 0, 0, 0, 0},
      {"   ", 0, 0, 0, 0},
      {"baud=9600 parity=N data=8 stop=1", 9600, 'N', 8, 1},
      {"baud=9600 parity=N stop=1 data=8", 9600, 'N', 8, 1},
      {"BAUD=115200 Parity=e DATA=7 Stop=2", 115200, 'E', 7, 2},
      {"parity=o", 0, 'O', 0, 0},
      {"parity=M data=5", 0, 'M', 5, 0},
      {"parity=s data=6", 0, 'S', 6, 0},
      {" baud=14400  baud=28800\t", 28800, 0, 0, 0},  // the last one counts
      {"baud=0001200", 1200, 0, 0, 0},
  };
  for (const auto& c : cases) {
    LineSettings s;
    ASSERT_TRUE(ParseLineSettings(c.text, s)) << c.text;
    EXPECT_EQ(s.baud, c.baud) << c.text;
    EXPECT_EQ(s.parity, c.parity) << c.text;
    EXPECT_EQ(s.dataBits, c.dataBits) << c.text;
    EXPECT_EQ(s.stopBits, c.stopBits) << c.text;
  }
}

TEST(ParseLineSettings, Refused) {
  const char* const cases[] = {
      "baud",
      "baud=",
      "=9600",
      "baud=-9600",
      "baud=+9600",
      "baud=9600x",
      "baud=96 00",
      "baud=0",
      "baud=49",
      "baud=4000001",
      "baud=99999999999999",
      "parity=",
      "parity=X",
      "parity=NN",
      "parity=1",
      "data=4",
      "data=9",
      "data=",
      "stop=0",
      "stop=3",
      "stop=1.5",
      "xon=off",
      "dtr=on",
      "baud=9600 foo=1",
      "baud==9600",
      "96,n,8,1",
      "baud=9600,parity=N",
  };
  for (const char* text : cases) {
    LineSettings s;
    s.baud = 1;
    EXPECT_FALSE(ParseLineSettings(text, s)) << text;
    EXPECT_EQ(s.baud, 0) << text;  // nothing half-parsed is handed back
  }
  LineSettings s;
  EXPECT_FALSE(ParseLineSettings(nullptr, s));
}

class PortMapTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int port = 1; port <= kMaxPort; ++port) MapPort(port, nullptr);
  }
  static std::string Resolve(const char* name) {
    char out[kMaxDevicePath + 2];
    ResolvePortDevice(name, out, sizeof out);
    return out;
  }
};

TEST_F(PortMapTest, DefaultsFollowTheComNumber) {
  EXPECT_EQ(Resolve("\\\\.\\COM3"), "/dev/ttyS2");
  EXPECT_EQ(Resolve("COM1"), "/dev/ttyS0");
  EXPECT_EQ(Resolve("com100"), "/dev/ttyS99");
  // Not a COM port name in range: passed through as given.
  const char* const others[] = {"COM0",  "COM101",       "COM03",        "COM",
                                "COM3x", "\\\\.\\COM-1", "/dev/ttyUSB0", "\\\\.\\pipe\\COM3",
                                "XCOM3"};
  for (const char* name : others) EXPECT_EQ(Resolve(name), name) << name;
}

TEST_F(PortMapTest, MappedPathWinsUntilCleared) {
  EXPECT_TRUE(MapPort(3, "/dev/ttyUSB0"));
  EXPECT_EQ(Resolve("\\\\.\\COM3"), "/dev/ttyUSB0");
  EXPECT_EQ(Resolve("COM3"), "/dev/ttyUSB0");
  EXPECT_EQ(Resolve("COM4"), "/dev/ttyS3");
  EXPECT_TRUE(MapPort(3, "/dev/pts/7"));
  EXPECT_EQ(Resolve("COM3"), "/dev/pts/7");
  EXPECT_TRUE(MapPort(3, ""));
  EXPECT_EQ(Resolve("COM3"), "/dev/ttyS2");
  EXPECT_TRUE(MapPort(3, "/dev/pts/7"));
  EXPECT_TRUE(MapPort(3, nullptr));
  EXPECT_EQ(Resolve("COM3"), "/dev/ttyS2");
}

TEST_F(PortMapTest, RefusesBadPortsAndLongPaths) {
  EXPECT_FALSE(MapPort(0, "/dev/x"));
  EXPECT_FALSE(MapPort(101, "/dev/x"));
  EXPECT_FALSE(MapPort(-1, nullptr));
  const std::string longest(kMaxDevicePath, 'p');
  EXPECT_TRUE(MapPort(100, longest.c_str()));
  EXPECT_EQ(Resolve("COM100"), longest);
  EXPECT_FALSE(MapPort(100, (longest + "p").c_str()));
  EXPECT_EQ(Resolve("COM100"), longest);  // a refused mapping changes nothing
}

TEST_F(PortMapTest, TooSmallOutputGetsNothingRatherThanACutPath) {
  ASSERT_TRUE(MapPort(5, "/dev/ttyUSB12"));
  char out[8];
  ResolvePortDevice("COM5", out, sizeof out);
  EXPECT_STREQ(out, "");
  ResolvePortDevice("/dev/ttyUSB12", out, sizeof out);
  EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace vantorel::link
