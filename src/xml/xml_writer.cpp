#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "xml/xml_utils.h"

namespace qn {
namespace {

const char kHeader[] = "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n";

void Indent(std::string& out, size_t depth) { out.append(2 * depth, ' '); }

// Writes the part of a node that comes before its children; returns false
// when the node is finished already (no children).
bool WriteOpening(std::string& out, const TqnNode& node, const std::string& name, size_t depth) {
  std::string text = TrimControl(node.Text());
  Indent(out, depth);
  if (node.NodeCount() == 0) {
    if (text.empty()) {
      out += "<" + name + "/>\r\n";
    } else if (text.find('\r') == std::string::npos) {
      out += "<" + name + ">" + text + "</" + name + ">\r\n";
    } else {
      out += "<" + name + ">\r\n" + text + "\r\n";
      Indent(out, depth);
      out += "</" + name + ">\r\n";
    }
    return false;
  }
  out += "<" + name + ">\r\n";
  if (!text.empty()) out += text + "\r\n";
  return true;
}

void WriteClosing(std::string& out, const std::string& name, size_t depth) {
  Indent(out, depth);
  out += "</" + name + ">\r\n";
}

}  // namespace

std::string XmlSaveString(const TqnNode& root) {
  std::string out = kHeader;
  // An explicit stack (node, encoded name, next child) instead of recursion,
  // so a very deep tree cannot exhaust the call stack.
  struct Frame {
    const TqnNode* node;
    std::string name;
    int next;
  };
  std::vector<Frame> open;
  std::string rootName = XmlEncodeName(root.Name());
  if (WriteOpening(out, root, rootName, 0)) open.push_back({&root, rootName, 0});
  while (!open.empty()) {
    Frame& top = open.back();
    if (top.next >= top.node->NodeCount()) {
      WriteClosing(out, top.name, open.size() - 1);
      open.pop_back();
      continue;
    }
    const TqnNode* child = top.node->Nodes(top.next++);
    std::string name = XmlEncodeName(child->Name());
    size_t depth = open.size();
    if (WriteOpening(out, *child, name, depth)) open.push_back({child, name, 0});
  }
  return out;
}

size_t XmlSaveStream(const TqnNode& root, std::ostream& out) {
  std::string bytes = XmlSaveString(root);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw Exception("Cannot write stream");
  return bytes.size();
}

void XmlSaveFile(const TqnNode& root, const std::string& fileName) {
  // Written to a temporary file and renamed over the old one, so a crash or
  // a full disk during the save never leaves a truncated settings file.
  platform::WriteFileReplacing(fileName, XmlSaveString(root));
}

}  // namespace qn
