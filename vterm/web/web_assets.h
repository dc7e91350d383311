// The page's files, built into the program from vterm/web/assets (embed.cmake).
#pragma once

#include <cstddef>
#include <span>

namespace vterm {

struct Asset {
  const char* path;  // as requested: "/", "/app.js", ...
  const char* type;  // content type
  const unsigned char* data;
  std::size_t size;
};

std::span<const Asset> Assets();

}  // namespace vterm
