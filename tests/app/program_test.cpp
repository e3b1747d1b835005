// The real executable, run headless as a person without a desktop would.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "base/text.h"
#include "test_support/program_process.h"
#include "test_support/temp_dir.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The whole of today's main log (the test may cross midnight: read all).
std::string MainLog(const TempDir& dir) {
  std::string all;
  if (!std::filesystem::exists(dir.File("log"))) return all;
  for (const auto& name : TempDir::ListDir(dir.File("log")))
    if (name.rfind("log-2", 0) == 0) all += ReadAll(dir.File("log/" + name));
  return all;
}

bool WaitForLog(const TempDir& dir, const std::string& text, int timeoutMs = 20000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (MainLog(dir).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

struct Installed {
  TempDir dir;
  TempDir objects;  // a kernel-object namespace of this test alone
  std::string program;
  std::vector<std::string> env;
  Installed() {
    program = InstallProgram(QN_PROGRAM_PATH, dir.path());
    env = {"QN_OBJECTS_DIR=" + objects.path(), "QN_REGISTRY_DIR=" + objects.path() + "/registry"};
    std::ofstream(dir.File("debug.txt")) << "";
    // Keep the test's own ports: no info servers.
    std::ofstream(dir.File("ignore-udp.txt")) << "";
    std::ofstream(dir.File("ignore-tcp.txt")) << "";
  }
};

}  // namespace

TEST(Program, ASecondStartHandsActivateToTheFirstAndEnds) {
  Installed app;
  ProgramProcess first(app.program, {"--headless=1"}, app.env);
  ASSERT_TRUE(first.Started());
  ASSERT_TRUE(WaitForLog(app.dir, "hostname is ")) << MainLog(app.dir);
  ProgramProcess second(app.program, {"--headless=1"}, app.env);
  EXPECT_EQ(second.Wait(10000), 0) << "the second instance did not end";
  EXPECT_TRUE(WaitForLog(app.dir, " intercom activate\r\n", 5000)) << MainLog(app.dir);
  EXPECT_EQ(first.Wait(0), -1) << "the first instance must still run";

  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(10000), 0);
  std::string log = MainLog(app.dir);
  EXPECT_NE(log.find(qn::Win1251("Выход из программы")), std::string::npos);
  std::string settings = ReadAll(app.dir.File("settings.xml"));
  EXPECT_EQ(settings.rfind("<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <PIN>JD_LW4</PIN>", 0),
            0u)
      << settings;
}

TEST(Program, AFreshHeadlessStartTakesTheFirstRunOfferAndLogsItsQuestion) {
  Installed app;
  ProgramProcess run(app.program, {"--headless=1"}, app.env);
  ASSERT_TRUE(WaitForLog(app.dir, qn::Win1251("создать новую пустую базу данных"))) << MainLog(app.dir);
  EXPECT_TRUE(std::filesystem::is_directory(app.dir.File("data")));
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(10000), 0);
}
