#include <gtest/gtest.h>

#include "link/timing.h"

namespace vantorel::link {
namespace {

TEST(TimingSetting, ParsesProfileAndGap) {
  struct Case {
    const char* text;
    bool ok;
    Profile profile;
    long gapMs;
  };
  const Case cases[] = {
      {"standard", true, Profile::kStandard, 0},
      {"prompt", true, Profile::kPrompt, 0},
      {"PROMPT", true, Profile::kPrompt, 0},
      {" prompt : 20 ", true, Profile::kPrompt, 20},
      {"standard:150", true, Profile::kStandard, 150},
      {"prompt:10000", true, Profile::kPrompt, 10000},
      {"prompt:10001", false, Profile::kStandard, 0},
      {"prompt:", false, Profile::kStandard, 0},
      {"prompt:-5", false, Profile::kStandard, 0},
      {"prompt:20ms", false, Profile::kStandard, 0},
      {"prompt,gap=20", false, Profile::kStandard, 0},
      {"prompty", false, Profile::kStandard, 0},
      {"fast", false, Profile::kStandard, 0},
      {"", false, Profile::kStandard, 0},
      {nullptr, false, Profile::kStandard, 0},
  };
  for (const Case& c : cases) {
    const char* shown = c.text != nullptr ? c.text : "(null)";
    TimingSetting setting{Profile::kStandard, Millis{-1}};
    EXPECT_EQ(ParseTimingSetting(c.text, setting), c.ok) << shown;
    if (c.ok) {
      EXPECT_EQ(setting.profile, c.profile) << shown;
      EXPECT_EQ(setting.minimumGap.count(), c.gapMs) << shown;
    } else {
      EXPECT_EQ(setting.minimumGap.count(), -1) << shown << ": left untouched";
    }
  }
}

}  // namespace
}  // namespace vantorel::link
