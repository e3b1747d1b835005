// --status --zabbix-discovery: Zabbix's low-level discovery of the entries
// with automatic backups, one object per entry,
//
//   [{"{#ENTRY}":"db0000","{#CAPTION}":"..."}]
//
// in UTF-8; the items' values come from --status --json.
#pragma once

#include <string>

#include "backup/status_figures.h"

namespace qn {

std::string ZabbixDiscovery(const TqnStatusSnapshot& snapshot);

}  // namespace qn
