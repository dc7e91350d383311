#include "vterm/modules.h"

#include "vterm/card_reader.h"
#include "vterm/pin_pad.h"
#include "vterm/signpad.h"

// One include and one line per family.

namespace vterm {

void InstallAllModules(Terminal& terminal) {
  terminal.Add<CardReaderModule>();
  terminal.Add<SignpadModule>();
  terminal.Add<PinPadModule>();
}

}  // namespace vterm
