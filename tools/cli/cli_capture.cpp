// The long-running commands: a signature until the pad's OK, a card swipe. The export that
// blocks runs on a thread of its own; this thread waits for its end condition, then ends it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef VANTOREL_CLI_HAVE_PNG
#include <png.h>
#endif

#include "tools/cli/cli.h"
#include "tools/cli/cli_text.h"
#include "vantorel.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

// Why a wait ended.
enum class End { kNone, kOk, kCancel, kTimeout, kInterrupt, kStopped, kCard };

struct Waiter {
  std::mutex mutex;
  std::condition_variable cv;
  End end = End::kNone;

  void Finish(End why) {
    std::lock_guard lock(mutex);
    if (end == End::kNone) end = why;
    cv.notify_all();
  }
  End WaitUntil(Clock::time_point deadline) {
    std::unique_lock lock(mutex);
    if (!cv.wait_until(lock, deadline, [&] { return end != End::kNone; })) end = End::kTimeout;
    return end;
  }
};

Waiter* activeWaiter = nullptr;

void Interrupted() {
  if (activeWaiter != nullptr) activeWaiter->Finish(End::kInterrupt);
}

Clock::time_point Deadline(double seconds) {
  return Clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
}

// Ends the blocking export with `stop`; when it does not return soon (a start that raced the
// stop), closing the connection ends every long-running mode.
unsigned char Finish(std::future<unsigned char>& running, unsigned char (*stop)(),
                     const char* stopName) {
  const unsigned char stopRc = stop();
  if (running.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
    Brixa_Close();
    running.wait();
  } else if (stopRc != VANTOREL_SUCCESS) {
    std::fprintf(stderr, "vantorel: note: %s returned %s\n", stopName,
                 ReturnCodeText(stopRc).c_str());
  }
  return running.get();
}

// ---- Signature --------------------------------------------------------------------------

constexpr unsigned char kSignatureRegion = 1;
constexpr unsigned char kOkRegion = 2;

struct Signature {
  std::mutex mutex;
  std::vector<int> values;
  Waiter* waiter = nullptr;
};

void VANTOREL_CALL OnPoints(const int* values, int count, void* context) {
  auto* signature = static_cast<Signature*>(context);
  // Events arrive as pairs of their own: (122, region) touched, (123, key) pressed.
  if (count == 2 && values[0] == 122) {
    if (values[1] == kOkRegion) signature->waiter->Finish(End::kOk);
    return;
  }
  if (count == 2 && values[0] == 123) {
    if (values[1] == 3) signature->waiter->Finish(End::kOk);      // Enter
    if (values[1] == 1) signature->waiter->Finish(End::kCancel);  // Cancel
    if (values[1] == 2) {                                         // Backspace: start over
      std::lock_guard lock(signature->mutex);
      signature->values.clear();
    }
    return;
  }
  std::lock_guard lock(signature->mutex);
  signature->values.insert(signature->values.end(), values, values + count);
}

void DrawSignScreen() {
  Check("Zelto_BrushColor", Zelto_BrushColor(255, 255, 255));
  Check("Zelto_FillRectangle", Zelto_FillRectangle(0, 0, 319, 239));
  Check("Zelto_SetFont", Zelto_SetFont(1, 0, 0, 0, 0, 0));
  Check("Zelto_SetTextColor", Zelto_SetTextColor(0, 0, 0));
  static constexpr char kPrompt[] = "Please sign below, then press OK.";
  Check("Zelto_DrawStringInRectangle",
        Zelto_DrawStringInRectangle(10, 10, 310, 30, sizeof kPrompt - 1, kPrompt));
  Check("Zelto_SetPenColor", Zelto_SetPenColor(0, 0, 0, 2, 0, 0, 0));
  Check("Zelto_CreateRegion",
        Zelto_CreateRegion(kSignatureRegion, 2, 0, 10, 40, 309, 199, 0, nullptr));
  Check("Zelto_BrushColor", Zelto_BrushColor(220, 230, 245));
  Check("Zelto_CreateRegion", Zelto_CreateRegion(kOkRegion, 1, 0, 230, 206, 309, 233, 2,
                                                 reinterpret_cast<const unsigned char*>("OK")));
}

void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  file.close();
  if (!file) throw Failure("cannot write " + path);
}

void WritePng(const std::string& path, const std::vector<int>& values) {
#ifdef VANTOREL_CLI_HAVE_PNG
  constexpr int kSize = 512;
  const std::vector<std::uint8_t> pixels = SignatureRaster(values, kSize, kSize);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kSize;
  image.height = kSize;
  image.format = PNG_FORMAT_GRAY;
  if (png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), kSize, nullptr) == 0) {
    const std::string why = image.message;
    png_image_free(&image);
    throw Failure("cannot write " + path + ": " + why);
  }
#else
  (void)values;
  throw Failure("cannot write " + path + ": this build has no PNG support (write an .svg)");
#endif
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

int Sign(const Target& target, int format, const std::string& out, double timeoutSeconds) {
  if (format != 1 && format != 2 && format != 4) {
    throw UsageError("--format " + std::to_string(format) +
                     ": the pad sends decodable points in formats 1, 2 and 4");
  }
  const bool png = EndsWith(out, ".png");
  if (!png && !EndsWith(out, ".svg"))
    throw UsageError("--out " + out + ": name an .svg or .png file");

  Waiter waiter;
  Signature signature;
  signature.waiter = &waiter;
  activeWaiter = &waiter;
  OnInterrupt(Interrupted);
  Connection connection(target);
  DrawSignScreen();
  Check("Zelto_AddPointHandle", Zelto_AddPointHandle(OnPoints, &signature));
  std::future<unsigned char> running = std::async(std::launch::async, [&] {
    const unsigned char rc =
        Zelto_StartCapture(static_cast<unsigned char>(format), 0, 0, 0, 0, 0, 0, 0);
    waiter.Finish(End::kStopped);
    return rc;
  });
  std::printf("signing: press OK on the pad (or wait %g s)\n", timeoutSeconds);
  std::fflush(stdout);
  const End end = waiter.WaitUntil(Deadline(timeoutSeconds));
  const unsigned char startRc = Finish(running, Zelto_ExitCapture, "Zelto_ExitCapture");
  Zelto_AddPointHandle(nullptr, nullptr);
  if (startRc != VANTOREL_SUCCESS) Check("Zelto_StartCapture", startRc);
  if (end == End::kCancel) throw Failure("the signer pressed Cancel on the pad");
  if (end == End::kInterrupt) throw Failure("interrupted");

  std::vector<int> values;
  {
    std::lock_guard lock(signature.mutex);
    values = signature.values;
  }
  std::size_t points = 0;
  std::size_t strokes = 0;
  bool inStroke = false;
  for (std::size_t i = 0; i + 1 < values.size(); i += 2) {
    if (values[i] < 0) {
      inStroke = false;
      continue;
    }
    ++points;
    if (!inStroke) ++strokes;
    inStroke = true;
  }
  if (points == 0) {
    throw Failure(end == End::kTimeout ? "no signature within " +
                                             std::to_string(static_cast<int>(timeoutSeconds)) + " s"
                                       : "the pad sent no points");
  }
  if (png) {
    WritePng(out, values);
  } else {
    WriteFileText(out, SignatureSvg(values));
  }
  std::printf("signature: %zu points in %zu strokes, ended by %s, written to %s\n", points, strokes,
              end == End::kOk ? "OK" : "time-out", out.c_str());
  return 0;
}

// ---- Card -------------------------------------------------------------------------------

namespace {

struct CardWait {
  Waiter* waiter = nullptr;
  std::mutex mutex;
  CardSummary summary;
  bool haveCard = false;
  std::vector<std::string> keys;
};

CardWait* cardWait = nullptr;  // the handler's context is an int: reach the state through here

void VANTOREL_CALL OnCard(const unsigned char* data, int count, int) {
  CardWait* wait = cardWait;
  if (wait == nullptr || count <= 0) return;
  if (count == 2 && data[0] == 0x7B) {
    static const char* const kKeys[] = {"?", "Cancel", "Backspace", "Enter"};
    const char* key = kKeys[data[1] <= 3 ? data[1] : 0];
    {
      std::lock_guard lock(wait->mutex);
      wait->keys.push_back(key);
    }
    if (data[1] == 1) wait->waiter->Finish(End::kCancel);
    return;
  }
  {
    std::lock_guard lock(wait->mutex);
    wait->summary = SummariseCard(data, static_cast<std::size_t>(count));
    wait->haveCard = true;
  }
  wait->waiter->Finish(End::kCard);
}

}  // namespace

int Card(const Target& target, double timeoutSeconds) {
  Waiter waiter;
  CardWait wait;
  wait.waiter = &waiter;
  cardWait = &wait;
  activeWaiter = &waiter;
  OnInterrupt(Interrupted);
  Connection connection(target);
  Check("MSR_AddDataHandle", MSR_AddDataHandle(OnCard, 0));
  std::future<unsigned char> running = std::async(std::launch::async, [&] {
    const unsigned char rc = MSR_EnableSecureHead();
    waiter.Finish(End::kStopped);
    return rc;
  });
  std::printf("reading: swipe a card (or wait %g s)\n", timeoutSeconds);
  std::fflush(stdout);
  const End end = waiter.WaitUntil(Deadline(timeoutSeconds));
  const unsigned char enableRc = Finish(running, MSR_DisableSecureHead, "MSR_DisableSecureHead");
  if (enableRc != VANTOREL_SUCCESS) Check("MSR_EnableSecureHead", enableRc);

  std::lock_guard lock(wait.mutex);
  for (const std::string& key : wait.keys) std::printf("key: %s\n", key.c_str());
  if (end == End::kCancel) throw Failure("Cancel was pressed on the PIN pad");
  if (end == End::kInterrupt) throw Failure("interrupted");
  if (!wait.haveCard) {
    throw Failure("no card was swiped within " + std::to_string(static_cast<int>(timeoutSeconds)) +
                  " s");
  }
  const CardSummary& card = wait.summary;
  std::printf("card data: %zu bytes", card.length);
  if (card.framed) {
    std::printf(", an encrypted record\n");
    return 0;
  }
  std::printf(", tracks");
  for (const int t : card.tracks) std::printf(" %d", t);
  std::printf("\n");
  if (!card.maskedPan.empty()) std::printf("account number: %s\n", card.maskedPan.c_str());
  if (!card.name.empty()) std::printf("name: %s\n", card.name.c_str());
  if (!card.expiry.empty()) std::printf("expiry (YYMM): %s\n", card.expiry.c_str());
  return 0;
}

}  // namespace cli
