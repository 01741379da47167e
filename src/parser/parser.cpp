// Source lines, program structure, blocks and statements.
#include "parser/parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <type_traits>

#include "parser/expression.h"
#include "parser/grammar_internal.h"

namespace skern {

// ---------------------------------------------------------------------------
// Text helpers
// ---------------------------------------------------------------------------

bool is_unicode_whitespace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

namespace {

bool is_ascii_whitespace(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Length of the whitespace character at the start of `text`, or 0.
std::size_t leading_whitespace_length(std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  if (const auto first = static_cast<unsigned char>(text.front()); first < 0x80) {
    return is_ascii_whitespace(first) ? 1 : 0;
  }
  const std::size_t length = grammar::char_length(text, 0);
  return is_unicode_whitespace(grammar::decode_char(text, 0, length)) ? length : 0;
}

// Length of the whitespace character at the end of `text`, or 0.
std::size_t trailing_whitespace_length(std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  if (const auto last = static_cast<unsigned char>(text.back()); last < 0x80) {
    return is_ascii_whitespace(last) ? 1 : 0;
  }
  std::size_t start = text.size() - 1;
  for (std::size_t back = 0; back < 3 && start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80;
       ++back) {
    --start;
  }
  const std::size_t length = grammar::char_length(text, start);
  if (start + length != text.size()) {
    return 0;  // not a whole character: an ordinary byte
  }
  return is_unicode_whitespace(grammar::decode_char(text, start, length)) ? length : 0;
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }
bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

std::string_view trim_end(std::string_view text) {
  while (const std::size_t length = trailing_whitespace_length(text)) {
    text.remove_suffix(length);
  }
  return text;
}

std::string_view trim(std::string_view text) {
  while (const std::size_t length = leading_whitespace_length(text)) {
    text.remove_prefix(length);
  }
  return trim_end(text);
}

bool is_valid_identifier(std::string_view name) {
  static constexpr std::array<std::string_view, 14> reserved = {"if",    "aye",   "nay",    "vow",   "else",
                                                                "with",  "wine",  "void",   "while", "speak",
                                                                "blade", "sigil", "return", "scroll"};
  if (name.empty()) {
    return false;
  }
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!letter(name.front())) {
    return false;
  }
  const auto continues = [&letter](char c) { return letter(c) || (c >= '0' && c <= '9') || c == '_'; };
  // Iterator pairs rather than ranges: the WebAssembly toolchain's standard
  // library has no std::ranges algorithms.
  if (!std::all_of(name.begin(), name.end(), continues)) {
    return false;
  }
  return std::find(reserved.begin(), reserved.end(), name) == reserved.end();
}

// ---------------------------------------------------------------------------
// Source lines
// ---------------------------------------------------------------------------

std::string_view clean_line(std::string_view line) {
  // Without two slashes in a row there is no comment to find.
  if (line.find("//") == std::string_view::npos) {
    return line;
  }
  bool in_string = false;
  bool in_character = false;
  bool escape = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (escape) {
      escape = false;
    } else if (c == '"') {
      in_string = in_character ? in_string : !in_string;
    } else if (c == '\'') {
      in_character = in_string ? in_character : !in_character;
    } else if (c == '\\') {
      escape = in_string || in_character;
    } else if (c == '/' && !in_string && !in_character && i + 1 < line.size() && line[i + 1] == '/') {
      return line.substr(0, i);
    }
  }
  return line;
}

namespace {

// The meaningful lines of a source text, cut off one at a time, so that no
// list of all of them need be kept.
class LineReader {
 public:
  explicit LineReader(std::string_view source) : source_(source) {}

  // The next meaningful line, or none at the end of the text.
  std::optional<SourceLine> next() {
    while (start_ < source_.size()) {
      const void* found = std::memchr(source_.data() + start_, '\n', source_.size() - start_);
      const std::size_t end = found == nullptr
                                  ? source_.size()
                                  : static_cast<std::size_t>(static_cast<const char*>(found) - source_.data());
      std::string_view piece = source_.substr(start_, end - start_);
      start_ = end + 1;
      ++number_;
      if (found != nullptr && !piece.empty() && piece.back() == '\r') {
        piece.remove_suffix(1);
      }
      std::string_view text = clean_line(piece);
      while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
      }
      std::uint64_t indentation = 0;
      std::size_t run = 0;
      for (; run < text.size() && (text[run] == ' ' || text[run] == '\t'); ++run) {
        indentation += text[run] == '\t' ? 4U : 1U;
      }
      const std::string_view rest = text.substr(run);
      // A line that starts with a visible ASCII character is not blank; only
      // other lines need the full whitespace test.
      const auto first = rest.empty() ? 0 : static_cast<unsigned char>(rest.front());
      if (!(first > ' ' && first < 0x7F) && trim(rest).empty()) {
        continue;
      }
      return SourceLine{rest, number_, indentation};
    }
    return std::nullopt;
  }

 private:
  std::string_view source_;
  std::size_t start_ = 0;
  std::uint64_t number_ = 0;
};

}  // namespace

std::vector<SourceLine> split_lines(std::string_view source) {
  std::vector<SourceLine> lines;
  LineReader reader(source);
  while (std::optional<SourceLine> line = reader.next()) {
    lines.push_back(*line);
  }
  return lines;
}

// ---------------------------------------------------------------------------
// Blocks, statements and the top level
// ---------------------------------------------------------------------------

namespace {

// The line records as the parser walks them, forward only: from a list, with
// a cursor that the caller shares, or read from the source as they are needed.
class Lines {
 public:
  Lines(const std::vector<SourceLine>& list, std::size_t& cursor) : list_(&list), cursor_(&cursor) {}
  explicit Lines(std::string_view source)
      : reader_(source), current_(reader_.next()), last_number_(current_ ? current_->line_number : 0) {}

  [[nodiscard]] bool at_end() const { return list_ != nullptr ? *cursor_ >= list_->size() : !current_; }
  [[nodiscard]] const SourceLine& current() const { return list_ != nullptr ? (*list_)[*cursor_] : *current_; }
  // The record after the current one, if any.
  const SourceLine* following() {
    if (list_ != nullptr) {
      return *cursor_ + 1 < list_->size() ? &(*list_)[*cursor_ + 1] : nullptr;
    }
    if (!following_) {
      following_ = read();
    }
    return following_ ? &*following_ : nullptr;
  }
  void advance() {
    if (list_ != nullptr) {
      ++*cursor_;
      return;
    }
    current_ = following_ ? following_ : read();
    following_.reset();
  }
  // The number of the last record, once the end is reached; 0 for none.
  [[nodiscard]] std::uint64_t last_number() const {
    return list_ != nullptr ? (list_->empty() ? 0 : list_->back().line_number) : last_number_;
  }

 private:
  std::optional<SourceLine> read() {
    std::optional<SourceLine> line = reader_.next();
    if (line) {
      last_number_ = line->line_number;
    }
    return line;
  }

  const std::vector<SourceLine>* list_ = nullptr;
  std::size_t* cursor_ = nullptr;
  LineReader reader_{std::string_view()};
  std::optional<SourceLine> current_;
  std::optional<SourceLine> following_;
  std::uint64_t last_number_ = 0;
};

class ProgramParser {
 public:
  ProgramParser(Lines& lines, SymbolTable& symbols, ExprArena& nodes)
      : lines_(lines), symbols_(symbols), nodes_(nodes) {}

  Status program(Program& program);
  Result<Block> block(std::uint64_t parent_indentation);

 private:
  [[nodiscard]] bool at_end() const { return lines_.at_end(); }
  [[nodiscard]] const SourceLine& current() const { return lines_.current(); }
  void advance() { lines_.advance(); }

  Status function_declaration(Program& program);
  Result<Statement> statement(std::uint64_t block_indentation);
  Result<Statement> if_statement(std::string_view condition_text, std::uint64_t block_indentation);
  template <class Loop>
  Result<Statement> loop_statement(std::string_view header_text, std::uint64_t block_indentation);
  Result<Statement> input_statement(const SourceLine& line, std::string_view target_text);
  template <class Form>
  Result<Statement> expression_statement(std::string_view expression_text);
  Result<Statement> declaration(const SourceLine& line, std::size_t separator);
  static std::size_t assignment_sign(std::string_view text);
  Result<Statement> assignment(const SourceLine& line, std::size_t sign);
  // The expression of a statement form: its text trimmed.
  Result<Expr> expression(std::string_view text) { return expressions_.parse(trim(text), symbols_, nodes_); }

  Lines& lines_;
  SymbolTable& symbols_;
  ExprArena& nodes_;
  ExpressionParser expressions_;
  StackGuard stack_{grammar::PARSER_STACK_RESERVE};
  std::vector<Statement> pending_;  // statements of the blocks being parsed
  void drop_pending(std::size_t base) {
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(base), pending_.end());
  }
  std::size_t nesting_ = 0;
};

Error parse_error(const SourceLine& line, std::string message) {
  return Error::parse(line.line_number, std::move(message));
}
Error parse_error(const SourceLine& line, std::string_view message) {
  return Error::parse(line.line_number, std::string(message));
}

Result<Block> ProgramParser::block(std::uint64_t parent_indentation) {
  if (at_end()) {
    const std::uint64_t line = lines_.last_number() == 0 ? 1 : lines_.last_number();
    return Error::parse(line, std::string(msg::EXPECTED_INDENTED_BLOCK));
  }
  const SourceLine first = current();
  const std::uint64_t indentation = first.indentation;
  if (indentation <= parent_indentation) {
    return parse_error(first, msg::EXPECTED_INDENTED_BLOCK);
  }
  if (nesting_ >= BLOCK_NESTING_LIMIT) {
    return parse_error(first, msg::blocks_nested_too_deeply(BLOCK_NESTING_LIMIT));
  }
  if (stack_.exhausted()) {
    return parse_error(first, msg::BLOCKS_TOO_DEEP_FOR_STACK);
  }
  ++nesting_;
  // Statements collect on one stack shared by every level of nesting; each
  // block takes its own run off the top when it ends.
  const std::size_t base = pending_.size();
  while (!at_end()) {
    const SourceLine& line = current();
    if (line.indentation < indentation) {
      break;
    }
    if (line.indentation > indentation) {
      --nesting_;
      drop_pending(base);
      return parse_error(line, msg::UNEXPECTED_EXTRA_INDENTATION);
    }
    Result<Statement> parsed = statement(indentation);
    if (!parsed.ok()) {
      --nesting_;
      drop_pending(base);
      return std::move(parsed).error();
    }
    pending_.push_back(std::move(*parsed));
  }
  --nesting_;
  if (pending_.size() == base) {
    return parse_error(first, msg::EMPTY_BLOCK);
  }
  Block statements(pending_.data() + base, pending_.data() + pending_.size());
  drop_pending(base);
  return statements;
}

// The forms are tried in a fixed order; the first that matches decides. Each
// form has a function of its own, which keeps this frame small on the deep
// recursion through nested blocks.
Result<Statement> ProgramParser::statement(std::uint64_t block_indentation) {
  const SourceLine line = current();
  const std::string_view text = line.text;
  static constexpr std::string_view marches_prefix = "the realm marches ";
  static constexpr std::string_view marches_suffix = " times:";
  static constexpr std::string_view input_suffix = " speaks for input";

  // else:  (one that belongs to an `if` is consumed there)
  if (text == "else:") {
    return parse_error(line, msg::STRAY_ELSE);
  }
  // if CONDITION:
  if (starts_with(text, "if ") && text.size() >= 4 && text.back() == ':') {
    return if_statement(text.substr(3, text.size() - 4), block_indentation);
  }
  // while CONDITION:
  if (starts_with(text, "while ") && text.size() >= 7 && text.back() == ':') {
    return loop_statement<While>(text.substr(6, text.size() - 7), block_indentation);
  }
  // the realm marches COUNT times:
  if (text.size() >= marches_prefix.size() + marches_suffix.size() && starts_with(text, marches_prefix) &&
      ends_with(text, marches_suffix)) {
    return loop_statement<RealmMarches>(
        text.substr(marches_prefix.size(), text.size() - marches_prefix.size() - marches_suffix.size()),
        block_indentation);
  }
  // NAME speaks for input
  if (ends_with(text, input_suffix)) {
    return input_statement(line, text.substr(0, text.size() - input_suffix.size()));
  }
  // speak EXPRESSION
  if (starts_with(text, "speak ")) {
    return expression_statement<Speak>(text.substr(6));
  }
  // return EXPRESSION
  if (starts_with(text, "return ")) {
    return expression_statement<Return>(text.substr(7));
  }
  // NAME is a TYPE with EXPRESSION
  if (const std::size_t separator = text.find(" is a "); separator != std::string_view::npos) {
    return declaration(line, separator);
  }
  // NAME = EXPRESSION
  if (const std::size_t sign = assignment_sign(text); sign != std::string_view::npos) {
    return assignment(line, sign);
  }
  // Any other line is an expression.
  return expression_statement<ExprStatement>(text);
}

// The first "=" that is not part of "==", "!=", "<=" or ">=". Quotes are not
// looked at: a "=" inside a literal qualifies too.
std::size_t ProgramParser::assignment_sign(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      continue;
    }
    const bool after_operator = i > 0 && std::string_view("!<=>").find(text[i - 1]) != std::string_view::npos;
    const bool before_equals = i + 1 < text.size() && text[i + 1] == '=';
    if (!after_operator && !before_equals) {
      return i;
    }
  }
  return std::string_view::npos;
}

template <class Form>
Result<Statement> ProgramParser::expression_statement(std::string_view expression_text) {
  // A line that is an expression is parsed whole, as it stands; the keyword
  // forms hand on their expression trimmed.
  Result<Expr> value = std::is_same_v<Form, ExprStatement> ? expressions_.parse(expression_text, symbols_, nodes_)
                                                           : expression(expression_text);
  SKERN_TRY(value);
  advance();
  return Statement(Form{std::move(*value)});
}

Result<Statement> ProgramParser::input_statement(const SourceLine& line, std::string_view target_text) {
  const std::string_view target = trim(target_text);
  if (!is_valid_identifier(target)) {
    return parse_error(line, msg::invalid_input_target(target));
  }
  advance();
  return Statement(Input{symbols_.intern(target)});
}

Result<Statement> ProgramParser::assignment(const SourceLine& line, std::size_t sign) {
  const std::string_view target = trim(line.text.substr(0, sign));
  if (!is_valid_identifier(target)) {
    return parse_error(line, msg::invalid_assignment_target(target));
  }
  Result<Expr> value = expression(line.text.substr(sign + 1));
  SKERN_TRY(value);
  advance();
  return Statement(Assign{symbols_.intern(target), std::move(*value)});
}

// `while` and `the realm marches`: the body comes before the header's own
// expression, so an error inside the body is the one reported.
template <class Loop>
Result<Statement> ProgramParser::loop_statement(std::string_view header_text, std::uint64_t block_indentation) {
  advance();
  Result<Block> body = block(block_indentation);
  SKERN_TRY(body);
  Result<Expr> header = expression(header_text);
  SKERN_TRY(header);
  return Statement(Loop{std::move(*body), std::move(*header)});
}

Result<Statement> ProgramParser::if_statement(std::string_view condition_text, std::uint64_t block_indentation) {
  advance();
  Result<Block> then_block = block(block_indentation);
  SKERN_TRY(then_block);
  Block else_block;
  if (!at_end() && current().indentation == block_indentation && current().text == "else:") {
    advance();
    Result<Block> parsed = block(block_indentation);
    SKERN_TRY(parsed);
    else_block = std::move(*parsed);
  }
  Result<Expr> condition = expression(condition_text);
  SKERN_TRY(condition);
  return Statement(If{std::move(*then_block), std::move(else_block), std::move(*condition)});
}

Result<Statement> ProgramParser::declaration(const SourceLine& line, std::size_t separator) {
  static constexpr std::string_view is_a = " is a ";
  static constexpr std::string_view with = " with ";
  const std::string_view text = line.text;
  const std::string_view name = trim(text.substr(0, separator));
  if (!is_valid_identifier(name)) {
    return parse_error(line, msg::invalid_declaration_name(name));
  }
  const std::string_view rest = text.substr(separator + is_a.size());
  const std::size_t with_at = rest.find(with);
  if (with_at == std::string_view::npos) {
    return parse_error(line, msg::DECLARATION_NEEDS_EXPRESSION);
  }
  const std::string_view type_text = trim(rest.substr(0, with_at));
  const std::optional<DataType> type = data_type_from_keyword(type_text);
  if (!type) {
    return parse_error(line, msg::unknown_data_type(type_text));
  }
  Result<Expr> value = expression(rest.substr(with_at + with.size()));
  SKERN_TRY(value);
  advance();
  return Statement(Declare{symbols_.intern(name), *type, std::move(*value)});
}

Status ProgramParser::function_declaration(Program& program) {
  static constexpr std::string_view prefix = "we declare ";
  static constexpr std::string_view with = " with ";
  static constexpr std::string_view trailing_with = " with";
  const SourceLine declaration = current();
  const std::string_view rest = declaration.text.substr(prefix.size());
  if (!ends_with(rest, "->")) {
    return parse_error(declaration, msg::DECLARATION_NEEDS_ARROW);
  }
  const std::string_view header = trim_end(rest.substr(0, rest.size() - 2));

  std::string_view name_part;
  std::string_view parameter_part;
  if (const std::size_t at = header.find(with); at != std::string_view::npos) {
    name_part = header.substr(0, at);
    parameter_part = header.substr(at + with.size());
  } else if (ends_with(header, trailing_with)) {
    name_part = header.substr(0, header.size() - trailing_with.size());
  } else {
    return parse_error(declaration, msg::DECLARATION_NEEDS_WITH);
  }

  const std::string_view name = trim(name_part);
  if (!is_valid_identifier(name)) {
    return parse_error(declaration, msg::invalid_function_name(name));
  }
  std::vector<Symbol> params;
  if (const std::string_view list = trim(parameter_part); !list.empty()) {
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = list.find(',', start);
      const std::string_view param =
          trim(list.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
      if (!is_valid_identifier(param)) {
        return parse_error(declaration, msg::invalid_parameter(param));
      }
      params.push_back(symbols_.intern(param));
      if (comma == std::string_view::npos) {
        break;
      }
      start = comma + 1;
    }
  }

  const SourceLine* following = lines_.following();
  if (following == nullptr) {
    return parse_error(declaration, msg::DECLARATION_NEEDS_COUNCIL);
  }
  const SourceLine council = *following;
  if (council.indentation != declaration.indentation || council.text != "council says:") {
    return parse_error(council, msg::COUNCIL_NOT_ALIGNED);
  }
  advance();
  advance();
  Result<Block> body = block(council.indentation);
  SKERN_TRY(body);
  const Symbol symbol = symbols_.intern(name);
  if (program.functions.contains(symbol)) {
    return parse_error(declaration, msg::council_already_declared(name));
  }
  program.functions.insert(FunctionDecl{symbol, std::move(params), std::move(*body)});
  return {};
}

Status ProgramParser::program(Program& program) {
  bool has_main = false;
  while (!at_end()) {
    const SourceLine line = current();
    if (line.indentation != 0) {
      return parse_error(line, msg::TOP_LEVEL_INDENTATION);
    }
    if (starts_with(line.text, "we declare ")) {
      SKERN_TRY(function_declaration(program));
    } else if (line.text == "on the iron throne:") {
      if (has_main) {
        return parse_error(line, msg::MAIN_BLOCK_REPEATED);
      }
      advance();
      Result<Block> main = block(line.indentation);
      SKERN_TRY(main);
      program.main = std::move(*main);
      has_main = true;
    } else {
      return parse_error(line, msg::EXPECTED_TOP_LEVEL_FORM);
    }
  }
  if (!has_main) {
    return Error::parse(1, std::string(msg::MAIN_BLOCK_MISSING));
  }
  return {};
}

}  // namespace

Result<Block> parse_block(const std::vector<SourceLine>& lines, std::size_t& cursor, std::uint64_t parent_indentation,
                          SymbolTable& symbols, ExprArena& nodes) {
  try {
    Lines walked(lines, cursor);
    return ProgramParser(walked, symbols, nodes).block(parent_indentation);
  } catch (const std::bad_alloc&) {
    return Error::runtime(std::string(msg::OUT_OF_MEMORY));
  }
}

Result<Program> parse_program(std::string_view source) {
  try {
    Lines lines(source);
    Program program;
    SKERN_TRY(ProgramParser(lines, program.symbols, program.nodes).program(program));
    return program;
  } catch (const std::bad_alloc&) {
    return Error::runtime(std::string(msg::OUT_OF_MEMORY));
  }
}

}  // namespace skern
