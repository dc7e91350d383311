// `vantorel bench`: the same harmless queries under both timing profiles, so that a user can
// see in a minute whether a terminal keeps up with the prompt profile and what it gains.
#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/cli.h"
#include "tools/cli/cli_text.h"
#include "vantorel.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;
using TextGetter = unsigned char(VANTOREL_CALL*)(char*, int*);

struct Query {
  const char* call;
  TextGetter get;
};

// Read-only: nothing on the terminal changes, whatever the profile.
constexpr std::array<Query, 3> kQueries = {{
    {"Brixa_GetVersion", Brixa_GetVersion},
    {"Brixa_GetModelNumber", Brixa_GetModelNumber},
    {"Brixa_GetSerialNumber", Brixa_GetSerialNumber},
}};

struct Answer {
  unsigned char rc = 0;
  std::string text;
  bool operator==(const Answer&) const = default;
};

struct Run {
  std::vector<Answer> answers;
  double ms = 0;
};

Run RunProfile(int profile, int gapMs, int rounds, Progress& progress) {
  Check("Brixa_SetTiming", Brixa_SetTiming(profile, gapMs));
  Run run;
  const auto start = Clock::now();
  for (int round = 0; round < rounds; ++round) {
    for (const Query& q : kQueries) {
      std::array<char, 512> buffer{};
      int length = 0;
      Answer a;
      a.rc = q.get(buffer.data(), &length);
      if (a.rc == VANTOREL_SUCCESS && length > 0 && length <= static_cast<int>(buffer.size())) {
        a.text.assign(buffer.data(), static_cast<std::size_t>(length));
      }
      run.answers.push_back(std::move(a));
      progress.Step();
    }
  }
  run.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return run;
}

}  // namespace

int Bench(const Target& target, int rounds, int gapMs) {
  if (rounds < 1 || rounds > 1000) throw Failure("--rounds " + std::to_string(rounds) + ": 1-1000");
  if (gapMs < 0 || gapMs > 10000) throw Failure("--gap " + std::to_string(gapMs) + ": 0-10000 ms");
  Connection connection(target);
  const int count = rounds * static_cast<int>(kQueries.size());
  Run standard;
  Run prompt;
  {
    Progress progress("bench", 2 * count);
    standard = RunProfile(VANTOREL_TIMING_STANDARD, 0, rounds, progress);
    prompt = RunProfile(VANTOREL_TIMING_PROMPT, gapMs, rounds, progress);
    Brixa_SetTiming(VANTOREL_TIMING_STANDARD, 0);
  }
  std::printf("%d rounds of", rounds);
  for (const Query& q : kQueries) std::printf(" %s", q.call);
  std::printf("\n%-10s %9s %12s %12s\n", "profile", "commands", "total ms", "ms/command");
  std::printf("%-10s %9d %12.1f %12.2f\n", "standard", count, standard.ms, standard.ms / count);
  std::printf("%-10s %9d %12.1f %12.2f\n", gapMs > 0 ? "prompt+gap" : "prompt", count, prompt.ms,
              prompt.ms / count);
  std::printf("speed-up   %.1fx\n", prompt.ms > 0 ? standard.ms / prompt.ms : 0.0);
  std::fflush(stdout);
  for (std::size_t i = 0; i < standard.answers.size(); ++i) {
    const Query& q = kQueries[i % kQueries.size()];
    const Answer& s = standard.answers[i];
    const Answer& p = prompt.answers[i];
    if (s.rc != VANTOREL_SUCCESS)
      throw Failure(std::string(q.call) + " returned " + ReturnCodeText(s.rc) +
                    " under the standard timing");
    if (!(s == p)) {
      throw Failure(
          std::string(q.call) + " answered differently under the prompt timing (" +
          (p.rc == VANTOREL_SUCCESS ? "another text" : "returned " + ReturnCodeText(p.rc)) +
          "): keep the standard timing for this terminal");
    }
  }
  std::printf("every answer the same in both profiles\n");
  return 0;
}

}  // namespace cli
