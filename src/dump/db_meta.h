// The in-memory index of a logical dump's metadata member ("meta.txt"):
// the column types, the tables with their fields and the type of each
// field, and the generators.
//
// Document form, as read here (element 0 of a list is its head):
//   (<any head>
//     (types (<type> (<any> <base type> [<length>] ...) ...) ...)
//     (tables (<table> ... (fields (<field> ... (type <type name>) ...) ...) ...) ...)
//     (generators (<generator> ...) ...))
// A field's type name is the name of a type or of a table; the latter
// makes the field a reference to an object of that table.
//
// Names are compared exactly (byte for byte); when a name occurs twice in
// one list, the later definition wins. Failures throw qn::Exception with
// the string tree's messages or the ones stated below; a model that failed
// half-way is to be discarded.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "sexpr/string_tree.h"

namespace qn {

class TqnDbMeta_Type {
 public:
  TqnDbMeta_Type(std::string baseType, std::string length)
      : baseType_(std::move(baseType)), length_(std::move(length)) {}
  // The base type name as written, e.g. "CHAR".
  const std::string& BaseType() const { return baseType_; }
  // The length as written; empty when the description has none.
  const std::string& Length() const { return length_; }

 private:
  std::string baseType_, length_;
};

class TqnDbMeta_Field {
 public:
  explicit TqnDbMeta_Field(std::string typeName) : typeName_(std::move(typeName)) {}
  // The name of a type or of a table; empty when the field names none.
  const std::string& TypeName() const { return typeName_; }

 private:
  std::string typeName_;
};

class TqnDbMeta_Table {
 public:
  using FieldMap = std::map<std::string, std::unique_ptr<TqnDbMeta_Field>>;

  // The field, or nullptr; with mustExist an unknown name throws
  // "TqnDbMeta_Table.GetField: field \"<name>\" not found".
  const TqnDbMeta_Field* GetField(const std::string& name, bool mustExist) const;
  const FieldMap& Fields() const { return fields_; }
  void SetField(const std::string& name, std::string typeName);

 private:
  FieldMap fields_;
};

class TqnDbMeta {
 public:
  using TypeMap = std::map<std::string, std::unique_ptr<TqnDbMeta_Type>>;
  using TableMap = std::map<std::string, std::unique_ptr<TqnDbMeta_Table>>;

  // Fills the maps from the parsed document, types first, then tables,
  // then generators. "types", "tables" and "generators" must be there
  // ("node by key \"<key>\" not found"); a string where a list belongs
  // throws "expected tree", a list where a string belongs "expected string".
  void LoadFromTree(IqnStringTree& document);

  // The type / table, or nullptr; with mustExist an unknown name throws
  // "TqnDbMeta.GetType: type \"<name>\" not found" /
  // "TqnDbMeta.GetTable: table \"<name>\" not found".
  const TqnDbMeta_Type* GetType(const std::string& name, bool mustExist) const;
  const TqnDbMeta_Table* GetTable(const std::string& name, bool mustExist) const;
  bool HasGenerator(const std::string& name) const { return generators_.count(name) != 0; }

  // The longest value a field of this type name holds: 12 for the name of a
  // table (an object identifier), else the type's length as a decimal
  // number, 0 when it is empty or no number. An unknown type throws as
  // GetType with mustExist.
  int ValueLength(const std::string& typeName) const;
  // Whether a field of this type name holds an object identifier: the name
  // of a table, or a type whose base type in upper case is "CHAR" and whose
  // length is written exactly "12". An unknown type throws as GetType.
  bool IsObjectReference(const std::string& typeName) const;

  const TypeMap& Types() const { return types_; }
  const TableMap& Tables() const { return tables_; }
  const std::set<std::string>& Generators() const { return generators_; }

 private:
  TypeMap types_;
  TableMap tables_;
  std::set<std::string> generators_;
};

}  // namespace qn
