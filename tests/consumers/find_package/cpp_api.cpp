// The C++ interface compiles against the installed headers (C++20), and its errors are
// system errors.
#include <type_traits>

#include "vantorel.hpp"

static_assert(std::is_base_of_v<std::system_error, vantorel::error>);
static_assert(!std::is_copy_constructible_v<vantorel::terminal>);
static_assert(std::is_move_constructible_v<vantorel::terminal>);

std::string ConsumerCppVersion() {
  return vantorel::sdk_version();
}
