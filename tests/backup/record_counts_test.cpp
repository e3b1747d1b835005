// The record counts of a backup's and a restore's verbose output, as the
// proof of a backup compares them, and the catalogue's text form.
#include "backup/record_counts.h"

#include <gtest/gtest.h>

#include "backup/backup_catalogue.h"
#include "backup/backup_keeper.h"
#include "base/text.h"
#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace qn {
namespace {

TqnRecordCounts Read(const std::vector<std::string>& lines) {
  TqnRecordCountReader reader;
  for (const std::string& line : lines) reader.Feed(line);
  return reader.Counts();
}

TEST(RecordCounts, ABackupAndItsRestoreAgreeOnlyWhenEveryTableDoes) {
  const TqnRecordCounts backup =
      Read({"gbak:    writing data for table EMPTY_T ", "gbak:0 records written ",
            "gbak:    writing data for table T2 ", "gbak:20000 records written ", "gbak:40001 records written ",
            "gbak:    writing data for table Клиенты ", "gbak:1 records written "});
  EXPECT_EQ(backup, (TqnRecordCounts{{"EMPTY_T", 0}, {"T2", 40001}, {Win1251("Клиенты"), 1}}))
      << "UTF-8 names are kept in Windows-1251; the last figure of a table is its total";
  // An empty table has no line of its own in a restore's output.
  TqnRecordCounts restored = Read({"gbak:restoring data for table T2 ", "gbak:   40001 records restored ",
                                   "gbak:restoring data for table Клиенты ", "gbak:   1 records restored "});
  EXPECT_EQ(CompareRecordCounts(backup, restored), "");
  restored["T2"] = 40000;
  EXPECT_NE(CompareRecordCounts(backup, restored).find("T2"), std::string::npos);
  restored["T2"] = 40001;
  restored["EXTRA"] = 3;
  EXPECT_NE(CompareRecordCounts(backup, restored).find("EXTRA"), std::string::npos);
  EXPECT_EQ(ParseRecordCounts(FormatRecordCounts({{"A=B;C%", 5}, {"T2", 7}})),
            (TqnRecordCounts{{"A=B;C%", 5}, {"T2", 7}}));
}

TEST(Catalogue, ItsTextKeepsEveryFieldAndALineItCannotReadAsItStands) {
  TqnCatalogueRecord r;
  r.file = Win1251("копия.bk3");
  r.entry = "db0000";
  r.size = 123456789012LL;
  r.sha256 = std::string(64, 'a');
  r.start = "2026-12-08 06:30:00";
  r.durationMs = 1500;
  r.outcome = "ok";
  r.verification = "unverified";
  r.restoreMs = 0;
  r.counts = "T2=2";
  r.message = Win1251("мало\tместа\r\n");
  r.entryId = std::string(32, 'f');
  const std::string text = FormatCatalogue({r, r}) + "broken\tline\r\n";
  const std::vector<TqnCatalogueRecord> back = ParseCatalogue(text);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[1].entryId, r.entryId);
  EXPECT_EQ(back[2].raw, "broken\tline");
  EXPECT_EQ(FormatCatalogue(back), text) << "written back, the unread line is as it was";
  // A line of the catalogue before identities is read, without one.
  const std::vector<TqnCatalogueRecord> older = ParseCatalogue(
      "file\tentry\tsize\tsha256\tstart\tduration_ms\toutcome\tverification\trestore_ms\tcounts\tmessage\r\n"
      "a.bk3\tdb0000\t1\t\t2026-12-08 06:30:00\t1\tok\tverified\t1\t\t\r\n");
  ASSERT_EQ(older.size(), 1u);
  EXPECT_EQ(older[0].file, "a.bk3");
  EXPECT_TRUE(older[0].entryId.empty());
  EXPECT_EQ(back[1].file, r.file);
  EXPECT_EQ(back[1].size, r.size);
  EXPECT_EQ(back[1].counts, "T2=2");
  EXPECT_EQ(back[1].message, Win1251("мало места  ")) << "tabs and line breaks in a field become blanks";
  EXPECT_EQ(CatalogueFilePath("/srv/bk/", back[0]), "/srv/bk/" + r.file);
}

TEST(Catalogue, FilesAreHashedWithSha256PieceByPiece) {
  TempDir dir;
  platform::WriteFileReplacing(dir.File("abc"), "abc");
  EXPECT_EQ(FileSha256(dir.File("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // The standard long vector: a million "a".
  platform::WriteFileReplacing(dir.File("million"), std::string(1000000, 'a'));
  EXPECT_EQ(FileSha256(dir.File("million")), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
}  // namespace qn
