// A real core with its run services and backup feature over a temporary
// program folder whose register holds one entry, db0000; no info servers.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "backup/backup_feature.h"
#include "firebird/fb30_server.h"
#include "firebird/fb_test_support.h"
#include "platform/system.h"
#include "test_support/fake_clock.h"
#include "test_support/scripted_ui.h"

namespace qn {

class FeatureRun : public fbtest::ServerTest {
 protected:
  // The run gets kernel-object and registry namespaces of its own, in which
  // the Firebird 3.0 server counts as installed: nothing that an earlier run
  // left on the machine decides whether start-up offers to install it.
  explicit FeatureRun(const FakeClock& clock) : clock_(clock) {
    ::setenv("QN_OBJECTS_DIR", objects_.path().c_str(), 1);
    ::setenv("QN_REGISTRY_DIR", objects_.File("registry").c_str(), 1);
    platform::RegistryCreateKey(kFb30UninstallKey);
  }
  ~FeatureRun() override {
    feature_.reset();
    services_.reset();
    app_.reset();
    ::unsetenv("QN_OBJECTS_DIR");
    ::unsetenv("QN_REGISTRY_DIR");
  }

  // Writes the register (db0000 at path, backups in backupFolder, extra
  // lines under "backup") and runs the start-up.
  void StartWith(const std::string& path, const std::string& backupFolder, const std::string& backupExtra = "") {
    StartWithEntries(EntryXml("db0000", path, backupFolder, backupExtra));
  }

  // One entry of the register as the settings file holds it.
  static std::string EntryXml(const std::string& name, const std::string& path, const std::string& backupFolder,
                              const std::string& backupExtra = "", const std::string& password = "quillfern") {
    return "    <" + name + ">\r\n      <path>" + path + "</path>\r\n      <user>SYSDBA</user>\r\n      <pwd>" +
           password + "</pwd>\r\n      <caption/>\r\n      <backup>\r\n        <path>" + backupFolder + "</path>\r\n" +
           backupExtra + "      </backup>\r\n    </" + name + ">\r\n";
  }

  // Writes the register with these entries (and more elements of the
  // settings root, already in their stored form) and runs the start-up.
  void StartWithEntries(const std::string& entries, const std::string& moreSettings = "") {
    for (const char* flag : {"ignore-udp.txt", "ignore-tcp.txt"}) std::ofstream(program_.File(flag)) << "";
    std::ofstream(program_.File("settings.xml"), std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <data>\r\n"
        << entries << "  </data>\r\n  <data_state>initialized</data_state>\r\n"
        << moreSettings << "</settings>\r\n";
    app_ = std::make_unique<TqnApplication>(program_.path(), ui_, view_, clock_);
    services_ = std::make_unique<TqnRunServices>(*app_, [](const std::function<void()>& w) { w(); });
    feature_ = std::make_unique<TqnBackupFeature>(*app_, *services_, view_);
    app_->Startup();
    ASSERT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
  }

  TempDir objects_;
  TempDir program_;
  FakeClock clock_;
  ScriptedUi ui_;
  RecordingView view_;
  std::unique_ptr<TqnApplication> app_;
  std::unique_ptr<TqnRunServices> services_;
  std::unique_ptr<TqnBackupFeature> feature_;
};

}  // namespace qn
