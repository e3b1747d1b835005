// GoogleTest main that can also run one of the registered child modes.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

#include "test_support/child_process.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");  // the environment's locale, as the programs take it
  const char* prefix = "--qn-child=";
  if (argc >= 2 && std::strncmp(argv[1], prefix, std::strlen(prefix)) == 0) {
    std::string mode = argv[1] + std::strlen(prefix);
    std::vector<std::string> args(argv + 2, argv + argc);
    auto it = qntest::ChildModes().find(mode);
    if (it == qntest::ChildModes().end()) return 99;
    return it->second(args);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
