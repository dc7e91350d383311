// A PIN block entry with a time-out: the interface cancels the entry from a timer thread
// once the time has passed, and reports it as vantorel::timeout_error.
//
//   pin_block PORT [seconds]
//
// The PIN block is secret: only the outcome and the block's length are printed.
#include <chrono>
#include <iostream>

#include "example.hpp"

int main(int argc, char** argv) try {
  const std::chrono::seconds timeout(argc > 2 ? std::atoi(argv[2]) : 30);
  auto terminal = example::open(argc, argv);
  vantorel::entry_request request;
  request.mode = '0';
  request.lower_bound = 4;  // digits
  request.upper_bound = 6;
  request.lines.emplace_back("Enter PIN", 10, 40);
  try {
    const vantorel::secret_bytes block = terminal.pin_block(request, timeout);
    std::cout << "PIN block received (" << block.size() << " bytes)\n";
    return 0;
  } catch (const vantorel::timeout_error& e) {
    std::cout << "entry ended with " << e.code().value() << " (" << e.code().message()
              << ") after the time-out\n";
    return e.code() == vantorel::errc::status_18 ? 0 : 1;
  }
} catch (const std::exception& e) {
  std::cerr << e.what() << '\n';
  return 1;
}
