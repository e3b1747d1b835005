// How an administrator's command travels in the instance channel's record.
//
// The record's command field holds "command-line" (the field's 31
// characters would not hold the options). The status area keeps its first
// 256 bytes for the status the channel writes ("unprocessed",
// "unassigned", "fail") and the answer's status; behind them, at offset 256
// of the area:
//
//   4 bytes   little-endian: in a request the offset of the answer text
//             wanted (a long --list is fetched in pieces), in an answer
//             the answer text's whole length
//   2 bytes   little-endian: the length n of the text that follows
//   n bytes   a request: the options, each ended by a zero byte
//             ("backup=db0000\0to=/srv/b.fbk\0"); an answer: the piece of
//             its text starting at the requested offset
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
inline constexpr const char* kCommandDone = "command-done";
inline constexpr const char* kCommandFailed = "command-failed";
inline constexpr const char* kCommandBusy = "command-busy";

// The room for text behind the header in one record.
constexpr size_t kCommandTextRoom = sizeof(TqnIpcMessage::status) - 256 - 6;

struct TqnCommandRequest {
  std::vector<std::string> options;
  uint32_t offset = 0;
};

struct TqnCommandAnswer {
  std::string status;  // one of the three above, or whatever the channel left
  uint32_t totalLength = 0;
  std::string text;    // the piece that came
};

// Fills a fresh record; throws when the options do not fit.
void WriteCommandRequest(TqnIpcMessage& message, const TqnCommandRequest& request);
TqnCommandRequest ReadCommandRequest(const TqnIpcMessage& message);
// The answer's status, and as much of text from offset as fits.
void WriteCommandAnswer(TqnIpcMessage& message, const std::string& status, const std::string& text,
                        uint32_t offset);
TqnCommandAnswer ReadCommandAnswer(const TqnIpcMessage& message);

}  // namespace qn
