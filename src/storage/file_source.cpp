#include "base/text.h"
#include "platform/files.h"
#include "storage/storage.h"

namespace qn::storage {

namespace {

class TqnFileSource : public ByteSource {
 public:
  explicit TqnFileSource(const std::string& path) : file_(platform::InputFile::Open(path)) {}
  int64_t Size() const override { return file_->Size(); }
  size_t Read(char* buffer, size_t capacity) override { return file_->Read(buffer, capacity); }

 private:
  std::unique_ptr<platform::InputFile> file_;
};

}  // namespace

std::unique_ptr<ByteSource> FileSource(const std::string& path) { return std::make_unique<TqnFileSource>(path); }

}  // namespace qn::storage
