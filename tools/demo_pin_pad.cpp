#include "tools/demo.h"

namespace demo {

void RunPinPad(Demo&) {}

}  // namespace demo
