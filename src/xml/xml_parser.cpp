#include "xml/xml_parser.h"

#include <iterator>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "xml/xml_text.h"

namespace qn {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  std::unique_ptr<TqnNode> Document() {
    size_t decl = s_.find("?>");
    if (decl == std::string_view::npos) throw Exception("Wrong XML file");
    p_ = decl + 2;
    SkipWhite();
    Expect('<');
    SkipWhite();
    std::string name = ReadName();
    SkipWhite();
    auto root = std::make_unique<TqnNode>(XmlDecodeName(name));
    Elements(root.get());
    return root;
  }

 private:
  bool AtEnd() const { return p_ >= s_.size(); }
  // The byte at the position, or NUL at the end (the text holds no NUL).
  unsigned char At(size_t pos) const { return pos < s_.size() ? static_cast<unsigned char>(s_[pos]) : 0; }
  unsigned char Cur() const { return At(p_); }

  [[noreturn]] static void Fail(const char* message) { throw Exception(message); }

  void SkipWhiteNoCheck() {
    while (!AtEnd() && Cur() >= 1 && Cur() <= 32) ++p_;
  }
  void SkipWhite() {
    SkipWhiteNoCheck();
    if (AtEnd()) Fail("Unexpected end of file");
  }
  void Expect(char c) {
    if (AtEnd()) Fail("Unexpected end of file");
    if (Cur() != static_cast<unsigned char>(c)) Fail("Invalid symbol");
    ++p_;
  }
  std::string ReadName() {
    size_t start = p_;
    while (!AtEnd() && XmlIsNameChar(Cur())) ++p_;
    if (p_ == start) Fail(AtEnd() ? "Unexpected end of file" : "Invalid symbol");
    return std::string(s_.substr(start, p_ - start));
  }
  std::string ReadQuoted() {
    Expect('"');
    std::string value;
    for (;;) {
      size_t q = s_.find('"', p_);
      if (q == std::string_view::npos) Fail("Unexpected end of file");
      value.append(s_.substr(p_, q - p_));
      p_ = q + 1;
      if (Cur() != '"') return value;
      value += '"';  // a doubled quote stands for one
      ++p_;
    }
  }

  // Attributes, then either "/>" (returns false: nothing more inside) or
  // ">" and the node's text (returns true: children and closing tag follow).
  bool OpenBody(TqnNode* node) {
    while (!AtEnd() && XmlIsNameChar(Cur())) {
      std::string name = ReadName();
      SkipWhite();
      Expect('=');
      SkipWhite();
      std::string value = ReadQuoted();
      SkipWhite();
      node->Attrs().SetAttr(name, value);
    }
    if (Cur() == '/') {
      ++p_;
      Expect('>');
      SkipWhite();
      return false;
    }
    Expect('>');
    size_t lt = s_.find('<', p_);
    if (lt == std::string_view::npos) Fail("Unexpected end of file");
    node->SetText(TrimControl(s_.substr(p_, lt - p_)));
    p_ = lt;
    SkipWhite();
    return true;
  }

  // The closing tag of a node with content and what may follow it.
  void CloseBody(TqnNode* node, size_t depth) {
    Expect('<');
    Expect('/');
    SkipWhite();
    std::string name = XmlDecodeName(ReadName());
    if (name != node->Name()) Fail("Tag name mismatch");
    SkipWhite();
    Expect('>');
    SkipWhiteNoCheck();
    if (AtEnd() && depth != 0) Fail("Unexpected end of file");
    if (!AtEnd() && depth == 0) Fail("Unexpected data at end of file");
  }

  // The element bodies of the tree under root, with an explicit stack so
  // that nesting depth cannot exhaust the call stack.
  void Elements(TqnNode* root) {
    std::vector<TqnNode*> open;
    if (OpenBody(root)) open.push_back(root);
    while (!open.empty()) {
      TqnNode* node = open.back();
      if (Cur() == '<' && At(p_ + 1) != '/') {
        Expect('<');
        SkipWhite();
        std::string name = ReadName();
        SkipWhite();
        TqnNode* child = node->AddNode(XmlDecodeName(name));
        if (OpenBody(child)) open.push_back(child);
      } else {
        CloseBody(node, open.size() - 1);
        open.pop_back();
      }
    }
  }

  std::string_view s_;
  size_t p_ = 0;
};

void CheckRootTags(std::string_view text, const std::string& rootName) {
  size_t open = text.find("<" + rootName + ">");
  if (open == std::string_view::npos) throw Exception("Wrong XML file (no opening root tag)");
  size_t close = text.find("</" + rootName + ">");
  if (close == std::string_view::npos) throw Exception("Wrong XML file (no closing root tag)");
  if (close < open) throw Exception("Wrong XML file (closing root tag before opening root tag)");
}

}  // namespace

std::unique_ptr<TqnNode> XmlLoadStream(std::string_view bytes, const std::string& rootName) {
  std::string_view text = bytes.substr(0, bytes.find('\0'));
  if (!rootName.empty()) CheckRootTags(text, rootName);
  return Reader(text).Document();
}

std::unique_ptr<TqnNode> XmlLoadStream(std::istream& in, const std::string& rootName) {
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return XmlLoadStream(bytes, rootName);
}

}  // namespace qn
