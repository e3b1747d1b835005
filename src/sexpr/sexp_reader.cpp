#include "sexpr/sexp_reader.h"

#include <utility>
#include <vector>

#include "base/error.h"

namespace qn {
namespace {

bool IsSeparator(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 1 && b <= 32;
}

bool EndsAtom(char c) { return c == '\0' || IsSeparator(c) || c == '(' || c == ')'; }

// Replaces every "\<letter>" of text by replacement, left to right, without
// looking again at what was put in.
void ReplaceEscape(std::string& text, char letter, std::string_view replacement) {
  size_t at = text.find('\\');
  if (at == std::string::npos) return;
  std::string out(text, 0, at);
  out.reserve(text.size());
  while (at < text.size()) {
    if (text[at] == '\\' && at + 1 < text.size() && text[at + 1] == letter) {
      out += replacement;
      at += 2;
    } else {
      out += text[at++];
    }
  }
  text = std::move(out);
}

enum class Token { None, Open, Close, Atom };

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}

  Token Next(std::string_view& atom) {
    while (pos_ < text_.size() && IsSeparator(text_[pos_])) ++pos_;
    if (pos_ >= text_.size()) return Token::None;
    char c = text_[pos_];
    if (c == '(' || c == ')') {
      ++pos_;
      atom = text_.substr(pos_ - 1, 1);
      return c == '(' ? Token::Open : Token::Close;
    }
    size_t start = pos_;
    while (pos_ < text_.size() && !EndsAtom(text_[pos_])) ++pos_;
    atom = text_.substr(start, pos_ - start);
    return Token::Atom;
  }

  bool AtEnd() const { return pos_ >= text_.size(); }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

std::string DecodeAtom(std::string_view atom) {
  static constexpr std::pair<char, std::string_view> kEscapes[] = {{'B', "\\"}, {'F', "/"}, {'C', ","}, {'L', ":"},
                                                                   {'D', "."},  {'K', ";"}, {'S', " "}, {'N', "\r\n"},
                                                                   {'O', "("},  {'P', ")"}};
  std::string text(atom);
  for (const auto& [letter, replacement] : kEscapes) ReplaceEscape(text, letter, replacement);
  return text;
}

PqnStringTree ParseSExp(std::string_view text) {
  std::shared_ptr<TqnStringTree> root = NewStringTree();
  Tokenizer tokens(text);
  std::string_view atom;
  Token token = tokens.Next(atom);
  if (token == Token::None) throw Exception("token required");
  if (token != Token::Open) throw Exception("Require token \"(\", but found \"" + std::string(atom) + "\"");

  TqnStringTree* current = root.get();
  std::vector<TqnStringTree*> open;  // the lists enclosing current
  while ((token = tokens.Next(atom)) != Token::None) {
    switch (token) {
      case Token::Open:
        open.push_back(current);
        current = &current->AddList();
        break;
      case Token::Close:
        if (tokens.AtEnd()) break;  // the root's own ")"
        if (open.empty()) throw Exception("invalid brace sequence");
        current = open.back();
        open.pop_back();
        break;
      case Token::Atom: current->AddString(DecodeAtom(atom)); break;
      case Token::None: break;
    }
  }
  if (!open.empty()) throw Exception("invalid brace sequence");
  return root;
}

}  // namespace qn
