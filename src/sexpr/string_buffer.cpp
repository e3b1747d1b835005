#include "sexpr/string_buffer.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/error.h"

namespace qn {

PqnStringBuffer NewStringBuffer(int capacity) { return std::make_shared<TqnStringBuffer>(capacity); }

TqnStringBuffer::TqnStringBuffer(int capacity) { Resize(std::max(capacity, 0)); }

void TqnStringBuffer::Resize(int capacity) {
  std::unique_ptr<char[]> fresh;
  if (capacity > 0) fresh = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(capacity));
  if (length_ > 0) std::memcpy(fresh.get(), data_.get(), static_cast<size_t>(length_));
  data_ = std::move(fresh);
  capacity_ = capacity;
}

void TqnStringBuffer::Reserve(size_t extra) {
  if (extra > static_cast<size_t>(INT_MAX - length_)) throw Exception("String buffer overflow");
  long long needed = static_cast<long long>(length_) + static_cast<long long>(extra);
  if (needed <= capacity_) return;
  long long grown = needed < 16 ? 16 : needed * 3 / 2;
  Resize(static_cast<int>(std::min<long long>(grown, INT_MAX)));
}

void TqnStringBuffer::AppendChar(char c) {
  Reserve(1);
  data_[static_cast<size_t>(length_++)] = c;
}

void TqnStringBuffer::Append(std::string_view s) {
  if (s.empty()) return;
  Reserve(s.size());
  std::memcpy(data_.get() + length_, s.data(), s.size());
  length_ += static_cast<int>(s.size());
}

void TqnStringBuffer::AppendPart(std::string_view s, int start, int count) {
  if (count <= 0) return;
  size_t from = start < 1 ? 0 : static_cast<size_t>(start) - 1;
  if (from >= s.size()) return;
  Append(s.substr(from, static_cast<size_t>(count)));
}

void TqnStringBuffer::AppendLine(std::string_view s) {
  Append(s);
  Append("\r\n");
}

std::string TqnStringBuffer::GetText() const {
  return length_ > 0 ? std::string(data_.get(), static_cast<size_t>(length_)) : std::string();
}

void TqnStringBuffer::Reset(int capacity) {
  length_ = 0;
  if (capacity >= 0) Resize(capacity);
}

}  // namespace qn
