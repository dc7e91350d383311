// The seeded scenario runner: the real exports, called from several threads, against a
// terminal that answers when the seed says (split, late, behind pen packets, together with
// card data or an entry's answer). Each scenario kind is one function in the table below;
// a seed drives its choices, so a failing seed replays the same interleaving:
//   VANTOREL_SCENARIO=<kind>/<Serial|Hid>/<seed> scenario_tests --gtest_filter='Replay.*'
// After every scenario the invariants are checked: every call returned within its bound,
// every pen point reached the handler once and in order, card data only the card-data
// handler and once, an entry's answer only its entry, every reply only its own call, no
// secret in the trace or the command buffer, no mode left claimed.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/link_state.h"
#include "link/modes.h"
#include "link/reply_ownership.h"
#include "link/trace.h"
#include "scenario/rude_terminal.h"
#include "scenario/scheduling.h"
#include "vantorel.h"
#include "vterm/signpad.h"

namespace scenario {
namespace {

using namespace std::chrono_literals;
using vterm::AckFrame;
using vterm::NakFrame;

// ---- Secrets: marker byte strings searched for in the trace and the command buffer -----
const std::string kPinBlockMarker = "\xA7Q9PINBLKZ";
const std::string kTrackMarker = "Q9TRACKDATAZ";
const std::string kAccountMarker = "4929371605829934";  // sent in the PIN entry's command

Bytes B(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

std::string HexOf(const std::uint8_t* p, std::size_t n) {
  static const char* d = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    if (i != 0) out += ' ';
    out += d[p[i] >> 4];
    out += d[p[i] & 15];
  }
  return out;
}

bool Contains(const Bytes& hay, const std::string& needle) {
  const Bytes n(needle.begin(), needle.end());
  return std::search(hay.begin(), hay.end(), n.begin(), n.end()) != hay.end();
}

// ---- Pen packets (format 1: absolute points, 0x9C point, 0x8C pen-up) --------------------
Bytes PenPacket(int x, int y) {
  return {0x9C, static_cast<std::uint8_t>(((x >> 7) & 7) << 3 | ((y >> 7) & 7)),
          static_cast<std::uint8_t>(x & 0x7F), static_cast<std::uint8_t>(y & 0x7F), 0};
}

// ---- One run --------------------------------------------------------------------------
class Run;
Run* current = nullptr;

class Run {
 public:
  Run(Wire wire, std::uint64_t seed) : term(wire, seed), seed_(seed) {
    current = this;
    tracePath_ = "/tmp/vantorel-scenario-" + std::to_string(::getpid()) + ".trace";
    std::remove(tracePath_.c_str());
    vantorel::link::trace::Configure(tracePath_.c_str());
    Zelto_AddPointHandle(&OnPoints, this);
    MSR_AddDataHandle(&OnCard, 0);
    auto& e = term.engine();
    // Replies with payloads that say which command they answer, each issued once.
    e.Register(0x78, 0x46, 0x01, [this](vterm::Terminal&, const vterm::Command&) {
      std::lock_guard lock(m_);
      char text[16];
      std::snprintf(text, sizeof text, "VER-%06d", ++versionCount_);
      versionsIssued_.insert(text);
      return vterm::Response::Ack(std::string_view(text));
    });
    e.Register(0x7A, 0x46, 0x17, [this](vterm::Terminal&, const vterm::Command&) {
      std::lock_guard lock(m_);
      const std::uint32_t v = 0x5C000000u + ++countCount_;
      countsIssued_.insert(v);
      return vterm::Response::Ack(
          Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
    });
    // The pen is the scenario's: the pad only acknowledges the start.
    e.Register(0x7A, 0x46, 0x10,
               [](vterm::Terminal&, const vterm::Command&) { return vterm::Response::Ack(); });
    // Entries are acknowledged; their answers come from the scenario.
    for (std::uint8_t sub : {0x07, 0x25}) {
      e.Register(0x75, 0x46, sub,
                 [](vterm::Terminal&, const vterm::Command&) { return vterm::Response::Ack(); });
    }
    e.Register(0x75, 0x46, 0x09, [this](vterm::Terminal&, const vterm::Command&) {
      term.Send(NakFrame(0x18));  // the entry ends as cancelled; the cancel has no reply
      return vterm::Response::None();
    });
    politeReplies = rng()() % 2 == 0;
    SetPlan({});
  }

  ~Run() {
    Zelto_AddPointHandle(nullptr, nullptr);
    MSR_AddDataHandle(nullptr, 0);
    vantorel::link::trace::Configure(nullptr);
    std::remove(tracePath_.c_str());
    current = nullptr;
  }

  RudeTerminal term;
  bool politeReplies = true;
  std::mt19937_64& rng() { return term.rng(); }
  std::uint64_t Seed() const { return seed_; }
  // Called from the scenario's thread and from reply plans on the terminal's thread.
  int Pick(int lo, int hi) {
    std::lock_guard lock(pickMutex_);
    return lo + static_cast<int>(pick_() % (hi - lo + 1));
  }

  void Fail(const std::string& what) {
    std::lock_guard lock(m_);
    failures_.push_back(what);
  }
  std::vector<std::string> Failures() const {
    std::lock_guard lock(m_);
    return failures_;
  }

  // ---- Replies: by default each leaves at once or, seeded, a little late or split -----
  // `special` may take a reply over (return true) before the default applies.
  using Special = std::function<bool(RudeTerminal&, const vterm::Command&, const Bytes&)>;
  void SetPlan(Special special) {
    term.SetReplyPlan([this, special](RudeTerminal& t, const vterm::Command& c, const Bytes& r) {
      if (special && special(t, c, r)) return;
      const int choice = static_cast<int>(t.rng()() % 4);
      if (politeReplies || choice == 0 || r.size() < 4) {
        t.Send(r);
      } else if (choice == 1) {
        t.Send(r, static_cast<int>(t.rng()() % 40));
      } else {
        // Split anywhere after its first two bytes (a lone first byte is a complete answer
        // on the serial line), the rest a moment later.
        const std::size_t at = 2 + t.rng()() % (r.size() - 2);
        t.Send(Bytes(r.begin(), r.begin() + static_cast<long>(at)), 0, true);
        t.Send(Bytes(r.begin() + static_cast<long>(at), r.end()), static_cast<int>(t.rng()() % 25));
      }
    });
  }
  // Holds the next reply to a command with this key until Release().
  void HoldNext(std::uint8_t cls, std::uint8_t fn, std::uint8_t sub) {
    std::lock_guard lock(m_);
    holdKey_ = {cls, fn, sub};
    holding_ = true;
    SetPlan([this](RudeTerminal&, const vterm::Command& c, const Bytes& r) {
      std::lock_guard lock(m_);
      if (!holding_ || c.Key() != holdKey_) return false;
      held_ = r;
      holding_ = false;
      hasHeld_ = true;
      return true;
    });
  }
  bool WaitHeld(std::chrono::milliseconds timeout) {
    return WaitUntil(
        [this] {
          std::lock_guard lock(m_);
          return hasHeld_;
        },
        timeout);
  }
  void Release() {
    std::lock_guard lock(m_);
    if (hasHeld_) term.Send(held_);
    hasHeld_ = false;
  }

  // ---- Calls on their own threads, under a watchdog ----------------------------------
  struct Call {
    std::string name;
    std::thread thread;
    std::atomic<bool> done{false};
    std::atomic<int> rc{-1};
    std::uint64_t cpuNs = 0;
  };
  std::shared_ptr<Call> Start(const std::string& name, std::function<unsigned char()> fn) {
    auto call = std::make_shared<Call>();
    call->name = name;
    call->thread = std::thread([call, fn] {
      timespec a{}, b{};
      ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
      call->rc = fn();
      ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
      call->cpuNs = static_cast<std::uint64_t>((b.tv_sec - a.tv_sec) * 1000000000LL +
                                               (b.tv_nsec - a.tv_nsec));
      call->done = true;
    });
    calls_.push_back(call);
    return call;
  }
  // The call's code once it returned; a call that takes longer than `bound` is a failure
  // (and is freed by closing the connection).
  int Finish(const std::shared_ptr<Call>& call, std::chrono::milliseconds bound = 3000ms) {
    if (!WaitUntil([&] { return call->done.load(); }, bound)) {
      Fail(call->name + " did not return within " + std::to_string(bound.count()) + " ms");
      Brixa_Close();
      if (!WaitUntil([&] { return call->done.load(); }, 10s)) {
        Fail(call->name + " hangs even after Brixa_Close");
        std::fflush(nullptr);
        std::abort();
      }
    }
    if (call->thread.joinable()) call->thread.join();
    return call->rc;
  }
  int Now(const std::string& name, std::function<unsigned char()> fn,
          std::chrono::milliseconds bound = 3000ms) {
    return Finish(Start(name, std::move(fn)), bound);
  }
  void Expect(int rc, int want, const std::string& what) {
    if (rc != want)
      Fail(what + " returned " + std::to_string(rc) + ", expected " + std::to_string(want));
  }

  template <class P>
  static bool WaitUntil(P&& predicate, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (!predicate()) {
      if (Clock::now() >= end) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  static bool WaitBusy(int count) {
    return WaitUntil([count] { return vantorel::link::State().linkBusy.load() >= count; }, 500ms);
  }

  // ---- The pen ------------------------------------------------------------------------
  // Sends `n` points (now and then a pen-up) as the pad does: over serial a byte stream,
  // over HID messages of at most 12 packets.
  void Pen(int n, int delayMs = 0, bool afterPrevious = false) {
    Bytes stream;
    for (int i = 0; i < n; ++i) {
      std::lock_guard lock(m_);
      const int id = nextPoint_++;
      if (id % 9 == 8) {
        stream.insert(stream.end(), {0x8C, 0, 0, 0, 0});
        penSent_.insert(penSent_.end(), {-1, -1});
      } else {
        const Bytes p = PenPacket(id % 1024, (id / 1024) % 1024);
        stream.insert(stream.end(), p.begin(), p.end());
        penSent_.insert(penSent_.end(), {id % 1024, (id / 1024) % 1024});
      }
    }
    const std::size_t piece = term.wire() == Wire::kHid ? 60 : stream.size();
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      const std::size_t end = std::min(stream.size(), at + piece);
      term.Send(
          Bytes(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(end)),
          at == 0 ? delayMs : 0, false, afterPrevious);
    }
  }
  // Pen packets for `ms` milliseconds, four every 5 ms: a pen that keeps moving.
  void PenStream(int ms) {
    for (int t = 0; t < ms; t += 5) Pen(4, 5, true);
  }
  // Serial: every point sent was delivered. HID: every pen report was read (the loop
  // batches points and hands a short stroke over only at its end).
  bool WaitPoints(std::chrono::milliseconds timeout = 2000ms) {
    if (term.wire() == Wire::kHid) return WaitUntil([this] { return term.AllRead(); }, timeout);
    return WaitUntil(
        [this] {
          std::lock_guard lock(m_);
          return penGot_.size() >= penSent_.size();
        },
        timeout);
  }
  void AllowPenLoss() { penLossAllowed_ = true; }

  // ---- Card data and entry answers ----------------------------------------------------
  // Plain track data carrying a marker and its number.
  Bytes Card() {
    std::lock_guard lock(m_);
    const int id = ++cardCount_;
    cardsSent_.push_back(id);
    return B("%B" + kTrackMarker + "#" + std::to_string(1000 + id) + "^SCENARIO?\n;" +
             kTrackMarker + "=" + std::to_string(1000 + id) + "?\n");
  }
  void CardAtMostOnce(int id) { cardsAtMostOnce_.insert(id); }
  static Bytes PinAnswer() { return AckFrame(B(kPinBlockMarker)); }
  bool WaitCards(std::size_t n, std::chrono::milliseconds timeout = 3000ms) {
    return WaitUntil(
        [&] {
          std::lock_guard lock(m_);
          return cardsGot_.size() >= n;
        },
        timeout);
  }

  // ---- What calls received --------------------------------------------------------------
  void CheckVersion(const char* text, int length) {
    std::lock_guard lock(m_);
    const std::string got(text, static_cast<std::size_t>(std::max(length, 0)));
    if (versionsIssued_.count(got) == 0 || !versionsUsed_.insert(got).second) {
      failures_.push_back("Brixa_GetVersion received a reply not its own: " + got);
    }
  }
  void CheckCount(unsigned value) {
    std::lock_guard lock(m_);
    if (countsIssued_.count(value) == 0 || !countsUsed_.insert(value).second) {
      failures_.push_back("Zelto_GetPointCount received a value not its own: " +
                          std::to_string(value));
    }
  }
  unsigned char Version() {
    char text[512] = {};
    int length = 0;
    const unsigned char rc = Brixa_GetVersion(text, &length);
    if (rc == 1) CheckVersion(text, length);
    return rc;
  }
  unsigned char PointCount() {
    unsigned value = 0;
    const unsigned char rc = Zelto_GetPointCount(&value);
    if (rc == 1) CheckCount(value);
    return rc;
  }
  // An ordinary command chosen by the seed.
  unsigned char Ordinary(int which) {
    switch (which % 4) {
      case 0:
        return Version();
      case 1:
        return PointCount();
      case 2:
        return Zelto_DrawLine(10, 10, 200, 100);
      default:
        return Zelto_ClearSignature();
    }
  }
  // The PIN entry: its result must be the PIN block marker.
  // The account number goes out in the entry's command: with `account`, the marker.
  unsigned char PinEntry(bool account = false) {
    std::array<unsigned char, 512> result{};
    int length = 0;
    PinEntryRequest request{};
    request.result = result.data();
    request.resultLength = &length;
    request.mode = '0';
    request.upperBound = 12;
    request.lowerBound = 4;
    request.accountNumber = account ? kAccountMarker.c_str() : "";
    const unsigned char rc = PIN_GetPINBlock(request);
    if (rc == 1 && std::string(reinterpret_cast<char*>(result.data()),
                               static_cast<std::size_t>(length)) != kPinBlockMarker) {
      Fail("PIN_GetPINBlock returned data that is not its answer (" + std::to_string(length) +
           " bytes)");
    }
    if (rc == 1) entryAnswers_++;
    return rc;
  }
  unsigned char EncryptedEntry() {
    std::array<unsigned char, 512> result{};
    int length = 0;
    PinEntryRequest request{};
    request.result = result.data();
    request.resultLength = &length;
    request.upperBound = 8;
    request.lowerBound = 1;
    return PIN_GetEncryptedData(1, request);
  }
  // The head switch commands the terminal received: the last must be the switch-off.
  void CheckHeadOff() {
    int last = -1;
    for (const auto& c : term.Commands()) {
      if (c.size() == 5 && c[0] == 0x73 && c[1] == 0x46 && c[2] == 0xE1) last = c[4];
    }
    if (last == '1') Fail("the secure head was left switched on");
  }

  // ---- The invariants ------------------------------------------------------------------
  void Finish() {
    // Every call returned (a blocking one was ended by the scenario).
    for (auto& call : calls_) Finish(call, 3000ms);
    term.Drain();
    auto& state = vantorel::link::State();
    if (state.captureActive || state.secureHeadActive || state.pinEntryActive ||
        state.encryptedEntryActive || state.linkBusy.load() != 0 || state.capture.Claimed() ||
        state.pinEntry.Claimed() || state.encryptedEntry.Claimed() || state.reading.Running()) {
      Fail("a mode is still claimed after the scenario ended");
    }
    {
      // Every buffer the library keeps between calls: the command buffer, the serial inbox,
      // the kept HID reports, a frame held back for a loop.
      std::lock_guard link(state.lock);
      for (const auto* marker : {&kPinBlockMarker, &kTrackMarker, &kAccountMarker}) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(marker->data());
        // Kept HID reports are searched report by report: a part of the marker does.
        if (vantorel::link::KeptBuffersHold(bytes, std::min<std::size_t>(marker->size(), 10))) {
          Fail("a secret is left in the library's buffers");
        }
      }
    }
    Brixa_Close();
    vantorel::link::trace::Configure(nullptr);
    CheckPen();
    CheckCards();
    CheckTrace();
  }

 private:
  static void VANTOREL_CALL OnPoints(const int* values, int count, void* context) {
    auto* run = static_cast<Run*>(context);
    std::lock_guard lock(run->m_);
    run->penGot_.insert(run->penGot_.end(), values, values + count);
  }
  static void VANTOREL_CALL OnCard(const unsigned char* data, int count, int) {
    Run* run = current;
    if (run == nullptr) return;
    const Bytes got(data, data + count);
    std::lock_guard lock(run->m_);
    if (Contains(got, kPinBlockMarker))
      run->failures_.push_back("an entry's answer reached the card-data handler");
    run->cardsGot_.push_back(got);
  }

  void CheckPen() {
    std::lock_guard lock(m_);
    if (penGot_ == penSent_) return;
    // In order, each at most once: a subsequence of what the pad sent (pen-ups aside).
    std::size_t at = 0;
    bool subsequence = true;
    for (std::size_t i = 0; i + 1 < penGot_.size(); i += 2) {
      while (at + 1 < penSent_.size() &&
             (penSent_[at] != penGot_[i] || penSent_[at + 1] != penGot_[i + 1])) {
        at += 2;
      }
      if (at + 1 >= penSent_.size()) {
        subsequence = false;
        break;
      }
      at += 2;
    }
    std::ostringstream what;
    what << "pen: " << penGot_.size() / 2 << " of " << penSent_.size() / 2 << " points delivered";
    if (!subsequence) {
      failures_.push_back(what.str() + ", out of order or duplicated");
    } else if (!penLossAllowed_) {
      failures_.push_back(what.str() + " (points lost)");
    }
  }

  void CheckCards() {
    std::lock_guard lock(m_);
    for (int id : cardsSent_) {
      std::string tag = std::to_string(1000 + id);
      tag.insert(tag.begin(), '#');
      const auto n = std::count_if(cardsGot_.begin(), cardsGot_.end(),
                                   [&](const Bytes& b) { return Contains(b, tag); });
      if (n > 1 || (n == 0 && cardsAtMostOnce_.count(id) == 0)) {
        failures_.push_back("card " + std::to_string(id) + " reached the card-data handler " +
                            std::to_string(n) + " times");
      }
    }
    for (const auto& got : cardsGot_) {
      if (!Contains(got, kTrackMarker) && !(got.size() == 2 && got[0] == 0x7B)) {
        failures_.push_back("the card-data handler received " + std::to_string(got.size()) +
                            " bytes that are no card data");
      }
    }
  }

  void CheckTrace() {
    std::ifstream in(tracePath_);
    const std::string trace((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto* marker : {&kPinBlockMarker, &kTrackMarker, &kAccountMarker}) {
      bool leaked = trace.find(*marker) != std::string::npos;
      for (std::size_t i = 0; i + 4 <= marker->size() && !leaked; ++i) {
        leaked = trace.find(HexOf(reinterpret_cast<const std::uint8_t*>(marker->data()) + i, 4)) !=
                 std::string::npos;
      }
      if (leaked) {
        std::lock_guard lock(m_);
        failures_.push_back(marker == &kPinBlockMarker ? "the PIN block appears in the trace"
                            : marker == &kTrackMarker  ? "card data appears in the trace"
                                                       : "the account number appears in the trace");
      }
    }
    if (penLossAllowed_ == false) return;
    std::lock_guard lock(m_);
    if (strays_ && penGot_ != penSent_ && trace.find("pen data") == std::string::npos) {
      failures_.push_back("pen data was lost without a trace line saying so");
    }
  }

 public:
  void Strays() {
    strays_ = true;
    penLossAllowed_ = true;
  }
  int EntryAnswers() const { return entryAnswers_; }

 private:
  std::uint64_t seed_;
  std::mutex pickMutex_;
  std::mt19937_64 pick_{seed_ ^ 0x5DEECE66Dull};
  std::string tracePath_;
  mutable std::mutex m_;
  std::vector<std::string> failures_;
  std::vector<std::shared_ptr<Call>> calls_;
  int versionCount_ = 0;
  std::set<std::string> versionsIssued_, versionsUsed_;
  std::uint32_t countCount_ = 0;
  std::set<unsigned> countsIssued_, countsUsed_;
  int nextPoint_ = 0;
  std::vector<int> penSent_, penGot_;
  bool penLossAllowed_ = false;
  bool strays_ = false;
  int cardCount_ = 0;
  std::vector<int> cardsSent_;
  std::set<int> cardsAtMostOnce_;
  std::vector<Bytes> cardsGot_;
  std::atomic<int> entryAnswers_{0};
  vterm::CommandKey holdKey_;
  bool holding_ = false;
  bool hasHeld_ = false;
  Bytes held_;
};

// Starts a capture and waits until its loop runs.
std::shared_ptr<Run::Call> StartCapture(Run& r) {
  auto call =
      r.Start("Zelto_StartCapture", [] { return Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0); });
  if (!Run::WaitUntil([] { return vantorel::link::State().captureActive.load() != 0; }, 2000ms)) {
    r.Fail("the capture did not start");
  }
  return call;
}
std::shared_ptr<Run::Call> StartReading(Run& r) {
  auto call = r.Start("MSR_EnableSecureHead", [] { return MSR_EnableSecureHead(); });
  if (!Run::WaitUntil([] { return vantorel::link::State().secureHeadActive.load() != 0; },
                      2000ms)) {
    r.Fail("secure reading did not start");
  }
  return call;
}
std::shared_ptr<Run::Call> StartPinEntry(Run& r) {
  auto call = r.Start("PIN_GetPINBlock", [&r] { return r.PinEntry(); });
  if (!Run::WaitUntil([] { return vantorel::link::State().pinEntryActive.load() != 0; }, 2000ms)) {
    r.Fail("the PIN entry did not start");
  }
  return call;
}

// =========================================================================================
// Scenario kinds that today's library handles: interleavings a terminal produces within
// what the link already owns.
// =========================================================================================

// A capture with pen bursts, ordinary commands from other threads between them (replies
// split or a little late), pen packets right behind a reply, ended by the exit or a close.
void CaptureWithCommands(Run& r) {
  auto capture = StartCapture(r);
  const int rounds = r.Pick(2, 5);
  for (int i = 0; i < rounds; ++i) {
    r.Pen(r.Pick(1, 14));
    if (!r.WaitPoints()) r.Fail("pen points did not arrive");
    const int which = r.Pick(0, 3);
    r.Expect(r.Now("ordinary command", [&r, which] { return r.Ordinary(which); }), 1,
             "an ordinary command during the capture");
    // A short burst right behind a reply belongs to the capture.
    if (r.Pick(0, 1) == 0) r.Pen(r.Pick(1, 6));
    if (!r.WaitPoints()) r.Fail("pen points did not arrive");
  }
  if (r.Pick(0, 2) == 0) {
    r.Expect(r.Now("Brixa_Close", [] { return Brixa_Close(); }), 1, "Brixa_Close");
    r.Expect(r.Finish(capture), 1, "Zelto_StartCapture");
    r.Expect(r.term.OpenLink(), 1, "reopening");
  } else {
    r.Expect(r.Now("Zelto_ExitCapture", [] { return Zelto_ExitCapture(); }), 1,
             "Zelto_ExitCapture");
    r.Expect(r.Finish(capture), 1, "Zelto_StartCapture");
  }
}

// Bytes lost or added on the line between pen packets: delivery goes on after them (in order,
// never twice) and the loss is traced.
void CaptureWithStrayBytes(Run& r) {
  r.Strays();
  auto capture = StartCapture(r);
  const int rounds = r.Pick(2, 4);
  for (int i = 0; i < rounds; ++i) {
    r.Pen(r.Pick(2, 12));
    Bytes stray(static_cast<std::size_t>(r.Pick(1, 3)), static_cast<std::uint8_t>(r.Pick(1, 0x7F)));
    r.term.Send(stray, r.Pick(0, 20));
    r.Pen(r.Pick(2, 12), r.Pick(0, 20));
  }
  r.term.Drain();
  Run::WaitUntil([&r] { return r.term.AllRead(); }, 1000ms);
  std::this_thread::sleep_for(100ms);
  r.Expect(r.Now("Zelto_ExitCapture", [] { return Zelto_ExitCapture(); }), 1, "Zelto_ExitCapture");
  r.Expect(r.Finish(capture), 1, "Zelto_StartCapture");
}

// Secure reading with swipes and a settings command from another thread, then the disable.
void ReadingWithSwipes(Run& r) {
  auto reading = StartReading(r);
  const int rounds = r.Pick(1, 4);
  std::size_t cards = 0;
  for (int i = 0; i < rounds; ++i) {
    r.term.Send(r.Card(), r.Pick(0, 30));
    if (!r.WaitCards(++cards)) r.Fail("card data did not arrive");
    unsigned char value = 0;
    r.Expect(r.Now("MSR_GetOutputSetting", [&value] { return MSR_GetOutputSetting(&value); }), 1,
             "a settings command during reading");
  }
  r.Expect(r.Now("MSR_DisableSecureHead", [] { return MSR_DisableSecureHead(); }), 1,
           "MSR_DisableSecureHead");
  r.Expect(r.Finish(reading), 1, "MSR_EnableSecureHead");
  r.CheckHeadOff();
}

// A PIN entry with a command from another thread meanwhile, answered (the answer split on
// the seed's choice) or cancelled.
void PinEntryAnswered(Run& r) {
  const bool account = r.Pick(0, 1) == 0;
  auto entry = r.Start("PIN_GetPINBlock", [&r, account] { return r.PinEntry(account); });
  if (!Run::WaitUntil([] { return vantorel::link::State().pinEntryActive.load() != 0; }, 2000ms)) {
    r.Fail("the PIN entry did not start");
  }
  if (r.Pick(0, 1) == 0) {
    r.Expect(r.Now("Brixa_GetVersion", [&r] { return r.Version(); }), 1,
             "a command during the entry");
  }
  if (r.Pick(0, 2) == 0) {
    r.Expect(r.Now("PIN_CancelPIN", [] { return PIN_CancelPIN(); }), 1, "PIN_CancelPIN");
    r.Expect(r.Finish(entry), 105, "the cancelled entry");
    return;
  }
  const Bytes answer = Run::PinAnswer();
  if (r.Pick(0, 1) == 0) {
    r.term.Send(answer, r.Pick(0, 30));
  } else {
    const std::size_t at = static_cast<std::size_t>(r.Pick(2, static_cast<int>(answer.size()) - 1));
    r.term.Send(Bytes(answer.begin(), answer.begin() + static_cast<long>(at)), 0, true);
    r.term.Send(Bytes(answer.begin() + static_cast<long>(at), answer.end()), r.Pick(0, 20));
  }
  r.Expect(r.Finish(entry), 1, "PIN_GetPINBlock");
}

// A reply that comes after its command gave up never becomes a later call's result.
void LateReply(Run& r) {
  r.SetPlan([&r](RudeTerminal& t, const vterm::Command& c, const Bytes& reply) {
    if (c.Key() != vterm::CommandKey{0x78, 0x46, 0x01}) return false;
    t.Send(reply, 700 + r.Pick(0, 400));  // after the read gave up
    r.SetPlan({});
    return true;
  });
  r.Expect(r.Now("Brixa_GetVersion (late)", [&r] { return r.Version(); }), 0,
           "a command whose reply came late");
  const int more = r.Pick(1, 3);
  for (int i = 0; i < more; ++i) {
    const int which = r.Pick(0, 1);
    r.Expect(r.Now(
                 "ordinary command", [&r, which] { return r.Ordinary(which); }, 4000ms),
             1, "a command after a late reply");
  }
}

// =========================================================================================
// The defects (fail on today's library; each staged on the transport named).
// =========================================================================================

// 1 (serial). A text getter during a capture while the pen keeps streaming: the reply and
// the pen packets behind it are read together.
void VersionDuringPenStream(Run& r) {
  auto capture = StartCapture(r);
  r.SetPlan([&r](RudeTerminal& t, const vterm::Command& c, const Bytes& reply) {
    if (c.Key() != vterm::CommandKey{0x78, 0x46, 0x01}) return false;
    t.Send(reply);
    r.PenStream(300);
    return true;
  });
  r.Expect(r.Now("Brixa_GetVersion", [&r] { return r.Version(); }), 1,
           "Brixa_GetVersion while the pen streams");
  r.SetPlan({});
  r.term.Drain();
  r.WaitPoints();
  r.Expect(r.Now("Zelto_ExitCapture", [] { return Zelto_ExitCapture(); }), 1, "Zelto_ExitCapture");
  r.Expect(r.Finish(capture), 1, "Zelto_StartCapture");
}

// 2 (HID). A pen report between a command's write and its reply.
void PenReportBeforeReply(Run& r) {
  auto capture = StartCapture(r);
  r.Pen(3);
  r.WaitPoints();
  r.SetPlan([&r](RudeTerminal& t, const vterm::Command& c, const Bytes& reply) {
    if (c.Key() != vterm::CommandKey{0x7A, 0x46, 0x17}) return false;
    r.Pen(r.Pick(1, 12));
    t.Send(reply, r.Pick(1, 10));
    return true;
  });
  r.Expect(r.Now("Zelto_GetPointCount", [&r] { return r.PointCount(); }), 1,
           "Zelto_GetPointCount with a pen report before its reply");
  r.SetPlan({});
  r.Pen(5);
  r.WaitPoints();
  r.Expect(r.Now("Zelto_ExitCapture", [] { return Zelto_ExitCapture(); }), 1, "Zelto_ExitCapture");
  r.Expect(r.Finish(capture), 1, "Zelto_StartCapture");
}

// 3 (serial). Commands during a capture while the pen moves: a drawing command whose read
// passes 512 bytes, then a sign-format read with pen packets behind its reply.
void CommandsWhilePenMoves(Run& r) {
  Bytes block(40);
  for (std::size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<std::uint8_t>(0x41 + i % 26);
  r.term.engine().Get<vterm::SignpadModule>().SetSignFormatBlock(2, block);
  auto capture = StartCapture(r);
  r.SetPlan([&r](RudeTerminal& t, const vterm::Command& c, const Bytes& reply) {
    if (c.Key() != vterm::CommandKey{0x7A, 0x46, 0x19}) return false;
    t.Send(reply);
    r.PenStream(250);
    return true;
  });
  r.Expect(r.Now("Zelto_ClearSignature", [] { return Zelto_ClearSignature(); }), 1,
           "Zelto_ClearSignature while the pen moves");
  r.term.Drain();
  r.WaitPoints();
  r.SetPlan([&r](RudeTerminal& t, const vterm::Command& c, const Bytes& reply) {
    if (c.Key() != vterm::CommandKey{0x7A, 0x46, 0x21}) return false;
    t.Send(reply);
    r.Pen(r.Pick(2, 10));
    return true;
  });
  std::array<unsigned char, 1024> got{};
  unsigned int length = 0;
  r.Expect(r.Now("Zelto_GetSignFormat",
                 [&] { return Zelto_GetSignFormat(2, got.data(), got.size(), &length); }),
           1, "Zelto_GetSignFormat while the pen moves");
  if (length != 0 && Bytes(got.begin(), got.begin() + length) != block) {
    r.Fail("Zelto_GetSignFormat returned data that is not the block");
  }
  r.SetPlan({});
  r.term.Drain();
  r.Pen(5);
  r.WaitPoints();
  r.Expect(r.Now("Zelto_ExitCapture", [] { return Zelto_ExitCapture(); }), 1, "Zelto_ExitCapture");
  r.Expect(r.Finish(capture), 1, "Zelto_StartCapture");
}

// 4 (both). Two sign-format writes from two threads while the link is busy: each block
// must reach the pad as its caller gave it.
void ConcurrentSignFormats(Run& r) {
  r.HoldNext(0x78, 0x46, 0x01);
  auto holder = r.Start("Brixa_GetVersion", [&r] { return r.Version(); });
  r.WaitHeld(500ms);
  const Bytes first(60, 0x11), second(90, 0x22);
  auto a = r.Start("Zelto_SetSignFormat(1)",
                   [&] { return Zelto_SetSignFormat(1, first.data(), first.size()); });
  Run::WaitBusy(2);
  auto b = r.Start("Zelto_SetSignFormat(2)",
                   [&] { return Zelto_SetSignFormat(2, second.data(), second.size()); });
  Run::WaitBusy(3);
  r.Release();
  r.SetPlan({});
  // Over serial the held version reply may come after the read fell silent (0); the holder
  // only keeps the link busy while both blocks are composed.
  const int version = r.Finish(holder);
  if (version != 1 && version != 0) r.Fail("Brixa_GetVersion returned neither 1 nor 0");
  r.Expect(r.Finish(a), 1, "Zelto_SetSignFormat(1)");
  r.Expect(r.Finish(b), 1, "Zelto_SetSignFormat(2)");
  bool sawFirst = false, sawSecond = false;
  for (const auto& c : r.term.Commands()) {
    if (c.size() < 3 || c[0] != 0x7A) continue;
    if (c[2] == 0x30) sawFirst = Bytes(c.begin() + 3, c.end()) == first;
    if (c[2] == 0x31) sawSecond = Bytes(c.begin() + 3, c.end()) == second;
  }
  if (!sawFirst || !sawSecond) r.Fail("a sign-format block did not reach the pad as given");
}

// 5 (serial). Reopening after a close during a capture while the pen still streams.
void ReopenWhilePenStreams(Run& r) {
  auto capture = StartCapture(r);
  // The terminal's outbox is ordered: the handshakes' replies come behind this much pen data.
  r.PenStream(600);
  std::this_thread::sleep_for(std::chrono::milliseconds(r.Pick(20, 80)));
  r.Expect(r.Now("Brixa_Close", [] { return Brixa_Close(); }), 1, "Brixa_Close");
  r.Expect(r.Finish(capture), 1, "Zelto_StartCapture");
  r.AllowPenLoss();  // what the pad sends while no connection is open is nobody's
  r.Expect(r.Now(
               "Brixa_OpenPort", [&r] { return r.term.OpenLink(); }, 2000ms),
           1, "Brixa_OpenPort while the pen streams");
  r.term.Drain();
}

// 6 (HID). While a late reply is owed, a command on a handle whose reads fail at once must
// not burn the processor for the rest of the window.
void SettleOnFailingReads(Run& r) {
  RealPauses real;
  r.SetPlan([](RudeTerminal&, const vterm::Command& c, const Bytes&) {
    return c.Key() == vterm::CommandKey{0x78, 0x46, 0x01};  // never answered
  });
  r.Expect(r.Now("Brixa_GetVersion (unanswered)", [&r] { return r.Version(); }), 0,
           "an unanswered command");
  r.SetPlan({});
  r.term.SetReadsFail(true);
  auto call = r.Start("Zelto_ClearSignature", [] { return Zelto_ClearSignature(); });
  r.Finish(call, 4000ms);
  r.term.SetReadsFail(false);
  if (call->cpuNs > 300'000'000) {
    r.Fail("settling burnt " + std::to_string(call->cpuNs / 1'000'000) +
           " ms of processor time while its reads failed");
  }
}

// 8 (both). A PIN-pad entry, an encrypted-data entry or a capture started while secure
// reading still switches the head on must be refused.
void StartDuringSwitchOn(Run& r) {
  r.HoldNext(0x73, 0x46, 0xE1);
  auto reading = r.Start("MSR_EnableSecureHead", [] { return MSR_EnableSecureHead(); });
  r.WaitHeld(500ms);
  const int which = static_cast<int>(r.Seed() % 3);  // seeds 1-3: every kind of start
  const char* name = which == 0   ? "PIN_GetPINBlock"
                     : which == 1 ? "PIN_GetEncryptedData"
                                  : "Zelto_StartCapture";
  auto start = r.Start(name, [&r, which]() -> unsigned char {
    if (which == 0) return r.PinEntry();
    if (which == 1) return r.EncryptedEntry();
    return Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0);
  });
  Run::WaitUntil([&] { return start->done.load() || vantorel::link::State().linkBusy.load() >= 1; },
                 100ms);
  std::this_thread::sleep_for(20ms);
  r.Release();
  r.SetPlan({});
  // A swipe and an entry's answer while both may be listening.
  Run::WaitUntil([] { return vantorel::link::State().secureHeadActive.load() != 0; }, 2000ms);
  if (!start->done) {
    if (which == 0) r.term.Send(Run::PinAnswer(), 50);
    if (which == 1) r.term.Send(AckFrame(B("00ENCRYPTED!")), 50);
  }
  r.term.Send(r.Card(), 80);
  r.term.Drain();
  std::this_thread::sleep_for(300ms);
  if (!start->done) {
    if (which == 2) Zelto_ExitCapture();
    if (which != 2) PIN_CancelPIN();
  }
  r.Expect(r.Finish(start), 204, std::string(name) + " while the head is switched on");
  r.Expect(r.Now("MSR_DisableSecureHead", [] { return MSR_DisableSecureHead(); }), 1,
           "MSR_DisableSecureHead");
  r.Expect(r.Finish(reading), 1, "MSR_EnableSecureHead");
}

// 9 (serial). Secrets in the trace: a switch-on reply read together with the card data
// behind it, and an entry's answer landing in a concurrent command's read.
void SecretsBesideReplies(Run& r) {
  const int card = 1;
  r.CardAtMostOnce(card);
  r.SetPlan([&r](RudeTerminal& t, const vterm::Command& c, const Bytes& reply) {
    if (c.Key() != vterm::CommandKey{0x73, 0x53, 0x1A}) return false;
    Bytes both = reply;
    const Bytes data = r.Card();
    both.insert(both.end(), data.begin(), data.end());
    t.Send(both);
    r.SetPlan({});
    return true;
  });
  auto reading = r.Start("MSR_EnableSecureHead", [] { return MSR_EnableSecureHead(); });
  Run::WaitUntil([] { return vantorel::link::State().secureHeadActive.load() != 0; }, 2000ms);
  r.Expect(r.Now("MSR_DisableSecureHead", [] { return MSR_DisableSecureHead(); }), 1,
           "MSR_DisableSecureHead");
  r.Expect(r.Finish(reading), 1, "MSR_EnableSecureHead");

  auto entry = StartPinEntry(r);
  r.SetPlan([&r](RudeTerminal& t, const vterm::Command& c, const Bytes& reply) {
    if (c.Key() != vterm::CommandKey{0x78, 0x46, 0x01}) return false;
    Bytes both = reply;
    const Bytes answer = Run::PinAnswer();
    both.insert(both.end(), answer.begin(), answer.end());
    t.Send(both);
    r.SetPlan({});
    return true;
  });
  r.Expect(r.Now("Brixa_GetVersion", [&r] { return r.Version(); }), 1,
           "a command during the entry");
  r.Expect(r.Finish(entry), 1, "PIN_GetPINBlock");
}

// 10 (both). A listening loop's message within the window after an unanswered command.
void MessageAfterUnanswered(Run& r) {
  auto entry = StartPinEntry(r);
  r.SetPlan([](RudeTerminal&, const vterm::Command& c, const Bytes&) {
    return c.Key() == vterm::CommandKey{0x7A, 0x46, 0x19};  // never answered
  });
  r.Expect(r.Now("Zelto_ClearSignature (unanswered)", [] { return Zelto_ClearSignature(); }), 0,
           "an unanswered command");
  r.SetPlan({});
  r.term.Send(Run::PinAnswer(), r.Pick(0, 100));
  if (!Run::WaitUntil([&] { return entry->done.load(); }, 3000ms)) {
    r.Fail("the entry's answer was swallowed as a late reply");
    PIN_CancelPIN();
  }
  r.Finish(entry);
}

// 11 (both). A disable exchanged after the enable began but before its first switch-on
// step: once the enable returns, the head must be off.
void DisableBeforeSwitchOn(Run& r) {
  auto reading = r.Start("MSR_EnableSecureHead", [] {
    GateThisThread();
    return MSR_EnableSecureHead();
  });
  if (!WaitAtGate(1000ms)) r.Fail("the enable never reached its first command");
  r.Expect(r.Now("MSR_DisableSecureHead", [] { return MSR_DisableSecureHead(); }), 1,
           "MSR_DisableSecureHead");
  OpenGate();
  const int rc = r.Finish(reading);
  if (rc == 1 && vantorel::link::State().secureHeadActive.load() != 0) {
    r.Expect(r.Now("MSR_DisableSecureHead", [] { return MSR_DisableSecureHead(); }), 1,
             "MSR_DisableSecureHead");
  }
  r.CheckHeadOff();
}

struct Kind {
  const char* name;
  void (*run)(Run&);
  std::vector<Wire> wires;
  bool defect;
};

const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      {"CaptureWithCommands", CaptureWithCommands, {Wire::kSerial, Wire::kHid}, false},
      {"CaptureWithStrayBytes", CaptureWithStrayBytes, {Wire::kSerial, Wire::kHid}, false},
      {"ReadingWithSwipes", ReadingWithSwipes, {Wire::kSerial, Wire::kHid}, false},
      {"PinEntryAnswered", PinEntryAnswered, {Wire::kSerial, Wire::kHid}, false},
      {"LateReply", LateReply, {Wire::kSerial, Wire::kHid}, false},
      {"Defect01VersionDuringPenStream", VersionDuringPenStream, {Wire::kSerial}, true},
      {"Defect02PenReportBeforeReply", PenReportBeforeReply, {Wire::kHid}, true},
      {"Defect03CommandsWhilePenMoves", CommandsWhilePenMoves, {Wire::kSerial}, true},
      {"Defect04ConcurrentSignFormats", ConcurrentSignFormats, {Wire::kSerial, Wire::kHid}, true},
      {"Defect05ReopenWhilePenStreams", ReopenWhilePenStreams, {Wire::kSerial}, true},
      {"Defect06SettleOnFailingReads", SettleOnFailingReads, {Wire::kHid}, true},
      {"Defect08StartDuringSwitchOn", StartDuringSwitchOn, {Wire::kSerial, Wire::kHid}, true},
      {"Defect09SecretsBesideReplies", SecretsBesideReplies, {Wire::kSerial}, true},
      {"Defect10MessageAfterUnanswered", MessageAfterUnanswered, {Wire::kSerial, Wire::kHid}, true},
      {"Defect11DisableBeforeSwitchOn", DisableBeforeSwitchOn, {Wire::kSerial, Wire::kHid}, true},
  };
  return kinds;
}

const Kind* FindKind(const std::string& name) {
  for (const auto& k : Kinds()) {
    if (name == k.name) return &k;
  }
  return nullptr;
}

const char* WireName(Wire w) {
  return w == Wire::kSerial ? "Serial" : "Hid";
}

// Runs one scenario under a timing profile (-1: the one VANTOREL_TIMING chose at load, so a
// prompt scenario replays with VANTOREL_TIMING=prompt); the failures, each naming the seed
// (never a secret).
std::vector<std::string> RunOne(const Kind& kind, Wire wire, std::uint64_t seed,
                                int* checks = nullptr, int timing = -1) {
  std::vector<std::string> failures;
  if (timing >= 0) Brixa_SetTiming(timing, 0);
  const bool prompt = vantorel::link::PromptTiming();
  {
    vantorel::link::State().Reset();
    Run run(wire, seed);
    if (run.term.OpenLink() != 1) {
      run.Fail("the connection did not open");
    } else {
      kind.run(run);
    }
    run.Finish();
    failures = run.Failures();
  }
  if (checks != nullptr) *checks = 9;  // the invariants checked after each scenario
  for (auto& f : failures) {
    f = std::string(kind.name) + "/" + WireName(wire) + "/" + std::to_string(seed) +
        (prompt ? " (VANTOREL_TIMING=prompt)" : "") + ": " + f;
  }
  return failures;
}

// ---- The fixed set ------------------------------------------------------------------------
struct Case {
  std::string kind;
  Wire wire;
  std::vector<std::uint64_t> seeds;
  bool prompt = false;
};

// The loops with commands interleaved run once more under the prompt profile, where nothing
// but the link lock orders a command after a loop's read.
bool AlsoPrompt(const std::string& kind) {
  return kind == "CaptureWithCommands" || kind == "ReadingWithSwipes" ||
         kind == "PinEntryAnswered" || kind == "LateReply";
}

std::vector<Case> FixedSet() {
  std::vector<Case> cases;
  for (const auto& k : Kinds()) {
    for (Wire w : k.wires) {
      std::vector<std::uint64_t> seeds;
      const int n = k.defect ? (std::string(k.name).find("Defect08") == 0 ? 3 : 1) : 6;
      for (int i = 0; i < n; ++i) seeds.push_back(static_cast<std::uint64_t>(i + 1));
      cases.push_back({k.name, w, seeds});
      if (AlsoPrompt(k.name)) cases.push_back({k.name, w, {1, 2, 3}, true});
    }
  }
  return cases;
}

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.kind << "/" << WireName(c.wire) << (c.prompt ? "/Prompt" : "");
}

class Scenario : public ::testing::TestWithParam<Case> {};

TEST_P(Scenario, Holds) {
  const Case& c = GetParam();
  const Kind* kind = FindKind(c.kind);
  ASSERT_NE(kind, nullptr);
  for (auto seed : c.seeds) {
    std::printf("scenario %s/%s/%llu%s\n", c.kind.c_str(), WireName(c.wire),
                static_cast<unsigned long long>(seed), c.prompt ? " (prompt)" : "");
    const int timing = c.prompt ? VANTOREL_TIMING_PROMPT : VANTOREL_TIMING_STANDARD;
    for (const auto& f : RunOne(*kind, c.wire, seed, nullptr, timing)) ADD_FAILURE() << f;
  }
}

INSTANTIATE_TEST_SUITE_P(, Scenario, ::testing::ValuesIn(FixedSet()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return info.param.kind + "_" + WireName(info.param.wire) +
                                  (info.param.prompt ? "_Prompt" : "");
                         });

// VANTOREL_SCENARIO=<kind>/<Serial|Hid>/<seed> replays one scenario; with
// VANTOREL_SCENARIO_CAMPAIGN=<seconds> random seeds of every kind that today's library
// handles (VANTOREL_SCENARIO_KINDS=all: every kind) run for that long, and the rates are
// printed.
TEST(Replay, One) {
  const char* chosen = std::getenv("VANTOREL_SCENARIO");
  if (chosen == nullptr) GTEST_SKIP() << "set VANTOREL_SCENARIO=<kind>/<Serial|Hid>/<seed>";
  std::string s(chosen);
  const auto a = s.find('/');
  const auto b = s.rfind('/');
  ASSERT_TRUE(a != std::string::npos && b != a) << "VANTOREL_SCENARIO=<kind>/<wire>/<seed>";
  const Kind* kind = FindKind(s.substr(0, a));
  ASSERT_NE(kind, nullptr) << "no scenario kind " << s.substr(0, a);
  const Wire wire = s.substr(a + 1, b - a - 1) == "Hid" ? Wire::kHid : Wire::kSerial;
  for (const auto& f : RunOne(*kind, wire, std::stoull(s.substr(b + 1)))) ADD_FAILURE() << f;
}

TEST(Replay, Campaign) {
  const char* seconds = std::getenv("VANTOREL_SCENARIO_CAMPAIGN");
  if (seconds == nullptr) GTEST_SKIP() << "set VANTOREL_SCENARIO_CAMPAIGN=<seconds>";
  const char* which = std::getenv("VANTOREL_SCENARIO_KINDS");
  const bool all = which != nullptr && std::string(which) == "all";
  std::vector<std::pair<const Kind*, Wire>> pool;
  for (const auto& k : Kinds()) {
    if (k.defect && !all) continue;
    for (Wire w : k.wires) pool.emplace_back(&k, w);
  }
  std::random_device device;
  std::mt19937_64 pick((static_cast<std::uint64_t>(device()) << 32) ^ device());
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(std::stoi(seconds));
  long scenarios = 0, checks = 0, failed = 0;
  while (Clock::now() < end) {
    const auto& [kind, wire] = pool[pick() % pool.size()];
    const std::uint64_t seed = pick() % 1000000000ULL;
    int n = 0;
    const auto failures = RunOne(*kind, wire, seed, &n);
    ++scenarios;
    checks += n;
    if (!failures.empty()) {
      ++failed;
      for (const auto& f : failures) ADD_FAILURE() << f;
    }
  }
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("campaign: %ld scenarios (%ld failed), %.2f scenarios/s, %.1f invariant checks/s\n",
              scenarios, failed, scenarios / s, checks / s);
}

}  // namespace
}  // namespace scenario
