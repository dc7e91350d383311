// The demo session: one part per device family, each in its own file.
#pragma once

#include <filesystem>
#include <string>

#include "vterm/terminal.h"

namespace demo {

struct Demo {
  vterm::Terminal& terminal;
  std::filesystem::path outDir;  // pictures and other files for a person to look at

  // Prints one export call and what it returned; returns `rc`.
  unsigned char Call(const std::string& call, unsigned char rc) const;
  // Prints a line of explanation.
  void Say(const std::string& text) const;
};

void RunDevice(Demo& demo);
void RunSignpad(Demo& demo);
void RunCardReader(Demo& demo);
void RunPinPad(Demo& demo);

}  // namespace demo
