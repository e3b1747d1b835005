// Choosing and loading the client library of a server generation, its
// version, and unloading it with the connection.
#include "firebird/fb_client.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "firebird/fb_connection.h"
#include "firebird/fb_error.h"
#include "firebird/fb_statement.h"
#include "fb_test_support.h"

namespace qn {
namespace {

using fbtest::ServerTest;

// A program folder as shipped: the classic client beside the program and
// the Firebird 3.0 client in "fb30c", each a link to the system's client.
struct ProgramFolder {
  TempDir dir;
  std::string Root() const { return dir.path(); }
  std::string Fb30() const { return dir.File(kFb30ClientFolder); }
  void Link(const std::string& folder) {
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink(fbtest::SystemClientFile(), folder + "/" + kFbClientFileName);
  }
};

TEST(SelectClientLibrary, EachGenerationHasItsFolder) {
  ProgramFolder program;
  program.Link(program.Root());
  program.Link(program.Fb30());
  EXPECT_EQ(SelectClientLibrary(program.Root(), false), program.Root() + "/libfbclient.so");
  EXPECT_EQ(SelectClientLibrary(program.Root(), true), program.Fb30() + "/libfbclient.so");
}

TEST(SelectClientLibrary, MissingFileFallsBackToTheSystemClient) {
  ProgramFolder program;
  EXPECT_EQ(SelectClientLibrary(program.Root(), false), kSystemFbClient);
  EXPECT_EQ(SelectClientLibrary(program.Root(), true), kSystemFbClient);
  // Only the Firebird 3.0 client present: the classic generation falls back alone.
  program.Link(program.Fb30());
  EXPECT_EQ(SelectClientLibrary(program.Root(), true), program.Fb30() + "/libfbclient.so");
  EXPECT_EQ(SelectClientLibrary(program.Root(), false), kSystemFbClient);
}

TEST(TqnFbClient, AFileThatIsNoLibraryIsRefusedWithItsName) {
  TempDir dir;
  std::string path = dir.File("libfbclient.so");
  platform::WriteFileReplacing(path, "not a library");
  try {
    TqnFbClient::Load(path);
    FAIL() << "loaded a text file";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_EQ(e.StatusCode(), 0);
  }
}

class ClientLibraryTest : public ServerTest {};

TEST_F(ClientLibraryTest, SystemClientTellsItsVersion) {
  std::shared_ptr<TqnFbClient> client = TqnFbClient::Load(kSystemFbClient);
  TqnFbVersion version;
  ASSERT_TRUE(GetClientVersion(*client, version));
  EXPECT_TRUE(version.full);
  EXPECT_EQ(version.major, client->Api().isc_get_client_major_version());
  EXPECT_EQ(version.minor, client->Api().isc_get_client_minor_version());
  // Debian 12 ships 3.0.11: newer than the 3.0.3.0 that needs no UTF-8 paths.
  EXPECT_TRUE(ClientVersionAtLeast(*client, 3, 0, 3, 0));
  EXPECT_TRUE(ClientVersionAtLeast(*client, version.major, version.minor, version.release, version.build));
  EXPECT_FALSE(ClientVersionAtLeast(*client, version.major, version.minor, version.release, version.build + 1));
  EXPECT_FALSE(ClientVersionAtLeast(*client, version.major, version.minor + 1, 0, 0));
}

TEST_F(ClientLibraryTest, ConnectionWorksThroughTheChosenFileAndReloadsIt) {
  ProgramFolder program;
  program.Link(program.Fb30());
  TqnFbConnection connection;
  connection.SetLibraryName(SelectClientLibrary(program.Root(), true));
  connection.SetDatabaseName(fbtest::Fb30Path(dir_.File("lib.fd3")));
  connection.CreateDatabase();
  ASSERT_TRUE(connection.Attached());
  EXPECT_EQ(connection.Client()->Path(), program.Fb30() + "/libfbclient.so");

  // Unloading detaches; the next attach loads the library again.
  connection.UnloadLibrary();
  EXPECT_FALSE(connection.Attached());
  EXPECT_FALSE(connection.LibraryLoaded());
  connection.Attach();
  EXPECT_TRUE(connection.LibraryLoaded());
  TqnFbStatement statement(connection);
  statement.Execute("SELECT 1 AS ONE FROM RDB$DATABASE");
  ASSERT_TRUE(statement.Fetch());
  EXPECT_EQ(statement.AsInteger("ONE"), 1);
  statement.Close();

  // Another library name detaches and unloads at once.
  connection.DefaultTransaction().Commit();
  connection.SetLibraryName(SelectClientLibrary(program.Root(), false));
  EXPECT_FALSE(connection.Attached());
  EXPECT_FALSE(connection.LibraryLoaded());
  EXPECT_EQ(connection.LibraryName(), kSystemFbClient);
  connection.Attach();
  EXPECT_EQ(connection.OdsMajorVersion(), 12);
}

}  // namespace
}  // namespace qn
