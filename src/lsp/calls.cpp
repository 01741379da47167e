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

// The calls whose arguments are open where the text read so far ends.
// Arguments run on to a closing parenthesis around the call or to the end
// of the expression, and a call within them takes the commas that follow at
// its own depth: `f with g with 1, 2` gives g both.
class OpenCalls {
 public:
  void take(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const bool quoted = quotes_.inside();
      quotes_.take(text[i]);
      if (quoted || quotes_.inside()) {
        word_ = {};
      } else if (is_word_character(text[i])) {
        i = word(text, i) - 1;
      } else if (text[i] != ' ' && text[i] != '\t') {
        word_ = {};
        punctuation(text[i]);
      }
    }
  }

  // The innermost call whose argument is being written: its name and which
  // argument that is.
  [[nodiscard]] std::optional<std::pair<std::string_view, std::uint32_t>> innermost() const {
    if (quotes_.inside() || calls_.empty()) {
      return std::nullopt;
    }
    return std::pair(calls_.back().name, calls_.back().commas);
  }

 private:
  struct Call {
    // cppcheck-suppress unusedStructMember ; read through calls_.back(), which cppcheck does not follow
    std::string_view name;
    // cppcheck-suppress unusedStructMember ; likewise
    std::size_t depth;     // of parentheses where `with` stands
    std::uint32_t commas;  // at that depth since `with`
  };

  // The word at `start`; where it ends.
  std::size_t word(std::string_view text, std::size_t start) {
    std::size_t end = start;
    while (end < text.size() && is_word_character(text[end])) {
      ++end;
    }
    const std::string_view next = text.substr(start, end - start);
    if (next == "with" && is_valid_identifier(word_)) {
      calls_.push_back({word_, depth_, 0});
      word_ = {};
    } else {
      word_ = next;
    }
    return end;
  }

  void punctuation(char c) {
    if (c == '(') {
      ++depth_;
    } else if (c == ')' && depth_ > 0) {
      while (!calls_.empty() && calls_.back().depth == depth_) {
        calls_.pop_back();
      }
      --depth_;
    } else if (c == ',' && !calls_.empty() && calls_.back().depth == depth_) {
      ++calls_.back().commas;
    }
  }

  std::vector<Call> calls_;
  std::size_t depth_ = 0;
  std::string_view word_;  // the word just before, blanks aside
  QuoteState quotes_;
};

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
  OpenCalls calls;
  calls.take(before);
  const auto call = calls.innermost();
  const Function* function = call ? document.analysis.function_named(call->first) : nullptr;
  if (function == nullptr) {
    return nullptr;
  }
  // The parameters as spans of the label, the header.
  const std::string_view header = function->header;
  const auto header_start = static_cast<std::size_t>(header.data() - document.text.data());
  Json parameters = Json::array();
  for (const Name& param : function->params) {
    const std::uint32_t start = units(header.substr(0, param.offset - header_start), context.encoding);
    parameters.push_back({{"label", {start, start + units(param.text, context.encoding)}}});
  }
  return Json{{"signatures", {{{"label", header}, {"parameters", std::move(parameters)}}}},
              {"activeSignature", 0},
              {"activeParameter", call->second}};
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
