#include "support/session.h"

#include "link/hid_device.h"
#include "vterm/modules.h"

namespace support {

Session::Session(Transport transport, Timing timing) : transport_(transport), timing_(timing) {
  Brixa_SetTiming(prompt() ? VANTOREL_TIMING_PROMPT : VANTOREL_TIMING_STANDARD, 0);
  vterm::InstallAllModules(terminal_);
  if (serial()) {
    pty_ = std::make_unique<vterm::PtyFrontEnd>(terminal_);
    Brixa_MapPort(kPort, pty_->Path().c_str());
  } else if (transport == Transport::kUhid) {
    // The library keeps its system backend: it finds the device through hidraw.
    uhid_ = std::make_unique<vterm::UhidFrontEnd>(terminal_);
  } else {
    hid_ = std::make_unique<vterm::HidFrontEnd>(terminal_);
    vantorel::link::TheHidDevice().UseBackend(hid_.get());
  }
}

Session::~Session() {
  Brixa_Close();
  Brixa_SetTiming(VANTOREL_TIMING_STANDARD, 0);
  if (serial()) {
    Brixa_MapPort(kPort, nullptr);
  } else if (hid_) {
    vantorel::link::TheHidDevice().UseBackend(nullptr);
  }
}

unsigned char Session::Open() {
  const unsigned char rc = serial() ? Brixa_OpenPort(kPort, 9600, 'N', 1, 8)
                                    : Brixa_OpenHid(vterm::kVendorId, vterm::kProductId);
  Clear();
  return rc;
}

void Session::Reattach() {
  if (serial()) {
    pty_.reset();  // first: its destructor detaches the terminal's sink
    pty_ = std::make_unique<vterm::PtyFrontEnd>(terminal_);
    Brixa_MapPort(kPort, pty_->Path().c_str());
  } else if (hid_) {
    hid_->Plug();
  }
}

Bytes Session::OnlyCommand() const {
  const auto commands = Commands();
  EXPECT_EQ(commands.size(), 1u);
  return commands.empty() ? Bytes{} : commands.back();
}

std::vector<Bytes> Session::Frames() const {
  std::vector<Bytes> frames;
  for (const auto& frame : terminal_.Frames()) frames.push_back(frame.raw);
  return frames;
}

void Session::Clear() {
  terminal_.ClearFrames();
  terminal_.ClearSent();
  if (hid_) hid_->ClearReports();
  if (uhid_) uhid_->ClearReports();
}

std::string TransportName(const ::testing::TestParamInfo<Transport>& info) {
  return TransportLabel(info.param);
}

std::string TimingSuffix(Timing timing) {
  return timing == Timing::kPrompt ? "_Prompt" : "";
}

std::string TransportLabel(Transport transport) {
  switch (transport) {
    case Transport::kSerial:
      return "Serial";
    case Transport::kHid:
      return "Hid";
    case Transport::kUhid:
      return "Uhid";
  }
  return "Unknown";
}

}  // namespace support
