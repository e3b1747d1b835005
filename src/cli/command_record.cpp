#include "cli/command_record.h"

#include <algorithm>
#include <cstring>

#include "base/error.h"
#include "base/text.h"

namespace qn {

namespace {

constexpr size_t kHeader = 256;

uint8_t* Area(TqnIpcMessage& m) { return m.status + kHeader; }
const uint8_t* Area(const TqnIpcMessage& m) { return m.status + kHeader; }

void PutNumber(uint8_t* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetNumber(const uint8_t* at, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
  return value;
}

void PutText(TqnIpcMessage& m, uint32_t number, const std::string& text) {
  const size_t n = std::min(text.size(), kCommandTextRoom);
  PutNumber(Area(m), number, 4);
  PutNumber(Area(m) + 4, static_cast<uint32_t>(n), 2);
  std::memcpy(Area(m) + 6, text.data(), n);
}

std::string GetText(const TqnIpcMessage& m) {
  const size_t n = std::min<size_t>(GetNumber(Area(m) + 4, 2), kCommandTextRoom);
  return std::string(reinterpret_cast<const char*>(Area(m) + 6), n);
}

}  // namespace

void WriteCommandRequest(TqnIpcMessage& message, const std::vector<std::string>& options) {
  std::string joined;
  for (const std::string& o : options) joined += o + '\0';
  if (joined.size() > kCommandTextRoom) throw Exception(Win1251("Слишком длинная команда"));
  message = TqnIpcMessage{};
  message.SetCommand(kCommandLineMessage);
  PutText(message, 0, joined);
}

void WritePageRequest(TqnIpcMessage& message, uint32_t answerNumber, uint32_t offset) {
  message = TqnIpcMessage{};
  message.SetCommand(kCommandPageMessage);
  PutNumber(message.reserved, answerNumber, 4);
  PutText(message, offset, "");
}

TqnCommandRequest ReadCommandRequest(const TqnIpcMessage& message) {
  TqnCommandRequest request;
  request.answerNumber = GetNumber(message.reserved, 4);
  request.offset = GetNumber(Area(message), 4);
  const std::string joined = GetText(message);
  size_t start = 0;
  for (size_t end; (end = joined.find('\0', start)) != std::string::npos; start = end + 1)
    request.options.push_back(joined.substr(start, end - start));
  return request;
}

void WriteCommandAnswer(TqnIpcMessage& message, const std::string& status, const std::string& text, uint32_t offset,
                        uint32_t answerNumber) {
  message.SetStatus(status);
  PutNumber(message.reserved, answerNumber, 4);
  PutText(message, static_cast<uint32_t>(text.size()), offset < text.size() ? text.substr(offset) : std::string());
}

TqnCommandAnswer ReadCommandAnswer(const TqnIpcMessage& message) {
  TqnCommandAnswer answer;
  answer.status = message.Status();
  answer.answerNumber = GetNumber(message.reserved, 4);
  answer.totalLength = GetNumber(Area(message), 4);
  answer.text = GetText(message);
  return answer;
}

}  // namespace qn
