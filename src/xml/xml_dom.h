// The in-memory XML tree: named nodes holding short texts, with attributes
// that live only in memory.
//
// Ownership: a container owns its items. A root node is owned by the caller
// (std::unique_ptr<TqnNode>); every other item is owned by its parent and is
// handed out as a raw pointer that stays valid until the item is removed,
// its parent is cleared or the tree is freed. Deleting an item (delete p)
// takes it out of its parent and frees its whole subtree.
//
// Lookup by name is case-insensitive (qn::CompareTextNoCase) through a
// sorted name index; among items of the same name the most recently added
// is found first.
//
// A missing node is stood for by one shared empty node (TqnNode::Empty()):
// reads from it give the caller's default, Node() on it returns itself, and
// every write to its text or content throws
// Exception("setting value for not exists node").
//
// No locks: several threads may read one tree only while none changes it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qn {

class TqnContainer;
class TqnNode;

// Anything that can stand in a container: a name and the container holding it.
class TqnItem {
 public:
  explicit TqnItem(std::string name) : name_(std::move(name)) {}
  // Takes the item out of its parent (unless the parent is clearing itself).
  virtual ~TqnItem();
  TqnItem(const TqnItem&) = delete;
  TqnItem& operator=(const TqnItem&) = delete;

  const std::string& Name() const { return name_; }
  TqnContainer* Parent() const { return parent_; }

 private:
  friend class TqnContainer;
  TqnContainer* parent_ = nullptr;
  std::string name_;  // fixed for the item's life: the parent's index is keyed on it
};

// An ordered list of owned items plus a name index.
class TqnContainer : public TqnItem {
 public:
  explicit TqnContainer(std::string name) : TqnItem(std::move(name)) {}
  ~TqnContainer() override;

  int Count() const { return static_cast<int>(items_.size()); }
  // Throws Exception("List index out of bounds (<index>)") outside 0..Count-1.
  TqnItem* Items(int index) const;
  // The most recently added item of that name (any case), or nullptr.
  TqnItem* Find(const std::string& name) const;
  // Takes ownership and appends; returns the item. Throws Exception when the
  // item does not belong in this kind of container, already has a parent or
  // would come to contain its own container; the item then stays with the
  // caller.
  template <class T>
  T* Add(std::unique_ptr<T>&& item) {
    return Insert(Count(), std::move(item));
  }
  // As Add, at a position 0..Count (else "List index out of bounds (%d)").
  template <class T>
  T* Insert(int index, std::unique_ptr<T>&& item) {
    CheckInsert(index, item.get());
    Link(index, item.get());
    return item.release();
  }
  // Takes the item out and gives its ownership back (nullptr when it is not
  // an item of this container); dropping the result frees it.
  std::unique_ptr<TqnItem> Remove(TqnItem* item);
  // Frees all items, the last first.
  virtual void Clear();

 protected:
  // Throws when the item may not be held here.
  virtual void CheckAccepts(const TqnItem& item) const = 0;

 private:
  friend class TqnItem;
  void CheckInsert(int index, const TqnItem* item) const;
  void Link(int index, TqnItem* item);
  void Unlink(TqnItem* item);
  void FreeItems();

  bool clearing_ = false;
  std::vector<TqnItem*> items_;                          // document order, owned
  std::vector<std::pair<std::string, TqnItem*>> index_;  // sorted by name, newest first among equals
};

// One attribute: a name and a value.
class TqnAttr : public TqnItem {
 public:
  TqnAttr(std::string name, std::string value) : TqnItem(std::move(name)), value_(std::move(value)) {}
  const std::string& Value() const { return value_; }
  void SetValue(std::string value) { value_ = std::move(value); }

 private:
  std::string value_;
};

// The attributes of one node.
class TqnAttrs : public TqnContainer {
 public:
  explicit TqnAttrs(TqnNode* owner) : TqnContainer(""), owner_(owner) {}
  TqnNode* Owner() const { return owner_; }
  // Finds the attribute of that name or appends it, then sets its value.
  // Does nothing on the attributes of the empty node.
  void SetAttr(const std::string& name, const std::string& value);
  // The value of the attribute, or "" when there is none.
  std::string Attr(const std::string& name) const;

 protected:
  void CheckAccepts(const TqnItem& item) const override;

 private:
  TqnNode* owner_;
};

// Typed reading and writing of a node's stored text.
class TqnContent {
 public:
  explicit TqnContent(TqnNode* node) : node_(node) {}
  TqnContent(const TqnContent&) = delete;
  TqnContent& operator=(const TqnContent&) = delete;

  TqnNode* Node() const { return node_; }
  // Default when the node is missing or its text empty; else first char is '1'.
  bool AsBoolean(bool defaultValue) const;
  // Default when the node is missing or its text is not entirely a 32-bit
  // integer: [+|-]decimal digits, or '$' and hexadecimal digits.
  int32_t AsInteger(int32_t defaultValue) const;
  // Default when the node is missing; otherwise the unescaped text.
  std::string AsString(const std::string& defaultValue) const;
  // Writes "1" or "0"; the setters throw on the empty node.
  void SetBoolean(bool value);
  void SetInteger(int32_t value);            // decimal, '-' when negative
  void SetString(const std::string& value);  // escaped form

 private:
  TqnNode* node_;
};

// An element: children nodes, attributes and a text in stored form.
class TqnNode : public TqnContainer {
 public:
  explicit TqnNode(std::string name);
  ~TqnNode() override;

  // The one shared node standing for a missing node; never delete it.
  static TqnNode* Empty();

  // The newest child of that name; when none, a new child appended.
  // On the empty node: the empty node itself.
  TqnNode* Node(const std::string& name);
  // The newest child of that name, or the empty node.
  TqnNode* FindNode(const std::string& name) const;
  // A new child of that name appended at the end, even when one exists.
  TqnNode* AddNode(const std::string& name);
  // The child at a position (the empty node if the item there is not a
  // node); throws "List index out of bounds (%d)" outside 0..NodeCount-1.
  TqnNode* Nodes(int index) const;
  int NodeCount() const { return Count(); }
  // Position among the parent's items, -1 without a parent.
  int Index() const;
  // Kept inside the node, so concurrent readers never race to create it.
  TqnContent& Content() { return content_; }
  const TqnContent& Content() const { return content_; }
  TqnAttrs& Attrs() { return attrs_; }
  const TqnAttrs& Attrs() const { return attrs_; }
  virtual bool Exists() const { return true; }

  // The stored text: the characters between the tags, escapes still in place.
  const std::string& Text() const { return text_; }
  // Throws on the empty node.
  void SetText(std::string text);

  // Frees the children and the attributes; the text stays.
  void Clear() override;

 protected:
  void CheckAccepts(const TqnItem& item) const override;

 private:
  TqnAttrs attrs_;
  std::string text_;
  TqnContent content_;
};

// The shared placeholder; only TqnNode::Empty() makes one.
class TqnEmptyNode : public TqnNode {
 public:
  bool Exists() const override { return false; }

 protected:
  void CheckAccepts(const TqnItem& item) const override;

 private:
  friend class TqnNode;
  TqnEmptyNode() : TqnNode("") {}
};

// The message of every write to the empty node.
extern const char kXmlNotExistsNode[];

}  // namespace qn
