#include "vterm/device.h"

#include <algorithm>

namespace vterm {

namespace {

constexpr std::uint8_t kDevice = 0x78;
constexpr std::uint8_t kLed = 0x76;
constexpr std::uint8_t kSound = 0x7B;
constexpr std::uint8_t kReader = 0x73;
constexpr std::uint8_t kPerform = 0x46;

}  // namespace

void DeviceModule::Install(Terminal& t) {
  terminal_ = &t;

  t.Register(kDevice, kPerform, 0x01,
             [this](Terminal&, const Command&) { return Response::Ack(version_); });
  t.Register(kDevice, kPerform, 0x02,
             [this](Terminal&, const Command&) { return Response::Ack(serial_); });
  t.Register(kDevice, kPerform, 0x03, [this](Terminal&, const Command& c) {
    const auto p = c.Params();
    if (p.size() != 8) return Response::Nak(kStatusBadParameter);
    serial_.assign(p.begin(), p.end());
    return Response::Ack();
  });
  t.Register(kDevice, kPerform, 0x20,
             [this](Terminal&, const Command&) { return Response::Ack(model_); });
  t.Register(kDevice, kPerform, 0x0A, [this](Terminal& term, const Command& c) {
    static constexpr std::uint8_t kMagic[] = {'I', 'R', 'F', 'W'};
    const auto p = c.Params();
    if (!std::equal(p.begin(), p.end(), std::begin(kMagic), std::end(kMagic))) {
      return Response::Nak(kStatusBadParameter);
    }
    if (restartAck_) {
      // The ACK leaves first; the terminal goes down a little later. Over serial the host
      // does not read it, so it waits on the line until the host's next command.
      term.Schedule(restartAfterMs_, [](Terminal& later) { later.Restart(); });
      return Response::Ack();
    }
    // A restarting terminal answers nothing.
    term.Restart();
    return Response::None();
  });
  t.Register(kLed, kPerform, 0x01, [this](Terminal&, const Command& c) {
    if (c.Params().size() != 1) return Response::Nak(kStatusBadParameter);
    led_ = c.Params()[0];
    return Response::Ack();
  });
  t.Register(kSound, kPerform, 0x01, [this](Terminal&, const Command& c) {
    if (c.Params().size() != 1) return Response::Nak(kStatusBadParameter);
    audio_ = c.Params()[0];
    return Response::Ack();
  });
  t.Register(kSound, kPerform, 0x02, [this](Terminal&, const Command& c) {
    const auto p = c.Params();
    if (p.size() != 4) return Response::Nak(kStatusBadParameter);
    tone_ = Tone{static_cast<std::uint16_t>(p[0] | (p[1] << 8)),
                 static_cast<std::uint16_t>(p[2] | (p[3] << 8))};
    ++toneCount_;
    return Response::Ack();
  });
  t.Register(kReader, kPerform, 0xE1, [this](Terminal&, const Command& c) {
    const auto p = c.Params();
    if (p.size() != 2 || p[0] != 0x01 || (p[1] != '0' && p[1] != '1')) {
      return Response::Nak(kStatusBadParameter);
    }
    secureHead_ = p[1] == '1';
    // The host's open handshake wants more than a bare ACK: answer the new state.
    return Response::Ack(Bytes{p[1]});
  });
}

void DeviceModule::SetRestartReply(bool acknowledge, int restartAfterMs) {
  auto lock = Lock();
  restartAck_ = acknowledge;
  restartAfterMs_ = restartAfterMs < 0 ? 0 : restartAfterMs;
}
bool DeviceModule::RestartAcknowledged() const {
  auto lock = Lock();
  return restartAck_;
}

void DeviceModule::Restart() {
  led_ = 0;
  audio_ = 0;
  secureHead_ = false;
}

std::string DeviceModule::Version() const {
  auto lock = Lock();
  return version_;
}
void DeviceModule::SetVersion(std::string text) {
  auto lock = Lock();
  version_ = std::move(text);
}
std::string DeviceModule::SerialNumber() const {
  auto lock = Lock();
  return serial_;
}
void DeviceModule::SetSerialNumber(std::string serial) {
  auto lock = Lock();
  serial_ = std::move(serial);
}
std::string DeviceModule::Model() const {
  auto lock = Lock();
  return model_;
}
void DeviceModule::SetModel(std::string text) {
  auto lock = Lock();
  model_ = std::move(text);
}
std::uint8_t DeviceModule::Led() const {
  auto lock = Lock();
  return led_;
}
std::uint8_t DeviceModule::Audio() const {
  auto lock = Lock();
  return audio_;
}
std::optional<Tone> DeviceModule::LastTone() const {
  auto lock = Lock();
  return tone_;
}
int DeviceModule::ToneCount() const {
  auto lock = Lock();
  return toneCount_;
}
bool DeviceModule::SecureHeadOn() const {
  auto lock = Lock();
  return secureHead_;
}
void DeviceModule::SetSecureHead(bool on) {
  auto lock = Lock();
  secureHead_ = on;
}

}  // namespace vterm
