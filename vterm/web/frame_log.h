// vterm::web::FrameLog: the frame log as the browser view shows it. Each frame the terminal
// received and each message it sent becomes one decoded entry: direction, class, function
// and sub-command with the command's name from the library's command catalogue, or the
// reply's status, length, and the data bytes in hex.
//
// Secrets never reach the page: the bytes of key and encrypted-data loads, the account
// number of a PIN entry, entry answers (PIN blocks, keyed numbers, encrypted data), card
// data and anything else pushed that is not a pen packet, a pad event or a refusal are
// replaced by their count ("hidden").
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>

#include "vterm/terminal.h"

namespace vterm::web {

class FrameLog {
 public:
  // A frame from the host. Remembers its command, so that its reply is judged by it.
  nlohmann::json Frame(const ReceivedFrame& frame);
  // A message of the terminal.
  nlohmann::json Sent(const SentMessage& message);

 private:
  std::map<std::uint64_t, CommandKey> commands_;  // recent frames, by sequence number
};

}  // namespace vterm::web
