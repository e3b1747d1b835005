#include "settings/settings_keys.h"

#include <algorithm>

namespace qn {

namespace {

// "backup/rest": the element "backup", then "rest".
std::vector<std::string> Parts(const char* name) {
  std::vector<std::string> parts;
  std::string part;
  for (const char* c = name; *c; ++c) {
    if (*c == '/') {
      parts.push_back(part);
      part.clear();
    } else {
      part += *c;
    }
  }
  parts.push_back(part);
  return parts;
}

TqnNode* MakeKeyNode(TqnNode& entry, const TqnSettingKey& key) {
  TqnNode* node = &entry;
  for (const std::string& part : Parts(key.name)) node = node->Node(part);
  return node;
}

int Clamp(const TqnSettingKey& key, int value) {
  if (!key.Limited()) return value;
  return value < key.min ? key.min : value > key.max ? key.max : value;
}

const char* TypeWord(TqnKeyType type) {
  switch (type) {
    case TqnKeyType::Integer: return "integer";
    case TqnKeyType::Boolean: return "\"0\" or \"1\"";
    default: return "text";
  }
}

}  // namespace

const std::vector<const TqnSettingKey*>& EntryKeys() {
  using namespace keys;
  static const std::vector<const TqnSettingKey*> table = {
      &kPath,       &kUser,     &kPassword,  &kCaption,    &kHidePassword, &kUid,           &kAuto,
      &kBackupPath, &kWeekdays, &kTime,      &kNum,        &kInterval,     &kVerify,        &kVerifyPath,
      &kPrune,      &kRest,     &kKeepDaily, &kKeepWeekly, &kKeepMonthly,  &kKeepRequested, &kCopyTo};
  return table;
}

const std::vector<const TqnSettingKey*>& DestinationKeys() {
  using namespace keys;
  static const std::vector<const TqnSettingKey*> table = {
      &kDestName,       &kDestKind,        &kDestUid,           &kDestPath,     &kDestKeepLast, &kDestKeepDaily,
      &kDestKeepWeekly, &kDestKeepMonthly, &kDestKeepRequested, &kDestEndpoint, &kDestRegion,   &kDestBucket,
      &kDestPrefix,     &kDestAccessKey,   &kDestSecretKey,     &kDestLockDays, &kDestKeyFile,  &kDestUser,
      &kDestPassword,   &kDestPrivateKey,  &kDestHostKey,       &kDestMaxKbps};
  return table;
}

const std::vector<const TqnSettingKey*>& RootKeys() {
  using namespace keys;
  static const std::vector<const TqnSettingKey*> table = {
      &kPin,          &kTcpPort,       &kUdpPort,      &kAllowPeers, &kDataState, &kSmtpHost,     &kSmtpPort,
      &kSmtpSecurity, &kSmtpUser,      &kSmtpPassword, &kSmtpFrom,   &kSmtpTo,    &kAlertCommand, &kAlertCommandTimeout,
      &kStaleHours,   &kStatusTextfile};
  return table;
}

std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> names;
  size_t begin = 0;
  while (begin <= list.size()) {
    size_t comma = list.find(',', begin);
    if (comma == std::string::npos) comma = list.size();
    size_t first = begin, last = comma;
    while (first < last && static_cast<unsigned char>(list[first]) <= 32) ++first;
    while (last > first && static_cast<unsigned char>(list[last - 1]) <= 32) --last;
    const std::string name = list.substr(first, last - first);
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    begin = comma + 1;
  }
  return names;
}

std::vector<std::string> CopyToNames(const TqnNode& entry) { return SplitNames(ReadText(entry, keys::kCopyTo)); }

int ReadPositiveInteger(const TqnNode& element, const TqnSettingKey& key) {
  const int value = ReadRawInteger(element, key);
  return value > 0 ? Clamp(key, value) : key.MissingInteger();
}

const TqnNode* KeyNode(const TqnNode& entry, const TqnSettingKey& key) {
  const TqnNode* node = &entry;
  for (const std::string& part : Parts(key.name)) node = node->FindNode(part);
  return node;
}

std::string ReadText(const TqnNode& entry, const TqnSettingKey& key) {
  return KeyNode(entry, key)->Content().AsString(key.missing);
}

int ReadRawInteger(const TqnNode& entry, const TqnSettingKey& key) {
  return KeyNode(entry, key)->Content().AsInteger(key.MissingInteger());
}

int ReadInteger(const TqnNode& entry, const TqnSettingKey& key) { return Clamp(key, ReadRawInteger(entry, key)); }

bool ReadBoolean(const TqnNode& entry, const TqnSettingKey& key) {
  return KeyNode(entry, key)->Content().AsBoolean(key.MissingBoolean());
}

void WriteInteger(TqnNode& entry, const TqnSettingKey& key, int value) {
  MakeKeyNode(entry, key)->Content().SetInteger(value);
}

void WriteOptionalInteger(TqnNode& entry, const TqnSettingKey& key, int value) {
  if (KeyNode(entry, key)->Exists() || value != key.MissingInteger()) WriteInteger(entry, key, value);
}

void WriteOptionalBoolean(TqnNode& entry, const TqnSettingKey& key, bool value) {
  if (KeyNode(entry, key)->Exists() || value != key.MissingBoolean())
    MakeKeyNode(entry, key)->Content().SetBoolean(value);
}

std::string KeysTable(const std::vector<const TqnSettingKey*>& keys) {
  std::string text = "| key | type | missing means | limits | meaning |\n|---|---|---|---|---|\n";
  for (const TqnSettingKey* key : keys) {
    const std::string limits = key->Limited() ? std::to_string(key->min) + "–" + std::to_string(key->max) +
                                                    (key->step > 1 ? ", step " + std::to_string(key->step) : "")
                                              : "";
    text += std::string("| \"") + key->name + "\" | " + TypeWord(key->type) + " | \"" + key->missing + "\" | " +
            limits + " | " + key->meaning + " |\n";
  }
  return text;
}

}  // namespace qn
