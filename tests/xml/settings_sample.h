// A settings tree for the file tests: a marker and some entries, with
// Cyrillic text and characters that the writer must escape.
#pragma once

#include <memory>
#include <string>

#include "base/text.h"
#include "xml/xml_utils.h"

namespace xmltest {

using qn::Format;
using qn::TqnNode;
using qn::Win1251;

inline std::unique_ptr<TqnNode> Settings(const std::string& marker, int entries = 3) {
  auto root = std::make_unique<TqnNode>("settings");
  root->Node("marker")->Content().SetString(marker);
  TqnNode* data = root->Node("data");
  for (int i = 0; i < entries; ++i) {
    TqnNode* db = data->Node(Format("db%04d", i));
    db->Node("path")->Content().SetString(Format("localhost:c:\\data\\tx%d.fd3", i));
    db->Node("caption")->Content().SetString(Win1251("База ") + std::to_string(i) + " <&>\r\n");
  }
  return root;
}

inline std::string Marker(const TqnNode& root) { return root.FindNode("marker")->Content().AsString("<none>"); }

}  // namespace xmltest

using xmltest::Marker;
using xmltest::Settings;
