// Registers for tests of the window and its presenter: a settings root past
// the first run, and entries with the values a new entry gets.
#pragma once

#include <memory>
#include <string>

#include "base/text.h"
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
inline qn::TqnNode* AddTestEntry(qn::TqnNode& root, int number, const std::string& caption, const std::string& path) {
  qn::TqnNewEntry values;
  values.path = path;
  values.caption = caption;
  values.backupPath = "/srv/backup/" + std::to_string(number);
  return qn::AddEntry(root, number, values);
}

// The list's sample: db0001 without a caption, db0002 whose latest automatic
// backup failed at 2026-12-08 06:30:12, db0003 "Склад" on the Firebird 3.0
// server, and an element whose name is no entry name.
inline std::unique_ptr<qn::TqnNode> ListSample() {
  auto root = NewSettings();
  AddTestEntry(*root, 1, "", "localhost:/srv/db/one.fdb");
  qn::TqnNode* failed = AddTestEntry(*root, 2, "", "localhost:/srv/db/two.fdb");
  failed->Node("backup")->Node("auto")->SetText("1");
  qn::TqnNode* result = failed->Node("backup")->Node("result");
  result->Node("state")->SetText("failed");
  result->Node("time")->SetText("2026-12-08 06:30:12");
  AddTestEntry(*root, 3, qn::Win1251("Склад"), "localhost/53030:/srv/db/sklad.fd3");
  root->FindNode("data")->AddNode("dbx001")->Node("path")->SetText("y");
  return root;
}
