// The program's general exception: a message text in Windows-1251, plus the
// Firebird status code when the client library raised it (0 otherwise).
#pragma once

#include <stdexcept>
#include <string>

namespace qn {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message, long statusCode = 0)
      : std::runtime_error(message), statusCode_(statusCode) {}
  long StatusCode() const { return statusCode_; }

 private:
  long statusCode_;
};

// An error reported by the operating system; the message is its own text.
class EqnOsError : public Exception {
 public:
  EqnOsError(const std::string& message, int code) : Exception(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

}  // namespace qn
