// Hover texts and completions.
#include <algorithm>
#include <array>
#include <unordered_set>

#include "lsp/handlers.h"
#include "lsp/names.h"
#include "lsp/texts.h"
#include "parser/parser.h"

namespace skern::lsp {

namespace {

// ---------------------------------------------------------------------------
// Keywords and types
// ---------------------------------------------------------------------------

struct Keyword {
  std::string_view text;
  std::string_view meaning;
};

// Longer phrases first: a word inside a phrase is explained by the phrase.
constexpr std::array<Keyword, 12> KEYWORDS = {{
    {"on the iron throne", "The main block: its statements run from top to bottom when the program starts."},
    {"the realm marches", "`the realm marches COUNT times:` runs its block COUNT times; COUNT is a blade of 0 or more, "
                          "evaluated once."},
    {"speaks for input", "`NAME speaks for input` reads one line of standard input into the declared variable NAME, "
                         "converted to its type."},
    {"we declare", "`we declare NAME with PARAMETERS ->` declares a function (a council); `council says:` and its "
                   "body follow."},
    {"council says", "Opens the body of the function declared on the line above."},
    {"is a", "`NAME is a TYPE with VALUE` declares a variable of a type with its first value."},
    {"if", "`if CONDITION:` runs its block when the condition is the vow `aye`; an optional `else:` block follows."},
    {"else", "`else:` runs its block when the condition of the `if` above was `nay`."},
    {"while", "`while CONDITION:` runs its block as long as the condition is `aye`, at most 100000 times."},
    {"return", "`return VALUE` leaves the function with a value; in the main block it ends the program."},
    {"speak", "`speak VALUE` writes the value and a line feed to standard output."},
    {"with", "`NAME with ARGUMENTS` calls a function; after `is a TYPE` it introduces the first value."},
}};

constexpr std::array<Keyword, 8> TYPES = {{
    {"blade", "A 64-bit signed whole number: `42`. Arithmetic wraps around at the ends of the range."},
    {"wine", "A 64-bit floating-point number: `2.5`. A blade stored in a wine becomes the equal wine."},
    {"scroll", "Text: `\"Winterfell\"`. `+` joins two scrolls."},
    {"vow", "True or false: `aye` or `nay`. Conditions must be vows."},
    {"sigil", "Exactly one character: `'W'`."},
    {"void", "No value: what a function gives when it ends without `return`."},
    {"aye", "The vow true."},
    {"nay", "The vow false."},
}};

bool is_word_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether `column` of the line lies inside a quoted literal (or a comment),
// by the rules that cut comments off a line.
bool inside_literal(std::string_view line, std::size_t column) {
  const std::string_view code = clean_line(line);
  if (column > code.size()) {
    return true;  // in the comment
  }
  QuoteState quotes;
  for (std::size_t i = 0; i < column; ++i) {
    quotes.take(code[i]);
  }
  return quotes.inside();
}

// The keyword, phrase or type that covers `column` of the line, as whole words.
const Keyword* keyword_at(std::string_view line, std::size_t column) {
  const auto covering = [&](const Keyword& keyword) {
    for (std::size_t at = line.find(keyword.text); at != std::string_view::npos;
         at = line.find(keyword.text, at + 1)) {
      const std::size_t end = at + keyword.text.size();
      const bool whole = (at == 0 || !is_word_character(line[at - 1])) &&
                         (end == line.size() || !is_word_character(line[end]));
      if (whole && column >= at && column <= end) {
        return true;
      }
    }
    return false;
  };
  for (const Keyword& keyword : KEYWORDS) {
    if (covering(keyword)) {
      return &keyword;
    }
  }
  for (const Keyword& type : TYPES) {
    if (covering(type)) {
      return &type;
    }
  }
  return nullptr;
}

Json markdown(std::string text) { return Json{{"kind", "markdown"}, {"value", std::move(text)}}; }

// ---------------------------------------------------------------------------
// Completion
// ---------------------------------------------------------------------------

// The protocol's completion item kinds and text formats used here.
constexpr int COMPLETION_FUNCTION = 3;
constexpr int COMPLETION_VARIABLE = 6;
constexpr int COMPLETION_KEYWORD = 14;
constexpr int COMPLETION_SNIPPET = 15;
constexpr int FORMAT_PLAIN = 1;
constexpr int FORMAT_SNIPPET = 2;

struct Snippet {
  std::string_view label;
  std::string_view body;
  std::string_view detail;
};

constexpr std::array<Snippet, 8> STATEMENT_SNIPPETS = {{
    {"the realm marches … times:", "the realm marches ${1:3} times:\n\t$0", "counted loop"},
    {"… is a … with …", "${1:name} is a ${2|blade,wine,scroll,vow,sigil,void|} with ${3:value}", "declaration"},
    {"… speaks for input", "${1:name} speaks for input", "read a line of input"},
    {"if …:", "if ${1:condition}:\n\t$0", "choice"},
    {"else:", "else:\n\t$0", "the other branch of an if"},
    {"while …:", "while ${1:condition}:\n\t$0", "loop while a condition holds"},
    {"speak …", "speak ${1:value}", "output"},
    {"return …", "return ${1:value}", "leave the function with a value"},
}};

constexpr std::array<Snippet, 2> TOP_LEVEL_SNIPPETS = {{
    {"we declare … with … ->", "we declare ${1:name} with ${2:parameters} ->\ncouncil says:\n\t$0",
     "function declaration"},
    {"on the iron throne:", "on the iron throne:\n\t$0", "main block"},
}};

// A snippet as plain text, for a client without snippets: each placeholder
// becomes its default text (a choice its first option), tab stops vanish.
std::string plain(std::string_view snippet) {
  std::string text;
  for (std::size_t i = 0; i < snippet.size(); ++i) {
    if (snippet[i] != '$') {
      text.push_back(snippet[i]);
      continue;
    }
    if (i + 1 < snippet.size() && snippet[i + 1] == '{') {
      const std::size_t close = snippet.find('}', i);
      const std::string_view inner = snippet.substr(i + 2, close - i - 2);
      const std::size_t colon = inner.find(':');
      const std::size_t bar = inner.find('|');
      if (colon != std::string_view::npos) {
        text.append(inner.substr(colon + 1));
      } else if (bar != std::string_view::npos) {
        text.append(inner.substr(bar + 1, inner.find_first_of(",|", bar + 1) - bar - 1));
      }
      i = close;
    } else {
      while (i + 1 < snippet.size() && snippet[i + 1] >= '0' && snippet[i + 1] <= '9') {
        ++i;
      }
    }
  }
  return text;
}

// A snippet's lines set at the cursor's depth: its first line goes where the
// cursor is, a further line at `depth` columns, and a line that the table
// indents by a tab one `step` deeper; all in spaces, as the parser counts
// them, so that nothing depends on how the editor shows a tab.
std::string at_depth(std::string_view body, std::size_t depth, std::size_t step) {
  std::string text;
  for (std::size_t i = 0; i < body.size(); ++i) {
    text.push_back(body[i]);
    if (body[i] != '\n') {
      continue;
    }
    std::size_t columns = depth;
    while (i + 1 < body.size() && body[i + 1] == '\t') {
      columns += step;
      ++i;
    }
    text.append(columns, ' ');
  }
  return text;
}

// Where a statement begins: the columns of indentation before the cursor,
// and the step by which the document indents a block.
struct Depth {
  std::size_t columns = 0;
  std::size_t step = 4;
};

std::size_t columns_of(std::string_view indentation) {
  std::size_t columns = 0;
  for (const char c : indentation) {
    columns += c == '\t' ? 4 : 1;
  }
  return columns;
}

// The step is how much deeper the cursor's line stands than the nearest
// line above it that stands less deep: the block's header. At the top level
// it is the depth of the document's first indented line; else four.
Depth depth_at(const Document& document, std::uint32_t line, std::string_view indentation) {
  Depth depth{columns_of(indentation), 4};
  const auto indentation_of = [&](std::uint32_t at) -> std::optional<std::size_t> {
    const std::string_view text = clean_line(document.index.line_text(at));
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
      return std::nullopt;  // blank, or only a comment
    }
    return columns_of(text.substr(0, first));
  };
  if (depth.columns > 0) {
    for (std::uint32_t above = line; above > 0; --above) {
      if (const std::optional<std::size_t> columns = indentation_of(above - 1); columns && *columns < depth.columns) {
        depth.step = depth.columns - *columns;
        return depth;
      }
    }
  }
  for (std::uint32_t at = 0; at < document.index.line_count(); ++at) {
    if (const std::optional<std::size_t> columns = indentation_of(at); columns && *columns > 0) {
      depth.step = *columns;
      break;
    }
  }
  return depth;
}

// The protocol's insertTextMode: the text goes in as it is, not indented
// again by the editor.
constexpr int INSERT_AS_IS = 1;

Json snippet_item(const Context& context, std::string_view label, std::string_view body, std::string_view detail,
                  int kind) {
  Json item = {{"label", label}, {"kind", kind}, {"detail", detail}};
  if (context.snippets) {
    item["insertText"] = body;
    item["insertTextFormat"] = FORMAT_SNIPPET;
  } else {
    item["insertText"] = plain(body);
    item["insertTextFormat"] = FORMAT_PLAIN;
  }
  return item;
}

Json statement_item(const Context& context, const Snippet& snippet, const Depth& depth) {
  Json item = snippet_item(context, snippet.label, at_depth(snippet.body, depth.columns, depth.step), snippet.detail,
                           COMPLETION_SNIPPET);
  item["insertTextMode"] = INSERT_AS_IS;
  return item;
}

// A call of each function, its parameters as placeholders.
void add_functions(const Context& context, Json& items) {
  for (const Function& function : context.document.analysis.functions) {
    std::string body(function.name.text);
    body.append(" with");
    for (std::size_t i = 0; i < function.params.size(); ++i) {
      body.append(i == 0 ? " " : ", ");
      body.append("${").append(std::to_string(i + 1)).append(":").append(function.params[i].text).append("}");
    }
    Json item = snippet_item(context, function.name.text, body, function.header, COMPLETION_FUNCTION);
    item["filterText"] = function.name.text;
    items.push_back(std::move(item));
  }
}

// The variables that the body around `offset` has declared above it, and the
// parameters of its function.
void add_variables(const Context& context, std::size_t offset, Json& items) {
  const Analysis& analysis = context.document.analysis;
  const std::optional<std::size_t> owner = analysis.owner_at(offset);
  if (!owner) {
    return;
  }
  std::unordered_set<std::string_view> seen;
  const auto add = [&](std::string_view name, std::string_view detail) {
    if (seen.insert(name).second) {
      items.push_back({{"label", name}, {"kind", COMPLETION_VARIABLE}, {"detail", detail}});
    }
  };
  if (*owner != MAIN_BLOCK) {
    for (const Name& param : analysis.functions[*owner].params) {
      add(param.text, "parameter");
    }
  }
  for (const Occurrence& occurrence : analysis.occurrences) {
    if (occurrence.name.offset >= offset) {
      break;
    }
    if (occurrence.use == Use::Declare && occurrence.owner == *owner) {
      add(occurrence.name.text, "variable");
    }
  }
}

// ---------------------------------------------------------------------------
// Variables
// ---------------------------------------------------------------------------

// The statement that holds an occurrence, as written, for a hover to show.
std::string_view statement_at(const Document& document, std::size_t offset) {
  const std::string_view line = document.index.line_text(document.index.position(offset, Encoding::Utf8).line);
  return trim(clean_line(line));
}

std::string code(std::string_view lines) { return "```skerran\n" + std::string(lines) + "\n```"; }

// Where a variable is declared, or, for a name its body does not declare,
// which declarations of the callers it may be.
std::string variable_hover(const Context& context, const Occurrence& occurrence) {
  const Analysis& analysis = context.document.analysis;
  if (occurrence.binding != NO_INDEX) {
    const Occurrence& declaration = analysis.occurrences[occurrence.binding];
    if (declaration.use == Use::Parameter) {
      const Function& function = analysis.functions[declaration.owner];
      return code(function.header) + "\n\n" + text::parameter_of(function.name.text);
    }
    return code(statement_at(context.document, declaration.name.offset)) + "\n\n" +
           text::variable_of(declaration.owner == MAIN_BLOCK
                                 ? std::string(text::IN_MAIN_BLOCK)
                                 : text::in_function(analysis.functions[declaration.owner].name.text));
  }
  if (occurrence.owner == MAIN_BLOCK) {
    return text::undeclared_in_main(occurrence.name.text);
  }
  std::string hover = text::from_callers(occurrence.name.text, analysis.functions[occurrence.owner].name.text);
  const std::vector<std::uint32_t> found = providers(analysis, occurrence.owner, occurrence.name.text);
  if (found.empty()) {
    return hover + " " + std::string(text::NO_CALLER_DECLARES);
  }
  std::vector<std::string_view> shown;
  std::string lines;
  for (const std::uint32_t at : found) {
    const Occurrence& declaration = analysis.occurrences[at];
    const std::string_view line = declaration.use == Use::Parameter ? analysis.functions[declaration.owner].header
                                                                    : statement_at(context.document, declaration.name.offset);
    if (std::find(shown.begin(), shown.end(), line) == shown.end()) {
      shown.push_back(line);
      lines.append(lines.empty() ? "" : "\n").append(line);
    }
  }
  return hover + "\n\n" + std::string(text::CALLERS_DECLARE) + "\n" + code(lines);
}

}  // namespace

Json hover(const Context& context, std::size_t offset) {
  const Document& document = context.document;
  Span hit;
  if (const Function* function = function_at(document.analysis, offset, &hit)) {
    return Json{{"contents", markdown("```skerran\n" + std::string(function->header) + "\n```")},
                {"range", range_json(document, hit, context.encoding)}};
  }
  if (const std::optional<Target> target = target_at(document.analysis, offset); target && !target->council) {
    return Json{{"contents", markdown(variable_hover(context, *target->occurrence))},
                {"range", range_json(document, target->span, context.encoding)}};
  }
  const Position position = document.index.position(offset, Encoding::Utf8);
  const std::string_view line = document.index.line_text(position.line);
  const std::size_t column = position.character;
  if (inside_literal(line, column)) {
    return nullptr;
  }
  const Keyword* keyword = keyword_at(line, column);
  if (keyword == nullptr) {
    return nullptr;
  }
  return Json{{"contents", markdown("**" + std::string(keyword->text) + "**: " + std::string(keyword->meaning))}};
}

Json completion(const Context& context, std::size_t offset, bool typed_space) {
  const Document& document = context.document;
  const Position position = document.index.position(offset, Encoding::Utf8);
  const std::string_view line = document.index.line_text(position.line);
  const std::string_view before = line.substr(0, position.character);
  Json items = Json::array();
  if (inside_literal(line, before.size())) {
    return items;
  }
  // The word being typed, and what stands before it.
  std::size_t word_start = before.size();
  while (word_start > 0 && is_word_character(before[word_start - 1])) {
    --word_start;
  }
  const std::string_view lead = before.substr(0, word_start);
  const bool after_is_a = lead.size() >= 6 && lead.substr(lead.size() - 6) == " is a ";
  // A space brings completions only where a type or a call's arguments
  // follow, not at every blank of an indentation or an expression.
  if (typed_space && !after_is_a && !(lead.size() >= 6 && lead.substr(lead.size() - 6) == " with ")) {
    return items;
  }

  // NAME is a TYPE
  if (after_is_a) {
    for (const Keyword& type : TYPES) {
      if (type.text != "aye" && type.text != "nay") {
        items.push_back({{"label", type.text}, {"kind", COMPLETION_KEYWORD}, {"detail", type.meaning}});
      }
    }
    return items;
  }
  // At the start of a line: the statement forms, or at the top level the
  // declarations.
  if (lead.find_first_not_of(" \t") == std::string_view::npos) {
    const Depth depth = depth_at(document, position.line, lead);
    if (lead.empty()) {
      for (const Snippet& snippet : TOP_LEVEL_SNIPPETS) {
        items.push_back(statement_item(context, snippet, depth));
      }
      return items;
    }
    for (const Snippet& snippet : STATEMENT_SNIPPETS) {
      items.push_back(statement_item(context, snippet, depth));
    }
  }
  add_functions(context, items);
  add_variables(context, offset, items);
  return items;
}

}  // namespace skern::lsp
