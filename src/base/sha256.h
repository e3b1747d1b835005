// SHA-256 digests of long byte streams (backup files), fed piece by piece:
// OpenSSL's libcrypto underneath, the system's CNG on Windows.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace qn {

class TqnSha256 {
 public:
  TqnSha256();
  ~TqnSha256();
  TqnSha256(const TqnSha256&) = delete;
  TqnSha256& operator=(const TqnSha256&) = delete;
  void Update(const char* data, size_t size);
  // 64 lower-case hexadecimal digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qn
