// What every C++ example shares: the terminal named on the command line or in
// VANTOREL_PORT. Copy freely.
#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "vantorel.hpp"

namespace example {

// "hid" (the USB terminal), a COM number ("3"), or a device path ("/dev/ttyUSB0", a
// virtual terminal's link) that COM 1 is mapped to.
inline vantorel::terminal open(int argc, char** argv) {
  const char* env = std::getenv("VANTOREL_PORT");
  const std::string name = argc > 1 ? argv[1] : env ? env : "";
  if (name.empty()) {
    throw std::invalid_argument("usage: " + std::string(argv[0]) +
                                " PORT ... (PORT: hid, a COM number or a device path; or set "
                                "VANTOREL_PORT)");
  }
  if (name == "hid") return vantorel::terminal(vantorel::hid_device{});
  if (name.find_first_not_of("0123456789") == std::string::npos && name.size() <= 3) {
    return vantorel::terminal(vantorel::serial_port::number(std::stoi(name)));
  }
  return vantorel::terminal(vantorel::serial_port::device(name));
}

}  // namespace example
