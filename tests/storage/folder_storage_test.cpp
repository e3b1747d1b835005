// A folder as a place for backups: what a write leaves under a name when it
// ends well, when it fails half-way, and when its process is killed.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "storage/byte_sources.h"
#include "storage/place_checks.h"
#include "storage/folder_storage.h"
#include "test_support/child_process.h"
#include "test_support/temp_dir.h"

using namespace qn;
using namespace qn::storage;
using qntest::FailingSource;
using qntest::ReadAll;

namespace {

constexpr const char* kPrefix = "qnpartial-0123456789abcdef0123456789abcdef-";

// Gives a first piece, then holds the write up for a minute: long enough
// for a test to kill the process in the middle of it.
class StallingSource : public ByteSource {
 public:
  int64_t Size() const override { return -1; }
  size_t Read(char* buffer, size_t capacity) override {
    if (given_) {
      std::this_thread::sleep_for(std::chrono::seconds(60));
      return 0;
    }
    given_ = true;
    std::fill(buffer, buffer + capacity, 'x');
    return capacity;
  }

 private:
  bool given_ = false;
};

}  // namespace

QN_CHILD_MODE(stalled_write) {
  FolderStorage place(args.at(0), kPrefix);
  StallingSource source;
  place.Write("auto-2026.12.09-06.30.00-000.bk3", source);
  return 0;
}

TEST(FolderStorage, AWrittenObjectIsThereWholeAndItsCopyIsCheckedByItsBytes) {
  TempDir dir;
  const std::string folder = Win1251(dir.path() + "/Резервные копии");
  platform::ForceDirectories(folder);
  FolderStorage place(folder, kPrefix);
  const std::string name = Win1251("копия-1.bk3");
  const std::string bytes(3 * 1024 * 1024 + 17, 'q');
  const WrittenObject written = place.Write(name, *TextSource(bytes));
  EXPECT_EQ(written.size, static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(written.sha256Hex.size(), 64u);
  EXPECT_EQ(ReadAll(place, name), bytes);
  const ObjectInfo info = place.Info(name);
  EXPECT_TRUE(info.exists);
  EXPECT_EQ(info.size, written.size);
  EXPECT_FALSE(place.Info("none.bk3").exists);
  EXPECT_EQ(place.List(), std::vector<std::string>{name});  // no temporary name stays
  std::string why;
  EXPECT_TRUE(place.Check(name, written, &why)) << why;

  // One byte changed on the disk: the check reads the copy, not a length.
  {
    std::fstream f(platform::KernelFileName(place.PathOf(name)), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(1024 * 1024);
    f.put('Q');
  }
  EXPECT_FALSE(place.Check(name, written, &why));
  EXPECT_NE(why.find(written.sha256Hex), std::string::npos) << why;

  // A second write replaces the object whole; rename and remove keep to it.
  const WrittenObject second = place.Write(name, *TextSource("short"));
  EXPECT_EQ(ReadAll(place, name), "short");
  EXPECT_TRUE(place.Check(name, second, &why)) << why;
  place.Rename(name, "b.bk3");
  EXPECT_FALSE(place.Info(name).exists);
  EXPECT_EQ(ReadAll(place, "b.bk3"), "short");
  place.Remove("b.bk3");
  EXPECT_TRUE(place.List().empty());

  // Names stay in the folder; a folder cannot lock an object.
  EXPECT_THROW(place.Write("../out.bk3", *TextSource("x")), Exception);
  EXPECT_THROW(place.Info("sub/x"), Exception);
  WriteOptions locked;
  locked.lockUntilUnix = 4102444800;
  EXPECT_THROW(place.Write("l.bk3", *TextSource("x"), locked), Exception);
  EXPECT_FALSE(place.Info("l.bk3").exists);
}

TEST(FolderStorage, AWriteThatFailsOrIsKilledHalfWayLeavesTheOldObjectAndOnlyItsOwnLeftoverIsSwept) {
  TempDir dir;
  const std::string name = "auto-2026.12.09-06.30.00-000.bk3";
  FolderStorage place(dir.path(), kPrefix);
  place.Write(name, *TextSource("the old backup"));
  {
    FailingSource failing;
    EXPECT_THROW(place.Write(name, failing), Exception);
  }
  EXPECT_EQ(ReadAll(place, name), "the old backup");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{name});

  // Killed while its bytes are on the way: the name keeps the old object,
  // and the piece already written sits under the program's own prefix.
  qntest::ChildProcess child("stalled_write", {dir.path()});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(qntest::WaitForFile(dir.File(std::string(kPrefix) + name)));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  child.Kill();
  EXPECT_EQ(child.Wait(), 128 + SIGKILL);
  EXPECT_EQ(ReadAll(place, name), "the old backup");
  EXPECT_GT(platform::FileSize(dir.File(std::string(kPrefix) + name)), 0);

  // The sweep takes what carries this identity, and nothing else: another
  // program's file, or a write of another identity, stays.
  qntest::TouchFile(dir.File("qnpartial-ffffffffffffffffffffffffffffffff-" + name));
  qntest::TouchFile(dir.File("someone-elses.bk3"));
  EXPECT_EQ(place.RemoveUnfinished(), 1);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{name, "qnpartial-ffffffffffffffffffffffffffffffff-" + name,
                                                     "someone-elses.bk3"}));
}
