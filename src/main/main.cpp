// Program entry of the Database Manager.
#include <string>
#include <vector>

#include "firebird/fb_paths.h"
#include "main/program.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (qn::HandOverToRunningInstance()) return 0;
  if (qn::WantsHeadless(args)) return qn::RunHeadless(argc, argv);
  std::string hidden;
  return qn::RunWindowed(argc, argv, qn::GetCmdOption(args, "hidden", hidden) && hidden == "1");
}
