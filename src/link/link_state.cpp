#include "link/link_state.h"

namespace vantorel::link {

LinkState& State() noexcept {
  static LinkState state;
  return state;
}

std::array<std::uint8_t, kCommandBufferSize>& CommandBuffer() noexcept {
  static std::array<std::uint8_t, kCommandBufferSize> buffer{};
  return buffer;
}

std::mutex& LinkLock() noexcept {
  static std::mutex lock;
  return lock;
}

}  // namespace vantorel::link
