// The info packet: the framing shared by the TCP and UDP info servers and
// the workstations. A packet is
//
//   <40 lower-case hex digits of SHA-1(body + key)> ' ' <body>
//   body = <number as 8 upper-case hex digits> ' ' <payload>
//
// at most 2048 characters long. The number is the request number in a
// request and the sender's instance number in a packet of this program.
// Pure functions; no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qn {

// Longest packet (and longest request line) the info server takes.
constexpr size_t kInfoPacketLimit = 2048;
// What HandleInfoPacket returns when there is nothing to send.
extern const char kInvalidReply[];  // "invalid-reply"
// The payload DecodePacket gives for a packet whose check sum does not match.
extern const char kCheckSumFail[];  // "check-sum-fail"

struct TqnDecodedPacket {
  int32_t number = 0;
  std::string payload;
};

// Frames a payload: negative numbers are written as their 32-bit two's
// complement pattern.
std::string EncodePacket(std::string_view payload, std::string_view key, int32_t number);

// Checks and unframes a packet. Character 41 and character 9 of the body are
// not looked at. The check sum is compared exactly, so upper-case digits
// never match; on a mismatch the result is {0, "check-sum-fail"}. The number
// is read with HexToInt, so lower-case digits give a wrong number.
TqnDecodedPacket DecodePacket(std::string_view packet, std::string_view key);

// Reply-field escaping: every byte with a code up to 32 and every '#' becomes
// '#' and two upper-case hex digits; all other bytes stay as they are.
std::string EscapeField(std::string_view text);

// The protocol's hex reader: for each character the value is shifted left
// by 4 bits and ORed with (code - 55) for codes from 65 ('A') up, else with
// (code - 48), in 32-bit arithmetic. Nothing is validated, so only 0-9 and
// A-F give their hex value; 'a' gives 42 and spills into the next digit.
int32_t HexToInt(std::string_view text);

// Splits at any of the delimiter characters. One delimiter after each word
// is skipped, so two delimiters in a row give an empty word, a leading one an
// empty first word, and a trailing one no extra word; "" gives no words.
std::vector<std::string> SplitWords(std::string_view text, std::string_view delimiters);

}  // namespace qn
