// Source lines, program structure, blocks and statements.
#include "parser/parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>

#include "parser/expression.h"
#include "parser/grammar_internal.h"

namespace skern {

// ---------------------------------------------------------------------------
// Source lines
// ---------------------------------------------------------------------------

std::string_view clean_line(std::string_view line) {
  // Without a slash there is no comment to find, and most lines have none.
  if (line.empty() || std::memchr(line.data(), '/', line.size()) == nullptr) {
    return line;
  }
  QuoteState quotes;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '/' && !quotes.inside() && i + 1 < line.size() && line[i + 1] == '/') {
      return line.substr(0, i);
    }
    quotes.take(line[i]);
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
      const std::size_t line_start = start_;
      std::string_view piece = source_.substr(start_, end - start_);
      start_ = end + 1;
      ++number_;
      if (found != nullptr && !piece.empty() && piece.back() == '\r') {
        piece.remove_suffix(1);
      }
      std::string_view text = slash_before(line_start, end) ? clean_line(piece) : piece;
      while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
      }
      std::size_t run = 0;
      const std::uint64_t indentation = indentation_of(text, run);
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
  // Whether a slash stands in the line from `line_start` to `end`. Slashes
  // are rare: where the next one lies is found once for many lines.
  bool slash_before(std::size_t line_start, std::size_t end) {
    if (slash_ == NOT_LOOKED || slash_ < line_start) {
      const void* slash = std::memchr(source_.data() + line_start, '/', source_.size() - line_start);
      slash_ = slash == nullptr ? source_.size()
                                : static_cast<std::size_t>(static_cast<const char*>(slash) - source_.data());
    }
    return slash_ < end;
  }

  // The width of the indentation of `text`, whose length in bytes goes to `run`.
  static std::uint64_t indentation_of(std::string_view text, std::size_t& run) {
    std::uint64_t indentation = 0;
    // Indentation is mostly spaces by fours: those are taken four at a time.
    while (run + 4 <= text.size() && text[run] == ' ' && text[run + 1] == ' ' && text[run + 2] == ' ' &&
           text[run + 3] == ' ') {
      run += 4;
      indentation += 4;
    }
    for (; run < text.size() && (text[run] == ' ' || text[run] == '\t'); ++run) {
      indentation += text[run] == '\t' ? 4U : 1U;
    }
    return indentation;
  }

  static constexpr std::size_t NOT_LOOKED = std::string_view::npos;
  std::string_view source_;
  std::size_t start_ = 0;
  std::uint64_t number_ = 0;
  std::size_t slash_ = NOT_LOOKED;  // the first slash from the start of some line on, or the text's end
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
// Statement forms and function headers
// ---------------------------------------------------------------------------

namespace {

// The first "=" that is not part of "==", "!=", "<=" or ">=". Quotes are not
// looked at: a "=" inside a literal qualifies too.
std::size_t assignment_sign(std::string_view text) {
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

// Where " is a " first stands in `text`. Every line but a keyword form's is
// searched whole, and most hold no "i" at all, so the search goes from one
// "i" to the next.
std::size_t find_is_a(std::string_view text) {
  if (text.size() < 6) {
    return std::string_view::npos;
  }
  const char* const data = text.data();
  const std::size_t last = text.size() - 5;  // the last place for the "i"
  for (std::size_t at = 1; at <= last; ++at) {
    const auto* found = static_cast<const char*>(std::memchr(data + at, 'i', last - at + 1));
    if (found == nullptr) {
      break;
    }
    at = static_cast<std::size_t>(found - data);
    if (data[at - 1] == ' ' && data[at + 1] == 's' && data[at + 2] == ' ' && data[at + 3] == 'a' &&
        data[at + 4] == ' ') {
      return at - 1;
    }
  }
  return std::string_view::npos;
}

}  // namespace

StatementShape statement_shape(std::string_view text) {
  static constexpr std::string_view marches_prefix = "the realm marches ";
  static constexpr std::string_view marches_suffix = " times:";
  static constexpr std::string_view input_suffix = " speaks for input";
  static constexpr std::string_view is_a = " is a ";
  static constexpr std::string_view with = " with ";
  StatementShape shape;
  // Each keyword form has its own first byte, so a line is only tested
  // against the one keyword that could open it; the order of the tests, and
  // so which form wins, stays as written.
  const char first = text.empty() ? '\0' : text.front();
  // else:  (one that belongs to an `if` is consumed there)
  if (first == 'e' && text == "else:") {
    shape.form = StatementForm::StrayElse;
  }
  // if CONDITION:
  else if (first == 'i' && text.starts_with("if ") && text.size() >= 4 && text.back() == ':') {
    shape.form = StatementForm::If;
    shape.expression = trim(text.substr(3, text.size() - 4));
  }
  // while CONDITION:
  else if (first == 'w' && text.starts_with("while ") && text.size() >= 7 && text.back() == ':') {
    shape.form = StatementForm::While;
    shape.expression = trim(text.substr(6, text.size() - 7));
  }
  // the realm marches COUNT times:
  else if (first == 't' && text.size() >= marches_prefix.size() + marches_suffix.size() &&
           text.starts_with(marches_prefix) && text.ends_with(marches_suffix)) {
    shape.form = StatementForm::RealmMarches;
    shape.expression =
        trim(text.substr(marches_prefix.size(), text.size() - marches_prefix.size() - marches_suffix.size()));
  }
  // NAME speaks for input
  else if (text.ends_with(input_suffix)) {
    shape.form = StatementForm::Input;
    shape.name = trim(text.substr(0, text.size() - input_suffix.size()));
  }
  // speak EXPRESSION
  else if (first == 's' && text.starts_with("speak ")) {
    shape.form = StatementForm::Speak;
    shape.expression = trim(text.substr(6));
  }
  // return EXPRESSION
  else if (first == 'r' && text.starts_with("return ")) {
    shape.form = StatementForm::Return;
    shape.expression = trim(text.substr(7));
  }
  // NAME is a TYPE with EXPRESSION
  else if (const std::size_t separator = find_is_a(text); separator != std::string_view::npos) {
    shape.form = StatementForm::Declare;
    shape.name = trim(text.substr(0, separator));
    const std::string_view rest = text.substr(separator + is_a.size());
    if (const std::size_t with_at = rest.find(with); with_at != std::string_view::npos) {
      shape.has_with = true;
      shape.type = trim(rest.substr(0, with_at));
      shape.expression = trim(rest.substr(with_at + with.size()));
    }
  }
  // NAME = EXPRESSION
  else if (const std::size_t sign = assignment_sign(text); sign != std::string_view::npos) {
    shape.form = StatementForm::Assign;
    shape.name = trim(text.substr(0, sign));
    shape.expression = trim(text.substr(sign + 1));
  }
  // Any other line is an expression, parsed whole as it stands.
  else {
    shape.expression = text;
  }
  return shape;
}

std::optional<std::string> read_function_header(std::string_view text, FunctionHeader& header_out) {
  static constexpr std::string_view prefix = "we declare ";
  static constexpr std::string_view with = " with ";
  static constexpr std::string_view trailing_with = " with";
  const std::string_view rest = text.substr(std::min(prefix.size(), text.size()));
  if (!rest.ends_with("->")) {
    return std::string(msg::DECLARATION_NEEDS_ARROW);
  }
  const std::string_view header = trim_end(rest.substr(0, rest.size() - 2));

  std::string_view name_part;
  std::string_view parameter_part;
  if (const std::size_t at = header.find(with); at != std::string_view::npos) {
    name_part = header.substr(0, at);
    parameter_part = header.substr(at + with.size());
  } else if (header.ends_with(trailing_with)) {
    name_part = header.substr(0, header.size() - trailing_with.size());
  } else {
    return std::string(msg::DECLARATION_NEEDS_WITH);
  }

  header_out.name = trim(name_part);
  header_out.params.clear();
  if (!is_valid_identifier(header_out.name)) {
    return msg::invalid_function_name(header_out.name);
  }
  if (const std::string_view list = trim(parameter_part); !list.empty()) {
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = list.find(',', start);
      const std::string_view param =
          trim(list.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
      if (!is_valid_identifier(param)) {
        return msg::invalid_parameter(param);
      }
      header_out.params.push_back(param);
      if (comma == std::string_view::npos) {
        break;
      }
      start = comma + 1;
    }
  }
  return std::nullopt;
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
  ProgramParser(Lines& lines, SymbolTable& symbols, ExprArena& nodes,
                std::optional<ExpressionErrorSite>* site = nullptr, StatementLines* statement_lines = nullptr,
                MainBlockSink* sink = nullptr)
      : lines_(lines), symbols_(symbols), nodes_(&nodes), site_(site), statement_lines_(statement_lines), sink_(sink) {}

  Status program(Program& program);
  Result<Block> block(std::uint64_t parent_indentation);

 private:
  [[nodiscard]] bool at_end() const { return lines_.at_end(); }
  [[nodiscard]] const SourceLine& current() const { return lines_.current(); }
  void advance() { lines_.advance(); }

  Status function_declaration(Program& program);
  Status main_block(Program& program, std::uint64_t header_indentation);
  Status enter_block(std::uint64_t parent_indentation);
  Status streamed_block(std::uint64_t parent_indentation);
  Result<Statement> statement(std::uint64_t block_indentation);
  Result<Statement> if_statement(std::string_view condition_text, std::uint64_t block_indentation);
  template <class Loop>
  Result<Statement> loop_statement(std::string_view header_text, std::uint64_t block_indentation);
  Result<Statement> input_statement(const SourceLine& line, std::string_view target);
  template <class Form>
  Result<Statement> expression_statement(std::string_view expression_text);
  Result<Statement> declaration(const SourceLine& line, const StatementShape& shape);
  Result<Statement> assignment(const SourceLine& line, const StatementShape& shape);
  // The expression text of a statement form, as its shape gives it.
  Result<Expr> expression(std::string_view text) {
    Result<Expr> parsed = expressions_.parse(text, symbols_, *nodes_);
    if (!parsed.ok() && site_ != nullptr) {
      *site_ = ExpressionErrorSite{text, expressions_.failure_offset()};
    }
    return parsed;
  }

  Lines& lines_;
  SymbolTable& symbols_;
  ExprArena* nodes_;  // where expression nodes go: the program's, or `scratch_` for a streamed block
  std::optional<ExpressionErrorSite>* site_;  // where an expression error lies, when asked
  StatementLines* statement_lines_;           // where each statement stands, when asked
  MainBlockSink* sink_;                       // takes the main block a statement at a time, when given
  ExprArena scratch_;                         // the nodes of the streamed statement being read
  ExpressionParser expressions_;
  FunctionHeader header_;  // the declaration being read; its storage is reused
  StackGuard stack_{grammar::PARSER_STACK_RESERVE};
  std::vector<Statement> pending_;            // statements of the blocks being parsed
  std::vector<std::uint64_t> pending_lines_;  // their lines, when recorded
  void drop_pending(std::size_t base) {
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(base), pending_.end());
    if (statement_lines_ != nullptr) {
      pending_lines_.resize(base);
    }
  }
  std::size_t nesting_ = 0;
};

Error parse_error(const SourceLine& line, std::string message) {
  return Error::parse(line.line_number, std::move(message));
}
Error parse_error(const SourceLine& line, std::string_view message) {
  return Error::parse(line.line_number, std::string(message));
}

// Checks that a block opens on the current line, below a header of
// `parent_indentation`, and counts one more level of nesting.
Status ProgramParser::enter_block(std::uint64_t parent_indentation) {
  if (at_end()) {
    const std::uint64_t line = lines_.last_number() == 0 ? 1 : lines_.last_number();
    return Error::parse(line, std::string(msg::EXPECTED_INDENTED_BLOCK));
  }
  const SourceLine& first = current();
  if (first.indentation <= parent_indentation) {
    return parse_error(first, msg::EXPECTED_INDENTED_BLOCK);
  }
  if (nesting_ >= BLOCK_NESTING_LIMIT) {
    return parse_error(first, msg::blocks_nested_too_deeply(BLOCK_NESTING_LIMIT));
  }
  if (stack_.exhausted()) {
    return parse_error(first, msg::BLOCKS_TOO_DEEP_FOR_STACK);
  }
  ++nesting_;
  return {};
}

// The main block handed to the sink a statement at a time: the same lines
// and the same reports as `block`, but no statement of the top level is
// gathered, and each one's nodes go once the sink has taken it.
Status ProgramParser::streamed_block(std::uint64_t parent_indentation) {
  SKERN_TRY(enter_block(parent_indentation));
  const std::uint64_t indentation = current().indentation;
  sink_->begin();
  ExprArena* const kept = nodes_;
  nodes_ = &scratch_;
  Status status;
  while (status.ok() && !at_end()) {
    const SourceLine& line = current();
    if (line.indentation < indentation) {
      break;
    }
    if (line.indentation > indentation) {
      status = parse_error(line, msg::UNEXPECTED_EXTRA_INDENTATION);
      break;
    }
    {
      Result<Statement> parsed = statement(indentation);
      if (parsed.ok()) {
        sink_->take(*parsed);
      } else {
        status = std::move(parsed).error();
      }
    }
    scratch_.clear();
  }
  nodes_ = kept;
  --nesting_;
  return status;
}

Result<Block> ProgramParser::block(std::uint64_t parent_indentation) {
  SKERN_TRY(enter_block(parent_indentation));
  const SourceLine first = current();
  const std::uint64_t indentation = first.indentation;
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
    const std::uint64_t line_number = line.line_number;
    Result<Statement> parsed = statement(indentation);
    if (!parsed.ok()) {
      --nesting_;
      drop_pending(base);
      return std::move(parsed).error();
    }
    pending_.push_back(std::move(*parsed));
    if (statement_lines_ != nullptr) {
      pending_lines_.push_back(line_number);
    }
  }
  --nesting_;
  if (pending_.size() == base) {
    return parse_error(first, msg::EMPTY_BLOCK);
  }
  Block statements(pending_.data() + base, pending_.data() + pending_.size());
  // The statements have their final places now: a block never moves them.
  if (statement_lines_ != nullptr) {
    for (std::size_t i = 0; i < statements.size(); ++i) {
      statement_lines_->add(statements[i], pending_lines_[base + i]);
    }
  }
  drop_pending(base);
  return statements;
}

// The form decides; each has a function of its own, which keeps this frame
// small on the deep recursion through nested blocks.
Result<Statement> ProgramParser::statement(std::uint64_t block_indentation) {
  const SourceLine line = current();
  const StatementShape shape = statement_shape(line.text);
  switch (shape.form) {
    case StatementForm::StrayElse:
      return parse_error(line, msg::STRAY_ELSE);
    case StatementForm::If:
      return if_statement(shape.expression, block_indentation);
    case StatementForm::While:
      return loop_statement<While>(shape.expression, block_indentation);
    case StatementForm::RealmMarches:
      return loop_statement<RealmMarches>(shape.expression, block_indentation);
    case StatementForm::Input:
      return input_statement(line, shape.name);
    case StatementForm::Speak:
      return expression_statement<Speak>(shape.expression);
    case StatementForm::Return:
      return expression_statement<Return>(shape.expression);
    case StatementForm::Declare:
      return declaration(line, shape);
    case StatementForm::Assign:
      return assignment(line, shape);
    case StatementForm::Expression:
      break;
  }
  return expression_statement<ExprStatement>(shape.expression);
}

template <class Form>
Result<Statement> ProgramParser::expression_statement(std::string_view expression_text) {
  Result<Expr> value = expression(expression_text);
  SKERN_TRY(value);
  advance();
  return Statement(Form{std::move(*value)});
}

Result<Statement> ProgramParser::input_statement(const SourceLine& line, std::string_view target) {
  if (!is_valid_identifier(target)) {
    return parse_error(line, msg::invalid_input_target(target));
  }
  advance();
  return Statement(Input{symbols_.intern(target)});
}

Result<Statement> ProgramParser::assignment(const SourceLine& line, const StatementShape& shape) {
  if (!is_valid_identifier(shape.name)) {
    return parse_error(line, msg::invalid_assignment_target(shape.name));
  }
  Result<Expr> value = expression(shape.expression);
  SKERN_TRY(value);
  advance();
  return Statement(Assign{symbols_.intern(shape.name), std::move(*value)});
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

Result<Statement> ProgramParser::declaration(const SourceLine& line, const StatementShape& shape) {
  if (!is_valid_identifier(shape.name)) {
    return parse_error(line, msg::invalid_declaration_name(shape.name));
  }
  if (!shape.has_with) {
    return parse_error(line, msg::DECLARATION_NEEDS_EXPRESSION);
  }
  const std::optional<DataType> type = data_type_from_keyword(shape.type);
  if (!type) {
    return parse_error(line, msg::unknown_data_type(shape.type));
  }
  Result<Expr> value = expression(shape.expression);
  SKERN_TRY(value);
  advance();
  return Statement(Declare{symbols_.intern(shape.name), *type, std::move(*value)});
}

Status ProgramParser::function_declaration(Program& program) {
  const SourceLine declaration = current();
  if (std::optional<std::string> message = read_function_header(declaration.text, header_)) {
    return parse_error(declaration, std::move(*message));
  }
  const std::string_view name = header_.name;
  std::vector<Symbol> params;
  params.reserve(header_.params.size());
  for (const std::string_view param : header_.params) {
    params.push_back(symbols_.intern(param));
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
  if (statement_lines_ != nullptr) {
    statement_lines_->add_function(symbol, declaration.line_number);
  }
  return {};
}

// The main block, into the program or, when there is a sink, to the sink.
Status ProgramParser::main_block(Program& program, std::uint64_t header_indentation) {
  if (sink_ != nullptr) {
    return streamed_block(header_indentation);
  }
  Result<Block> main = block(header_indentation);
  SKERN_TRY(main);
  program.main = std::move(*main);
  return {};
}

Status ProgramParser::program(Program& program) {
  bool has_main = false;
  while (!at_end()) {
    const SourceLine line = current();
    if (line.indentation != 0) {
      return parse_error(line, msg::TOP_LEVEL_INDENTATION);
    }
    if (line.text.starts_with("we declare ")) {
      SKERN_TRY(function_declaration(program));
    } else if (line.text == "on the iron throne:") {
      if (has_main) {
        return parse_error(line, msg::MAIN_BLOCK_REPEATED);
      }
      advance();
      SKERN_TRY(main_block(program, line.indentation));
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

Status parse_program(std::string_view source, Program& program, MainBlockSink& main) {
  try {
    Lines lines(source);
    return ProgramParser(lines, program.symbols, program.nodes, nullptr, nullptr, &main).program(program);
  } catch (const std::bad_alloc&) {
    return Error::runtime(std::string(msg::OUT_OF_MEMORY));
  }
}

namespace {
// Where `what` first stands in `text` at or after `from`: Horspool's search,
// which skips ahead by the text's byte under the end of `what`.
std::size_t find_from(std::string_view text, std::size_t from, std::string_view what) {
  std::array<std::size_t, 256> shift{};
  shift.fill(what.size());
  for (std::size_t i = 0; i + 1 < what.size(); ++i) {
    shift[static_cast<unsigned char>(what[i])] = what.size() - 1 - i;
  }
  for (std::size_t at = from; at + what.size() <= text.size();
       at += shift[static_cast<unsigned char>(text[at + what.size() - 1])]) {
    // Both ends first: most windows fail there, without a call to compare.
    if (text[at + what.size() - 1] == what.back() && text[at] == what.front() &&
        text.compare(at, what.size(), what) == 0) {
      return at;
    }
  }
  return std::string_view::npos;
}
}  // namespace

bool declares_after_main(std::string_view source) {
  constexpr std::string_view header = "on the iron throne:";
  const std::size_t main = source.starts_with(header) ? 0 : find_from(source, 0, "\non the iron throne:");
  return main != std::string_view::npos && find_from(source, main, "\nwe declare ") != std::string_view::npos;
}

Result<Program> parse_program(std::string_view source, std::optional<ExpressionErrorSite>& site,
                              StatementLines* statement_lines) {
  site.reset();
  try {
    Lines lines(source);
    Program program;
    SKERN_TRY(ProgramParser(lines, program.symbols, program.nodes, &site, statement_lines).program(program));
    return program;
  } catch (const std::bad_alloc&) {
    return Error::runtime(std::string(msg::OUT_OF_MEMORY));
  }
}

}  // namespace skern
