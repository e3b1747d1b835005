// How an administrator's command travels in the instance channel's record.
//
// The record's command field holds "command-line" (run the options; the
// field's 31 characters would not hold them) or "command-page" (a further
// piece of an answer already given). The record's first 4 bytes
// (little-endian) carry the answer's number: 0 in a "command-line"
// request, the number the first piece came with in an answer and in a
// "command-page" request. The status area keeps its first 256 bytes for
// the status the channel writes ("unprocessed", "unassigned", "fail") and
// the answer's status; behind them, at offset 256 of the area:
//
//   4 bytes   little-endian: in a request the offset of the answer text
//             wanted, in an answer the answer text's whole length
//   2 bytes   little-endian: the length n of the text that follows
//   n bytes   a request: the options, each ended by a zero byte
//             ("backup=db0000\0to=/srv/b.fbk\0"); an answer: the piece of
//             its text starting at the requested offset
//
// A long answer (a long --list) is thus paged from the one result of the
// one run, never by running the command again.
//
// Answer statuses: "command-done" (success, the text is the result),
// "command-failed" (the text is the message), "command-busy" (another
// operation runs: the sender tries again later). Texts are Windows-1251.
// "activate" travels as it always has and is not touched here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipc/channel.h"

namespace qn {

inline constexpr const char* kCommandLineMessage = "command-line";
inline constexpr const char* kCommandPageMessage = "command-page";
inline constexpr const char* kCommandDone = "command-done";
inline constexpr const char* kCommandFailed = "command-failed";
inline constexpr const char* kCommandBusy = "command-busy";

// The room for text behind the header in one record.
constexpr size_t kCommandTextRoom = sizeof(TqnIpcMessage::status) - 256 - 6;

struct TqnCommandRequest {
  std::vector<std::string> options;  // "command-line" only
  uint32_t answerNumber = 0;         // "command-page" only
  uint32_t offset = 0;               // "command-page" only
};

struct TqnCommandAnswer {
  std::string status;  // one of the three above, or whatever the channel left
  uint32_t answerNumber = 0;
  uint32_t totalLength = 0;
  std::string text;  // the piece that came
};

// Fills a fresh "command-line" record; throws "Слишком длинная команда"
// when the options do not fit.
void WriteCommandRequest(TqnIpcMessage& message, const std::vector<std::string>& options);
// Fills a fresh "command-page" record.
void WritePageRequest(TqnIpcMessage& message, uint32_t answerNumber, uint32_t offset);
TqnCommandRequest ReadCommandRequest(const TqnIpcMessage& message);
// The answer's status and number, and as much of text from offset as fits.
void WriteCommandAnswer(TqnIpcMessage& message, const std::string& status, const std::string& text, uint32_t offset,
                        uint32_t answerNumber = 0);
TqnCommandAnswer ReadCommandAnswer(const TqnIpcMessage& message);

}  // namespace qn
