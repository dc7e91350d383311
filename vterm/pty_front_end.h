// vterm::PtyFrontEnd: the terminal on a pseudo-terminal, standing in for its RS-232 port.
// The host opens Path() (/dev/pts/N) like a serial device. A thread feeds whatever arrives
// on the master side to the terminal and writes the terminal's messages back.
//
// The front end keeps its own descriptor of the slave open, so the master does not see a
// hang-up while no client has the port open; bytes written while nobody listens wait in
// the slave's input queue (a client's open flush drops them).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "vterm/terminal.h"

namespace vterm {

class PtyFrontEnd {
 public:
  // Throws std::runtime_error when no pseudo-terminal can be created.
  explicit PtyFrontEnd(Terminal& terminal);
  ~PtyFrontEnd();
  PtyFrontEnd(const PtyFrontEnd&) = delete;
  PtyFrontEnd& operator=(const PtyFrontEnd&) = delete;

  // The slave device path for the host to open.
  const std::string& Path() const { return path_; }
  // The port vanishes: the master is closed, so the host's reads and writes fail from now
  // on; later output of the terminal is dropped. Returns once the master is closed (from
  // the front end's own thread, e.g. in a handler fed by it: at once, closed right after).
  // Do not call it from a handler running on the terminal's timer thread.
  void Hangup();
  bool HungUp() const;
  // Bytes written to the master so far (what the host was sent).
  std::size_t BytesWritten() const;
  // Waits until everything the terminal sent, and what it still holds back for later, has
  // been written and read by the host (and the line stayed quiet for 300 ms, so that the
  // host's read of it has ended), or `timeout` passed; true when all was read. Closing
  // the master drops whatever the host has not read yet, so a program that ends calls this
  // first.
  bool Drain(std::chrono::milliseconds timeout);

 private:
  void Loop();
  void Wake();
  void CloseFds();

  Terminal& terminal_;
  std::string path_;
  int master_ = -1;
  int slaveKeeper_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;

  mutable std::mutex mutex_;
  std::condition_variable closedCv_;
  std::deque<std::uint8_t> pending_;
  bool hangupRequested_ = false;
  bool closed_ = false;
  bool stop_ = false;
  std::size_t written_ = 0;
  std::thread thread_;
};

}  // namespace vterm
