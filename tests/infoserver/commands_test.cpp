// The command set through HandleInfoPacket: every command and reply form
// against a register with entries, as a workstation sees them (framed
// request in, framed reply out, checked byte for byte).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/error.h"
#include "base/text.h"
#include "info_test_support.h"
#include "infoserver/info_handler.h"

namespace {

using infotest::Fixture;
using infotest::ReplyPayload;
using infotest::Request;

// The reply payload to a payload sent with request number 0x2A, or
// "<no reply>" when the dispatcher answers nothing.
std::string Ask(Fixture& f, const std::string& payload, const std::string& peer = "") {
  const std::string reply = qn::HandleInfoPacket(f.ctx, Request(payload), peer);
  return reply == qn::kInvalidReply ? "<no reply>" : ReplyPayload(reply);
}

// ---- front half

TEST(InfoHandler, ReplyEchoesRequestNumberAndCarriesInstanceNumber) {
  Fixture f;
  const std::string reply = qn::HandleInfoPacket(f.ctx, Request("get-active-servers", 0x2A), "");
  EXPECT_EQ(reply.substr(41, 9), "1234ABCD ");
  EXPECT_EQ(ReplyPayload(reply).rfind("active-server 0000002A ", 0), 0u);
}

TEST(InfoHandler, NothingIsAnsweredForBadOrEmptyInput) {
  Fixture f;
  std::string flipped = Request("get-active-servers");
  flipped[60] ^= 1;
  EXPECT_EQ(qn::HandleInfoPacket(f.ctx, flipped, ""), qn::kInvalidReply);
  EXPECT_EQ(qn::HandleInfoPacket(f.ctx, "", ""), qn::kInvalidReply);
  EXPECT_EQ(Ask(f, ""), "<no reply>");                     // no words
  EXPECT_EQ(Ask(f, " get-active-servers"), "<no reply>");  // empty first word
  EXPECT_EQ(Ask(f, "GET-ACTIVE-SERVERS"), "<no reply>");   // case-sensitive
  EXPECT_EQ(Ask(f, "get-active-servers\n"), "<no reply>");
  EXPECT_EQ(Ask(f, "check-sum-fail"), "<no reply>");
}

TEST(InfoHandler, PacketsUpTo2048CharactersAreTaken) {
  Fixture f;
  std::string payload = "get-active-servers ";
  payload += std::string(2048 - 50 - payload.size(), 'x');
  std::string packet = Request(payload);
  ASSERT_EQ(packet.size(), 2048u);
  EXPECT_NE(qn::HandleInfoPacket(f.ctx, packet, ""), qn::kInvalidReply);

  packet = Request(payload + "x");
  ASSERT_EQ(packet.size(), 2049u);
  EXPECT_EQ(qn::HandleInfoPacket(f.ctx, packet, ""), qn::kInvalidReply);
  EXPECT_TRUE(f.Logged("data too big"));
}

TEST(InfoHandler, DebugLinesTellLengthCommandAndReply) {
  Fixture f;
  const std::string packet = Request("get-fb30-support");
  qn::HandleInfoPacket(f.ctx, packet, "");
  EXPECT_TRUE(f.Logged("Receiving packet length " + std::to_string(packet.size())));
  EXPECT_TRUE(f.Logged("Receiving command get-fb30-support"));
  EXPECT_TRUE(f.Logged("Reply fb30-support 0"));
}

TEST(InfoHandler, WithoutDebugFlagOnlyAlwaysLinesAreWritten) {
  Fixture f(infotest::kRegisterXml, /*debug=*/false);
  qn::HandleInfoPacket(f.ctx, Request("get-fb30-support"), "");
  qn::HandleInfoPacket(f.ctx, Request("get-database-info-by-name db0009"), "");
  EXPECT_EQ(f.LogTexts(), std::vector<std::string>{"ERROR: database \"db0009\" not exists"});
}

TEST(InfoHandler, ErrorsReadingTheSettingsPropagate) {
  Fixture f;
  f.ctx.readSettings = [](const std::function<void(const qn::TqnNode&)>&) { throw qn::Exception("locked"); };
  EXPECT_THROW(qn::HandleInfoPacket(f.ctx, Request("get-active-servers"), ""), qn::Exception);
}

// ---- get-active-servers

TEST(ActiveServers, HostNameAndNumberOfRegisterChildren) {
  Fixture f;
  // The non-entry child "notes" is a child of the register too.
  EXPECT_EQ(Ask(f, "get-active-servers"), "active-server 0000002A OFFICE1 4");
  f.ctx.address.localHostName = "MY HOST";
  EXPECT_EQ(Ask(f, "get-active-servers"), "active-server 0000002A MY#20HOST 4");
}

TEST(ActiveServers, NoRegisterCountsZero) {
  Fixture f("<settings><PIN>x</PIN></settings>");
  EXPECT_EQ(Ask(f, "get-active-servers"), "active-server 0000002A OFFICE1 0");
}

// ---- get-database-info-by-num

TEST(InfoByNumber, EntryWithCaptionAddressUserAndUnescapedPassword) {
  Fixture f;
  // The password "pass word" goes out as it stands and so adds a word.
  EXPECT_EQ(Ask(f, "get-database-info-by-num 0"),
            "database-info 0000002A 0 db0000 Main#20base OFFICE1:C:\\Data\\tx.fdb SYSDBA pass word");
}

TEST(InfoByNumber, HiddenPasswordStoredUserAndDecodedCaption) {
  Fixture f;
  // caption is decoded ("a&#x26;b" -> "a&b"); user is the stored text, its
  // '#' escaped; the Firebird 3.0 entry's address in URL form for "V3".
  EXPECT_EQ(Ask(f, "get-database-info-by-num 1 V3"),
            "database-info 0000002A 1 db0003 a&b inet4://OFFICE1:53030/C:\\Data\\tx3.fd3 SYS&#23x26;DBA "
            "invalid_password");
  EXPECT_EQ(Ask(f, "get-database-info-by-num 1"),
            "database-info 0000002A 1 db0003 a&b OFFICE1/53030:C:\\Data\\tx3.fd3 SYS&#23x26;DBA invalid_password");
}

TEST(InfoByNumber, EmptyCaptionLeavesAnEmptyField) {
  Fixture f;
  EXPECT_EQ(Ask(f, "get-database-info-by-num 3"), "database-info 0000002A 3 db0007  srv:C:\\far\\away.fdb u p");
}

TEST(InfoByNumber, PositionCountsEveryRegisterChild) {
  Fixture f;
  // "notes" holds position 2; it has none of the fields.
  EXPECT_EQ(Ask(f, "get-database-info-by-num 2"), "database-info 0000002A 2 notes    ");
}

TEST(InfoByNumber, OutOfRangeAndNonNumbersGiveNotFound) {
  Fixture f;
  const std::string nf = " (not-found) (not-found) (not-found) (not-found)";
  EXPECT_EQ(Ask(f, "get-database-info-by-num 4"), "database-info 0000002A 4" + nf);
  EXPECT_EQ(Ask(f, "get-database-info-by-num -3"), "database-info 0000002A -3" + nf);
  EXPECT_EQ(Ask(f, "get-database-info-by-num x"), "database-info 0000002A -1" + nf);
  EXPECT_EQ(Ask(f, "get-database-info-by-num 99999999999"), "database-info 0000002A -1" + nf);
  EXPECT_EQ(Ask(f, "get-database-info-by-num"), "database-info 0000002A -1" + nf);
  EXPECT_EQ(Ask(f, "get-database-info-by-num  0"), "database-info 0000002A -1" + nf);  // empty argument
  EXPECT_EQ(Ask(f, "get-database-info-by-num 007"), "database-info 0000002A 7" + nf);  // as read
}

TEST(InfoByNumber, EmptyRegisterIsNotFound) {
  Fixture f("<settings><data></data></settings>");
  EXPECT_EQ(Ask(f, "get-database-info-by-num 0"),
            "database-info 0000002A 0 (not-found) (not-found) (not-found) (not-found)");
}

TEST(InfoByNumber, UrlFlagIsTrimmedAndUpperCased) {
  Fixture f;
  const std::string url =
      "database-info 0000002A 1 db0003 a&b inet4://OFFICE1:53030/C:\\Data\\tx3.fd3 "
      "SYS&#23x26;DBA invalid_password";
  const std::string classic =
      "database-info 0000002A 1 db0003 a&b OFFICE1/53030:C:\\Data\\tx3.fd3 "
      "SYS&#23x26;DBA invalid_password";
  EXPECT_EQ(Ask(f, "get-database-info-by-num 1 v3"), url);
  EXPECT_EQ(Ask(f, "get-database-info-by-num 1 \tV3\r\n"), url);
  EXPECT_EQ(Ask(f, "get-database-info-by-num 1 V4"), classic);
  EXPECT_EQ(Ask(f, "get-database-info-by-num 1 V3x"), classic);
  EXPECT_EQ(Ask(f, "get-database-info-by-num 1  V3"), classic);  // V3 is word 4 here
}

// ---- get-database-info-by-name

TEST(InfoByName, FoundEntryGivesItsPosition) {
  Fixture f;
  EXPECT_EQ(Ask(f, "get-database-info-by-name db0007 V3"),
            "database-info 0000002A 3 db0007  srv:C:\\far\\away.fdb u p");
  // The lookup ignores case; the reply names the entry as it is stored.
  EXPECT_EQ(Ask(f, "get-database-info-by-name DB0000").substr(0, 32), "database-info 0000002A 0 db0000 ");
}

TEST(InfoByName, MissingEntryIsAnErrorLoggedAlwaysWithoutReplyLine) {
  Fixture f;
  EXPECT_EQ(Ask(f, "get-database-info-by-name db0005"), "error database-not-exists db0005");
  EXPECT_TRUE(f.Logged("ERROR: database \"db0005\" not exists"));
  for (const auto& line : f.LogTexts()) EXPECT_NE(line.rfind("Reply ", 0), 0u) << line;
  EXPECT_EQ(Ask(f, "get-database-info-by-name"), "error database-not-exists ");
}

// ---- get-database-backup-path-by-name

TEST(BackupPath, FoundAndMissing) {
  Fixture f;
  EXPECT_EQ(Ask(f, "get-database-backup-path-by-name db0000"),
            "database-backup-path-by-name db0000 C:\\Backup\\0000\\");
  EXPECT_EQ(Ask(f, "get-database-backup-path-by-name db0001"), "error database-not-exists db0001");
  EXPECT_TRUE(f.Logged("ERROR: database \"db0001\" not exists"));
}

TEST(BackupPath, FolderWithBlanksIsEscaped) {
  Fixture f("<settings><data><db0000><backup><path>C:\\My Copies\\</path></backup></db0000></data></settings>");
  EXPECT_EQ(Ask(f, "get-database-backup-path-by-name db0000"), "database-backup-path-by-name db0000 C:\\My#20Copies\\");
}

// ---- perform-database-backup

struct BackupSpy {
  std::vector<qn::TqnRemoteBackupRequest> requests;
  bool lockWasFree = false;
};

void Spy(Fixture& f, BackupSpy& spy) {
  f.ctx.performBackup = [&f, &spy](const qn::TqnRemoteBackupRequest& r) {
    spy.lockWasFree = f.settings.WriterCouldEnter();
    spy.requests.push_back(r);
  };
}

TEST(RemoteBackup, SuccessAfterTheBackupWithFileNameAndRequester) {
  Fixture f;
  BackupSpy spy;
  Spy(f, spy);
  EXPECT_EQ(Ask(f, "perform-database-backup db0000", "10.0.0.5"), "database-backup-info 0000002A success");
  ASSERT_EQ(spy.requests.size(), 1u);
  EXPECT_EQ(spy.requests[0].entryKey, "db0000");
  EXPECT_EQ(spy.requests[0].fileName, "C:\\Backup\\0000\\remote-2024.03.05-14.07.09-123.fbk");
  EXPECT_EQ(spy.requests[0].peer, "10.0.0.5");
  EXPECT_EQ(spy.requests[0].requestNumber, 0x2Au);
  EXPECT_TRUE(spy.lockWasFree) << "the backup must run outside the settings lock";
  EXPECT_TRUE(f.Logged("DATABASE BACKUP REQUESTED"));
  EXPECT_TRUE(f.Logged("Reply database-backup-info 0000002A success"));
}

TEST(RemoteBackup, Fb30EntryGetsBk3AndTheNormalisedFolder) {
  Fixture f;
  BackupSpy spy;
  Spy(f, spy);
  f.ctx.normalizeBackupFolder = [](const std::string& folder) { return folder + "fb30\\"; };
  EXPECT_EQ(Ask(f, "perform-database-backup db0003"), "database-backup-info 0000002A success");
  ASSERT_EQ(spy.requests.size(), 1u);
  EXPECT_EQ(spy.requests[0].fileName, "C:\\fb30\\remote-2024.03.05-14.07.09-123.bk3");
  EXPECT_EQ(spy.requests[0].peer, "");
}

TEST(RemoteBackup, ShortFolderIsRefusedWithEscapedMessage) {
  Fixture f;
  BackupSpy spy;
  Spy(f, spy);
  const std::string message = qn::Win1251("Путь для резервных копий \"C:\\\" не доступен");
  EXPECT_EQ(Ask(f, "perform-database-backup db0003"),
            "database-backup-info 0000002A error " + qn::EscapeField(message));
  EXPECT_TRUE(spy.requests.empty());
  EXPECT_NE(qn::EscapeField(message).find("#20"), std::string::npos);
}

TEST(RemoteBackup, MissingEntryAndMissingKey) {
  Fixture f;
  BackupSpy spy;
  Spy(f, spy);
  EXPECT_EQ(Ask(f, "perform-database-backup db0009"),
            "database-backup-info 0000002A error database#20\"db0009\"#20not#20found");
  EXPECT_EQ(Ask(f, "perform-database-backup"), "database-backup-info 0000002A error database#20\"\"#20not#20found");
  EXPECT_TRUE(spy.requests.empty());
  EXPECT_TRUE(f.Logged("DATABASE BACKUP REQUESTED"));
}

TEST(RemoteBackup, FailuresBecomeErrorReplies) {
  Fixture f;
  f.ctx.performBackup = [](const qn::TqnRemoteBackupRequest&) { throw qn::Exception("disk full"); };
  EXPECT_EQ(Ask(f, "perform-database-backup db0000"), "database-backup-info 0000002A error disk#20full");
  f.ctx.performBackup = [](const qn::TqnRemoteBackupRequest&) { throw 42; };
  EXPECT_EQ(Ask(f, "perform-database-backup db0000"), "database-backup-info 0000002A error unknown#20exception");
  f.ctx.performBackup = nullptr;
  EXPECT_EQ(Ask(f, "perform-database-backup db0000"),
            "database-backup-info 0000002A error backup#20is#20not#20available");
}

TEST(RemoteBackup, InvalidDatabasePathIsAnErrorReply) {
  Fixture f(
      "<settings><data><db0000><path>ab</path><backup><path>C:\\Backup\\</path></backup></db0000></data></settings>");
  BackupSpy spy;
  Spy(f, spy);
  const std::string message = qn::Win1251("Недопустимое значение пути к базе данных (1): ab");
  EXPECT_EQ(Ask(f, "perform-database-backup db0000"),
            "database-backup-info 0000002A error " + qn::EscapeField(message));
  EXPECT_TRUE(spy.requests.empty());
}

// ---- get-fb30-support and the conversion lock

TEST(Fb30Support, AnswersTheServerState) {
  Fixture f;
  EXPECT_EQ(Ask(f, "get-fb30-support"), "fb30-support 0");
  f.ctx.isFb30Running = [] { return true; };
  EXPECT_EQ(Ask(f, "get-fb30-support"), "fb30-support 1");
  f.ctx.isFb30Running = [] { return false; };
  EXPECT_EQ(Ask(f, "get-fb30-support"), "fb30-support 0");
}

TEST(ConvertLock, WordsGoToTheSwitchAndItsTextIsFramedUnchanged) {
  Fixture f;
  std::vector<std::string> seen;
  bool lockWasFree = false;
  f.ctx.runFb30ConvertCommand = [&](const std::vector<std::string>& words) {
    seen = words;
    lockWasFree = f.settings.WriterCouldEnter();
    return std::string("database-fb30-convert-lock successfully-locked");
  };
  EXPECT_EQ(Ask(f, "set-database-fb30-convert-lock db0000"), "database-fb30-convert-lock successfully-locked");
  EXPECT_EQ(seen, (std::vector<std::string>{"set-database-fb30-convert-lock", "db0000"}));
  EXPECT_TRUE(lockWasFree);
  Ask(f, "set-database-fb30-convert-unlock db0000 switch-to-fb30");
  EXPECT_EQ(seen, (std::vector<std::string>{"set-database-fb30-convert-unlock", "db0000", "switch-to-fb30"}));
  for (const auto& line : f.LogTexts()) EXPECT_NE(line.rfind("Reply ", 0), 0u) << line;
}

TEST(ConvertLock, WithoutTheSwitchThereIsNoReply) {
  Fixture f;
  EXPECT_EQ(Ask(f, "set-database-fb30-convert-lock db0000"), "<no reply>");
  EXPECT_EQ(Ask(f, "set-database-fb30-convert-unlock db0000"), "<no reply>");
}

// ---- threads

TEST(InfoHandler, ReadersOnManyThreadsWhileTheTreeChanges) {
  Fixture f;
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        const std::string reply = Ask(f, "get-database-info-by-num " + std::to_string(i % 6));
        if (reply.rfind("database-info 0000002A ", 0) == 0) ++answered;
      }
    });
  }
  std::thread writer([&] {
    for (int i = 0; !stop; ++i) {
      f.settings.Write([&](qn::TqnNode& root) {
        qn::TqnNode* data = root.Node("data");
        if (i % 2 == 0) {
          data->AddNode("db0100")->Node("caption")->Content().SetString("temporary");
        } else {
          delete data->FindNode("db0100");
        }
      });
    }
  });
  for (auto& r : readers) r.join();
  stop = true;
  writer.join();
  EXPECT_EQ(answered.load(), 4 * 300);
}

}  // namespace
