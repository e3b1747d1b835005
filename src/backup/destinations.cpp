#include "backup/destinations.h"

#include <cstdlib>

#include "backup/backup_names.h"
#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "settings/register.h"
#include "settings/settings_keys.h"
#include "storage/byte_sources.h"
#include "storage/folder_storage.h"
#include "storage/s3_storage.h"
#include "storage/sftp_storage.h"

namespace qn {

namespace {

constexpr const char* kMarkerHeader = "# qndbmgr destination";

std::string ReadMarker(storage::Storage& place) {
  std::string text;
  place.Read(kDestinationMarkerName, [&](const char* data, size_t size) {
    // A marker is a few lines; anything larger is not one.
    if (text.size() < 4096) text.append(data, size);
  });
  return text;
}

[[noreturn]] void Refuse(const TqnDestination& d, const std::string& why) {
  throw Exception(
      Format(Win1251("Место хранения копий \"%s\" не используется: %s").c_str(), d.name.c_str(), why.c_str()));
}

}  // namespace

TqnDestination ReadDestination(const TqnNode& node) {
  using namespace keys;
  TqnDestination d;
  d.element = node.Name();
  d.name = TrimControl(ReadText(node, kDestName));
  d.kind = TrimControl(ReadText(node, kDestKind));
  d.uid = TrimControl(ReadText(node, kDestUid));
  d.path = ReadText(node, kDestPath);
  d.keep.rest = ReadInteger(node, kDestKeepLast);
  d.keep.keepDaily = ReadInteger(node, kDestKeepDaily);
  d.keep.keepWeekly = ReadInteger(node, kDestKeepWeekly);
  d.keep.keepMonthly = ReadInteger(node, kDestKeepMonthly);
  d.keep.keepRequested = ReadInteger(node, kDestKeepRequested);
  for (const TqnSettingKey* key : DestinationKeys())
    if (KeyNode(node, *key)->Exists()) d.values[key->name] = ReadText(node, *key);
  return d;
}

std::vector<TqnDestination> ReadDestinations(const TqnNode& root) {
  std::vector<TqnDestination> list;
  const TqnNode* all = root.FindNode(kDestinationsElement);
  for (int i = 0; i < all->NodeCount(); ++i) list.push_back(ReadDestination(*all->Nodes(i)));
  return list;
}

TqnNode* DestinationNode(const TqnNode& root, const std::string& name) {
  TqnNode* all = root.FindNode(kDestinationsElement);
  for (int i = 0; i < all->NodeCount(); ++i)
    if (TrimControl(ReadText(*all->Nodes(i), keys::kDestName)) == name) return all->Nodes(i);
  return TqnNode::Empty();
}

std::optional<TqnDestination> FindDestination(const TqnNode& root, const std::string& name) {
  const TqnNode* node = DestinationNode(root, name);
  if (!node->Exists() || name.empty()) return std::nullopt;
  return ReadDestination(*node);
}

std::unique_ptr<storage::Storage> MakeDestinationStorage(const TqnDestination& d, const std::string& uid) {
  if (d.kind == "folder") {
    if (d.path.empty()) Refuse(d, Win1251("не указан каталог (\"path\")"));
    return std::make_unique<storage::FolderStorage>(d.path, std::string(kPartialPrefix) + uid + "-");
  }
  const auto value = [&](const char* key) {
    const auto it = d.values.find(key);
    return it == d.values.end() ? std::string() : TrimControl(it->second);
  };
  const auto number = [&](const char* key) -> long long {
    const std::string text = value(key);
    char* end = nullptr;
    const long long n = text.empty() ? 0 : std::strtoll(text.c_str(), &end, 10);
    if (!text.empty() && (*end != '\0' || n < 0))
      Refuse(d, Format(Win1251("значение \"%s\" не число: \"%s\"").c_str(), key, text.c_str()));
    return n;
  };
  if (d.kind == "s3") {
    storage::S3Config config;
    config.endpoint = value("endpoint");
    config.region = value("region");
    config.bucket = value("bucket");
    config.prefix = value("prefix");
    config.accessKey = value("access_key");
    config.secretKey = value("secret_key");
    config.lockDays = static_cast<int>(number("lock_days"));
    config.maxKbps = number("max_kbps");
    for (const char* key : {"endpoint", "region", "bucket", "access_key", "secret_key"})
      if (value(key).empty()) Refuse(d, Format(Win1251("не указано \"%s\"").c_str(), key));
    return std::make_unique<storage::S3Storage>(std::move(config));
  }
  if (d.kind == "sftp") {
    storage::SftpConfig config;
    config.endpoint = value("endpoint");
    config.path = value("path");
    config.user = value("user");
    config.password = value("password");
    config.privateKeyFile = value("private_key");
    config.hostKeySha256 = value("host_key");
    config.maxKbps = number("max_kbps");
    config.unfinishedPrefix = std::string(kPartialPrefix) + uid + "-";
    for (const char* key : {"endpoint", "path", "user", "host_key"})
      if (value(key).empty()) Refuse(d, Format(Win1251("не указано \"%s\"").c_str(), key));
    if (config.password.empty() && config.privateKeyFile.empty())
      Refuse(d, Win1251("не указан ни пароль (\"password\"), ни файл ключа (\"private_key\")"));
    return std::make_unique<storage::SftpStorage>(std::move(config));
  }
  Refuse(d, Format(Win1251("неизвестный вид \"%s\"").c_str(), d.kind.c_str()));
}

std::unique_ptr<storage::Storage> MakeDestinationStorage(const TqnNode& node) {
  const TqnDestination d = ReadDestination(node);
  return MakeDestinationStorage(d, d.uid);
}

std::string FormatDestinationMarker(const TqnDestinationMarker& marker) {
  return std::string(kMarkerHeader) + "\r\n" +
         Win1251("# Место хранения резервных копий Менеджера баз данных: не удаляйте этот файл\r\n") + "name\t" +
         marker.name + "\r\n" + "uid\t" + marker.uid + "\r\n";
}

bool ParseDestinationMarker(const std::string& text, TqnDestinationMarker& marker) {
  if (text.rfind(kMarkerHeader, 0) != 0) return false;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    const std::string line = TrimControl(text.substr(begin, end - begin));
    begin = end + 1;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string key = line.substr(0, tab), value = TrimControl(line.substr(tab + 1));
    if (key == "name") marker.name = value;
    if (key == "uid") marker.uid = value;
  }
  return marker.uid.size() == 32 && marker.uid.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::unique_ptr<storage::Storage> OpenDestination(const TqnDestination& d, TqnDestinationUse use) {
  std::unique_ptr<storage::Storage> place = MakeDestinationStorage(d, d.uid);
  TqnDestinationMarker marker;
  try {
    if (!place->Info(kDestinationMarkerName).exists)
      Refuse(d, Format(Win1251("в \"%s\" нет файла \"%s\" (диск не подключён? впервые: qndbmgr "
                               "--init-destination=%s)")
                           .c_str(),
                       place->Describe().c_str(), kDestinationMarkerName, d.name.c_str()));
    if (!ParseDestinationMarker(ReadMarker(*place), marker))
      Refuse(d, Format(Win1251("файл \"%s\" в \"%s\" не прочитан").c_str(), kDestinationMarkerName,
                       place->Describe().c_str()));
  } catch (const Exception&) {
    throw;
  } catch (const std::exception& e) {
    Refuse(d, e.what());
  }
  if (!d.uid.empty() && marker.uid != d.uid)
    Refuse(d, Format(Win1251("в \"%s\" место хранения другого назначения (\"%s\")").c_str(), place->Describe().c_str(),
                     marker.name.c_str()));
  if (d.uid.empty()) {
    if (use == TqnDestinationUse::Write)
      Refuse(d, Format(Win1251("не подготовлено: qndbmgr --init-destination=%s").c_str(), d.name.c_str()));
    // Read on a machine that has not taken the destination's identity yet:
    // its writes (a download's catalogue) are none.
    place = MakeDestinationStorage(d, marker.uid);
  }
  return place;
}

std::string InitDestination(const TqnDestination& d, std::string* report) {
  std::unique_ptr<storage::Storage> probe = MakeDestinationStorage(d, d.uid.empty() ? std::string("-") : d.uid);
  if (d.kind == "folder" && !platform::DirectoryExists(d.path))
    Refuse(d, Format(Win1251("каталог \"%s\" не найден").c_str(), d.path.c_str()));
  if (probe->Info(kDestinationMarkerName).exists) {
    TqnDestinationMarker marker;
    if (!ParseDestinationMarker(ReadMarker(*probe), marker))
      Refuse(d, Format(Win1251("файл \"%s\" в \"%s\" не прочитан").c_str(), kDestinationMarkerName,
                       probe->Describe().c_str()));
    if (!d.uid.empty() && d.uid != marker.uid)
      Refuse(d, Format(Win1251("в \"%s\" место хранения другого назначения (\"%s\")").c_str(),
                       probe->Describe().c_str(), marker.name.c_str()));
    if (report)
      *report = Format(Win1251("Место хранения \"%s\" в \"%s\" уже подготовлено").c_str(), d.name.c_str(),
                       probe->Describe().c_str());
    return marker.uid;
  }
  const std::string uid = d.uid.empty() ? NewEntryId() : d.uid;
  std::unique_ptr<storage::Storage> place = MakeDestinationStorage(d, uid);
  place->Write(kDestinationMarkerName, *storage::TextSource(FormatDestinationMarker({d.name, uid})));
  if (report)
    *report = Format(Win1251("Место хранения \"%s\" в \"%s\" подготовлено").c_str(), d.name.c_str(),
                     place->Describe().c_str());
  return uid;
}

std::optional<storage::EncryptionKey> DestinationKey(const TqnDestination& d, TqnDestinationUse use, bool* created) {
  if (created) *created = false;
  const auto it = d.values.find(keys::kDestKeyFile.name);
  const std::string file = it == d.values.end() ? std::string() : TrimControl(it->second);
  if (file.empty()) return std::nullopt;
  if (use == TqnDestinationUse::Read && !platform::FileExists(file))
    Refuse(d,
           Format(Win1251("нет файла ключа \"%s\": без него зашифрованные копии не прочитать").c_str(), file.c_str()));
  return storage::LoadOrCreateKeyFile(file, created);
}

std::string EncryptionWord(const storage::EncryptionKey& key) { return "aes-256-gcm " + key.id; }

std::string DestinationObjectName(const std::string& entryName, const std::string& file) {
  return entryName + "-" + platform::ExtractFileName(file);
}

bool IsDestinationBackupName(const std::string& name, const std::string& entryName, bool* requested) {
  const std::string start = entryName + "-";
  return name.size() > start.size() && name.compare(0, start.size(), start) == 0 &&
         IsProgramBackupName(name.substr(start.size()), requested);
}

}  // namespace qn
