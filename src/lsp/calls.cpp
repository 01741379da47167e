// Help with calls: the header of the function whose arguments are being
// written, and the parameters' names before the arguments of each call.
#include <algorithm>
#include <unordered_map>

#include "lsp/handlers.h"
#include "parser/parser.h"

namespace skern::lsp {

namespace {

// The protocol's inlay hint kind for a parameter's name.
constexpr int HINT_PARAMETER = 2;

bool is_word_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// A call whose arguments are open where the text before the cursor ends.
struct OpenCall {
  std::string_view name;
  std::size_t depth;      // of parentheses where `with` stands
  std::uint32_t commas;   // at that depth since `with`: the argument being written
};

// The innermost call whose arguments the text (a line up to the cursor)
// ends in. Arguments run on to a closing parenthesis around the call or to
// the end of the expression, and a call within them takes the commas that
// follow at its own depth: `f with g with 1, 2` gives g both.
std::optional<OpenCall> open_call(std::string_view text) {
  std::vector<OpenCall> open;
  std::size_t depth = 0;
  std::string_view word;  // the word just before, blanks aside
  QuoteState quotes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool quoted = quotes.inside();
    quotes.take(c);
    if (quoted || quotes.inside()) {
      word = {};
      continue;
    }
    if (is_word_character(c)) {
      std::size_t end = i;
      while (end < text.size() && is_word_character(text[end])) {
        ++end;
      }
      const std::string_view next = text.substr(i, end - i);
      if (next == "with" && is_valid_identifier(word)) {
        open.push_back({word, depth, 0});
        word = {};
      } else {
        word = next;
      }
      i = end - 1;
      continue;
    }
    if (c == ' ' || c == '\t') {
      continue;
    }
    word = {};
    if (c == '(') {
      ++depth;
    } else if (c == ')' && depth > 0) {
      while (!open.empty() && open.back().depth == depth) {
        open.pop_back();
      }
      --depth;
    } else if (c == ',' && !open.empty() && open.back().depth == depth) {
      ++open.back().commas;
    }
  }
  if (quotes.inside() || open.empty()) {
    return std::nullopt;
  }
  return open.back();
}

// The length of a text in the units that positions count.
std::uint32_t units(std::string_view text, Encoding encoding) {
  if (encoding == Encoding::Utf8) {
    return static_cast<std::uint32_t>(text.size());
  }
  std::uint32_t count = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    count += (byte & 0xC0U) == 0x80U ? 0 : byte >= 0xF0U ? 2 : 1;
  }
  return count;
}

}  // namespace

Json signature_help(const Context& context, std::size_t offset) {
  const Document& document = context.document;
  const Position position = document.index.position(offset, Encoding::Utf8);
  const std::string_view line = document.index.line_text(position.line);
  const std::string_view before = clean_line(line.substr(0, position.character));
  if (before.starts_with("we declare ") || before.size() < position.character) {
    return nullptr;  // a header, or a comment
  }
  const std::optional<OpenCall> call = open_call(before);
  const Function* function = call ? document.analysis.function_named(call->name) : nullptr;
  if (function == nullptr) {
    return nullptr;
  }
  // The parameters as spans of the label, the header.
  const std::string_view header = function->header;
  const std::size_t header_start = static_cast<std::size_t>(header.data() - document.text.data());
  Json parameters = Json::array();
  for (const Name& param : function->params) {
    const std::uint32_t start = units(header.substr(0, param.offset - header_start), context.encoding);
    parameters.push_back({{"label", {start, start + units(param.text, context.encoding)}}});
  }
  return Json{{"signatures", {{{"label", header}, {"parameters", std::move(parameters)}}}},
              {"activeSignature", 0},
              {"activeParameter", call->commas}};
}

Json inlay_hints(const Context& context, Span range) {
  const Analysis& analysis = context.document.analysis;
  std::unordered_map<std::string_view, const Function*> functions;
  for (const Function& function : analysis.functions) {
    functions.emplace(function.name.text, &function);
  }
  Json hints = Json::array();
  auto occurrence = std::lower_bound(
      analysis.occurrences.begin(), analysis.occurrences.end(), range.start,
      [](const Occurrence& o, std::size_t at) { return o.name.offset < at; });
  // A call's arguments follow its name, so a call just before the range may
  // still have some inside it: start from the line's first call.
  const std::size_t line_start = context.document.index.offset(
      Position{context.document.index.position(range.start, Encoding::Utf8).line, 0}, Encoding::Utf8);
  while (occurrence != analysis.occurrences.begin() && (occurrence - 1)->name.offset >= line_start) {
    --occurrence;
  }
  for (; occurrence != analysis.occurrences.end() && occurrence->name.offset <= range.end; ++occurrence) {
    if (occurrence->use != Use::Call || occurrence->arguments == 0) {
      continue;
    }
    const auto found = functions.find(occurrence->name.text);
    if (found == functions.end() || found->second->params.size() != occurrence->arguments) {
      continue;
    }
    for (std::uint32_t i = 0; i < occurrence->arguments; ++i) {
      const std::size_t at = analysis.argument_starts[occurrence->first_argument + i];
      if (at < range.start || at > range.end) {
        continue;
      }
      const Position position = context.document.index.position(at, context.encoding);
      hints.push_back({{"position", {{"line", position.line}, {"character", position.character}}},
                       {"label", std::string(found->second->params[i].text) + ":"},
                       {"kind", HINT_PARAMETER},
                       {"paddingRight", true}});
    }
  }
  return hints;
}

}  // namespace skern::lsp
