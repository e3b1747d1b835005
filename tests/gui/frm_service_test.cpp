// The window a desktop start opens beside the system's service, over the
// real program running as the service.
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <cstdlib>
#include <fstream>

#include "base/text.h"
#include "gui/frm_service.h"
#include "gui_test_support.h"
#include "platform/files.h"
#include "test_support/program_process.h"

namespace qn {
namespace {

TEST(GuiServiceView, ShowsTheServicesRegisterAndSaysHowItIsChanged) {
  TempDir program, objects;
  const std::string exe = InstallProgram(QN_PROGRAM_PATH, program.path());
  for (const char* flag : {"ignore-udp.txt", "ignore-tcp.txt", "debug.txt"}) std::ofstream(program.File(flag)) << "";
  platform::ForceDirectories(program.File("bk"));
  std::ofstream(program.File("settings.xml"), std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <data>\r\n    <db0000>\r\n"
      << "      <path>localhost/53030:" << program.File("data/a.fd3") << "</path>\r\n"
      << "      <user>SYSDBA</user>\r\n      <pwd>quillfern</pwd>\r\n      <caption>" << Win1251("Касса")
      << "</caption>\r\n      <backup>\r\n        <auto>1</auto>\r\n        <path>" << program.File("bk")
      << "</path>\r\n      </backup>\r\n    </db0000>\r\n  </data>\r\n  <data_state>initialized</data_state>\r\n"
      << "</settings>\r\n";
  const std::vector<std::string> env = {"QN_OBJECTS_DIR=" + objects.path(),
                                        "QN_REGISTRY_DIR=" + objects.path() + "/registry"};
  ProgramProcess service(exe, {"--headless=1", "--service=1"}, env);
  ASSERT_TRUE(WaitForLog(program, "hostname is ")) << MainLog(program);
  for (const std::string& e : env) ::setenv(e.substr(0, e.find('=')).c_str(), e.substr(e.find('=') + 1).c_str(), 1);

  {
    TfrmServiceView window;
    window.show();
    auto* list = Child<QTreeWidget>(&window, "lvwBase");
    ASSERT_TRUE(ProcessUntil([&] { return list->topLevelItemCount() == 1 && window.isEnabled(); }));
    QTreeWidgetItem* row = list->topLevelItem(0);
    EXPECT_EQ(row->text(0), QString::fromUtf8("0 db0000  (Касса)"));
    EXPECT_EQ(row->text(3), QString::fromUtf8("устарела")) << "backs up automatically, never backed up";
    EXPECT_TRUE(Child<QPushButton>(&window, "btnBackup")->isEnabled());

    // What only the service's register may do is explained, not done.
    DialogScript script;
    script.Expect([](QWidget* dialog) {
      auto* box = qobject_cast<QMessageBox*>(dialog);
      ASSERT_NE(box, nullptr);
      EXPECT_TRUE(box->text().contains(QStringLiteral("sudo systemctl stop qndbmgr"))) << box->text().toStdString();
      box->accept();
    });
    Click(&window, "btnRemove");
    EXPECT_EQ(script.Handled(), 1);
    EXPECT_EQ(list->topLevelItemCount(), 1);
  }
  for (const std::string& e : env) ::unsetenv(e.substr(0, e.find('=')).c_str());
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(20000), 0);
  EXPECT_NE(ReadAll(program.File("settings.xml")).find("<db0000>"), std::string::npos);
}

}  // namespace
}  // namespace qn
