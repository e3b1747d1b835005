// The message pane: the lines the main window shows on its "Messages" page,
// kept in memory so that it works with or without a window. The window
// attaches an observer; writers in any thread append under the log mutex,
// so observers see each record whole and in the order of the log file.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qn {

class TqnMessagePane {
 public:
  // Called after each change, in the writer's thread: cleared tells that the
  // pane was emptied before the lines were added.
  using Observer = std::function<void(bool cleared, const std::vector<std::string>& added)>;

  static constexpr size_t kMaxLines = 1000;

  // Adds a record: clears the pane first when it holds more than 1000 lines,
  // then adds the text (which may span lines) and an empty line.
  void AddRecord(const std::string& text);
  void Clear();

  std::vector<std::string> Lines() const;
  size_t LineCount() const;
  void SetObserver(Observer observer);

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  Observer observer_;
};

// Splits text into the lines a multi-line text box shows (CR LF, LF or CR).
std::vector<std::string> SplitPaneLines(const std::string& text);

}  // namespace qn
