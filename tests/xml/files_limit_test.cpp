// Saves that fail half-way for real, through a POSIX file size limit.
#include <gtest/gtest.h>

#include "base/error.h"
#include "platform/files.h"
#include "test_support/file_size_limit.h"
#include "test_support/temp_dir.h"
#include "xml/settings_sample.h"
#include "xml/xml_utils.h"

using namespace qn;
using platform::ReadFile;

// A save that fails half-way (here: the file size limit) must leave the old
// file readable and unchanged.
TEST(XmlSave, FailedSaveLeavesTheOldFile) {
  TempDir dir;
  std::string file = dir.File("settings.xml");
  XmlSaveFile(*Settings("old"), file);
  const std::string before = ReadFile(file);
  EXPECT_TRUE(FailsUnderFileSizeLimit(4096, [&] {
    try {
      XmlSaveFile(*Settings("new", 2000), file);
    } catch (const Exception&) {
      return true;
    }
    return false;
  })) << "the failed save was not reported";
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_EQ(Marker(*XmlLoadFile(file, "settings")), "old");
}
