// What the trace may show of a frame, how it names the export, and how the command catalogue
// names commands.
#include "link/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/command.h"
#include "link/command_catalogue.h"

namespace {

using vantorel::link::trace::MayShowCommand;
using vantorel::link::trace::MayShowReply;
using Bytes = std::vector<std::uint8_t>;

TEST(Trace, CommandsShowTheirDataUnlessTheyCarrySecrets) {
  struct Case {
    Bytes command;
    bool shown;
  };
  const std::vector<Case> cases = {
      {{0x78, 0x46, 0x01}, true},               // version
      {{0x7A, 0x46, 0x10, 1}, true},            // capture start
      {{0x8A, 0x46, 0x11, 1, 0}, true},         // display: a line
      {{0x76, 0x46, 0x01, 0x34}, true},         // LEDs
      {{0x7B, 0x46, 0x02, 1, 2}, true},         // tone
      {{0x73, 0x52, 0x1D}, true},               // reader setting read
      {{0x73, 0x53, 0x1D, 0x01, 0x32}, true},   // reader setting write
      {{0x73, 0x53, 0x76, 0x10, 1, 2}, false},  // device key
      {{0x73, 0x53, 0x74, 0x08, 1, 2}, false},  // encrypted data
      {{0x75, 0x46, 0x81}, true},               // key poll
      {{0x75, 0x46, 0x82}, true},               // key clear
      {{0x75, 0x46, 0x84}, true},               // key invalidate
      {{0x75, 0x46, 0x07, '1'}, false},         // PIN block entry
      {{0x75, 0x46, 0x40}, false},              // manual entry
      {{0x75, 0x46, 0x0A}, false},              // any other entry
      {{0x99, 0x46, 0x01}, false},              // unknown class
      {{0x78, 0x46}, false},                    // too short to judge
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MayShowCommand(c.command.data(), c.command.size()), c.shown)
        << std::hex << int(c.command[0]) << " " << int(c.command[c.command.size() > 2 ? 2 : 0]);
  }
}

TEST(Trace, RepliesFollowTheirCommandAndTheModeInForce) {
  const Bytes keyReply = {0x02, 0x02, 0x00, 0x06, 0x45, 0x43, 0x4B, 0x03};
  Bytes cardAnswer = {0x02, 0x10, 0x00, 0x06};
  cardAnswer.resize(22, 0x34);
  cardAnswer.back() = 0x03;
  const Bytes version = {0x02, 0x03, 0x00, 0x06, 0x41, 0x42, 0x00, 0x00, 0x03};
  Bytes merged = version;  // a reply with a message of the terminal's own behind it
  merged.insert(merged.end(), cardAnswer.begin(), cardAnswer.end());
  struct Case {
    Bytes command;
    Bytes reply;
    bool secretMode;
    bool shown;
  };
  const std::vector<Case> cases = {
      {{0x78, 0x46, 0x01}, version, false, true},
      // While secrets flow, even one whole frame may be an entry's answer that landed in
      // this command's read.
      {{0x78, 0x46, 0x01}, version, true, false},
      {{0x78, 0x46, 0x01}, merged, false, true},
      {{0x78, 0x46, 0x01}, merged, true, false},   // may hold card data
      {{0x8A, 0x52, 0x80}, version, false, true},  // backlight read
      {{0x75, 0x46, 0x81}, keyReply, true, false},
      {{0x75, 0x46, 0x81}, cardAnswer, true, false},  // card data answering the key poll
      {{0x75, 0x46, 0x81}, keyReply, false, true},    // a key asked for outside reading
      {{0x73, 0x52, 0x74}, version, false, false},    // encrypted data read back
      {{0x75, 0x46, 0x07}, version, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MayShowReply(c.command.data(), c.command.size(), c.reply.data(),
                           static_cast<int>(c.reply.size()), c.secretMode),
              c.shown)
        << std::hex << int(c.command[2]) << " reply " << std::dec << c.reply.size() << " mode "
        << c.secretMode;
  }
  EXPECT_FALSE(MayShowReply(nullptr, 0, version.data(), 9, false));
}

// Every named command's bytes, each of its sub-commands, find its own row: no earlier row
// shadows it, so the trace names it and judges its secrets by that row.
TEST(Trace, CatalogueCommandsAreFoundByTheirOwnBytes) {
  using vantorel::link::CommandBytes;
  using vantorel::link::kCommands;
  for (const auto& row : kCommands) {
    for (unsigned i = 0; i < row.subCount; ++i) {
      const CommandBytes bytes{row.id, i};
      ASSERT_EQ(bytes.size(), 3u) << row.name;
      EXPECT_EQ(&vantorel::link::LookUpCommand(bytes.data(), bytes.size()), &row) << row.name;
    }
  }
  EXPECT_STREQ(vantorel::link::CommandClassName(0x7A), "signpad");
  EXPECT_STREQ(vantorel::link::CommandClassName(0x99), "unknown");
  EXPECT_STREQ(vantorel::link::FunctionName(0x53), "write");
}

}  // namespace
