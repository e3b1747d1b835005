#include "cli/json_text.h"

#include "base/text.h"

namespace qn {

std::string JsonString(const std::string& cp1251) {
  std::string out = "\"";
  for (unsigned char c : Win1251ToUtf8(cp1251)) {
    if (c == '"' || c == '\\')
      out += std::string("\\") + static_cast<char>(c);
    else if (c < 32)
      out += Format("\\u%04x", c);
    else
      out += static_cast<char>(c);
  }
  return out + "\"";
}

}  // namespace qn
