// The header compiles as C++ too; the exports are noexcept there.
#include "../common/session.h"
#include "vantorel.hpp"

static_assert(noexcept(Brixa_Close()), "no exception crosses the C API");
// The C++ interface compiles beside it, and its errors are system errors.
static_assert(std::is_base_of_v<std::system_error, vantorel::error>);

int main(int argc, char** argv) {
  return ConsumerSession("add_subdirectory", argc, argv);
}
