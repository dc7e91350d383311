// Reads the card reader's settings, changes the decoding setting and puts it back.
//
//   reader_settings PORT
#include <iostream>
#include <string>

#include "example.hpp"

int main(int argc, char** argv) try {
  auto terminal = example::open(argc, argv);
  const auto firmware = terminal.secure_head_firmware();
  std::cout << "secure head firmware: " << std::string(firmware.begin(), firmware.end()) << '\n'
            << "all settings: " << terminal.all_settings().size() << " bytes\n"
            << "security level " << terminal.security_level() << ", data output format "
            << terminal.data_output_format() << '\n';
  // Setting values are characters: '0'-'4' for the decoding setting.
  const std::uint8_t decoding = terminal.decoding_setting();
  const std::uint8_t wanted = decoding == '2' ? '3' : '2';
  std::cout << "decoding setting " << decoding << '\n';
  terminal.set_decoding_setting(wanted);
  const std::uint8_t changed = terminal.decoding_setting();
  terminal.set_decoding_setting(decoding);
  std::cout << "changed to " << changed << ", then back to " << decoding << '\n';
  return changed == wanted ? 0 : 1;
} catch (const std::exception& e) {
  std::cerr << e.what() << '\n';
  return 1;
}
