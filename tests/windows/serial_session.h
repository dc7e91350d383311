// A test fixture with the library connected to the virtual terminal over COM3.
#pragma once

#include <gtest/gtest.h>

#include "vantorel.h"
#include "vterm_console.h"

namespace wintest {

class SerialSession : public ::testing::Test {
 protected:
  void SetUp() override {
    Brixa_Close();
    console.Clear();
    ASSERT_EQ(Brixa_OpenPort(kPort, 9600, 'N', 1, 8), VANTOREL_SUCCESS);
    // A test sees only its own commands, not the open handshakes.
    console.Clear();
  }
  void TearDown() override {
    Brixa_Close();
    console.Clear();
  }

  // The only command received since the last Clear (fails the test otherwise).
  Bytes OnlyCommand() {
    const auto commands = console.Commands();
    EXPECT_EQ(commands.size(), 1u);
    return commands.empty() ? Bytes{} : commands.back();
  }

  VtermConsole& console = VtermConsole::Instance();
};

}  // namespace wintest
