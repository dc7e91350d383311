// The command-line tool's commands and what they share: the connection the options name, and
// failures that end the run with one line naming the cause.
#pragma once

#include <stdexcept>
#include <string>

namespace cli {

// Ends the run: main prints "vantorel: <what>" on one line and exits with 1.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A command line the tool cannot act on (an unknown name, a value out of range, options that
// contradict each other): main prints the line with a pointer to --help and exits with 2.
struct UsageError : Failure {
  using Failure::Failure;
};

// The terminal's USB ids.
inline constexpr int kVendorId = 0x0ACD;
inline constexpr int kProductId = 0x3910;

struct Target {
  std::string port;  // "COM3" or a device path; empty with hid
  bool hid = false;
  int baud = 9600;
  std::string line = "8N1";  // data bits, parity, stop bits
  int vendorId = kVendorId;
  int productId = kProductId;
};

// Opens the connection the options name; closes it when it goes out of scope. A failed open
// throws a Failure that says why: missing device, no permission, in use, no answer.
class Connection {
 public:
  explicit Connection(const Target& target);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
};

// Throws a Failure "<call> returned <code> (<meaning>)" unless `rc` is 1; where the library
// knows more about the cause than the code says, that follows after ": ".
void Check(const std::string& call, unsigned char rc);

// Progress of a command that sends many commands (a serial command takes 0.65 s under the
// standard timing): "<what>: <done>/<total>" on one line of standard error, rewritten in
// place, when standard error is a terminal; nothing otherwise, so that piped output stays
// as it was.
class Progress {
 public:
  Progress(std::string what, int total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Step();

 private:
  std::string what_;
  int total_;
  int done_ = 0;
  bool shown_;
};

// ---- Platform half (cli_posix.cpp) ------------------------------------------------------

// The device a --port names: COMn is /dev/ttyS<n-1> (the library's default map), anything
// else is a path. `comNumber` is n, or 0 for a path.
std::string PortDevice(const std::string& port, int& comNumber);
// Throws a Failure when the device cannot be opened as a serial port by this user, or is in
// use by another program.
void CheckSerialDevice(const std::string& path);
// Throws a Failure when no hidraw node carries the ids, or none of them can be opened;
// returns the node's path otherwise.
std::string CheckHidDevice(int vendorId, int productId);
// `vantorel list`: serial ports and hidraw nodes with access; returns the exit status.
int ListDevices(const std::string& devRoot, const std::string& sysRoot);
// Whether standard error is a terminal (progress lines go there only then).
bool ErrorIsTerminal();
// Ends the wait of a long-running command on SIGINT/SIGTERM: `onSignal` runs on a thread of
// its own (never in the signal handler).
void OnInterrupt(void (*onSignal)());

// ---- Commands (each returns the exit status or throws a Failure) ------------------------

int Info(const Target& target);
int Screen(const Target& target);
int Keys(const Target& target, bool clear, bool invalidate, double waitSeconds);
int SettingsList();
int SettingsGet(const Target& target, const std::string& name);
int SettingsSet(const Target& target, const std::string& name, const std::string& value);
int Sign(const Target& target, int format, const std::string& out, double timeoutSeconds);
int Card(const Target& target, double timeoutSeconds);
// `rounds` of harmless queries under the standard timing, then under the prompt one (with
// `gapMs` between commands); compares the answers and prints the time per command in each.
int Bench(const Target& target, int rounds, int gapMs);

}  // namespace cli
