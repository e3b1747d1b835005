// The second places every proven backup of an entry is copied to: named
// once under the settings root's "destinations" (one element a
// destination, "d0", "d1", ...), and named by an entry's
// "backup" / "copy_to". A destination is used only once it carries its
// marker, a file "qndbmgr-destination.txt" at its root with its name and
// identity, written by `--init-destination=NAME`: a folder without it (an
// unmounted disk's empty mount point, a share that did not come up) is
// refused, and nothing is written there.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backup/retention.h"
#include "storage/encryption.h"
#include "storage/storage.h"
#include "xml/xml_dom.h"

namespace qn {

inline constexpr const char* kDestinationsElement = "destinations";
inline constexpr const char* kDestinationMarkerName = "qndbmgr-destination.txt";

struct TqnDestination {
  std::string element;  // "d0"
  std::string name;
  std::string kind;  // "folder", "s3"
  std::string uid;   // "" until --init-destination
  std::string path;  // a folder's
  TqnRetentionPolicy keep;
  // Every key of the destination as stored, for the kinds that need more
  // than these (a bucket's endpoint, keys, lock days).
  std::map<std::string, std::string> values;
};

TqnDestination ReadDestination(const TqnNode& node);
// The destinations of the settings, in document order.
std::vector<TqnDestination> ReadDestinations(const TqnNode& root);
std::optional<TqnDestination> FindDestination(const TqnNode& root, const std::string& name);
// The destination's element, or the empty node.
TqnNode* DestinationNode(const TqnNode& root, const std::string& name);

// The place a destination names, its marker not looked at. uid is the
// identity its temporary names carry. Throws for a kind this build does
// not have.
std::unique_ptr<storage::Storage> MakeDestinationStorage(const TqnDestination& destination, const std::string& uid);
std::unique_ptr<storage::Storage> MakeDestinationStorage(const TqnNode& node);

struct TqnDestinationMarker {
  std::string name;
  std::string uid;
};
std::string FormatDestinationMarker(const TqnDestinationMarker& marker);
// False for a text that is no marker.
bool ParseDestinationMarker(const std::string& text, TqnDestinationMarker& marker);

// Opens a destination whose marker is there. For writing, the marker must
// carry the settings' identity (another disk mounted in its place, or a
// destination never prepared, is refused); for reading, a marker is
// enough (a new machine restores from a destination it has not prepared).
// Throws Exception with the reason when refused.
enum class TqnDestinationUse { Read, Write };
std::unique_ptr<storage::Storage> OpenDestination(const TqnDestination& destination, TqnDestinationUse use);

// The key a destination's copies are encrypted with ("key_file"), none when
// it names no file. For writing, a missing file is made with a new key (and
// *created says so: the administrator must keep a copy elsewhere, or the
// copies are lost with the machine); for reading it must be there.
std::optional<storage::EncryptionKey> DestinationKey(const TqnDestination& destination, TqnDestinationUse use,
                                                     bool* created = nullptr);
// The catalogue's word for copies encrypted with the key.
std::string EncryptionWord(const storage::EncryptionKey& key);

// --init-destination: writes the marker when the place has none (the
// place must be there: a folder is never created), or takes the identity
// of the marker that is there when the settings have none. Returns the
// identity to keep in the settings; throws when the place is another
// destination's or cannot be reached.
std::string InitDestination(const TqnDestination& destination, std::string* report);

// A backup's name at a destination: the entry's element name, "-" and
// the local file's name, so that the entries sharing a destination never
// meet; and the test of such a name for retention.
std::string DestinationObjectName(const std::string& entryName, const std::string& file);
bool IsDestinationBackupName(const std::string& name, const std::string& entryName, bool* requested);

}  // namespace qn
