#include "tools/demo.h"

namespace demo {

void RunSignpad(Demo&) {}

}  // namespace demo
