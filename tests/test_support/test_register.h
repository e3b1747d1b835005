// Registers for tests of the window and its presenter: a settings root past
// the first run, and entries with the values a new entry gets.
#pragma once

#include <memory>
#include <string>

#include "settings/register.h"
#include "xml/xml_dom.h"

// A settings root with the first-run step done and no entries.
inline std::unique_ptr<qn::TqnNode> NewSettings() {
  auto root = std::make_unique<qn::TqnNode>("settings");
  root->Node("PIN")->SetText("KEY1");
  root->Node("data");
  root->Node("data_state")->SetText("initialized");
  return root;
}

// Adds an entry with the values a new entry gets.
inline qn::TqnNode* AddTestEntry(qn::TqnNode& root, int number, const std::string& caption,
                                 const std::string& path) {
  qn::TqnNewEntry values;
  values.path = path;
  values.caption = caption;
  values.backupPath = "/srv/backup/" + std::to_string(number);
  return qn::AddEntry(root, number, values);
}
