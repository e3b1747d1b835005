#include <gtest/gtest.h>

#include "settings/register.h"
#include "xml/xml_dom.h"

namespace qn {
namespace {

// The installer moved data, backup and log out of the program folder: the
// entries follow them, and only them. A folder whose name merely begins like
// the program's, another folder of it, or a path on another server's disk
// (another server's disk) stays.
TEST(Register, MovedStatePathsFollowOnlyTheMovedFolders) {
  TqnNode root("settings");
  const std::string old = "C:\\Program Files\\qndbmgr", state = "C:\\ProgramData\\qndbmgr";
  const auto add = [&](int n, const std::string& path, const std::string& backup) {
    TqnNode* e = AddEntry(root, n, {path, "", "", ""});
    e->Node("backup")->Node("path")->Content().SetString(backup);
    return e;
  };
  TqnNode* moved = add(0, "localhost:c:\\program files\\QNDBMGR\\data\\Учёт.fd3", old + "\\backup\\0000");
  TqnNode* kept = add(1, old + "2\\data\\x.fd3", old + "\\fb30c\\x");
  TqnNode* remote = add(2, "server:" + old + "\\data\\y.fdb", "");
  EXPECT_TRUE(MoveStatePaths(root, old, state));
  EXPECT_EQ(moved->FindNode("path")->Content().AsString(""), "localhost:" + state + "\\data\\Учёт.fd3");
  EXPECT_EQ(moved->FindNode("backup")->FindNode("path")->Content().AsString(""), state + "\\backup\\0000");
  EXPECT_EQ(kept->FindNode("path")->Content().AsString(""), old + "2\\data\\x.fd3");
  EXPECT_EQ(kept->FindNode("backup")->FindNode("path")->Content().AsString(""), old + "\\fb30c\\x");
  EXPECT_EQ(remote->FindNode("path")->Content().AsString(""), "server:" + old + "\\data\\y.fdb");
  EXPECT_FALSE(MoveStatePaths(root, old, state)) << "a second start moves nothing";
  EXPECT_FALSE(MoveStatePaths(root, state, state));
}

}  // namespace
}  // namespace qn
