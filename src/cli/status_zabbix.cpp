#include "cli/status_zabbix.h"

#include "cli/json_text.h"

namespace qn {

std::string ZabbixDiscovery(const TqnStatusSnapshot& snapshot) {
  std::string text = "[";
  for (size_t i = 0; i < snapshot.entries.size(); ++i) {
    const TqnStatusLine& l = snapshot.entries[i].line;
    text += std::string(i ? "," : "") + "{\"{#ENTRY}\":" + JsonString(l.key) +
            ",\"{#CAPTION}\":" + JsonString(l.caption) + "}";
  }
  return text + "]\n";
}

}  // namespace qn
