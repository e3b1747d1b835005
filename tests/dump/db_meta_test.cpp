// The metadata model read from "meta.txt" documents: lookups, value
// lengths, object references and the failures of malformed documents.
#include "dump/db_meta.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "sexpr/sexp_reader.h"

namespace qn {
namespace {

const char* kMeta =
    "(meta"
    " (types"
    "  (TUid (domain CHAR 12))"
    "  (TUidLower (domain char 12))"
    "  (TUidPadded (domain CHAR 012))"
    "  (TName (domain VARCHAR 80 extra))"
    "  (TDate (domain DATE))"
    "  (TOdd (domain VARCHAR abc))"
    "  (Person (domain VARCHAR 5)))"
    " (tables"
    "  (Person (tags unmanaged) (fields (Object (type TUid)) (Name (type TName) (null no))))"
    "  (Doc (fields (Object (type TUid)) (Author (type Person)) (Date (type TDate)) (Bare)))"
    "  (Empty (fields)))"
    " (generators (Doc) (Counter)))";

TqnDbMeta Load(const std::string& text) {
  PqnStringTree tree = ParseSExp(text);
  TqnDbMeta meta;
  meta.LoadFromTree(*tree);
  return meta;
}

std::string LoadError(const std::string& text) {
  try {
    Load(text);
  } catch (const Exception& e) {
    return e.what();
  }
  return "(no failure)";
}

TEST(DbMetaTest, IndexesTypesTablesFieldsAndGenerators) {
  TqnDbMeta meta = Load(kMeta);
  EXPECT_EQ(meta.Types().size(), 7u);
  ASSERT_NE(meta.GetType("TName", false), nullptr);
  EXPECT_EQ(meta.GetType("TName", false)->BaseType(), "VARCHAR");
  EXPECT_EQ(meta.GetType("TName", false)->Length(), "80");
  EXPECT_EQ(meta.GetType("tname", false), nullptr);  // names are exact

  const TqnDbMeta_Table* doc = meta.GetTable("Doc", true);
  EXPECT_EQ(doc->Fields().size(), 4u);
  EXPECT_EQ(doc->GetField("Author", true)->TypeName(), "Person");
  EXPECT_EQ(doc->GetField("Date", true)->TypeName(), "TDate");
  // A field without a type list names no type.
  EXPECT_EQ(doc->GetField("Bare", true)->TypeName(), "");
  EXPECT_EQ(doc->GetField("Missing", false), nullptr);
  EXPECT_EQ(meta.GetTable("Person", true)->GetField("Name", true)->TypeName(), "TName");

  EXPECT_TRUE(meta.HasGenerator("Doc"));
  EXPECT_TRUE(meta.HasGenerator("Counter"));
  EXPECT_FALSE(meta.HasGenerator("Person"));
}

TEST(DbMetaTest, FieldsListWithOnlyItsHeadGivesNoFields) {
  TqnDbMeta meta = Load(kMeta);
  ASSERT_NE(meta.GetTable("Empty", false), nullptr);
  EXPECT_TRUE(meta.GetTable("Empty", false)->Fields().empty());
}

TEST(DbMetaTest, UnknownNamesFailWithTheirMessagesWhenTheyMustExist) {
  TqnDbMeta meta = Load(kMeta);
  EXPECT_EQ(meta.GetTable("Nope", false), nullptr);
  try {
    meta.GetType("Nope", true);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "TqnDbMeta.GetType: type \"Nope\" not found");
  }
  try {
    meta.GetTable("Nope", true);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "TqnDbMeta.GetTable: table \"Nope\" not found");
  }
  try {
    meta.GetTable("Doc", true)->GetField("Nope", true);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "TqnDbMeta_Table.GetField: field \"Nope\" not found");
  }
  // Lengths and references of an unknown type fail as the type lookup does.
  for (auto ask :
       {+[](const TqnDbMeta& m) { m.ValueLength("Nope"); }, +[](const TqnDbMeta& m) { m.IsObjectReference("Nope"); }}) {
    try {
      ask(meta);
      FAIL();
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "TqnDbMeta.GetType: type \"Nope\" not found");
    }
  }
}

TEST(DbMetaTest, ValueLengthsAndObjectReferences) {
  TqnDbMeta meta = Load(kMeta);
  struct Case {
    const char* type;
    int length;
    bool reference;
  } cases[] = {
      {"TUid", 12, true},        {"TUidLower", 12, true},  // the base type is compared in upper case
      {"TUidPadded", 12, false},                           // a reference needs the length written "12"
      {"TName", 80, false},      {"TDate", 0, false},      // a description of two elements has no length
      {"TOdd", 0, false},                                  // a length that is no number
      {"Person", 12, true},                                // a table's name wins over a type of that name
      {"Doc", 12, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(meta.ValueLength(c.type), c.length) << c.type;
    EXPECT_EQ(meta.IsObjectReference(c.type), c.reference) << c.type;
  }
  EXPECT_EQ(meta.GetType("TDate", true)->Length(), "");
}

TEST(DbMetaTest, MalformedDocumentsFailWithTheTreeMessages) {
  EXPECT_EQ(LoadError("(meta (tables) (generators))"), "node by key \"types\" not found");
  EXPECT_EQ(LoadError("(meta (types) (generators))"), "node by key \"tables\" not found");
  EXPECT_EQ(LoadError("(meta (types) (tables))"), "node by key \"generators\" not found");
  // A table without a fields list.
  EXPECT_EQ(LoadError("(meta (types) (tables (T (tags))) (generators))"), "node by key \"fields\" not found");
  // Strings where lists belong.
  EXPECT_EQ(LoadError("(meta (types TUid) (tables) (generators))"), "expected tree");
  EXPECT_EQ(LoadError("(meta (types (T CHAR)) (tables) (generators))"), "expected tree");
  EXPECT_EQ(LoadError("(meta (types) (tables) (generators G))"), "expected tree");
  EXPECT_EQ(LoadError("(meta (types) (tables (T (fields F))) (generators))"), "expected tree");
  // Lists where strings belong.
  EXPECT_EQ(LoadError("(meta (types (T (d (CHAR) 1))) (tables) (generators))"), "expected string");
  EXPECT_EQ(LoadError("(meta (types) (tables (T (fields (F (type (X)))))) (generators))"), "expected string");
  // A description without a base type.
  EXPECT_EQ(LoadError("(meta (types (T (d))) (tables) (generators))"), "Index \"1\" out of range");
}

}  // namespace
}  // namespace qn
