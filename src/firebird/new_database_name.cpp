#include "firebird/new_database_name.h"

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"

namespace qn {

std::string NewDatabaseFileName(const std::string& folder, int k) {
  for (;;) {
    std::string candidate = platform::JoinPath(folder, k == 0 ? std::string("tx.fd3") : Format("tx%d.fd3", k));
    ++k;
    if (k > 100) throw Exception(Win1251("Невозможно создать файл базы данных"));
    if (!platform::FileExists(candidate)) return candidate;
  }
}

}  // namespace qn
