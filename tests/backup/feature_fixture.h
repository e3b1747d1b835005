// A real core with its run services and backup feature over a temporary
// program folder whose register holds one entry, db0000; no info servers.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "backup/backup_feature.h"
#include "firebird/fb_test_support.h"
#include "test_support/fake_clock.h"
#include "test_support/scripted_ui.h"

namespace qn {

class FeatureRun : public fbtest::ServerTest {
 protected:
  explicit FeatureRun(const FakeClock& clock) : clock_(clock) {}

  // Writes the register (db0000 at path, backups in backupFolder, extra
  // lines under "backup") and runs the start-up.
  void StartWith(const std::string& path, const std::string& backupFolder, const std::string& backupExtra = "") {
    StartWithEntries(EntryXml("db0000", path, backupFolder, backupExtra));
  }

  // One entry of the register as the settings file holds it.
  static std::string EntryXml(const std::string& name, const std::string& path, const std::string& backupFolder,
                              const std::string& backupExtra = "", const std::string& password = "quillfern") {
    return "    <" + name + ">\r\n      <path>" + path + "</path>\r\n      <user>SYSDBA</user>\r\n      <pwd>" +
           password + "</pwd>\r\n      <caption/>\r\n      <backup>\r\n        <path>" + backupFolder +
           "</path>\r\n" + backupExtra + "      </backup>\r\n    </" + name + ">\r\n";
  }

  // Writes the register with these entries and runs the start-up.
  void StartWithEntries(const std::string& entries) {
    for (const char* flag : {"ignore-udp.txt", "ignore-tcp.txt"}) std::ofstream(program_.File(flag)) << "";
    std::ofstream(program_.File("settings.xml"), std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <data>\r\n"
        << entries << "  </data>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n";
    app_ = std::make_unique<TqnApplication>(program_.path(), ui_, view_, clock_);
    services_ = std::make_unique<TqnRunServices>(*app_, [](const std::function<void()>& w) { w(); });
    feature_ = std::make_unique<TqnBackupFeature>(*app_, *services_, view_);
    app_->Startup();
    ASSERT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
  }

  TempDir program_;
  FakeClock clock_;
  ScriptedUi ui_;
  RecordingView view_;
  std::unique_ptr<TqnApplication> app_;
  std::unique_ptr<TqnRunServices> services_;
  std::unique_ptr<TqnBackupFeature> feature_;
};

}  // namespace qn
