#include "storage/byte_sources.h"

#include <cstring>

namespace qn::storage {

namespace {

class TqnTextSource : public ByteSource {
 public:
  explicit TqnTextSource(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  size_t Read(char* buffer, size_t capacity) override {
    const size_t n = std::min(capacity, bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string bytes_;
  size_t at_ = 0;
};

}  // namespace

std::unique_ptr<ByteSource> TextSource(std::string bytes) { return std::make_unique<TqnTextSource>(std::move(bytes)); }

}  // namespace qn::storage
