#include "sexpr/string_tree.h"

#include "base/error.h"
#include "base/text.h"

namespace qn {
namespace {

[[noreturn]] void ThrowOutOfRange(int index) { throw Exception(Format("Index \"%d\" out of range", index)); }

}  // namespace

std::shared_ptr<TqnStringTree> NewStringTree() { return std::make_shared<TqnStringTree>(); }

TqnStringTree::~TqnStringTree() { Clear(); }

void TqnStringTree::Clear() {
  // Child lists are emptied before they are freed, so freeing never nests.
  std::vector<std::unique_ptr<TqnStringItem>> pending = std::move(items_);
  items_.clear();
  while (!pending.empty()) {
    std::unique_ptr<TqnStringItem> item = std::move(pending.back());
    pending.pop_back();
    if (item->IsList()) {
      auto& children = static_cast<TqnStringTree&>(*item).items_;
      for (auto& child : children) pending.push_back(std::move(child));
      children.clear();
    }
  }
}

void TqnStringTree::AddString(std::string value) { items_.push_back(std::make_unique<TqnString>(std::move(value))); }

TqnStringTree& TqnStringTree::AddList() {
  auto list = std::make_unique<TqnStringTree>();
  TqnStringTree& ref = *list;
  items_.push_back(std::move(list));
  return ref;
}

const TqnStringItem& TqnStringTree::At(int index) const {
  if (index < 0 || index >= Count()) ThrowOutOfRange(index);
  return *items_[static_cast<size_t>(index)];
}

bool TqnStringTree::IsString(int index) const {
  return index >= 0 && index < Count() && !items_[static_cast<size_t>(index)]->IsList();
}

bool TqnStringTree::IsTree(int index) const {
  return index >= 0 && index < Count() && items_[static_cast<size_t>(index)]->IsList();
}

const std::string& TqnStringTree::Str(int index) const {
  const TqnStringItem& item = At(index);
  if (item.IsList()) throw Exception("expected string");
  return static_cast<const TqnString&>(item).Value();
}

std::string TqnStringTree::StrDef(int index, const std::string& def) const {
  return IsString(index) ? static_cast<const TqnString&>(*items_[static_cast<size_t>(index)]).Value() : def;
}

const TqnStringTree& TqnStringTree::ListAt(int index) const {
  const TqnStringItem& item = At(index);
  if (!item.IsList()) throw Exception("expected tree");
  return static_cast<const TqnStringTree&>(item);
}

TqnStringTree& TqnStringTree::Sub(int index) { return const_cast<TqnStringTree&>(ListAt(index)); }

std::string TqnStringTree::AsText(int index) const {
  const TqnStringItem& item = At(index);
  if (!item.IsList()) return static_cast<const TqnString&>(item).Value();

  // Depth-first with an explicit stack, so any depth prints.
  struct Frame {
    const TqnStringTree* list;
    size_t next;
  };
  std::vector<Frame> stack{{&static_cast<const TqnStringTree&>(item), 0}};
  std::string out = "(";
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next < top.list->items_.size()) {
      const TqnStringItem& element = *top.list->items_[top.next++];
      if (element.IsList()) {
        out += '(';
        stack.push_back({&static_cast<const TqnStringTree&>(element), 0});
      } else {
        out += static_cast<const TqnString&>(element).Value();
        out += ' ';
      }
      continue;
    }
    // The blank after the last element becomes the closing parenthesis.
    if (top.list->items_.empty())
      out += ')';
    else
      out.back() = ')';
    stack.pop_back();
    if (!stack.empty()) out += ' ';
  }
  return out;
}

int TqnStringTree::FindKey(const std::string& key, int first) const {
  for (int i = first; i < Count(); ++i)
    if (ListAt(i).Str(0) == key) return i;
  return -1;
}

TqnStringTree* TqnStringTree::ByKey(const std::string& key, bool mustExist) {
  int index = FindKey(key, 1);
  if (index >= 0) return &Sub(index);
  if (mustExist) throw Exception("node by key \"" + key + "\" not found");
  return nullptr;
}

int TqnStringTree::IndexOfKey(const std::string& key, bool mustExist) const {
  int index = FindKey(key, 0);
  if (index < 0 && mustExist) throw Exception("node by key \"" + key + "\" not found");
  return index;
}

std::string TqnStringTree::ValueOf(const std::string& key, const std::string& def) {
  TqnStringTree* list = ByKey(key, false);
  return list ? list->Str(1) : def;
}

std::string TqnStringTree::TextOf(const std::string& key) {
  TqnStringTree* list = ByKey(key, false);
  return list ? list->AsText(1) : std::string();
}

bool TqnStringTree::HasString(const std::string& value) const {
  for (const auto& item : items_)
    if (!item->IsList() && static_cast<const TqnString&>(*item).Value() == value) return true;
  return false;
}

}  // namespace qn
