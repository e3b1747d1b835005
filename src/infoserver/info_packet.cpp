#include "infoserver/info_packet.h"

#include "base/sha1.h"
#include "base/text.h"

namespace qn {

const char kInvalidReply[] = "invalid-reply";
const char kCheckSumFail[] = "check-sum-fail";

namespace {

constexpr size_t kCheckSumLength = 40;
constexpr size_t kBodyStart = kCheckSumLength + 1;  // after the check sum and its blank
constexpr size_t kNumberLength = 8;
constexpr size_t kPayloadStart = kNumberLength + 1;  // within the body

std::string CheckSum(std::string_view body, std::string_view key) {
  std::string bytes;
  bytes.reserve(body.size() + key.size());
  bytes.append(body);
  bytes.append(key);
  return Sha1Hex(bytes);
}

// s.substr(pos, count) that gives "" instead of throwing past the end.
std::string_view Part(std::string_view s, size_t pos, size_t count) {
  if (pos >= s.size()) return {};
  return s.substr(pos, count);
}

}  // namespace

std::string EncodePacket(std::string_view payload, std::string_view key, int32_t number) {
  std::string body = HexUpper(static_cast<uint32_t>(number), static_cast<int>(kNumberLength));
  body += ' ';
  body.append(payload);
  std::string packet = CheckSum(body, key);
  packet += ' ';
  packet += body;
  return packet;
}

TqnDecodedPacket DecodePacket(std::string_view packet, std::string_view key) {
  const std::string_view sum = Part(packet, 0, kCheckSumLength);
  const std::string_view body = Part(packet, kBodyStart, kInfoPacketLimit);
  TqnDecodedPacket result;
  if (CheckSum(body, key) != sum) {
    result.payload = kCheckSumFail;
    return result;
  }
  result.number = HexToInt(Part(body, 0, kNumberLength));
  result.payload = std::string(Part(body, kPayloadStart, kInfoPacketLimit));
  return result;
}

std::string EscapeField(std::string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(48);
  for (char c : text) {
    const unsigned char code = static_cast<unsigned char>(c);
    if (code <= 32 || c == '#') {
      out += '#';
      out += kDigits[code >> 4];
      out += kDigits[code & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

int32_t HexToInt(std::string_view text) {
  uint32_t value = 0;
  for (char c : text) {
    const uint32_t code = static_cast<unsigned char>(c);
    // Unsigned on purpose: a character below '0' gives a "negative" digit
    // whose wrapped bits spill over the whole value, and that must stay
    // defined behaviour.
    value = (value << 4) | (code >= 65 ? code - 55u : code - 48u);
  }
  return static_cast<int32_t>(value);
}

std::vector<std::string> SplitWords(std::string_view text, std::string_view delimiters) {
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(delimiters, pos);
    if (end == std::string_view::npos) end = text.size();
    words.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return words;
}

}  // namespace qn
