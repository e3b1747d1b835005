#include "ipc/message_pane.h"

namespace qn {

std::vector<std::string> SplitPaneLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(current);
      current.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += c;
    }
  }
  lines.push_back(current);
  return lines;
}

void TqnMessagePane::AddRecord(const std::string& text) {
  std::vector<std::string> added = SplitPaneLines(text);
  added.emplace_back();
  Observer observer;
  bool cleared = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lines_.size() > kMaxLines) {
      lines_.clear();
      cleared = true;
    }
    lines_.insert(lines_.end(), added.begin(), added.end());
    observer = observer_;
  }
  if (observer) observer(cleared, added);
}

void TqnMessagePane::Clear() {
  Observer observer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
    observer = observer_;
  }
  if (observer) observer(true, {});
}

std::vector<std::string> TqnMessagePane::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

size_t TqnMessagePane::LineCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_.size();
}

void TqnMessagePane::SetObserver(Observer observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  observer_ = std::move(observer);
}

}  // namespace qn
