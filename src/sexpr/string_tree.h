// A tree of strings and nested lists, as read from S-expression text.
//
// A list holds an ordered sequence of elements, indexed from 0; each element
// is a TqnString or a nested TqnStringTree. A list owns its elements, so
// clearing or destroying it frees the whole subtree (without recursion, so
// trees of any depth are safe). Only the root is shared, through
// std::shared_ptr<IqnStringTree>; child lists are handed out as plain
// references that stay valid while the root lives and is not cleared.
//
// The head of a list is its element 0 when that is a string. Lists of the
// form (key value ...) are found by their head. All string comparisons are
// exact, byte for byte.
//
// Failures throw qn::Exception with these texts:
//   "Index \"<index>\" out of range"  an index below 0 or not below Count()
//   "expected string"                 a string was asked for, a list stands
//   "expected tree"                   a list was asked for, a string stands
//   "node by key \"<key>\" not found" a key search that must find failed
//
// No locks: several threads may read one tree only while none changes it.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qn {

class TqnStringTree;

// One element of a list.
class TqnStringItem {
 public:
  virtual ~TqnStringItem() = default;
  virtual bool IsList() const = 0;
};

// A string element.
class TqnString final : public TqnStringItem {
 public:
  explicit TqnString(std::string value) : value_(std::move(value)) {}
  bool IsList() const override { return false; }
  const std::string& Value() const { return value_; }

 private:
  std::string value_;
};

class IqnStringTree {
 public:
  virtual ~IqnStringTree() = default;

  // The list behind the interface.
  virtual TqnStringTree& Obj() = 0;
  // Index in range and the element is a string / a list.
  virtual bool IsString(int index) const = 0;
  virtual bool IsTree(int index) const = 0;
  // The string element; throws out of range or "expected string".
  virtual const std::string& Str(int index) const = 0;
  // The string element, or def for an index out of range or a list element.
  virtual std::string StrDef(int index, const std::string& def) const = 0;
  // The list element; throws out of range or "expected tree".
  virtual TqnStringTree& Sub(int index) = 0;
  // The element printed: a string as it is (no quoting or escaping), a list
  // as "(" + its elements printed and separated by one blank + ")".
  // Throws out of range.
  virtual std::string AsText(int index) const = 0;
  virtual int Count() const = 0;
  // The first child list among elements 1..Count()-1 whose head is key;
  // nullptr when none and not mustExist. Every element visited must be a
  // list with a string head, else the access throws (see the file comment).
  virtual TqnStringTree* ByKey(const std::string& key, bool mustExist) = 0;
  // As ByKey, but searching elements 0..Count()-1 and giving the index;
  // -1 when none and not mustExist.
  virtual int IndexOfKey(const std::string& key, bool mustExist) const = 0;
  // Str(1) of ByKey(key, false), or def when no list has the key.
  virtual std::string ValueOf(const std::string& key, const std::string& def) = 0;
  // AsText(1) of ByKey(key, false), or "" when no list has the key.
  virtual std::string TextOf(const std::string& key) = 0;
  // Some string element of this list (not of its children) equals value.
  virtual bool HasString(const std::string& value) const = 0;
};

using PqnStringTree = std::shared_ptr<IqnStringTree>;

class TqnStringTree final : public TqnStringItem, public IqnStringTree {
 public:
  TqnStringTree() = default;
  ~TqnStringTree() override;
  TqnStringTree(const TqnStringTree&) = delete;
  TqnStringTree& operator=(const TqnStringTree&) = delete;

  bool IsList() const override { return true; }

  TqnStringTree& Obj() override { return *this; }
  bool IsString(int index) const override;
  bool IsTree(int index) const override;
  const std::string& Str(int index) const override;
  std::string StrDef(int index, const std::string& def) const override;
  TqnStringTree& Sub(int index) override;
  std::string AsText(int index) const override;
  int Count() const override { return static_cast<int>(items_.size()); }
  TqnStringTree* ByKey(const std::string& key, bool mustExist) override;
  int IndexOfKey(const std::string& key, bool mustExist) const override;
  std::string ValueOf(const std::string& key, const std::string& def) override;
  std::string TextOf(const std::string& key) override;
  bool HasString(const std::string& value) const override;

  // Building: append a string element; append a new empty child list and
  // return it; free all elements.
  void AddString(std::string value);
  TqnStringTree& AddList();
  void Clear();

 private:
  const TqnStringItem& At(int index) const;  // throws out of range
  const TqnStringTree& ListAt(int index) const;
  // Index of the first child list from element first on headed by key, or -1.
  int FindKey(const std::string& key, int first) const;

  std::vector<std::unique_ptr<TqnStringItem>> items_;
};

// A new, empty root list.
std::shared_ptr<TqnStringTree> NewStringTree();

}  // namespace qn
