// The library's fixed waits (the 100 ms before a command, the passes of the polling loops)
// only pace a real terminal; against the in-process one they would cap a fuzzer at a few
// executions a second. The fuzz targets are linked with --wrap for the two wait functions,
// so every call the library makes lands here instead and returns at once.
#include <chrono>

extern "C" {
// vantorel::link::Pause(std::chrono::milliseconds)
void __wrap__ZN8vantorel4link5PauseENSt6chrono8durationIlSt5ratioILl1ELl1000EEEE(
    std::chrono::milliseconds) noexcept {}
// vantorel::link::YieldBriefly()
void __wrap__ZN8vantorel4link12YieldBrieflyEv() noexcept {}
}
