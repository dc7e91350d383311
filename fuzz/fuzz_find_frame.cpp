// Finding a reply frame in what a read collected (FindFrame): how a command's reply is
// carved out of noise and how a late reply is recognised.
//
// Properties: a frame found lies inside the bytes, starts with STX, has the length its
// header states plus six, matching XOR and sum over its content, and ETX; no earlier start
// holds a complete frame; and a frame built by BuildFrame and put behind noise is found, at
// the latest where it was put (exactly there when the noise holds no STX).
//
// Input: the noise length byte, the noise, then the frame's content.
#include "fuzz_input.h"
#include "link/frame.h"

namespace vantorel::fuzz {
namespace {

bool CompleteAt(const Bytes& b, std::size_t start) {
  if (start + 6 > b.size() || b[start] != 0x02) return false;
  const std::size_t n = b[start + 1] | std::size_t{b[start + 2]} << 8;
  if (start + 6 + n > b.size()) return false;
  std::uint8_t x = 0;
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    x ^= b[start + 3 + i];
    sum = static_cast<std::uint8_t>(sum + b[start + 3 + i]);
  }
  return b[start + 3 + n] == x && b[start + 4 + n] == sum && b[start + 5 + n] == 0x03;
}

void CheckFound(const Bytes& bytes) {
  link::FrameSpan span{12345, 12345};
  const bool found = link::FindFrame(bytes.data(), bytes.size(), span);
  std::size_t first = bytes.size();
  for (std::size_t start = 0; start < bytes.size(); ++start) {
    if (CompleteAt(bytes, start)) {
      first = start;
      break;
    }
  }
  FUZZ_CHECK(found == (first < bytes.size()));
  if (!found) return;
  FUZZ_CHECK(span.offset == first);
  FUZZ_CHECK(span.length == 6 + (bytes[first + 1] | std::size_t{bytes[first + 2]} << 8));
  FUZZ_CHECK(span.offset + span.length <= bytes.size());
}

}  // namespace
}  // namespace vantorel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel::fuzz;
  // The bytes as they stand.
  CheckFound(Bytes(data, data + size));

  // Noise, then a frame the library's own builder made.
  Input in(data, size);
  const Bytes noise = in.Take(in.Byte());
  const Bytes content = in.Take(in.Left());
  Bytes bytes = noise;
  bytes.resize(noise.size() + content.size() + 6);
  Copy(bytes.data() + noise.size(), content.data(), content.size());
  FUZZ_CHECK(vantorel::link::BuildFrame(bytes.data() + noise.size(), content.size()) ==
             content.size() + 6);
  vantorel::link::FrameSpan span;
  FUZZ_CHECK(vantorel::link::FindFrame(bytes.data(), bytes.size(), span));
  FUZZ_CHECK(span.offset <= noise.size());
  bool stxInNoise = false;
  for (std::uint8_t b : noise) stxInNoise = stxInNoise || b == 0x02;
  if (!stxInNoise) FUZZ_CHECK(span.offset == noise.size() && span.length == content.size() + 6);
  CheckFound(bytes);
  return 0;
}
