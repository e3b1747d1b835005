#include "storage/byte_sources.h"

#include <condition_variable>
#include <algorithm>
#include <cstring>
#include <deque>
#include <exception>
#include <stdexcept>
#include <mutex>
#include <thread>

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

class TqnObjectSource : public ByteSource {
 public:
  TqnObjectSource(Storage& place, std::string name, int64_t size) : size_(size) {
    thread_ = std::thread([this, &place, name] {
      try {
        place.Read(name, [this](const char* data, size_t n) {
          std::unique_lock<std::mutex> lock(mutex_);
          changed_.wait(lock, [this] { return abandoned_ || buffered_ < kLimit; });
          if (abandoned_) throw std::runtime_error("abandoned");
          pieces_.emplace_back(data, n);
          buffered_ += n;
          changed_.notify_all();
        });
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!abandoned_) error_ = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
      changed_.notify_all();
    });
  }
  ~TqnObjectSource() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      abandoned_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  int64_t Size() const override { return size_; }
  size_t Read(char* buffer, size_t capacity) override {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !pieces_.empty() || done_; });
    if (pieces_.empty()) {
      if (error_) std::rethrow_exception(error_);
      return 0;
    }
    std::string& front = pieces_.front();
    const size_t n = std::min(capacity, front.size() - at_);
    std::memcpy(buffer, front.data() + at_, n);
    at_ += n;
    if (at_ == front.size()) {
      buffered_ -= front.size();
      pieces_.pop_front();
      at_ = 0;
      changed_.notify_all();
    }
    return n;
  }

 private:
  static constexpr size_t kLimit = 8 << 20;
  const int64_t size_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> pieces_;
  size_t buffered_ = 0, at_ = 0;
  bool done_ = false, abandoned_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<ByteSource> ObjectSource(Storage& place, const std::string& name, int64_t size) {
  return std::make_unique<TqnObjectSource>(place, name, size);
}

std::unique_ptr<ByteSource> TextSource(std::string bytes) { return std::make_unique<TqnTextSource>(std::move(bytes)); }

}  // namespace qn::storage
