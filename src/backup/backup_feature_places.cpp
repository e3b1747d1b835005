// The destinations as the window and the command line prepare them.
#include "backup/backup_feature.h"
#include "backup/destination_restore.h"
#include "backup/destinations.h"
#include "base/error.h"
#include "base/text.h"
#include "settings/settings_keys.h"

namespace qn {

std::vector<TqnCopyPlace> TqnBackupFeature::CopyPlaces() {
  const std::vector<TqnDestination> destinations =
      app_.Settings().Read([](const TqnNode& root) { return ReadDestinations(root); });
  std::vector<TqnCopyPlace> places;
  for (const TqnDestination& d : destinations) {
    std::string place;
    try {
      place = MakeDestinationStorage(d, d.uid.empty() ? std::string("-") : d.uid)->Describe();
    } catch (const std::exception& e) {
      place = e.what();  // a kind this build does not have
    }
    places.push_back({d.name, place, !d.uid.empty()});
  }
  return places;
}

std::string TqnBackupFeature::PrepareDestination(const std::string& name) {
  const std::optional<TqnDestination> destination =
      app_.Settings().Read([&](const TqnNode& root) { return FindDestination(root, name); });
  if (!destination)
    throw Exception(Format(Win1251("Места хранения \"%s\" нет в настройках (\"destinations\")").c_str(), name.c_str()));
  std::string report;
  const std::string uid = InitDestination(*destination, &report);
  if (uid != destination->uid) {
    app_.Settings().Change([&](TqnNode& root) {
      DestinationNode(root, name)->Node(keys::kDestUid.name)->Content().SetString(uid);
      return 0;
    });
    app_.SaveSettings();
  }
  app_.Log().LogMessage(report);
  return report;
}

std::string TqnBackupFeature::DownloadForRestore(const TqnBackupEntry& entry, const TqnDestination& destination,
                                                 const std::string& object) {
  const std::string file = DownloadCopy(entry, destination, object, false).file;
  app_.Log().LogMessage(Format(Win1251("Копия \"%s\" из \"%s\" скачана в \"%s\" и сверена по SHA-256").c_str(),
                               object.c_str(), destination.name.c_str(), file.c_str()));
  return file;
}

}  // namespace qn
