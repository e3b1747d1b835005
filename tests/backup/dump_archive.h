// A small logical dump for the restore tests: a schema the data member
// needs, with the register "tDatabase" that receives the dump's texts.
#pragma once

#include <string>

#include "backup/zip_writer.h"

namespace qn::ziptest {

inline const char* kTables =
    "CREATE TABLE \"tObject\" (\"UID\" CHAR(12) NOT NULL PRIMARY KEY, \"fAge\" INTEGER, \"fCreated\" INTEGER,"
    " \"fChanged\" TIMESTAMP, \"fTable\" VARCHAR(40), \"fState\" CHAR(1), \"fLazy\" INTEGER);\n"
    "CREATE TABLE \"tPerson\" (\"fObject\" CHAR(12) NOT NULL PRIMARY KEY, \"fName\" VARCHAR(40) CHARACTER SET "
    "WIN1251);\n"
    "CREATE TABLE \"tDatabase\" (\"fDeactivate\" BLOB SUB_TYPE TEXT CHARACTER SET WIN1251,"
    " \"fMeta\" BLOB SUB_TYPE TEXT CHARACTER SET WIN1251);\n"
    "CREATE GENERATOR \"gDoc\";\n"
    "INSERT INTO \"tDatabase\" VALUES (NULL, NULL);\n";

inline const char* kMeta =
    "(meta (types (TUid (d CHAR 12)) (TName (d VARCHAR 40)))"
    " (tables (Person (fields (Object (type TUid)) (Name (type TName)))))"
    " (generators (Doc)))";

inline const char* kDdl =
    "CREATE INDEX IPERSONNAME ON \"tPerson\" (\"fName\");\r\n"
    "CREATE INDEX IPERSONUPPER ON \"tPerson\" COMPUTED BY (UPPER(\"fName\")); -- tag:expression-index\r\n"
    "CREATE DESCENDING INDEX IPERSONDESC ON \"tPerson\" (\"fName\");\r\n";

// The six members, tables_ord.txt naming the one table.
inline Members DumpMembers(const std::string& ddl, const std::string& deactivate, const std::string& data) {
  return {{"tables.sql", kTables}, {"tables_ord.txt", "Person\r\n"},
          {"ddl.sql", ddl},        {"deactivate.sql", deactivate},
          {"meta.txt", kMeta},     {"data.txt", data}};
}

}  // namespace qn::ziptest
