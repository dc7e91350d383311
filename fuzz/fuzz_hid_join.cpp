// HID report joining, with the rule for reports kept across a reopen, against raw input
// reports of any shape: count bytes that claim more than a report carries, short reads,
// read errors, reports that would overflow the caller's buffer, reports still waiting on
// the old handle when an exchange opens the device afresh.
//
// The input is a sequence of operations on one HidDevice; a small model of the documented
// rules runs beside it and every read must give exactly what the model gives:
// - input reports are joined while bit 7 of their count byte is set; a report whose count
//   claims more than 63 bytes, or that would pass maxLength, is dropped; an empty or failed
//   read ends the reply;
// - reports waiting when the device is opened again (up to 256, empty ones skipped) are kept
//   and handed to the next polling read first, never to a command's reply; a close forgets
//   them.
// - bytes handed to the kept queue go out as the device would send them, up to 256 reports;
//   sorting the kept reports offers them message by message, joined, and keeps exactly the
//   messages the decision keeps.
// And whatever the reports say, no read writes past maxLength.
#include <array>
#include <cstring>
#include <deque>

#include "fuzz_input.h"
#include "link/hid_device.h"

namespace vantorel::fuzz {
namespace {

constexpr std::size_t kReport = 65;
constexpr std::size_t kChunk = 64;
constexpr std::size_t kKeptLimit = 256;

struct Arrival {
  int got = 0;  // what the read returns: -1 an I/O error, 0 nothing, else the bytes read
  std::array<std::uint8_t, kReport> bytes{};
};

class RawBackend : public link::HidBackend {
 public:
  std::deque<Arrival> queue;
  std::deque<Arrival> afterWrite;  // arrive once a frame's last report is written
  std::vector<Bytes> written;

  bool Open(int, int) override {
    queue.clear();
    return true;
  }
  void Close() override { queue.clear(); }
  std::size_t InputReportLength() const override { return kReport; }
  std::size_t OutputReportLength() const override { return kReport; }
  bool WriteReport(const std::uint8_t* report, std::size_t length) override {
    written.emplace_back(report, report + length);
    if ((report[1] & 0x80) == 0) {
      queue.insert(queue.end(), afterWrite.begin(), afterWrite.end());
      afterWrite.clear();
    }
    return true;
  }
  int ReadReport(std::uint8_t* report, std::size_t capacity, int) override {
    if (queue.empty()) return 0;
    const Arrival a = queue.front();
    queue.pop_front();
    if (a.got > 0) Copy(report, a.bytes.data(), std::min<std::size_t>(a.got, capacity));
    return a.got;
  }
};

using Chunk = std::array<std::uint8_t, kChunk>;

// The documented behaviour, kept apart from the device's own bookkeeping.
class Model {
 public:
  std::deque<Arrival> queue;
  std::deque<Arrival> afterWrite;

  void Open() {
    if (open_) {
      while (kept_.size() < kKeptLimit && !queue.empty()) {
        const Arrival a = Pop();
        if (a.got < 2) break;
        if (a.bytes[1] == 0) continue;
        kept_.push_back(ChunkOf(a));
      }
    }
    queue.clear();
    open_ = true;
  }
  // A message put behind the kept reports, split as the device sends it, cut when full.
  void Append(const Bytes& message) {
    for (std::size_t at = 0; at < message.size() && kept_.size() < kKeptLimit; at += 63) {
      const std::size_t n = std::min<std::size_t>(63, message.size() - at);
      Chunk chunk{};
      chunk[0] = static_cast<std::uint8_t>(at + n < message.size() ? 0x80 | n : n);
      Copy(chunk.data() + 1, message.data() + at, n);
      kept_.push_back(chunk);
    }
  }
  // The kept reports message by message (up to a report without the continuation bit, or
  // the last one); `keep(i, joined)` decides for the i-th.
  template <class Keep>
  void Filter(Keep&& keep) {
    std::deque<Chunk> stays;
    std::size_t index = 0;
    while (!kept_.empty()) {
      std::deque<Chunk> run;
      do {
        run.push_back(kept_.front());
        kept_.pop_front();
      } while ((run.back()[0] & 0x80) != 0 && !kept_.empty());
      Bytes joined;
      for (const Chunk& c : run) {
        const std::size_t n = c[0] & 0x7F;
        if (n <= 63)
          joined.insert(joined.end(), c.begin() + 1, c.begin() + 1 + static_cast<long>(n));
      }
      if (keep(index++, joined)) stays.insert(stays.end(), run.begin(), run.end());
    }
    kept_ = stays;
  }
  void Close() {
    kept_.clear();
    queue.clear();
    open_ = false;
  }
  void Write() {
    queue.insert(queue.end(), afterWrite.begin(), afterWrite.end());
    afterWrite.clear();
  }
  Bytes Read(std::size_t maxLength, bool kept) {
    Bytes joined;
    for (;;) {
      Chunk chunk{};
      if (kept && !kept_.empty()) {
        chunk = kept_.front();
        kept_.pop_front();
      } else {
        if (!open_ || queue.empty()) return joined;
        const Arrival a = Pop();
        if (a.got < 2 || a.bytes[1] == 0) return joined;
        chunk = ChunkOf(a);
      }
      const std::size_t n = chunk[0] & 0x7F;
      if (n > 63 || joined.size() + n > maxLength) continue;
      joined.insert(joined.end(), chunk.begin() + 1, chunk.begin() + 1 + static_cast<long>(n));
      if ((chunk[0] & 0x80) == 0) return joined;
    }
  }

 private:
  Arrival Pop() {
    const Arrival a = queue.front();
    queue.pop_front();
    return a;
  }
  // What follows the report id, as much of it as was read.
  static Chunk ChunkOf(const Arrival& a) {
    Chunk chunk{};
    Copy(chunk.data(), a.bytes.data() + 1, std::min<std::size_t>(a.got - 1, kChunk));
    return chunk;
  }
  std::deque<Chunk> kept_;
  bool open_ = false;
};

Arrival ReadArrival(Input& in) {
  Arrival a;
  a.got = in.Byte() % (kReport + 2) - 1;
  const Bytes bytes = in.Take(a.got > 0 ? static_cast<std::size_t>(a.got) : 0);
  Copy(a.bytes.data(), bytes.data(), bytes.size());
  return a;
}

// The frame went out as counted reports: 0xBF for every full one but the last, the last
// with its count, zero padding.
void CheckWrittenFrame(const std::vector<Bytes>& reports, const Bytes& frame) {
  Bytes joined;
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const Bytes& report = reports[i];
    FUZZ_CHECK(report.size() == kReport && report[0] == 0);
    const bool last = i + 1 == reports.size();
    const std::size_t n = report[1] & 0x7F;
    FUZZ_CHECK(last ? report[1] == n && n >= 1 && n <= 63 : report[1] == 0xBF);
    joined.insert(joined.end(), report.begin() + 2, report.begin() + 2 + static_cast<long>(n));
    for (std::size_t k = 2 + n; k < kReport; ++k) FUZZ_CHECK(report[k] == 0);
  }
  FUZZ_CHECK(joined == frame);
}

void CheckRead(const CallerBuffer& reply, int got, const Bytes& expected) {
  FUZZ_CHECK(got >= 0 && static_cast<std::size_t>(got) <= reply.size());
  FUZZ_CHECK(static_cast<std::size_t>(got) == expected.size());
  FUZZ_CHECK(Equal(reply.data(), expected.data(), expected.size()));
  FUZZ_CHECK(reply.UntouchedFrom(expected.size()));
}

}  // namespace
}  // namespace vantorel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel::fuzz;
  RawBackend backend;
  Model model;
  vantorel::link::HidDevice device;
  device.UseBackend(&backend);
  Input in(data, size);
  for (int step = 0; step < 200 && !in.Empty(); ++step) {
    switch (in.Byte() % 8) {
      case 0: {  // a report arrives
        const Arrival a = ReadArrival(in);
        backend.queue.push_back(a);
        model.queue.push_back(a);
        break;
      }
      case 1: {  // a report arrives once the next frame is written
        const Arrival a = ReadArrival(in);
        backend.afterWrite.push_back(a);
        model.afterWrite.push_back(a);
        break;
      }
      case 2:  // an exchange or a reopen: the device is searched and opened afresh
        FUZZ_CHECK(device.Open(0x0ACD, 0x3910) == 1);
        model.Open();
        break;
      case 3: {  // a polling read (kept reports first) or a plain one
        const bool kept = in.Byte() & 1;
        CallerBuffer reply(in.Word() % 700);
        const int got =
            device.ReadReply(reply.data(), reply.size(), vantorel::link::Millis{10}, kept);
        CheckRead(reply, got, model.Read(reply.size(), kept));
        break;
      }
      case 4: {  // a command's whole exchange
        const Bytes frame = in.Take(in.Word() % 300);
        CallerBuffer reply(in.Word() % 700);
        backend.written.clear();
        const int got = device.Transact(0x0ACD, 0x3910, frame.data(), frame.size(), reply.data(),
                                        reply.size(), vantorel::link::Millis{10});
        model.Open();
        if (!frame.empty()) model.Write();
        CheckWrittenFrame(backend.written, frame);
        CheckRead(reply, got, model.Read(reply.size(), false));
        break;
      }
      case 5:
        device.Close();
        model.Close();
        break;
      case 6: {  // bytes around a command's reply, handed to a listening loop
        const Bytes message = in.Take(in.Word() % 600);
        device.AppendKept(message.data(), message.size());
        model.Append(message);
        break;
      }
      default: {  // the kept reports sorted message by message
        struct Sorting {
          std::uint8_t decisions;
          std::vector<Bytes> offered;
        } sorting{in.Byte(), {}};
        device.FilterKept(
            [](void* context, const std::uint8_t* message, std::size_t length) {
              auto& s = *static_cast<Sorting*>(context);
              s.offered.emplace_back(message, message + length);
              return ((s.decisions >> (s.offered.size() % 8)) & 1) != 0;
            },
            &sorting);
        std::vector<Bytes> expected;
        model.Filter([&](std::size_t i, const Bytes& joined) {
          expected.push_back(joined);
          return ((sorting.decisions >> ((i + 1) % 8)) & 1) != 0;
        });
        FUZZ_CHECK(sorting.offered == expected);
        break;
      }
    }
  }
  device.UseBackend(nullptr);
  return 0;
}
