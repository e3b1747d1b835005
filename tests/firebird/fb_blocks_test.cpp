// What goes to the client library without a server: parameter blocks, the
// CREATE DATABASE text, value conversions, version texts and error texts.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "firebird/fb_client.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_error.h"
#include "firebird/fb_services.h"
#include "firebird/fb_values.h"

namespace qn {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

TEST(CreateDatabaseSql, QuotesAreDoubledInEveryLiteral) {
  EXPECT_EQ(CreateDatabaseSql("localhost/53030:/tmp/it's/tx.fd3", "O'NEIL", "pa'ss''", "WIN1251", 4096),
            "CREATE DATABASE 'localhost/53030:/tmp/it''s/tx.fd3' USER 'O''NEIL' PASSWORD 'pa''ss''''' "
            "SET NAMES 'WIN1251' PAGE_SIZE 4096 DEFAULT CHARACTER SET WIN1251");
  EXPECT_EQ(QuoteSqlLiteral("'"), "''");
  EXPECT_EQ(QuoteSqlLiteral("plain"), "plain");
}

TEST(ParameterBlocks, DatabaseBlockCarriesTheFixedParameters) {
  TqnFbConnection connection;
  connection.SetUserName("ANNA");
  connection.SetPassword("pw");
  EXPECT_EQ(connection.DatabaseParameterBlock(), Bytes({1, 28, 4, 'A', 'N', 'N', 'A', 29,  2,   'p', 'w', 63,  4,  3,
                                                        0, 0,  0, 48,  7,   'W', 'I', 'N', '1', '2', '5', '1', 77, 0}));
  connection.SetPassword(std::string(256, 'x'));
  EXPECT_THROW(connection.DatabaseParameterBlock(), Exception);
}

TEST(ParameterBlocks, DefaultTransactionIsNoWaitReadCommittedRecordVersion) {
  EXPECT_EQ(DefaultTransactionParameters(), Bytes({3, 9, 7, 15, 17}));
}

TEST(ParameterBlocks, ServiceBlocks) {
  EXPECT_EQ(ServiceManagerName("localhost", 53030), "localhost/53030:service_mgr");
  EXPECT_EQ(ServiceManagerName("srv", 0), "srv:service_mgr");
  EXPECT_EQ(ServiceAttachBlock("U", "pw"), Bytes({2, 2, 28, 1, 'U', 29, 2, 'p', 'w'}));

  TqnFbBackupRequest backup;
  backup.database = "/d/a.fd3";
  backup.backupFile = "b";
  EXPECT_EQ(BackupRequestBlock(backup),
            Bytes({1, 106, 8, 0, '/', 'd', '/', 'a', '.', 'f', 'd', '3', 5, 1, 0, 'b', 107, 108, 0x08, 0, 0, 0}));

  TqnFbRestoreRequest restore;
  restore.backupFile = "b";
  restore.database = "d";
  restore.fixFssMetadata = "WIN1251";
  EXPECT_EQ(RestoreRequestBlock(restore), Bytes({2, 5, 1,  0, 'b', 106, 1,   0,   'd', 107, 108, 0,  0x20,
                                                 0, 0, 14, 7, 0,   'W', 'I', 'N', '1', '2', '5', '1'}));
  restore.fixFssMetadata.clear();
  restore.verbose = false;
  restore.options = fb::isc_spb_res_replace;
  EXPECT_EQ(RestoreRequestBlock(restore), Bytes({2, 5, 1, 0, 'b', 106, 1, 0, 'd', 108, 0, 0x10, 0, 0}));
  restore.pageBuffers = 0x12345;
  EXPECT_EQ(RestoreRequestBlock(restore),
            Bytes({2, 5, 1, 0, 'b', 106, 1, 0, 'd', 108, 0, 0x10, 0, 0, 9, 0x45, 0x23, 0x01, 0}));

  // A file name longer than 255 bytes needs the second length byte.
  backup.backupFile = std::string(300, 'f');
  std::string block = BackupRequestBlock(backup);
  EXPECT_EQ(block.substr(12, 3), Bytes({5, 300 & 0xFF, 300 >> 8}));
  EXPECT_EQ(block.substr(15, 300), backup.backupFile);
}

TEST(ParseServiceLine, LineEmptyLineAndForeignAnswer) {
  std::string line;
  std::string answer = Bytes({62, 5, 0}) + "gbak:" + Bytes({1});
  ASSERT_TRUE(ParseServiceLine(answer.data(), answer.size(), line));
  EXPECT_EQ(line, "gbak:");
  answer = Bytes({62, 0, 0, 1});
  ASSERT_TRUE(ParseServiceLine(answer.data(), answer.size(), line));
  EXPECT_TRUE(line.empty());
  answer = Bytes({2, 0, 0, 1});
  EXPECT_FALSE(ParseServiceLine(answer.data(), answer.size(), line));
  // A length beyond the buffer is cut to what is there.
  answer = Bytes({62, 10, 0}) + "ab";
  ASSERT_TRUE(ParseServiceLine(answer.data(), answer.size(), line));
  EXPECT_EQ(line, "ab");
}

TEST(IscValues, DatesCountDaysFrom17November1858) {
  EXPECT_EQ(EncodeIscDate(1858, 11, 17), 0);
  EXPECT_EQ(EncodeIscDate(1858, 11, 18), 1);
  EXPECT_EQ(EncodeIscDate(1858, 11, 16), -1);
  // Century rule: 1900 has no 29 February, 2000 has one.
  EXPECT_EQ(EncodeIscDate(1900, 3, 1) - EncodeIscDate(1900, 2, 28), 1);
  EXPECT_EQ(EncodeIscDate(2000, 3, 1) - EncodeIscDate(2000, 2, 28), 2);
  int y, m, d;
  for (fb::ISC_DATE date = -1000; date < 200000; date += 37) {
    DecodeIscDate(date, y, m, d);
    ASSERT_EQ(EncodeIscDate(y, m, d), date) << y << "-" << m << "-" << d;
    ASSERT_TRUE(m >= 1 && m <= 12 && d >= 1 && d <= 31);
  }
  EXPECT_EQ(FormatIscDate(EncodeIscDate(2024, 3, 5)), "2024-03-05");
}

TEST(IscValues, TimesInTenThousandthsOfASecond) {
  fb::ISC_TIME t = EncodeIscTime(6, 30, 12, 450);
  EXPECT_EQ(t, ((6u * 60 + 30) * 60 + 12) * 10000 + 450);
  EXPECT_EQ(FormatIscTime(t), "06:30:12.0450");
  EXPECT_EQ(FormatIscTimestamp({EncodeIscDate(1999, 12, 31), EncodeIscTime(23, 59, 59, 9999)}),
            "1999-12-31 23:59:59.9999");
}

TEST(IscValues, ScaledIntegers) {
  EXPECT_EQ(ScaledIntegerText(12345, -2), "123.45");
  EXPECT_EQ(ScaledIntegerText(-5, -3), "-0.005");
  EXPECT_EQ(ScaledIntegerText(5, -1), "0.5");
  EXPECT_EQ(ScaledIntegerText(0, -2), "0.00");
  EXPECT_EQ(ScaledIntegerText(7, 2), "700");
  EXPECT_EQ(ScaledIntegerText(0, 2), "0");
  EXPECT_EQ(ScaledIntegerText(INT64_MIN, 0), "-9223372036854775808");
  EXPECT_EQ(ScaledIntegerText(INT64_MIN, -4), "-922337203685477.5808");
}

TEST(IscValues, ParsingNumbers) {
  int64_t i = 0;
  EXPECT_TRUE(ParseInt64(" -42 ", i));
  EXPECT_EQ(i, -42);
  EXPECT_TRUE(ParseInt64("+7", i));
  EXPECT_EQ(i, 7);
  EXPECT_FALSE(ParseInt64("4x", i));
  EXPECT_FALSE(ParseInt64("", i));
  EXPECT_FALSE(ParseInt64("99999999999999999999", i));
  double d = 0;
  EXPECT_TRUE(ParseDouble("3.25", d));
  EXPECT_DOUBLE_EQ(d, 3.25);
  EXPECT_TRUE(ParseDouble("-1e3", d));
  EXPECT_DOUBLE_EQ(d, -1000);
  EXPECT_FALSE(ParseDouble("3,25", d));
}

TEST(ClientVersion, VersionTextAndComparison) {
  TqnFbVersion v;
  ASSERT_TRUE(ParseClientVersionText("LI-V3.0.11.33703 Firebird 3.0", v));
  EXPECT_EQ(v.major, 3);
  EXPECT_EQ(v.minor, 0);
  EXPECT_EQ(v.release, 11);
  EXPECT_EQ(v.build, 33703);
  EXPECT_TRUE(v.full);
  EXPECT_FALSE(ParseClientVersionText("Firebird 3.0", v));
  ASSERT_TRUE(ParseClientVersionText("WI-V1.2 x 2.5.9.27139", v));
  EXPECT_EQ(v.release, 9);

  EXPECT_TRUE(VersionAtLeast({3, 0, 3, 0, true}, 3, 0, 3, 0));
  EXPECT_FALSE(VersionAtLeast({3, 0, 2, 32703, true}, 3, 0, 3, 0));
  EXPECT_TRUE(VersionAtLeast({3, 0, 11, 0, true}, 3, 0, 3, 0));  // 11 > 3, not as text
  EXPECT_FALSE(VersionAtLeast({2, 5, 9, 0, true}, 3, 0, 3, 0));
  // Only major and minor known: those decide.
  EXPECT_TRUE(VersionAtLeast({3, 0, 0, 0, false}, 3, 0, 3, 0));
  EXPECT_FALSE(VersionAtLeast({2, 5, 0, 0, false}, 3, 0, 3, 0));
}

// A stand-in for the library's interpreter: one message per error code.
fb::ISC_LONG FakeInterpret(char* buffer, unsigned int size, const fb::ISC_STATUS** cursor) {
  const fb::ISC_STATUS* s = *cursor;
  if (s[0] != fb::isc_arg_gds || s[1] == 0) return 0;
  std::snprintf(buffer, size, "message %ld", static_cast<long>(s[1]));
  *cursor = s + 2;
  return static_cast<fb::ISC_LONG>(std::strlen(buffer));
}
fb::ISC_LONG FakeSqlCode(const fb::ISC_STATUS*) { return -902; }

TEST(StatusVector, ErrorCarriesAllMessagesAndTheFirstCode) {
  fb::TqnFbApi api;
  api.fb_interpret = FakeInterpret;
  api.isc_sqlcode = FakeSqlCode;
  fb::ISC_STATUS status[] = {fb::isc_arg_gds, fb::isc_login, fb::isc_arg_gds, fb::isc_io_error, fb::isc_arg_end};
  EXPECT_TRUE(StatusFailed(status));
  EXPECT_EQ(FirstErrorCode(status), fb::isc_login);
  try {
    CheckStatus(api, status);
    FAIL() << "no exception";
  } catch (const EqnFbError& e) {
    EXPECT_EQ(e.StatusCode(), 335544472L);
    EXPECT_EQ(e.SqlCode(), -902);
    EXPECT_EQ(std::string(e.what()), "message 335544472\r\nmessage 335544344");
  }

  fb::ISC_STATUS ok[] = {fb::isc_arg_gds, 0, fb::isc_arg_end};
  EXPECT_FALSE(StatusFailed(ok));
  EXPECT_EQ(FirstErrorCode(ok), 0);
  EXPECT_NO_THROW(CheckStatus(api, ok));
}

}  // namespace
}  // namespace qn
