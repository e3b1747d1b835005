// GoogleTest main for the test programs: like the programs under test, they
// take their locale from the environment (a Russian desktop's, in CI), so a
// number or message that depends on the locale fails here as it would there.
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
