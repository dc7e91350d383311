// The version macros, the library's own report of its version and the build's project
// version (from which the package and vantorel.pc take theirs) are one and the same.
#include <gtest/gtest.h>

#include <string>

#include "vantorel.h"

TEST(Version, MacrosLibraryAndBuildAgree) {
  char reported[8] = {};
  int length = -1;
  ASSERT_EQ(Brixa_GetSdkVersion(reported, &length), VANTOREL_SUCCESS);
  const std::string numbers =
      std::to_string(VANTOREL_VERSION_MAJOR) + "." + std::to_string(VANTOREL_VERSION_MINOR);
  EXPECT_STREQ(reported, VANTOREL_VERSION_STRING);
  EXPECT_EQ(length, static_cast<int>(std::string(VANTOREL_VERSION_STRING).size()));
  EXPECT_EQ(numbers, VANTOREL_VERSION_STRING);
  EXPECT_EQ(std::string(VANTOREL_PROJECT_VERSION), VANTOREL_VERSION_STRING);
}
