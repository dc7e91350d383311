#include "vterm_console.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace wintest {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool AppendToFile(const std::string& path, const std::string& text) {
  const HANDLE h = ::CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(h);
  return ok && written == text.size();
}

std::string ReadWholeFile(const std::string& path) {
  const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  ::CloseHandle(h);
  return out;
}

}  // namespace

VtermConsole& VtermConsole::Instance() {
  static VtermConsole console;
  return console;
}

VtermConsole::VtermConsole()
    : commandsPath_(Env("VANTOREL_VTERM_COMMANDS")), repliesPath_(Env("VANTOREL_VTERM_REPLIES")) {}

std::string VtermConsole::Execute(const std::string& line) {
  if (!Available()) {
    ADD_FAILURE() << "no virtual terminal console (run the suite through scripts/wine-tests.sh)";
    return {};
  }
  // The console answers an unknown command with one error line naming it: sent right
  // after `line`, it marks where the reply to `line` ends.
  const std::string marker = "end-of-reply-" + std::to_string(++marker_);
  const std::string end = "error: unknown command " + marker;
  const std::size_t start = ReadWholeFile(repliesPath_).size();
  if (!AppendToFile(commandsPath_, line + "\n" + marker + "\n")) {
    ADD_FAILURE() << "cannot write the console's command file";
    return {};
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string all = ReadWholeFile(repliesPath_);
    if (all.size() > start) {
      const std::size_t at = all.find(end, start);
      if (at != std::string::npos) return all.substr(start, at - start);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ADD_FAILURE() << "the virtual terminal's console did not answer: " << line;
  return {};
}

std::vector<Frame> VtermConsole::Frames() {
  std::vector<Frame> frames;
  std::istringstream lines(Execute("frames"));
  for (std::string line; std::getline(lines, line);) {
    // "<seq> <state> [long] <hex bytes>"
    std::istringstream words(line);
    std::string seq, state;
    words >> seq >> state;
    std::string rest;
    std::getline(words, rest);
    if (rest.rfind(" long ", 0) == 0) rest.erase(0, 5);
    frames.push_back(Frame{state == "ok", ParseHex(rest)});
  }
  return frames;
}

std::vector<Bytes> VtermConsole::Commands() {
  std::vector<Bytes> commands;
  for (const Frame& f : Frames()) {
    if (!f.valid || f.raw.size() < 6) continue;
    // Short frame: STX, two length bytes, content, XOR, sum, ETX.
    commands.emplace_back(f.raw.begin() + 3, f.raw.end() - 3);
  }
  return commands;
}

void VtermConsole::Clear() {
  Execute("normal");
  Execute("clear");
}

std::string VtermConsole::State(const std::string& key) {
  std::istringstream lines(Execute("state"));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

bool VtermConsole::WaitForCommands(const Bytes& prefix, std::size_t count, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    std::size_t found = 0;
    for (const Bytes& c : Commands()) {
      if (c.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), c.begin())) ++found;
    }
    if (found >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

Bytes ParseHex(const std::string& text) {
  Bytes bytes;
  std::istringstream words(text);
  for (std::string w; words >> w;) {
    bytes.push_back(static_cast<std::uint8_t>(std::strtoul(w.c_str(), nullptr, 16)));
  }
  return bytes;
}

Bytes Framed(const Bytes& content) {
  Bytes frame{0x02, static_cast<std::uint8_t>(content.size() & 0xFF),
              static_cast<std::uint8_t>(content.size() >> 8)};
  std::uint8_t x = 0;
  std::uint8_t sum = 0;
  for (std::uint8_t b : content) {
    frame.push_back(b);
    x ^= b;
    sum = static_cast<std::uint8_t>(sum + b);
  }
  frame.push_back(x);
  frame.push_back(sum);
  frame.push_back(0x03);
  return frame;
}

}  // namespace wintest
