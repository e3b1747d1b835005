// A growable text accumulator for building long texts by appending.
//
// The storage grows only when an append needs more room: to 16 characters
// when the needed length is below 16, otherwise to one and a half times the
// needed length. So a text of any length is built with a logarithmic number
// of copies. The buffer does not interpret the bytes (Windows-1251 text).
//
// Buffers are shared through std::shared_ptr<IqnStringBuffer> and freed with
// the last holder. A buffer is not thread-safe.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace qn {

class IqnStringBuffer {
 public:
  virtual ~IqnStringBuffer() = default;

  // Adds one character at the end.
  virtual void AppendChar(char c) = 0;
  // Adds all characters of s.
  virtual void Append(std::string_view s) = 0;
  // Adds min(count, size - start + 1) characters of s from the 1-based
  // position start; nothing when count <= 0 or start is past the end of s.
  // A start below 1 counts as 1.
  virtual void AppendPart(std::string_view s, int start, int count) = 0;
  // Append(s), then CR LF.
  virtual void AppendLine(std::string_view s) = 0;
  // A copy of the used characters.
  virtual std::string GetText() const = 0;
  // The storage itself; bytes past Length() are undefined. Valid until the
  // next append or Reset. May be null while the capacity is 0.
  virtual char* Data() = 0;
  // Number of used characters.
  virtual int Length() const = 0;
  // Size of the storage.
  virtual int Capacity() const = 0;
  // Empties the buffer. A capacity >= 0 also resizes the storage to exactly
  // that size; a negative one keeps the storage.
  virtual void Reset(int capacity) = 0;
};

using PqnStringBuffer = std::shared_ptr<IqnStringBuffer>;

// A new, empty buffer whose storage holds capacity characters (a negative
// capacity counts as 0).
PqnStringBuffer NewStringBuffer(int capacity);

class TqnStringBuffer final : public IqnStringBuffer {
 public:
  explicit TqnStringBuffer(int capacity);

  void AppendChar(char c) override;
  void Append(std::string_view s) override;
  void AppendPart(std::string_view s, int start, int count) override;
  void AppendLine(std::string_view s) override;
  std::string GetText() const override;
  char* Data() override { return data_.get(); }
  int Length() const override { return length_; }
  int Capacity() const override { return capacity_; }
  void Reset(int capacity) override;

 private:
  // Makes room for extra more characters; throws Exception when the text
  // would pass the 32-bit length limit.
  void Reserve(size_t extra);
  void Resize(int capacity);

  std::unique_ptr<char[]> data_;
  int capacity_ = 0;
  int length_ = 0;
};

}  // namespace qn
