// Whether the program itself can write a folder: it renames, catalogues
// and prunes backups there, though the database server writes them. A
// sandboxed service, or a folder of another user, can read a folder it may
// not change; this is found by making and removing a file of its own.
#pragma once

#include <string>

namespace qn {

// "" when a file named probeName can be made and removed in folder; else
// why not, for a person ("каталога нет" for a folder that is not there).
std::string FolderWriteProblem(const std::string& folder, const std::string& probeName);

}  // namespace qn
