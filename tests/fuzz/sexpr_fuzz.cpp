// Feeds arbitrary bytes to the S-expression reader and walks whatever tree
// it returns through every read operation of the string tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "sexpr/sexp_reader.h"

namespace {

// Printing every element of every list costs depth x size; past this many
// printed bytes the lists are no longer printed (their strings still are).
constexpr size_t kPrintBudget = 1 << 20;

void Check(bool condition) {
  if (!condition) std::abort();
}

void Probe(qn::TqnStringTree& list) {
  static const std::string kKeys[] = {"", "a", "meta", "types", "tables", "x y"};
  for (const std::string& key : kKeys) {
    try {
      qn::TqnStringTree* found = list.ByKey(key, false);
      if (found) Check(found->Str(0) == key);
    } catch (const qn::Exception&) {
    }
    try {
      int index = list.IndexOfKey(key, false);
      if (index >= 0) Check(list.Sub(index).Str(0) == key);
    } catch (const qn::Exception&) {
    }
    try {
      list.ValueOf(key, "default");
      list.TextOf(key);
    } catch (const qn::Exception&) {
    }
    try {
      list.ByKey(key, true);
    } catch (const qn::Exception&) {
    }
    list.HasString(key);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qn::PqnStringTree root;
  try {
    root = qn::ParseSExp(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const qn::Exception&) {
    return 0;
  }

  size_t printed = 0;
  std::vector<qn::TqnStringTree*> pending{&root->Obj()};
  while (!pending.empty()) {
    qn::TqnStringTree* list = pending.back();
    pending.pop_back();
    int count = list->Count();
    for (int i = 0; i < count; ++i) {
      Check(list->IsString(i) != list->IsTree(i));
      if (list->IsString(i)) {
        Check(list->AsText(i) == list->Str(i));
        Check(list->StrDef(i, "?") == list->Str(i));
      } else {
        if (printed < kPrintBudget) printed += list->AsText(i).size();
        Check(list->StrDef(i, "?") == "?");
        pending.push_back(&list->Sub(i));
      }
    }
    Check(!list->IsString(count) && !list->IsTree(-1));
    try {
      list->AsText(count);
      std::abort();
    } catch (const qn::Exception&) {
    }
    Probe(*list);
  }
  return 0;
}
