// Device management cases both suites run: the native integration tests over both
// transports and the Windows suite through the DLL under wine. Plain C++ and the public
// header only, so that the cross-compiled suite includes it as it is.
#pragma once

#include <cstdint>
#include <vector>

#include "vantorel.h"

namespace device_cases {

using Bytes = std::vector<std::uint8_t>;

// The getters: their state key in the virtual terminal, the export, the command it sends.
struct TextRead {
  const char* key;
  unsigned char(VANTOREL_CALL* read)(char*, int*);
  Bytes command;
};
inline const TextRead kTextReads[] = {
    {"version", Brixa_GetVersion, {0x78, 0x46, 0x01}},
    {"serial", Brixa_GetSerialNumber, {0x78, 0x46, 0x02}},
    {"model", Brixa_GetModelNumber, {0x78, 0x46, 0x20}},
};

// Setters and their exact command bytes. Byte arguments of stdcall functions travel in
// 32-bit slots: mixed byte and int arguments must arrive intact.
struct Setting {
  const char* what;
  unsigned char (*call)();
  Bytes command;
};
inline const Setting kSettings[] = {
    {"LED 1,3", [] { return Brixa_ControlLED(1, 3); }, {0x76, 0x46, 0x01, 0x45}},
    {"LED 0,0", [] { return Brixa_ControlLED(0, 0); }, {0x76, 0x46, 0x01, 0x30}},
    {"LED 4,4", [] { return Brixa_ControlLED(4, 4); }, {0x76, 0x46, 0x01, 0x77}},
    {"LED 2,1", [] { return Brixa_ControlLED(2, 1); }, {0x76, 0x46, 0x01, 0x64}},
    {"LED 3,2", [] { return Brixa_ControlLED(3, 2); }, {0x76, 0x46, 0x01, 0x56}},
    {"tone 1000,500",
     [] { return Brixa_GenerateTone(1000, 500); },
     {0x7B, 0x46, 0x02, 0xE8, 0x03, 0xF4, 0x01}},
    {"tone 6,0", [] { return Brixa_GenerateTone(6, 0); }, {0x7B, 0x46, 0x02, 6, 0, 0, 0}},
    {"tone 39999,65535",
     [] { return Brixa_GenerateTone(39999, 65535); },
     {0x7B, 0x46, 0x02, 0x3F, 0x9C, 0xFF, 0xFF}},
    {"audio", [] { return Brixa_ControlAudio(0xAB); }, {0x7B, 0x46, 0x01, 0xAB}},
};
// What the terminal holds after kSettings, as the Windows suite's console shows it.
inline constexpr const char* kAudioAfterSettings = "AB";
inline constexpr const char* kToneAfterSettings = "39999 65535";

// Arguments refused with 99 before anything is sent.
struct BadArgument {
  const char* what;
  unsigned char (*call)();
};
inline const BadArgument kBadArguments[] = {
    {"serial length 7", [] { return Brixa_SetSerialNumber("ABCD1234", 7); }},
    {"serial text 7", [] { return Brixa_SetSerialNumber("ABCD123", 8); }},
    {"serial text 9", [] { return Brixa_SetSerialNumber("ABCD12345", 8); }},
    {"serial null", [] { return Brixa_SetSerialNumber(nullptr, 8); }},
    {"LED 5,0", [] { return Brixa_ControlLED(5, 0); }},
    {"LED 0,5", [] { return Brixa_ControlLED(0, 5); }},
    {"tone 5", [] { return Brixa_GenerateTone(5, 100); }},
    {"tone 40000", [] { return Brixa_GenerateTone(40000, 100); }},
    {"tone -1", [] { return Brixa_GenerateTone(1000, -1); }},
    {"tone 65536", [] { return Brixa_GenerateTone(1000, 65536); }},
    {"version null buffer",
     [] {
       int length = 0;
       return Brixa_GetVersion(nullptr, &length);
     }},
    {"version null length",
     [] {
       char buffer[8];
       return Brixa_GetVersion(buffer, nullptr);
     }},
    {"serial null buffer",
     [] {
       int length = 0;
       return Brixa_GetSerialNumber(nullptr, &length);
     }},
    {"model null length",
     [] {
       char buffer[8];
       return Brixa_GetModelNumber(buffer, nullptr);
     }},
    {"sdk null",
     [] {
       int length = 0;
       return Brixa_GetSdkVersion(nullptr, &length);
     }},
};

// The restart: its command bytes (the terminal restarts and comes back by itself).
inline const Bytes kRestartCommand{0x78, 0x46, 0x0A, 0x49, 0x52, 0x46, 0x57};

}  // namespace device_cases
