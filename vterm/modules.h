// Installs every device family into a terminal: what the program, the demo and the tests
// use to get the whole terminal.
#pragma once

#include "vterm/terminal.h"

namespace vterm {

// The device commands are part of every Terminal; this adds the signature pad, the card
// reader and the PIN pad.
void InstallAllModules(Terminal& terminal);

}  // namespace vterm
