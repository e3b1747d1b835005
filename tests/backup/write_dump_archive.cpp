// Writes the logical dump of the restore tests (backup/dump_archive.h) for
// the Windows program's restore under Wine: two persons, one of them with a
// Russian name, the schema's indexes and the register's texts.
#include <cstdio>
#include <exception>

#include "backup/dump_archive.h"
#include "base/text.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_dump_archive FILE.pbz\n");
    return 2;
  }
  try {
    qn::ziptest::WriteZip(argv[1], qn::ziptest::DumpMembers(
                                       qn::ziptest::kDdl, qn::Win1251("-- отключение\r\nALTER TRIGGER X INACTIVE;\r\n"),
                                       "#VERSION 0.1.0.0\r\n&Person\tObject\tName\r\n00000000000A\t" +
                                           qn::Win1251("Иван") + "\r\n00000000000B\tBob\r\n"));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
