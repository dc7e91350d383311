// What the trace costs when it is off: the exchange layer (hooks before the write and after
// the reply) against the same work without the hooks, over a HID backend that answers at
// once, so that the transport's own time does not hide the difference; and a whole export
// that returns early, whose ExportCall record is all the trace adds to it. Tracing on (to
// /dev/null) is shown for scale.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "link/command.h"
#include "link/hid_device.h"
#include "link/link_state.h"
#include "link/trace.h"
#include "vantorel.h"

namespace {

using namespace vantorel::link;

// Answers every output report at once with the 14-byte version reply.
class InstantBackend final : public HidBackend {
 public:
  bool Open(int, int) override { return true; }
  void Close() override {}
  std::size_t InputReportLength() const override { return 65; }
  std::size_t OutputReportLength() const override { return 65; }
  bool WriteReport(const std::uint8_t*, std::size_t) override {
    pending_ = true;
    return true;
  }
  int ReadReport(std::uint8_t* report, std::size_t capacity, int) override {
    if (!pending_) return 0;
    pending_ = false;
    static constexpr std::uint8_t kReply[] = {0x02, 0x08, 0x00, 0x06, 0x56, 0x54, 0x20,
                                              0x32, 0x2E, 0x30, 0x34, 0x3C, 0x94, 0x03};
    std::fill_n(report, capacity, std::uint8_t{0});
    report[1] = sizeof kReply;
    std::memcpy(report + 2, kReply, sizeof kReply);
    return 65;
  }

 private:
  bool pending_ = false;
};

InstantBackend backend;

struct HidLink {
  HidLink() {
    TheHidDevice().UseBackend(&backend);
    State().linkIsHid = 1;
    State().hidVendorId = 1;
    State().hidProductId = 2;
  }
  ~HidLink() {
    State().linkIsHid = 0;
    TheHidDevice().UseBackend(nullptr);
  }
};

std::array<std::uint8_t, 16> VersionFrame() {
  std::array<std::uint8_t, 16> frame{0x78, 0x46, 0x01};
  BuildFrame(frame.data(), 3);
  return frame;
}

// The exchange with the trace's hooks, tracing off.
void BM_ExchangeTraceOff(benchmark::State& s) {
  trace::Configure(nullptr);
  HidLink link;
  const auto frame = VersionFrame();
  std::array<std::uint8_t, kReplySize> reply{};
  for (auto _ : s) {
    benchmark::DoNotOptimize(Exchange(frame.data(), 9, reply.data(), reply.size()));
  }
}
BENCHMARK(BM_ExchangeTraceOff);

// The same exchange with the hooks compiled out: Exchange's body as it was before them.
void BM_ExchangeWithoutHooks(benchmark::State& s) {
  trace::Configure(nullptr);
  HidLink link;
  const auto frame = VersionFrame();
  std::array<std::uint8_t, kReplySize> reply{};
  for (auto _ : s) {
    std::fill_n(reply.data(), reply.size(), std::uint8_t{0});
    const int received =
        TheHidDevice().Transact(State().hidVendorId.load(), State().hidProductId.load(),
                                frame.data(), 9, reply.data(), reply.size(), kHidReplyTimeout);
    benchmark::DoNotOptimize(std::max(received, 0));
  }
}
BENCHMARK(BM_ExchangeWithoutHooks);

// Tracing on, to /dev/null: what a line costs.
void BM_ExchangeTraceOn(benchmark::State& s) {
  trace::Configure("/dev/null");
  HidLink link;
  const auto frame = VersionFrame();
  std::array<std::uint8_t, kReplySize> reply{};
  for (auto _ : s) {
    benchmark::DoNotOptimize(Exchange(frame.data(), 9, reply.data(), reply.size()));
  }
  trace::Configure(nullptr);
}
BENCHMARK(BM_ExchangeTraceOn);

// The checks alone, as every hook runs them: a relaxed load and a branch.
void BM_TraceCheckOff(benchmark::State& s) {
  trace::Configure(nullptr);
  for (auto _ : s) {
    bool on = trace::On();
    benchmark::DoNotOptimize(on);
  }
}
BENCHMARK(BM_TraceCheckOff);

// An export's record alone, against the same function without it, tracing off.
[[gnu::noinline]] std::uint8_t WithRecord(std::uint8_t code) noexcept {
  trace::ExportCall call("Bench_Export");
  if (code == 0) return call.Result(201);
  return call.Result(code);
}
[[gnu::noinline]] std::uint8_t WithoutRecord(std::uint8_t code) noexcept {
  if (code == 0) return 201;
  return code;
}

void BM_ExportCallOff(benchmark::State& s) {
  trace::Configure(nullptr);
  std::uint8_t code = 0;
  for (auto _ : s) {
    benchmark::DoNotOptimize(code);
    benchmark::DoNotOptimize(WithRecord(code));
  }
}
BENCHMARK(BM_ExportCallOff);

void BM_ExportWithoutCall(benchmark::State& s) {
  std::uint8_t code = 0;
  for (auto _ : s) {
    benchmark::DoNotOptimize(code);
    benchmark::DoNotOptimize(WithoutRecord(code));
  }
}
BENCHMARK(BM_ExportWithoutCall);

// A whole export that returns before the command helper (the link is closed): the export-call
// record at its top is all the trace adds, tracing off.
void BM_EarlyReturnExportTraceOff(benchmark::State& s) {
  trace::Configure(nullptr);
  for (auto _ : s) {
    benchmark::DoNotOptimize(Zelto_DrawLine(1, 2, 3, 4));
  }
}
BENCHMARK(BM_EarlyReturnExportTraceOff);

// The same with tracing on, to /dev/null: one line for the return code.
void BM_EarlyReturnExportTraceOn(benchmark::State& s) {
  trace::Configure("/dev/null");
  for (auto _ : s) {
    benchmark::DoNotOptimize(Zelto_DrawLine(1, 2, 3, 4));
  }
  trace::Configure(nullptr);
}
BENCHMARK(BM_EarlyReturnExportTraceOn);

}  // namespace

BENCHMARK_MAIN();
