#include "dump/db_meta.h"

#include <charconv>

#include "base/error.h"
#include "base/text.h"

namespace qn {

const TqnDbMeta_Field* TqnDbMeta_Table::GetField(const std::string& name, bool mustExist) const {
  auto it = fields_.find(name);
  if (it != fields_.end()) return it->second.get();
  if (mustExist) throw Exception("TqnDbMeta_Table.GetField: field \"" + name + "\" not found");
  return nullptr;
}

void TqnDbMeta_Table::SetField(const std::string& name, std::string typeName) {
  fields_[name] = std::make_unique<TqnDbMeta_Field>(std::move(typeName));
}

void TqnDbMeta::LoadFromTree(IqnStringTree& document) {
  TqnStringTree& types = *document.ByKey("types", true);
  for (int i = 1; i < types.Count(); ++i) {
    TqnStringTree& type = types.Sub(i);
    const std::string& name = type.Str(0);
    TqnStringTree& description = type.Sub(1);
    std::string base = description.Str(1);
    std::string length = description.Count() > 2 ? description.Str(2) : std::string();
    types_[name] = std::make_unique<TqnDbMeta_Type>(std::move(base), std::move(length));
  }

  TqnStringTree& tables = *document.ByKey("tables", true);
  for (int i = 1; i < tables.Count(); ++i) {
    TqnStringTree& tableList = tables.Sub(i);
    const std::string& name = tableList.Str(0);
    TqnStringTree& fields = *tableList.ByKey("fields", true);
    auto table = std::make_unique<TqnDbMeta_Table>();
    for (int j = 1; j < fields.Count(); ++j) {
      TqnStringTree& field = fields.Sub(j);
      table->SetField(field.Str(0), field.ValueOf("type", std::string()));
    }
    tables_[name] = std::move(table);
  }

  TqnStringTree& generators = *document.ByKey("generators", true);
  for (int i = 1; i < generators.Count(); ++i) generators_.insert(generators.Sub(i).Str(0));
}

const TqnDbMeta_Type* TqnDbMeta::GetType(const std::string& name, bool mustExist) const {
  auto it = types_.find(name);
  if (it != types_.end()) return it->second.get();
  if (mustExist) throw Exception("TqnDbMeta.GetType: type \"" + name + "\" not found");
  return nullptr;
}

const TqnDbMeta_Table* TqnDbMeta::GetTable(const std::string& name, bool mustExist) const {
  auto it = tables_.find(name);
  if (it != tables_.end()) return it->second.get();
  if (mustExist) throw Exception("TqnDbMeta.GetTable: table \"" + name + "\" not found");
  return nullptr;
}

int TqnDbMeta::ValueLength(const std::string& typeName) const {
  if (tables_.count(typeName)) return 12;
  const std::string& length = GetType(typeName, true)->Length();
  int value = 0;
  const char* end = length.data() + length.size();
  auto [ptr, ec] = std::from_chars(length.data(), end, value);
  if (ec != std::errc() || ptr != end) return 0;
  return value;
}

bool TqnDbMeta::IsObjectReference(const std::string& typeName) const {
  if (tables_.count(typeName)) return true;
  const TqnDbMeta_Type* type = GetType(typeName, true);
  return UpperCase(type->BaseType()) == "CHAR" && type->Length() == "12";
}

}  // namespace qn
