#include <chrono>
#include <cstdio>
#include <string>

#include "tools/demo.h"
#include "vantorel.h"

namespace demo {
namespace {

// Reads one of the terminal's texts and prints it.
void ShowText(const Demo& demo, const char* name, unsigned char(VANTOREL_CALL* read)(char*, int*)) {
  char buffer[512] = {};
  int length = 0;
  if (demo.Call(std::string(name) + "(buffer, &length)", read(buffer, &length)) ==
      VANTOREL_SUCCESS) {
    demo.Say("    \"" + std::string(buffer, static_cast<std::size_t>(length)) + "\"");
  }
}

// Milliseconds per Brixa_GetVersion over `count` calls in the timing profile in force.
double MsPerCommand(int count) {
  char buffer[512];
  int length = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) Brixa_GetVersion(buffer, &length);
  const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / count;
}

void ShowTiming(const Demo& demo, const char* profile, double ms) {
  char line[96];
  std::snprintf(line, sizeof line, "    %s timing: %.2f ms per Brixa_GetVersion", profile, ms);
  demo.Say(line);
}

}  // namespace

void RunDevice(Demo& demo) {
  demo.Say("Device");
  ShowText(demo, "Brixa_GetVersion", Brixa_GetVersion);
  ShowText(demo, "Brixa_GetModelNumber", Brixa_GetModelNumber);
  ShowText(demo, "Brixa_GetSerialNumber", Brixa_GetSerialNumber);
  demo.Call("Brixa_SetSerialNumber(\"DEMO0042\", 8)", Brixa_SetSerialNumber("DEMO0042", 8));
  ShowText(demo, "Brixa_GetSerialNumber", Brixa_GetSerialNumber);
  demo.Call("Brixa_ControlLED(1, 3)", Brixa_ControlLED(1, 3));
  demo.Call("Brixa_GenerateTone(1000, 500)", Brixa_GenerateTone(1000, 500));
  demo.Call("Brixa_ControlAudio(1)", Brixa_ControlAudio(1));
  demo.Call("Brixa_ControlLED(9, 0)   (a selector above 4)", Brixa_ControlLED(9, 0));

  demo.Say("Timing: the same command in both profiles (the bytes on the wire are the same)");
  ShowTiming(demo, "standard", MsPerCommand(2));
  demo.Call("Brixa_SetTiming(VANTOREL_TIMING_PROMPT, 0)",
            Brixa_SetTiming(VANTOREL_TIMING_PROMPT, 0));
  ShowTiming(demo, "prompt", MsPerCommand(20));
  demo.Call("Brixa_SetTiming(VANTOREL_TIMING_STANDARD, 0)",
            Brixa_SetTiming(VANTOREL_TIMING_STANDARD, 0));
}

}  // namespace demo
