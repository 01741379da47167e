// A document's outline, read line by line with the parser's own recognisers,
// and its diagnostics: the parser's first error, or warnings for what can
// only fail when it runs.
#include "lsp/analysis.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "driver/error.h"
#include "lsp/names.h"
#include "parser/expression.h"
#include "parser/parser.h"

namespace skern::lsp {

namespace {

// ---------------------------------------------------------------------------
// The outline
// ---------------------------------------------------------------------------

// The identifier that a call names: the primary before `with`, through any
// parentheses around a bare name; none where the call names no identifier.
const RuleMatch* callee_of(const RuleMatch& call) {
  if (call.children.size() < 2 || call.children[1].rule != GrammarRule::WithKw) {
    return nullptr;
  }
  const RuleMatch* primary = call.children.data();
  while (primary->children.size() == 1) {
    const RuleMatch& inner = primary->children[0];
    if (inner.rule == GrammarRule::Identifier) {
      return &inner;
    }
    // ( binary_expr ) holding one unary_expr without operators, holding one
    // call_expr without `with`, holding one primary.
    if (inner.rule != GrammarRule::BinaryExpr || inner.children.size() != 1) {
      return nullptr;
    }
    const RuleMatch& unary = inner.children[0];
    if (unary.children.size() != 1 || unary.children[0].children.size() != 1) {
      return nullptr;
    }
    primary = unary.children[0].children.data();
  }
  return nullptr;
}

bool is_word_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Every word of a text that could be a name, added to `words`.
void keep_words(std::string_view text, std::vector<std::string_view>& words) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = at;
    while (end < text.size() && is_word_character(text[end])) {
      ++end;
    }
    if (end > at && is_valid_identifier(text.substr(at, end - at))) {
      words.push_back(text.substr(at, end - at));
    }
    at = end + 1;
  }
}

// Whether a line opens a block below it.
bool opens_block(StatementForm form) {
  return form == StatementForm::If || form == StatementForm::While || form == StatementForm::RealmMarches ||
         form == StatementForm::StrayElse;
}

class Outline {
 public:
  Outline(std::string_view text, Analysis& analysis) : text_(text), analysis_(analysis) {}

  void run() {
    open_body();  // for body lines before any header
    for (const SourceLine& line : split_lines(text_)) {
      if (line.indentation == 0) {
        top_level(line);
      } else {
        body_line(line);
      }
      ++statement_;
    }
  }

  // The words of lines meant to declare something that do not read as such:
  // a `we declare` line that is no header, whose function and parameters
  // may have any of those names, and a declaration of no valid name.
  [[nodiscard]] const std::vector<std::string_view>& uncertain_words() const { return uncertain_; }

 private:
  [[nodiscard]] std::size_t offset_of(std::string_view part) const {
    return static_cast<std::size_t>(part.data() - text_.data());
  }
  [[nodiscard]] Name name(std::string_view part) const { return {part, offset_of(part)}; }

  void top_level(const SourceLine& line) {
    const std::string_view text = line.text;
    if (text == "council says:") {
      extend(line);  // belongs to the declaration above it
      return;
    }
    open_body();
    if (text.substr(0, 11) == "we declare ") {
      if (!read_function_header(text, header_)) {
        Function function{name(header_.name), {}, text, {offset_of(text), offset_of(text) + text.size()}};
        for (const std::string_view param : header_.params) {
          function.params.push_back(name(param));
        }
        analysis_.functions.push_back(std::move(function));
        owner_ = analysis_.functions.size() - 1;
        for (const std::string_view param : header_.params) {
          add(Use::Parameter, param);
        }
        return;
      }
      keep_words(text.substr(11), uncertain_);
    } else if (text == "on the iron throne:" && !analysis_.main) {
      const Span header{offset_of(text), offset_of(text) + text.size()};
      analysis_.main = MainBlock{header, header};
      owner_ = MAIN_BLOCK;
      return;
    }
    owner_ = NO_OWNER;
  }

  // A new body: its own lines' block, whose indentation its first line sets.
  void open_body() {
    nesting_.clear();
    nesting_.push_back({UNSET, static_cast<std::uint32_t>(analysis_.scopes.size())});
    analysis_.scopes.push_back(NO_INDEX);
    opens_ = false;
  }

  // The block that a body line of this indentation stands in.
  void enter(std::uint64_t indentation) {
    while (nesting_.size() > 1 && nesting_.back().indentation > indentation) {
      nesting_.pop_back();
    }
    Level& innermost = nesting_.back();
    if (innermost.indentation == UNSET) {
      innermost.indentation = indentation;
    } else if (opens_ && indentation > innermost.indentation) {
      analysis_.scopes.push_back(innermost.scope);
      nesting_.push_back({indentation, static_cast<std::uint32_t>(analysis_.scopes.size() - 1)});
    }
    opens_ = false;
  }

  // The owner's span runs on to the end of this line.
  void extend(const SourceLine& line) {
    const std::size_t end = offset_of(line.text) + line.text.size();
    if (owner_ == MAIN_BLOCK) {
      analysis_.main->span.end = end;
    } else if (owner_ != NO_OWNER) {
      analysis_.functions[owner_].span.end = end;
    }
  }

  void add(Use use, std::string_view text) {
    Occurrence occurrence{use, name(text), owner_};
    occurrence.scope = nesting_.back().scope;
    occurrence.statement = statement_;
    analysis_.occurrences.push_back(occurrence);
  }

  void body_line(const SourceLine& line) {
    extend(line);
    enter(line.indentation);
    const StatementShape shape = statement_shape(line.text);
    opens_ = opens_block(shape.form);
    switch (shape.form) {
      case StatementForm::StrayElse:
        return;  // `else:` of an `if`, or an error the parser reports
      case StatementForm::Input:
        if (is_valid_identifier(shape.name)) {
          add(Use::Input, shape.name);
        }
        return;
      case StatementForm::Declare:
        if (is_valid_identifier(shape.name)) {
          add(Use::Declare, shape.name);
        } else {
          keep_words(shape.name, uncertain_);
        }
        if (!shape.has_with) {
          return;
        }
        break;
      case StatementForm::Assign:
        if (is_valid_identifier(shape.name)) {
          add(Use::Assign, shape.name);
        }
        break;
      default:
        break;
    }
    expression(shape.expression);
  }

  // Every name that the expression calls or reads, in the order of the text.
  void expression(std::string_view text) {
    const std::optional<RuleMatch> matched = expressions_.match(text);
    if (!matched) {
      return;
    }
    const std::size_t base = offset_of(text);
    // Depth first, left to right, without recursion: nesting has no limit
    // here but the grammar's.
    std::vector<const RuleMatch*> pending{&*matched};
    const auto push_children = [&pending](const RuleMatch& match) {
      for (std::size_t i = match.children.size(); i > 0; --i) {
        pending.push_back(&match.children[i - 1]);
      }
    };
    while (!pending.empty()) {
      const RuleMatch& match = *pending.back();
      pending.pop_back();
      if (match.rule == GrammarRule::Identifier) {
        add(Use::Read, text.substr(match.start, match.end - match.start));
        continue;
      }
      if (match.rule == GrammarRule::CallExpr) {
        if (const RuleMatch* callee = callee_of(match)) {
          add(Use::Call, text.substr(callee->start, callee->end - callee->start));
          Occurrence& call = analysis_.occurrences.back();
          call.first_argument = static_cast<std::uint32_t>(analysis_.argument_starts.size());
          if (match.children.size() == 3) {
            const RuleMatch& arguments = match.children[2];
            call.arguments = static_cast<std::uint32_t>(arguments.children.size());
            for (const RuleMatch& argument : arguments.children) {
              analysis_.argument_starts.push_back(base + argument.start);
            }
            push_children(arguments);
          }
          continue;
        }
      }
      push_children(match);
    }
  }

  static constexpr std::uint64_t UNSET = UINT64_MAX;
  struct Level {
    std::uint64_t indentation;
    std::uint32_t scope;
  };

  std::string_view text_;
  Analysis& analysis_;
  std::size_t owner_ = NO_OWNER;
  std::uint32_t statement_ = 0;
  std::vector<Level> nesting_;  // the blocks around the line being read, outermost first
  bool opens_ = false;          // whether the line before opens a block
  std::vector<std::string_view> uncertain_;
  ExpressionParser expressions_;
  FunctionHeader header_;
};

// ---------------------------------------------------------------------------
// Diagnostics
// ---------------------------------------------------------------------------

// The text of the `number`th line (1-based, lines as the parser counts them:
// cut at line feeds), without indentation and line break.
Span line_span(std::string_view text, std::uint64_t number) {
  std::size_t start = 0;
  for (std::uint64_t line = 1; line < number; ++line) {
    const std::size_t feed = text.find('\n', start);
    if (feed == std::string_view::npos) {
      return {text.size(), text.size()};
    }
    start = feed + 1;
  }
  std::size_t end = std::min(text.find('\n', start), text.size());
  if (end > start && text[end - 1] == '\r') {
    --end;
  }
  while (start < end && (text[start] == ' ' || text[start] == '\t')) {
    ++start;
  }
  return {start, end};
}

// The length of the UTF-8 character at `offset`, for a span around it.
std::size_t character_length(std::string_view text, std::size_t offset) {
  std::size_t end = offset + 1;
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U) {
    ++end;
  }
  return end - offset;
}

Diagnostic error_diagnostic(std::string_view text, const Error& error,
                            const std::optional<ExpressionErrorSite>& site) {
  Diagnostic diagnostic{{0, 0}, 1, error.display()};
  if (error.kind() == Error::Kind::Parse) {
    diagnostic.span = line_span(text, error.line());
  } else if (error.kind() == Error::Kind::ExpressionParse && site &&
             site->text.data() >= text.data() && site->text.data() + site->text.size() <= text.data() + text.size()) {
    const auto base = static_cast<std::size_t>(site->text.data() - text.data());
    if (site->offset && *site->offset < site->text.size()) {
      const std::size_t at = base + *site->offset;
      diagnostic.span = {at, at + character_length(text, at)};
    } else if (site->offset) {
      diagnostic.span = {base + site->text.size(), base + site->text.size()};  // the end of the text
    } else {
      diagnostic.span = {base, base + site->text.size()};  // no column: the whole expression
    }
  }
  return diagnostic;
}

void warn(Analysis& analysis, const Name& at, Problem problem, std::string message) {
  analysis.diagnostics.push_back(Diagnostic{at.span(), 2, Error::runtime(std::move(message)).display(), problem});
}

// What the program declares, for the warnings to compare names with.
struct Declared {
  std::unordered_map<std::string_view, const Function*> functions;
  std::unordered_set<std::string_view> repeated;  // declared twice: which one is meant is unknown
  std::unordered_set<std::string_view> variables;
  std::unordered_set<std::string_view> typed;
};

Declared declared_in(const Analysis& analysis, const std::vector<std::string_view>& uncertain) {
  Declared declared{{}, {uncertain.begin(), uncertain.end()}, {uncertain.begin(), uncertain.end()},
                    {uncertain.begin(), uncertain.end()}};
  for (const Function& function : analysis.functions) {
    if (!declared.functions.emplace(function.name.text, &function).second) {
      declared.repeated.insert(function.name.text);
    }
  }
  for (const Occurrence& occurrence : analysis.occurrences) {
    if (occurrence.use == Use::Declare) {
      declared.typed.insert(occurrence.name.text);
    }
    if (occurrence.use == Use::Declare || occurrence.use == Use::Parameter) {
      declared.variables.insert(occurrence.name.text);
    }
  }
  return declared;
}

void warn_about(Analysis& analysis, const Declared& declared, const Occurrence& occurrence) {
  const std::string_view name = occurrence.name.text;
  switch (occurrence.use) {
    case Use::Call:
      if (declared.repeated.contains(name)) {
        break;
      }
      if (const auto found = declared.functions.find(name); found == declared.functions.end()) {
        warn(analysis, occurrence.name, Problem::UnknownCouncil, msg::unknown_council(name));
      } else if (found->second->params.size() != occurrence.arguments) {
        warn(analysis, occurrence.name, Problem::WrongArgumentCount,
             msg::wrong_argument_count(name, found->second->params.size(), occurrence.arguments));
      }
      break;
    case Use::Read:
    case Use::Assign:
      if (!declared.variables.contains(name)) {
        warn(analysis, occurrence.name, Problem::UnknownBanner, msg::unknown_banner(name));
      }
      break;
    case Use::Input:
      // Input needs a variable of a declared type: a parameter has none.
      if (!declared.typed.contains(name)) {
        warn(analysis, occurrence.name, Problem::UntypedInput, msg::input_needs_concrete_type(name));
      }
      break;
    case Use::Declare:
    case Use::Parameter:
      break;
  }
}

// Only what a run cannot survive once it gets there. Functions are found by
// name at call time, so a call of a name that no declaration defines, or with
// a count of arguments that its function does not take, always fails. A
// variable comes into being only by a declaration or as a parameter, and a
// function may read any of its callers' variables, so a name is certainly
// unknown only where no declaration and no parameter in the whole program
// has it.
//
// A line that does not parse may be meant to declare any name on it: those
// names get no warning anywhere, and the line itself (`broken`) none either.
void warnings(Analysis& analysis, const std::vector<std::string_view>& uncertain, Span broken) {
  const Declared declared = declared_in(analysis, uncertain);
  for (const Function& function : analysis.functions) {
    // Parameters are declared in order; the first repeated one fails.
    std::unordered_set<std::string_view> seen;
    for (const Name& param : function.params) {
      if (!seen.insert(param.text).second) {
        warn(analysis, param, Problem::RepeatedParameter, msg::already_declared(param.text));
        break;
      }
    }
  }
  for (const Occurrence& occurrence : analysis.occurrences) {
    if (!broken.contains(occurrence.name.offset)) {
      warn_about(analysis, declared, occurrence);
    }
  }
}

// The whole physical line around `offset`.
Span whole_line(std::string_view text, std::size_t offset) {
  const std::size_t before = offset == 0 ? std::string_view::npos : text.rfind('\n', offset - 1);
  const std::size_t start = before == std::string_view::npos ? 0 : before + 1;
  return {start, std::min(text.find('\n', offset), text.size())};
}

}  // namespace

const Function* Analysis::function_named(std::string_view name) const {
  const auto found = std::find_if(functions.begin(), functions.end(),
                                  [name](const Function& function) { return function.name.text == name; });
  return found == functions.end() ? nullptr : &*found;
}

std::optional<std::size_t> Analysis::owner_at(std::size_t offset) const {
  // The last header at or before the offset: a line being typed, or a blank
  // one, below a body belongs to it too. Functions stand in the order of the text.
  const auto after = std::upper_bound(functions.begin(), functions.end(), offset,
                                      [](std::size_t at, const Function& function) { return at < function.span.start; });
  const Function* function = after == functions.begin() ? nullptr : &*(after - 1);
  if (main && main->span.start <= offset && (function == nullptr || function->span.start < main->span.start)) {
    return MAIN_BLOCK;
  }
  if (function == nullptr) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(function - functions.data());
}

const Occurrence* Analysis::occurrence_at(std::size_t offset) const {
  // Occurrences are in the order of the text: the first that ends at or after
  // the offset is the only one that can hold it.
  const auto found = std::lower_bound(
      occurrences.begin(), occurrences.end(), offset,
      [](const Occurrence& occurrence, std::size_t at) { return occurrence.name.span().end < at; });
  return found != occurrences.end() && found->name.span().contains(offset) ? &*found : nullptr;
}

bool Analysis::encloses(std::uint32_t outer, std::uint32_t inner) const {
  for (std::uint32_t scope = inner; scope != NO_INDEX; scope = scopes[scope]) {
    if (scope == outer) {
      return true;
    }
  }
  return false;
}

Analysis analyse(std::string_view text) {
  Analysis analysis;
  Outline outline(text, analysis);
  outline.run();
  bind(analysis.occurrences, analysis.scopes);
  std::optional<ExpressionErrorSite> site;
  Result<Program> program = parse_program(text, site);
  std::vector<std::string_view> uncertain = outline.uncertain_words();
  Span broken{text.size() + 1, text.size() + 1};  // none
  if (!program.ok()) {
    analysis.parses = false;
    analysis.diagnostics.push_back(error_diagnostic(text, program.error(), site));
    broken = whole_line(text, analysis.diagnostics.back().span.start);
    keep_words(text.substr(broken.start, broken.end - broken.start), uncertain);
  }
  warnings(analysis, uncertain, broken);
  std::stable_sort(analysis.diagnostics.begin(), analysis.diagnostics.end(),
                   [](const Diagnostic& a, const Diagnostic& b) { return a.span.start < b.span.start; });
  return analysis;
}

}  // namespace skern::lsp
