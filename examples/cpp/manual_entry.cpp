// Manual card entry: the customer keys the card number and expiry on the PIN pad.
//
//   manual_entry PORT
//
// The keyed data are secret: only their length is printed.
#include <iostream>

#include "example.hpp"

int main(int argc, char** argv) try {
  auto terminal = example::open(argc, argv);
  vantorel::entry_request request;
  request.mode = 1;        // return the keyed data
  request.entry_kind = 3;  // a data-returning entry
  request.lower_bound = 12;
  request.upper_bound = 20;
  request.lines.emplace_back("Key card number", 10, 40);
  const auto data = terminal.manual_entry(request, std::chrono::seconds(60));
  std::cout << "card data keyed: " << data.size() << " bytes\n";
  return 0;
} catch (const std::exception& e) {
  std::cerr << e.what() << '\n';
  return 1;
}
