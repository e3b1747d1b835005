// The administrator's command in the instance channel's record: where its
// parts lie, how much it may hold, and how a long answer is paged.
#include <gtest/gtest.h>

#include <cstring>

#include "base/error.h"
#include "base/text.h"
#include "cli/command_record.h"

namespace qn {
namespace {

const uint8_t* Raw(const TqnIpcMessage& m) { return reinterpret_cast<const uint8_t*>(&m); }

TEST(CommandRecord, OptionsLieBehindTheStatusHeaderZeroEnded) {
  TqnIpcMessage m;
  WriteCommandRequest(m, {"backup=db0000", "to=/srv/b.fbk"});
  EXPECT_EQ(m.Command(), "command-line");
  const uint8_t* area = Raw(m) + 40 + 256;  // the status area, past its header
  EXPECT_EQ(area[0] | area[1] << 8 | area[2] << 16 | area[3] << 24, 0) << "offset";
  EXPECT_EQ(area[4] | area[5] << 8, 28);
  EXPECT_EQ(std::memcmp(area + 6, "backup=db0000\0to=/srv/b.fbk\0", 28), 0);
  EXPECT_EQ(std::memcmp(m.reserved, "\0\0\0\0", 4), 0) << "no answer number in a new command";
  const TqnCommandRequest back = ReadCommandRequest(m);
  EXPECT_EQ(back.options, (std::vector<std::string>{"backup=db0000", "to=/srv/b.fbk"}));
}

TEST(CommandRecord, OptionsFillAtMost1818Bytes) {
  EXPECT_EQ(kCommandTextRoom, 1818u);
  TqnIpcMessage m;
  const std::string fits(1817, 'x');  // with its zero byte: 1818
  WriteCommandRequest(m, {fits});
  EXPECT_EQ(ReadCommandRequest(m).options, std::vector<std::string>{fits});
  try {
    WriteCommandRequest(m, {fits + "y"});
    FAIL() << "1819 bytes of options were taken";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), Win1251("Слишком длинная команда"));
  }
}

TEST(CommandRecord, ALongAnswerIsPagedByItsNumberAndOffset) {
  std::string text;
  for (int i = 0; text.size() < 5000; ++i) text += std::to_string(i) + Win1251("\tзапись\n");
  TqnIpcMessage m;
  WriteCommandAnswer(m, kCommandDone, text, 0, 41);
  TqnCommandAnswer first = ReadCommandAnswer(m);
  EXPECT_EQ(first.status, kCommandDone);
  EXPECT_EQ(first.answerNumber, 41u);
  EXPECT_EQ(first.totalLength, text.size());
  EXPECT_EQ(first.text, text.substr(0, kCommandTextRoom));

  std::string got = first.text;
  while (got.size() < first.totalLength) {
    WritePageRequest(m, first.answerNumber, static_cast<uint32_t>(got.size()));
    EXPECT_EQ(m.Command(), "command-page");
    const TqnCommandRequest page = ReadCommandRequest(m);
    EXPECT_EQ(page.answerNumber, 41u);
    EXPECT_EQ(page.offset, got.size());
    EXPECT_TRUE(page.options.empty());
    WriteCommandAnswer(m, kCommandDone, text, page.offset, page.answerNumber);
    const TqnCommandAnswer piece = ReadCommandAnswer(m);
    ASSERT_FALSE(piece.text.empty());
    got += piece.text;
  }
  EXPECT_EQ(got, text);
}

}  // namespace
}  // namespace qn
