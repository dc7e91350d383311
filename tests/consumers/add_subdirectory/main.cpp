// The header compiles as C++ too; the exports are noexcept there.
#include "../common/session.h"

static_assert(noexcept(Brixa_Close()), "no exception crosses the C API");

int main(int argc, char** argv) {
  return ConsumerSession("add_subdirectory", argc, argv);
}
