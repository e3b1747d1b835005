// The line reading that both socket implementations of the platform layer
// share: what the bytes already read decide, and how much the next read may
// take.
#pragma once

#include <optional>
#include <string>

#include "platform/sockets.h"

namespace qn::platform {

// With a line feed among the pending bytes: the line before it (without a
// carriage return just before it), taken out of pending, or TooLong when it
// passes maxLength. Without one: TooLong once pending passes maxLength,
// else nothing (read more).
inline std::optional<TcpConnection::LineResult> TakePendingLine(std::string& pending, size_t maxLength,
                                                                std::string& line) {
  const size_t lf = pending.find('\n');
  if (lf == std::string::npos)
    return pending.size() > maxLength ? std::optional(TcpConnection::LineResult::TooLong) : std::nullopt;
  if (lf > maxLength) return TcpConnection::LineResult::TooLong;
  size_t end = lf;
  if (end > 0 && pending[end - 1] == '\r') --end;
  line.assign(pending, 0, end);
  pending.erase(0, lf + 1);
  return TcpConnection::LineResult::Line;
}

// Never more than one byte past the limit is held: that byte already
// decides the outcome, and a flood of data stays in the kernel.
inline size_t NextReadSize(const std::string& pending, size_t maxLength, size_t bufferSize) {
  const size_t want = maxLength + 1 - pending.size();
  return want < bufferSize ? want : bufferSize;
}

}  // namespace qn::platform
