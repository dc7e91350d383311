#include "tools/demo.h"

namespace demo {

void RunCardReader(Demo&) {}

}  // namespace demo
