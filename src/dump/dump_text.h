// The text of a logical dump's data member ("data.txt"), apart from the
// database: reading it line by line, the kinds of line, the version
// directive, value decoding and clean-up, object identifiers, and the
// numbers and dates that values are converted to.
//
// All text is Windows-1251 bytes. Failures throw qn::Exception with the
// texts stated below.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace qn {

// ---- object identifiers --------------------------------------------------

// The digits of an object identifier, values 0 to 63 in this order.
inline constexpr std::string_view kObjectDigits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~";
inline constexpr int kObjectIdLength = 12;
// The null object.
inline constexpr std::string_view kNullObject = "000000000000";
// Identifiers that replace rows of the same identifier begin with this.
inline constexpr std::string_view kReplacingObjectPrefix = "070000";

// The value of an identifier, most significant digit first, in 64-bit
// arithmetic that wraps; a character outside the alphabet counts as 0.
// Any length is accepted.
int64_t DecodeObjectId(std::string_view id);
// As DecodeObjectId, but the text must be 12 characters long, else
// "invalid object value".
int64_t ObjectValue(std::string_view id);
// The 12-digit identifier of a value (the low 64 bits; the top digit is 0).
std::string EncodeObjectId(uint64_t value);
bool IsNullObject(std::string_view id);

// ---- reading ---------------------------------------------------------------

// Hands out the bytes of a stream one at a time, fetching blocks of 16384
// bytes. The end is reached when a block read gives no bytes, or when a
// block shorter than 16384 bytes has been used up (the stream is not asked
// again then).
class TqnReadBuffer {
 public:
  static constexpr size_t kBlockSize = 16384;
  explicit TqnReadBuffer(std::istream& stream) : stream_(stream) {}
  // The next byte; false at the end.
  bool Next(char& c);
  // The bytes Next would hand out next, up to the block's end or the next
  // CR or LF (not included); empty at the end or when a line end comes
  // next. Skip(n) passes over n of them.
  std::string_view Run();
  void Skip(size_t n) { pos_ += n; }

 private:
  bool Fill();
  std::istream& stream_;
  std::vector<char> block_ = std::vector<char>(kBlockSize);
  size_t size_ = 0, pos_ = 0;
  bool last_ = false;
};

// Splits a stream into lines ended by CR, LF or both. Empty lines are
// skipped, and text after the last line end is never handed out.
class TqnDumpLineReader {
 public:
  explicit TqnDumpLineReader(std::istream& stream) : buffer_(stream) {}
  // The next non-empty line, without its end; false at the end.
  bool ReadLine(std::string& line);

 private:
  TqnReadBuffer buffer_;
};

// ---- lines -----------------------------------------------------------------

enum class TqnDumpLineKind {
  Directive,  // "#" free text
  Header,     // "&" table name TAB field names
  Row,        // values separated by TAB
};
TqnDumpLineKind DumpLineKind(std::string_view line);

// For the text of a directive (after "#"): true when it is a version
// directive, with the version in version: the text trimmed and in upper
// case begins with "VERSION"; the version is the trimmed text from its 8th
// character on, at most 50 characters, trimmed again.
bool ParseVersionDirective(std::string_view text, std::string& version);
// The escape character of values under a format version: "~" for
// "0.1.0.0", otherwise (and before any version directive) the byte 0xA4.
inline constexpr char kDefaultEscape = static_cast<char>(0xA4);
char EscapeForVersion(const std::string& version);

// The parts of a text between TABs (one part for a text without TAB).
std::vector<std::string> SplitTabs(std::string_view text);

// A value with every escape character and the two hexadecimal digits after
// it replaced by the byte they give. Fails with
// "invalid hexadecimal number \"<rest>\"" when fewer than two characters
// follow the escape (rest: what follows), and with
// "invalid hexadecimal digit \"<c>\"" for a character that is no digit.
std::string DecodeDumpValue(std::string_view raw, char escape);

// A decoded value made ready for its parameter: cut to maxLength when that
// is above 0; then, unless the parameter is a blob, trailing bytes with
// codes 0..32 removed and each byte with code 0..9, 11, 12, 14 or 31
// replaced by a blank.
std::string PrepareDumpValue(std::string value, int maxLength, bool blob);

// ---- conversions -------------------------------------------------------------

// The whole text (blanks around it allowed) as a number; 0 when it is not
// one, or out of range for the type. Decimals use "." as the separator.
int32_t DumpInt32(std::string_view text);
int64_t DumpInt64(std::string_view text);
double DumpDouble(std::string_view text);
// A NUMERIC or DECIMAL value as the integer of its scale (scale <= 0:
// "12.50" with scale -2 gives 1250), exactly, rounded half away from zero
// when the text has more fraction digits; 0 when it is no number or out
// of the 64-bit range.
int64_t DumpScaled(std::string_view text, int scale);

// A date, time or time stamp value classified by its length:
//   10 characters "yyyy-mm-dd"               a date
//   24 characters "yyyy-mm-dd hh:nn:ss.ffff" a time stamp (ffff in
//                                            ten-thousandths; milliseconds
//                                            are ffff / 10)
//   13 characters "hh:nn:ss.ffff"            a time of day
// Any other length fails with "can not classify date str \"<text>\"".
// Parts that are no numbers, or a date or time that does not exist, give
// day 0 of the date system: 1899-12-30 00:00.
struct TqnDumpDateTime {
  enum class Kind { Date, Timestamp, Time } kind = Kind::Date;
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, msec = 0;
  // Milliseconds since midnight.
  int MsecOfDay() const { return ((hour * 60 + minute) * 60 + second) * 1000 + msec; }
};
TqnDumpDateTime ClassifyDumpDate(const std::string& text);

// The context of a failed row: table + ":" + for each value " " + value +
// ";", appended while the text is at most 1000 characters long, then cut
// to 1000 characters.
std::string DumpRowContext(const std::string& table, const std::vector<std::string>& values);

}  // namespace qn
