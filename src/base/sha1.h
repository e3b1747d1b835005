// SHA-1 digests (OpenSSL's libcrypto underneath), as the info packets and
// the names of the log mutexes need them.
#pragma once

#include <string>
#include <string_view>

namespace qn {

// 40 lower-case hexadecimal digits of the SHA-1 of the bytes.
std::string Sha1Hex(std::string_view bytes);

}  // namespace qn
