// SPDX-License-Identifier: Apache-2.0
// Test entry: every test sees the same time zone, so date digits are predictable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
  setenv("TZ", "UTC", 1);
  tzset();
  testing::InitGoogleTest(&argc, argv);
  // Death tests fork; "threadsafe" re-executes the binary, which keeps them independent of the
  // state the parent test built up.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}
