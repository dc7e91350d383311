// The device commands: version, serial and model numbers, LED, tone, audio, restart, and
// the secure-head switch that opening a connection sends.
//
//   78 46 01           version      ACK + version text
//   78 46 02           serial       ACK + the 8-character serial number
//   78 46 03 s1..s8    set serial   ACK; any other parameter length: NAK kStatusBadParameter
//   78 46 20           model        ACK + model text
//   78 46 0A I R F W   restart      no reply; the terminal restarts (Terminal::Restart).
//                                   With SetRestartReply(true, ms): ACK, and the restart
//                                   begins `ms` later
//   76 46 01 b         LED          ACK; keeps the LED byte
//   7B 46 01 b         audio        ACK; keeps the audio byte
//   7B 46 02 fl fh dl dh  tone      ACK; keeps frequency and duration (little endian)
//   73 46 E1 01 '0'|'1'   secure head off/on: ACK + the state character
// Parameters of the wrong size (or a restart without "IRFW", a secure-head value other than
// '0' or '1') get NAK kStatusBadParameter and change nothing.
//
// Across a restart the version, serial number and model survive; LED, audio and the secure
// head return to their power-on values (0, 0, off); the last tone is kept for tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "vterm/terminal.h"

namespace vterm {

inline constexpr char kDefaultVersion[] = "VT 2.04";
inline constexpr char kDefaultSerial[] = "VT000001";
inline constexpr char kDefaultModel[] = "VT-3910";
// A terminal that acknowledges a restart goes down this long after its ACK left.
inline constexpr int kRestartAfterAckMs = 50;

struct Tone {
  std::uint16_t frequency = 0;
  std::uint16_t duration = 0;
  bool operator==(const Tone&) const = default;
};

class DeviceModule : public Module {
 public:
  void Install(Terminal& terminal) override;
  void Restart() override;

  std::string Version() const;
  void SetVersion(std::string text);
  std::string SerialNumber() const;
  void SetSerialNumber(std::string serial);
  std::string Model() const;
  void SetModel(std::string text);
  std::uint8_t Led() const;
  std::uint8_t Audio() const;
  std::optional<Tone> LastTone() const;
  int ToneCount() const;
  bool SecureHeadOn() const;
  // Handy for the card reader: switch the head without a command.
  void SetSecureHead(bool on);
  // How the restart command is answered: silently (the default) or with an ACK, the restart
  // then beginning `restartAfterMs` later.
  void SetRestartReply(bool acknowledge, int restartAfterMs = kRestartAfterAckMs);
  bool RestartAcknowledged() const;

 private:
  std::unique_lock<std::recursive_mutex> Lock() const { return terminal_->Lock(); }

  Terminal* terminal_ = nullptr;
  std::string version_ = kDefaultVersion;
  std::string serial_ = kDefaultSerial;
  std::string model_ = kDefaultModel;
  std::uint8_t led_ = 0;
  std::uint8_t audio_ = 0;
  std::optional<Tone> tone_;
  int toneCount_ = 0;
  bool secureHead_ = false;
  bool restartAck_ = false;
  int restartAfterMs_ = kRestartAfterAckMs;
};

}  // namespace vterm
