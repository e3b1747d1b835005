#include "settings/settings_store.h"

#include "base/text.h"
#include "platform/files.h"

namespace qn {

bool IsDefaultPacketKey(const std::string& key) { return key == TqnSettingsStore::kDefaultPin; }

std::string DefaultPacketKeyWarning() {
  return Win1251(
      "Внимание: ключ пакетов (PIN) имеет значение по умолчанию \"JD_LW4\", известное всем; любой компьютер, "
      "которому доступен порт сервера информации, может получить пароли баз данных. Задайте свой ключ в "
      "settings.xml на этом компьютере и на рабочих местах");
}

TqnSettingsStore::TqnSettingsStore(std::string programFolder)
    : programFolder_(std::move(programFolder)), root_(std::make_unique<TqnNode>(kRootName)) {}

std::string TqnSettingsStore::FileName() const { return platform::JoinPath(programFolder_, kFileName); }

void TqnSettingsStore::Load(const XmlLogCallback& log) {
  std::unique_ptr<TqnNode> loaded;
  if (platform::FileExists(FileName())) {
    loaded =
        XmlLoadFileSafe(FileName(), kBackupName, kRootName,
                        Win1251("Ошибка чтения файла настроек, программа запущена с настройками по умолчанию"), log);
    // The register holds passwords in clear: a file that an older program or
    // a hand left readable by others is narrowed now, with the copy the load
    // refreshed.
    platform::RestrictToOwner(FileName());
    platform::RestrictToOwner(platform::JoinPath(programFolder_, kBackupName));
  } else {
    loaded = std::make_unique<TqnNode>(kRootName);
  }
  std::unique_lock<std::shared_mutex> lock(mutex_);
  root_ = std::move(loaded);
}

void TqnSettingsStore::Save() const {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  XmlSaveFile(*root_, FileName());
  // The register holds the databases' passwords in clear.
  platform::RestrictToOwner(FileName());
  platform::RestrictToOwner(platform::JoinPath(programFolder_, kBackupName));
}

std::string TqnSettingsStore::EnsurePacketKey() {
  return Change([](TqnNode& root) {
    TqnNode* pin = root.Node("PIN");
    if (pin->Text().empty()) pin->SetText(kDefaultPin);
    return pin->Text();
  });
}

}  // namespace qn
