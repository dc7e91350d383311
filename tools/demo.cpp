// The demo session: the virtual terminal on a pseudo-terminal, and the library talking to
// it through its public exports only, the way an application would.
#include "tools/demo.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>

#include "vantorel.h"
#include "vterm/modules.h"
#include "vterm/pty_front_end.h"

namespace demo {

unsigned char Demo::Call(const std::string& call, unsigned char rc) const {
  std::printf("  %-58s -> %u\n", call.c_str(), static_cast<unsigned>(rc));
  // What an application can tell its user about a failure: the thread's last error.
  if (rc != VANTOREL_SUCCESS) std::printf("    why: %s\n", Brixa_GetLastErrorText());
  std::fflush(stdout);
  return rc;
}

void Demo::Say(const std::string& text) const {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

}  // namespace demo

int main(int argc, char** argv) {
  CLI::App app{"Vantorel demo: a session against the virtual terminal"};
  std::string outDir = "out";
  int port = 3;
  app.add_option("--out", outDir, "Folder for the files the demo writes")->capture_default_str();
  app.add_option("--port", port, "COM port number to map to the virtual terminal")
      ->check(CLI::Range(1, 100))
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  try {
    vterm::Terminal terminal;
    vterm::InstallAllModules(terminal);
    vterm::PtyFrontEnd pty(terminal);
    std::filesystem::create_directories(outDir);
    demo::Demo demo{terminal, outDir};

    char sdk[8] = {};
    int sdkLength = 0;
    demo.Say("Virtual terminal serving " + pty.Path());
    demo.Call("Brixa_GetSdkVersion(buffer, &length)", Brixa_GetSdkVersion(sdk, &sdkLength));
    demo.Say("  library version: " + std::string(sdk, sdkLength));
    demo.Call("Brixa_MapPort(" + std::to_string(port) + ", \"" + pty.Path() + "\")",
              Brixa_MapPort(port, pty.Path().c_str()));
    if (demo.Call("Brixa_OpenPort(" + std::to_string(port) + ", 9600, 'N', 1, 8)",
                  Brixa_OpenPort(port, 9600, 'N', 1, 8)) != VANTOREL_SUCCESS) {
      std::fprintf(stderr, "could not open the virtual terminal\n");
      return 1;
    }
    demo::RunDevice(demo);
    demo::RunSignpad(demo);
    demo::RunCardReader(demo);
    demo::RunPinPad(demo);
    demo.Say("Closing");
    demo.Call("Brixa_Close()", Brixa_Close());
    demo.Say("Files written to " + std::filesystem::absolute(outDir).string());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "demo failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
