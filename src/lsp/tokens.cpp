// Colouring and folding: every token of the document with its kind, and the
// ranges of functions, the main block and blocks.
#include <algorithm>
#include <array>
#include <charconv>

#include "lsp/handlers.h"
#include "parser/parser.h"

namespace skern::lsp {

namespace {

// ---------------------------------------------------------------------------
// Semantic tokens
// ---------------------------------------------------------------------------

// The legend's token types, in its order.
enum class Kind : std::uint8_t { Keyword, Function, Parameter, Variable, String, Number, Operator, Comment, Type };
constexpr std::array<std::string_view, 9> KIND_NAMES = {"keyword", "function", "parameter", "variable", "string",
                                                        "number",  "operator", "comment",   "type"};
// The legend's modifiers, as bits.
constexpr std::uint32_t DECLARATION = 1;

// The `length` bytes of `text` that begin `skip` bytes after `at`; nothing
// where `at` found nothing.
std::string_view piece(std::string_view text, std::size_t at, std::size_t length, std::size_t skip = 0) {
  return at < text.size() ? text.substr(at + skip, length) : std::string_view();
}

bool is_word_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_word_character(char c) { return is_word_start(c) || is_digit(c) || c == '_'; }

// Tokens as the protocol encodes them, each relative to the one before,
// written straight into the JSON of the answer: a large document has
// millions of numbers, which as a tree of JSON values would cost more than
// finding them.
class Encoder {
 public:
  Encoder(const Document& document, Encoding encoding) : document_(document), encoding_(encoding) {}

  // A token over `part`, a view into the document's text on one line.
  void add(std::string_view part, Kind kind, std::uint32_t modifiers = 0) {
    if (part.empty()) {
      return;
    }
    const auto offset = static_cast<std::size_t>(part.data() - document_.text.data());
    const Position start = document_.index.position(offset, encoding_);
    const Position end = document_.index.position(offset + part.size(), encoding_);
    number(start.line - line_);
    number(start.line == line_ ? start.character - character_ : start.character);
    number(end.character - start.character);
    number(static_cast<std::uint32_t>(kind));
    number(modifiers);
    line_ = start.line;
    character_ = start.character;
  }

  // The answer: {"data":[...]}.
  std::string take() {
    json_.append("]}");
    return std::move(json_);
  }

 private:
  void number(std::uint32_t value) {
    std::array<char, 16> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    if (json_.back() != '[') {
      json_.push_back(',');
    }
    json_.append(digits.data(), written.ptr);
  }

  const Document& document_;
  Encoding encoding_;
  std::string json_ = R"({"data":[)";
  std::uint32_t line_ = 0;
  std::uint32_t character_ = 0;
};

// The tokens of one line, left to right.
class LineTokens {
 public:
  LineTokens(const Analysis& analysis, Encoder& encoder, std::string_view text)
      : analysis_(analysis), encoder_(encoder), text_(text) {}

  void line(std::string_view line, bool top_level) {
    const std::string_view code = clean_line(line);
    const std::string_view statement = trim(code);
    if (top_level && statement.starts_with("we declare ")) {
      header(statement);
    } else if (top_level && statement == "council says:") {
      encoder_.add(statement.substr(0, 12), Kind::Keyword);
    } else if (top_level && statement == "on the iron throne:") {
      encoder_.add(statement.substr(0, 18), Kind::Keyword);
    } else if (!statement.empty()) {
      body(statement);
    }
    if (code.size() < line.size()) {
      encoder_.add(trim_end(line.substr(code.size())), Kind::Comment);
    }
  }

 private:
  // A keyword, or words of a phrase, at the start of `part`.
  void keyword(std::string_view part, std::size_t length) { encoder_.add(part.substr(0, length), Kind::Keyword); }

  void header(std::string_view statement) {
    keyword(statement, 10);
    FunctionHeader parsed;
    if (read_function_header(statement, parsed)) {
      expression(statement.substr(11));  // no header: its words as they come
      return;
    }
    encoder_.add(parsed.name, Kind::Function, DECLARATION);
    const char* after_name = parsed.name.data() + parsed.name.size();
    const std::string_view rest(after_name, static_cast<std::size_t>(statement.data() + statement.size() - after_name));
    encoder_.add(piece(rest, rest.find("with"), 4), Kind::Keyword);
    for (const std::string_view param : parsed.params) {
      encoder_.add(param, Kind::Parameter, DECLARATION);
    }
    encoder_.add(statement.substr(statement.size() - 2), Kind::Operator);
  }

  void body(std::string_view statement) {
    const StatementShape shape = statement_shape(statement);
    switch (shape.form) {
      case StatementForm::StrayElse:
        keyword(statement, 4);
        return;
      case StatementForm::If:
        keyword(statement, 2);
        expression(shape.expression);
        return;
      case StatementForm::While:
        keyword(statement, 5);
        expression(shape.expression);
        return;
      case StatementForm::RealmMarches:
        keyword(statement, 17);
        expression(shape.expression);
        encoder_.add(statement.substr(statement.size() - 6, 5), Kind::Keyword);
        return;
      case StatementForm::Input:
        name(shape.name, Kind::Variable);
        encoder_.add(statement.substr(statement.size() - 16), Kind::Keyword);
        return;
      case StatementForm::Speak:
        keyword(statement, 5);
        expression(shape.expression);
        return;
      case StatementForm::Return:
        keyword(statement, 6);
        expression(shape.expression);
        return;
      case StatementForm::Declare:
        declaration(statement, shape);
        return;
      case StatementForm::Assign: {
        name(shape.name, Kind::Variable);
        const char* after = shape.name.data() + shape.name.size();
        const std::string_view rest(after, static_cast<std::size_t>(statement.data() + statement.size() - after));
        encoder_.add(piece(rest, rest.find('='), 1), Kind::Operator);
        expression(shape.expression);
        return;
      }
      case StatementForm::Expression:
        expression(shape.expression);
        return;
    }
  }

  void declaration(std::string_view statement, const StatementShape& shape) {
    name(shape.name, Kind::Variable);
    const std::size_t is_a = statement.find(" is a ");
    encoder_.add(piece(statement, is_a, 4, 1), Kind::Keyword);
    if (!shape.has_with || is_a == std::string_view::npos) {
      return;
    }
    static constexpr std::array<std::string_view, 6> types = {"blade", "wine", "scroll", "vow", "sigil", "void"};
    if (std::find(types.begin(), types.end(), shape.type) != types.end()) {
      encoder_.add(shape.type, Kind::Type);
    }
    encoder_.add(piece(statement, statement.find(" with ", is_a + 6), 4, 1), Kind::Keyword);
    expression(shape.expression);
  }

  // A name of a variable or parameter, as the analysis knows it.
  void name(std::string_view part, Kind fallback) {
    const Occurrence* occurrence = occurrence_at(part);
    if (occurrence == nullptr) {
      encoder_.add(part, fallback);
      return;
    }
    const std::uint32_t modifiers = occurrence->use == Use::Declare ? DECLARATION : 0;
    if (occurrence->use == Use::Call) {
      encoder_.add(part, Kind::Function);
    } else if (occurrence->binding != NO_INDEX && analysis_.occurrences[occurrence->binding].use == Use::Parameter) {
      encoder_.add(part, Kind::Parameter, modifiers);
    } else {
      encoder_.add(part, Kind::Variable, modifiers);
    }
  }

  // The occurrence that begins where `part` does, if any. Lines are read in
  // order, so the search moves on from where it stopped.
  const Occurrence* occurrence_at(std::string_view part) {
    const auto offset = static_cast<std::size_t>(part.data() - text_.data());
    const std::vector<Occurrence>& all = analysis_.occurrences;
    while (next_ < all.size() && all[next_].name.offset < offset) {
      ++next_;
    }
    return next_ < all.size() && all[next_].name.offset == offset ? &all[next_] : nullptr;
  }

  // An expression's words, literals and operators. It need not parse: a line
  // being written is coloured as far as it goes.
  void expression(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
      const char c = text[i];
      if (is_word_start(c)) {
        i = word(text, i);
      } else if (is_digit(c)) {
        i = number(text, i);
      } else if (c == '"' || c == '\'') {
        i = literal(text, i);
      } else if (std::string_view("=!<>+-*/").find(c) != std::string_view::npos) {
        const std::size_t length = i + 1 < text.size() && text[i + 1] == '=' && (c == '=' || c == '!') ? 2 : 1;
        encoder_.add(text.substr(i, length), Kind::Operator);
        i += length;
      } else {
        ++i;
      }
    }
  }

  // Each of these adds the token at `start` and gives where it ends.
  std::size_t word(std::string_view text, std::size_t start) {
    std::size_t end = start + 1;
    while (end < text.size() && is_word_character(text[end])) {
      ++end;
    }
    const std::string_view found = text.substr(start, end - start);
    if (found == "with" || found == "aye" || found == "nay") {
      encoder_.add(found, Kind::Keyword);
    } else {
      name(found, followed_by_with(text.substr(end)) ? Kind::Function : Kind::Variable);
    }
    return end;
  }

  std::size_t number(std::string_view text, std::size_t start) {
    const auto digits_from = [text](std::size_t at) {
      while (at < text.size() && is_digit(text[at])) {
        ++at;
      }
      return at;
    };
    std::size_t end = digits_from(start);
    if (end + 1 < text.size() && text[end] == '.' && is_digit(text[end + 1])) {
      end = digits_from(end + 1);
    }
    encoder_.add(text.substr(start, end - start), Kind::Number);
    return end;
  }

  std::size_t literal(std::string_view text, std::size_t start) {
    std::size_t end = start + 1;
    while (end < text.size() && text[end] != text[start]) {
      end += text[end] == '\\' && end + 1 < text.size() ? 2U : 1U;
    }
    end = std::min(end + 1, text.size());
    encoder_.add(text.substr(start, end - start), Kind::String);
    return end;
  }

  static bool followed_by_with(std::string_view rest) {
    const std::size_t word = rest.find_first_not_of(" \t");
    return word != std::string_view::npos && rest.substr(word, 4) == "with" &&
           (word + 4 == rest.size() || !is_word_character(rest[word + 4]));
  }

  const Analysis& analysis_;
  Encoder& encoder_;
  std::string_view text_;
  std::size_t next_ = 0;
};

// ---------------------------------------------------------------------------
// Folding
// ---------------------------------------------------------------------------

bool opens_block(std::string_view text) {
  const StatementForm form = statement_shape(text).form;
  return form == StatementForm::If || form == StatementForm::While || form == StatementForm::RealmMarches ||
         form == StatementForm::StrayElse;
}

}  // namespace

Json semantic_tokens_legend() {
  return Json{{"tokenTypes", KIND_NAMES}, {"tokenModifiers", {"declaration"}}};
}

RawJson semantic_tokens(const Context& context) {
  const Document& document = context.document;
  Encoder encoder(document, context.encoding);
  LineTokens tokens(document.analysis, encoder, document.text);
  for (std::uint32_t line = 0; line < document.index.line_count(); ++line) {
    const std::string_view text = document.index.line_text(line);
    tokens.line(text, !text.empty() && text.front() != ' ' && text.front() != '\t');
  }
  return RawJson{encoder.take()};
}

Json folding_ranges(const Context& context) {
  const Document& document = context.document;
  const Analysis& analysis = document.analysis;
  const auto line_of = [&document](std::size_t offset) { return document.index.position(offset, Encoding::Utf8).line; };
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
  const auto fold = [&ranges](std::uint32_t first, std::uint32_t last) {
    if (last > first) {
      ranges.emplace_back(first, last);
    }
  };
  for (const Function& function : analysis.functions) {
    fold(line_of(function.span.start), line_of(function.span.end));
  }
  if (analysis.main) {
    fold(line_of(analysis.main->span.start), line_of(analysis.main->span.end));
  }
  // A block runs from its header to the last line before one that stands no
  // deeper than the header.
  struct Open {
    std::uint64_t indentation;
    std::uint32_t line;
  };
  std::vector<Open> open;
  std::uint32_t last = 0;
  for (const SourceLine& line : split_lines(document.text)) {
    const std::uint32_t here = line_of(static_cast<std::size_t>(line.text.data() - document.text.data()));
    while (!open.empty() && open.back().indentation >= line.indentation) {
      fold(open.back().line, last);
      open.pop_back();
    }
    if (line.indentation > 0 && opens_block(line.text)) {
      open.push_back({line.indentation, here});
    }
    last = here;
  }
  for (; !open.empty(); open.pop_back()) {
    fold(open.back().line, last);
  }
  std::sort(ranges.begin(), ranges.end());
  Json folds = Json::array();
  for (const auto& [first, end] : ranges) {
    folds.push_back({{"startLine", first}, {"endLine", end}});
  }
  return folds;
}

}  // namespace skern::lsp
