#include "link/timing.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/trace.h"
#include "vantorel.h"

namespace vantorel::link {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> profileInForce{static_cast<int>(Profile::kStandard)};
std::atomic<int> gapMsInForce{0};
// When the last exchange ended, in steady-clock ticks (0: none yet).
std::atomic<Clock::rep> lastExchangeEnd{0};

const char* SkipBlanks(const char* p) noexcept {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// Whether `p` starts with `word` (any case) followed by a blank, ':' or the end.
bool StartsWithWord(const char* p, const char* word, const char*& rest) noexcept {
  const std::size_t n = std::strlen(word);
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(p[i])) != word[i]) return false;
  }
  const char next = p[n];
  if (next != '\0' && next != ':' && next != ' ' && next != '\t') return false;
  rest = p + n;
  return true;
}

}  // namespace

bool ParseTimingSetting(const char* text, TimingSetting& out) noexcept {
  if (text == nullptr) return false;
  const char* p = SkipBlanks(text);
  TimingSetting setting;
  if (StartsWithWord(p, "standard", p)) {
    setting.profile = Profile::kStandard;
  } else if (StartsWithWord(p, "prompt", p)) {
    setting.profile = Profile::kPrompt;
  } else {
    return false;
  }
  p = SkipBlanks(p);
  if (*p == ':') {
    p = SkipBlanks(p + 1);
    if (std::isdigit(static_cast<unsigned char>(*p)) == 0) return false;
    long gap = 0;
    while (std::isdigit(static_cast<unsigned char>(*p)) != 0) {
      gap = gap * 10 + (*p++ - '0');
      if (gap > kMaxMinimumGap.count()) return false;
    }
    setting.minimumGap = Millis{gap};
    p = SkipBlanks(p);
  }
  if (*p != '\0') return false;
  out = setting;
  return true;
}

void SetTimingSetting(const TimingSetting& setting) noexcept {
  gapMsInForce.store(ToMs(setting.minimumGap));
  profileInForce.store(static_cast<int>(setting.profile));
}

TimingSetting CurrentTiming() noexcept {
  return {static_cast<Profile>(profileInForce.load()), Millis{gapMsInForce.load()}};
}

bool PromptTiming() noexcept {
  return profileInForce.load(std::memory_order_relaxed) == static_cast<int>(Profile::kPrompt);
}

void PauseBeforeWrite(Millis commandWait) noexcept {
  if (!PromptTiming()) Pause(commandWait);
  KeepMinimumGap();
}

void KeepMinimumGap() noexcept {
  const int gapMs = gapMsInForce.load(std::memory_order_relaxed);
  const Clock::rep ended = lastExchangeEnd.load(std::memory_order_relaxed);
  if (gapMs == 0 || ended == 0) return;
  const Clock::time_point due = Clock::time_point(Clock::duration(ended)) + Millis{gapMs};
  const Clock::time_point now = Clock::now();
  if (now < due) Pause(std::chrono::ceil<Millis>(due - now));
}

void PauseAfterWrite(Millis serialWait) noexcept {
  if (!PromptTiming()) Pause(serialWait);
}

Millis FirstByteGrace(Millis serialWait) noexcept {
  return PromptTiming() ? serialWait : Millis{0};
}

void NoteExchangeEnded() noexcept {
  if (gapMsInForce.load(std::memory_order_relaxed) == 0) return;
  lastExchangeEnd.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
}

void ReadTimingEnvironment() noexcept {
  const char* value = std::getenv("VANTOREL_TIMING");
  if (value == nullptr || *value == '\0') return;
  TimingSetting setting;
  char text[128];
  if (ParseTimingSetting(value, setting)) {
    SetTimingSetting(setting);
    std::snprintf(text, sizeof text, "VANTOREL_TIMING: %s, minimum gap %d ms",
                  setting.profile == Profile::kPrompt ? "prompt" : "standard",
                  ToMs(setting.minimumGap));
  } else {
    std::snprintf(text, sizeof text, "VANTOREL_TIMING: \"%.40s\" is no timing: standard kept",
                  value);
  }
  if (trace::On()) [[unlikely]]
    trace::Note(text);
}

}  // namespace vantorel::link

extern "C" unsigned char VANTOREL_CALL Brixa_SetTiming(int profile, int minimumGapMs) noexcept {
  using namespace vantorel::link;
  trace::ExportCall call(__func__);
  if (profile != VANTOREL_TIMING_STANDARD && profile != VANTOREL_TIMING_PROMPT) {
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  }
  if (minimumGapMs < 0 || minimumGapMs > ToMs(kMaxMinimumGap)) {
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  }
  SetTimingSetting({profile == VANTOREL_TIMING_PROMPT ? Profile::kPrompt : Profile::kStandard,
                    Millis{minimumGapMs}});
  return call.Result(VANTOREL_SUCCESS);
}
