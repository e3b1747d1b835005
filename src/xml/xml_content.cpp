#include "base/error.h"
#include "xml/xml_dom.h"
#include "xml/xml_text.h"

namespace qn {

bool TqnContent::AsBoolean(bool defaultValue) const {
  if (!node_->Exists() || node_->Text().empty()) return defaultValue;
  return node_->Text()[0] == '1';
}

int32_t TqnContent::AsInteger(int32_t defaultValue) const {
  if (!node_->Exists()) return defaultValue;
  return XmlParseInteger(node_->Text()).value_or(defaultValue);
}

std::string TqnContent::AsString(const std::string& defaultValue) const {
  if (!node_->Exists()) return defaultValue;
  return XmlUnescapeText(node_->Text());
}

// SetText refuses the empty node with "setting value for not exists node".
void TqnContent::SetBoolean(bool value) { node_->SetText(value ? "1" : "0"); }

void TqnContent::SetInteger(int32_t value) { node_->SetText(std::to_string(value)); }

void TqnContent::SetString(const std::string& value) { node_->SetText(XmlEscapeText(value)); }

}  // namespace qn
