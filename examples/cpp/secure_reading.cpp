// Secure reading: the encrypting head is switched on (on a thread the object owns), swipes
// and the PIN pad's keys reach the handlers, and the main thread switches it off.
//
//   secure_reading PORT
//
// Card data are secret: the handler prints only their length and kind.
#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

#include "example.hpp"

using namespace std::chrono_literals;

int main(int argc, char** argv) try {
  auto terminal = example::open(argc, argv);
  std::atomic<int> cards{0};
  std::atomic<bool> enter{false};
  auto reading = terminal.start_secure_reading(
      [&](std::span<const std::uint8_t> data) {
        // A record from the encrypting head starts with STX; otherwise the tracks.
        std::cout << "card data: " << data.size() << " bytes, "
                  << (data[0] == VANTOREL_RECORD_STX ? "encrypted record" : "track text")
                  << std::endl;
        ++cards;
      },
      [&](vantorel::key key) {
        std::cout << "key "
                  << (key == vantorel::key::cancel      ? "Cancel"
                      : key == vantorel::key::backspace ? "Backspace"
                                                        : "Enter")
                  << std::endl;
        if (key == vantorel::key::enter) enter = true;
      });
  // Until a card was read and Enter pressed, at most 30 s.
  for (int i = 0; i < 300 && !(cards > 0 && enter); ++i) std::this_thread::sleep_for(100ms);
  reading.stop();
  std::cout << cards << " card(s) read\n";
  return cards > 0 ? 0 : 1;
} catch (const std::exception& e) {
  std::cerr << e.what() << '\n';
  return 1;
}
