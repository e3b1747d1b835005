// What a logical dump restore needs of the run beyond the runner: kept by
// the runner, supplied by the backup feature.
#pragma once

#include <functional>
#include <string>

#include "firebird/create_database.h"

namespace qn {

struct TqnDumpRestoreHooks {
  // Points the entry of that element name at the new path, saves the
  // settings and refreshes the list with the entry selected.
  std::function<void(const std::string& entryName, const std::string& newPath)> repointEntry;
  // The login dialog of the creation's retry.
  TqnLoginCallback askLogin;
  // Whether "fb.ini" was in the program folder at start-up.
  std::function<bool()> fbIniPresent;
};

}  // namespace qn
