// What the tests of the places for backups share: an object's bytes read
// whole, and a source that fails half-way as one whose disk went away does.
#pragma once

#include <algorithm>
#include <string>

#include "base/error.h"
#include "storage/storage.h"

namespace qntest {

inline std::string ReadAll(qn::storage::Storage& place, const std::string& name) {
  std::string text;
  place.Read(name, [&](const char* data, size_t size) { text.append(data, size); });
  return text;
}

class FailingSource : public qn::storage::ByteSource {
 public:
  int64_t Size() const override { return -1; }
  size_t Read(char* buffer, size_t capacity) override {
    if (calls_++ > 0) throw qn::Exception("source gone");
    std::fill(buffer, buffer + capacity, 'y');
    return capacity;
  }

 private:
  int calls_ = 0;
};

}  // namespace qntest
