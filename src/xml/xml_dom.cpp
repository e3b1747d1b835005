#include "xml/xml_dom.h"

#include <algorithm>

#include "base/error.h"
#include "base/text.h"

namespace qn {

const char kXmlNotExistsNode[] = "setting value for not exists node";

namespace {

[[noreturn]] void ThrowIndex(int index) { throw Exception(Format("List index out of bounds (%d)", index)); }

bool NameLess(const std::pair<std::string, TqnItem*>& entry, const std::string& name) {
  return CompareTextNoCase(entry.first, name) < 0;
}

}  // namespace

TqnItem::~TqnItem() {
  if (parent_ && !parent_->clearing_) parent_->Unlink(this);
}

TqnContainer::~TqnContainer() { FreeItems(); }

TqnItem* TqnContainer::Items(int index) const {
  if (index < 0 || index >= Count()) ThrowIndex(index);
  return items_[static_cast<size_t>(index)];
}

TqnItem* TqnContainer::Find(const std::string& name) const {
  auto it = std::lower_bound(index_.begin(), index_.end(), name, NameLess);
  if (it == index_.end() || CompareTextNoCase(it->first, name) != 0) return nullptr;
  return it->second;
}

void TqnContainer::CheckInsert(int index, const TqnItem* item) const {
  if (!item) throw Exception("no item to add");
  if (index < 0 || index > Count()) ThrowIndex(index);
  CheckAccepts(*item);
  if (item->parent_) throw Exception("item already belongs to a container");
  // A container put inside its own subtree would own itself. Only an item
  // with items of its own can be a distant ancestor, so adding fresh leaves
  // (what the reader does) costs no walk up a deep tree.
  auto* container = dynamic_cast<const TqnContainer*>(item);
  bool mayBeAncestor = item == this || (container && !container->items_.empty());
  for (const TqnItem* up = this; mayBeAncestor && up; up = up->parent_)
    if (up == item) throw Exception("item cannot contain itself");
}

void TqnContainer::Link(int index, TqnItem* item) {
  // Room first, so that a failed allocation leaves both lists as they were.
  std::pair<std::string, TqnItem*> entry(item->name_, item);
  items_.reserve(items_.size() + 1);
  index_.reserve(index_.size() + 1);
  items_.insert(items_.begin() + index, item);
  // lower_bound puts the newcomer ahead of the items of the same name, so
  // Find returns the most recently added one.
  auto pos = std::lower_bound(index_.begin(), index_.end(), item->name_, NameLess);
  index_.insert(pos, std::move(entry));
  item->parent_ = this;
}

void TqnContainer::Unlink(TqnItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it != items_.end()) items_.erase(it);
  auto pos = std::lower_bound(index_.begin(), index_.end(), item->name_, NameLess);
  for (; pos != index_.end() && CompareTextNoCase(pos->first, item->name_) == 0; ++pos) {
    if (pos->second == item) {
      index_.erase(pos);
      break;
    }
  }
  item->parent_ = nullptr;
}

std::unique_ptr<TqnItem> TqnContainer::Remove(TqnItem* item) {
  if (!item || item->parent_ != this) return nullptr;
  Unlink(item);
  return std::unique_ptr<TqnItem>(item);
}

void TqnContainer::Clear() { FreeItems(); }

// Frees the whole subtree without recursion, so that a very deep tree (a
// hostile file) cannot exhaust the stack: every container's items are moved
// into one work list before the container itself is freed.
void TqnContainer::FreeItems() {
  if (items_.empty()) return;
  clearing_ = true;
  std::vector<TqnItem*> pending(items_.begin(), items_.end());
  items_.clear();
  index_.clear();
  while (!pending.empty()) {
    TqnItem* item = pending.back();
    pending.pop_back();
    if (auto* c = dynamic_cast<TqnContainer*>(item)) {
      pending.insert(pending.end(), c->items_.begin(), c->items_.end());
      for (TqnItem* child : c->items_) child->parent_ = nullptr;
      c->items_.clear();
      c->index_.clear();
    }
    item->parent_ = nullptr;
    delete item;
  }
  clearing_ = false;
}

void TqnAttrs::SetAttr(const std::string& name, const std::string& value) {
  if (!owner_->Exists()) return;
  if (auto* attr = static_cast<TqnAttr*>(Find(name))) {
    attr->SetValue(value);
    return;
  }
  Add(std::make_unique<TqnAttr>(name, value));
}

std::string TqnAttrs::Attr(const std::string& name) const {
  auto* attr = static_cast<TqnAttr*>(Find(name));
  return attr ? attr->Value() : std::string();
}

void TqnAttrs::CheckAccepts(const TqnItem& item) const {
  if (!dynamic_cast<const TqnAttr*>(&item)) throw Exception("only attributes belong in an attribute list");
  if (!owner_->Exists()) throw Exception(kXmlNotExistsNode);
}

TqnNode::TqnNode(std::string name) : TqnContainer(std::move(name)), attrs_(this), content_(this) {}

TqnNode::~TqnNode() = default;

TqnNode* TqnNode::Empty() {
  static TqnEmptyNode empty;
  return &empty;
}

TqnNode* TqnNode::Node(const std::string& name) {
  // Creating children under the placeholder would make later lookups of
  // other missing nodes find them.
  if (!Exists()) return this;
  TqnNode* found = FindNode(name);
  return found->Exists() ? found : AddNode(name);
}

TqnNode* TqnNode::FindNode(const std::string& name) const {
  auto* node = dynamic_cast<TqnNode*>(Find(name));
  return node ? node : Empty();
}

TqnNode* TqnNode::AddNode(const std::string& name) { return Add(std::make_unique<TqnNode>(name)); }

TqnNode* TqnNode::Nodes(int index) const {
  auto* node = dynamic_cast<TqnNode*>(Items(index));
  return node ? node : Empty();
}

int TqnNode::Index() const {
  TqnContainer* parent = Parent();
  if (!parent) return -1;
  for (int i = 0; i < parent->Count(); ++i)
    if (parent->Items(i) == this) return i;
  return -1;
}

void TqnNode::SetText(std::string text) {
  if (!Exists()) throw Exception(kXmlNotExistsNode);
  text_ = std::move(text);
}

void TqnNode::Clear() {
  TqnContainer::Clear();
  attrs_.Clear();
}

void TqnNode::CheckAccepts(const TqnItem& item) const {
  auto* node = dynamic_cast<const TqnNode*>(&item);
  if (!node || !node->Exists()) throw Exception("only nodes belong among the children of a node");
}

void TqnEmptyNode::CheckAccepts(const TqnItem&) const { throw Exception(kXmlNotExistsNode); }

}  // namespace qn
