// An amount entry protected by the application's RSA key: the prompt travels through the
// private-key operation, and the PIN pad, which holds the public half, shows it only when
// it recovers it (PIN_GetNumericOrAmount() underneath).
//
//   numeric_rsa PORT KEYFILE
//
// KEYFILE holds the key's fields as "name hex" lines (make-test-key.sh writes one). The
// entered digits are secret: only their count is printed.
#include <fstream>
#include <iostream>
#include <map>
#include <span>
#include <string>

#include "example.hpp"

namespace {

// A big-endian hex number right-aligned into its field; false when it does not fit.
bool PutHex(std::span<unsigned char> field, std::string hex) {
  while (hex.size() > 2 && hex.starts_with("00")) hex.erase(0, 2);
  if (hex.size() % 2 || hex.size() / 2 > field.size()) return false;
  std::fill(field.begin(), field.end(), 0);
  const std::size_t offset = field.size() - hex.size() / 2;
  for (std::size_t i = 0; i < hex.size() / 2; ++i) {
    field[offset + i] = static_cast<unsigned char>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  }
  return true;
}

RsaPrivateKey ReadKey(const std::string& path) {
  RsaPrivateKey key{};
  const std::map<std::string, std::span<unsigned char>> fields{
      {"modulus", key.modulus},
      {"publicExponent", key.publicExponent},
      {"privateExponent", key.privateExponent},
      {"prime1", key.prime1},
      {"prime2", key.prime2},
      {"exponent1", key.exponent1},
      {"exponent2", key.exponent2},
      {"coefficient", key.coefficient}};
  std::ifstream in(path);
  std::string name, hex;
  std::size_t found = 0;
  while (in >> name >> hex) {
    const auto it = fields.find(name);
    if (it != fields.end() && PutHex(it->second, hex)) ++found;
  }
  std::fill(hex.begin(), hex.end(), '0');
  const auto first = std::find_if(std::begin(key.modulus), std::end(key.modulus),
                                  [](unsigned char b) { return b != 0; });
  if (found != fields.size() || first == std::end(key.modulus)) {
    throw std::runtime_error(path + ": not a key file of up to 1024 bits");
  }
  int top = 0;
  for (unsigned v = *first; v; v >>= 1) ++top;
  key.bits = static_cast<unsigned short>((std::end(key.modulus) - first - 1) * 8 + top);
  return key;
}

}  // namespace

int main(int argc, char** argv) try {
  if (argc < 3) {
    std::cerr << "usage: " << argv[0] << " PORT KEYFILE\n";
    return 2;
  }
  RsaPrivateKey key = ReadKey(argv[2]);
  auto terminal = example::open(argc, argv);
  vantorel::entry_request request;
  request.lower_bound = 4;
  request.upper_bound = 8;
  request.lines.emplace_back("Amount:", 10, 40);
  const auto answer = terminal.numeric_or_amount(vantorel::numeric_kind::amount, request, key,
                                                 std::chrono::seconds(60));
  vantorel::detail::wipe(&key, sizeof key);
  std::cout << "amount entered: " << answer.digits.size() << " digits\n";
  return 0;
} catch (const std::exception& e) {
  std::cerr << e.what() << '\n';
  return 1;
}
