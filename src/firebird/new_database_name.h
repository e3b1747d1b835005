// The file name of a new database in the data folder: "tx.fd3", then
// "tx1.fd3" up to "tx99.fd3", the first that does not exist.
#pragma once

#include <string>

namespace qn {

// From the start number k on; throws "Невозможно создать файл базы данных"
// when no name below 100 is free (at once for k >= 100).
std::string NewDatabaseFileName(const std::string& folder, int k);

}  // namespace qn
