// Document symbols, and definitions, references and highlights of
// functions and variables.
#include <algorithm>

#include "lsp/handlers.h"
#include "lsp/names.h"

namespace skern::lsp {

namespace {

// The protocol's symbol kinds used here.
constexpr int SYMBOL_MODULE = 2;
constexpr int SYMBOL_FUNCTION = 12;
constexpr int SYMBOL_VARIABLE = 13;

// The protocol's kinds of document highlights.
constexpr int HIGHLIGHT_TEXT = 1;
constexpr int HIGHLIGHT_READ = 2;
constexpr int HIGHLIGHT_WRITE = 3;

Json location_json(const Context& context, Span span) {
  return Json{{"uri", context.uri}, {"range", range_json(context.document, span, context.encoding)}};
}

}  // namespace

const Function* function_at(const Analysis& analysis, std::size_t offset, Span* hit) {
  for (const Function& function : analysis.functions) {
    if (function.name.span().contains(offset)) {
      if (hit != nullptr) {
        *hit = function.name.span();
      }
      return &function;
    }
  }
  const Occurrence* found = analysis.occurrence_at(offset);
  if (found != nullptr && found->use == Use::Call) {
    if (hit != nullptr) {
      *hit = found->name.span();
    }
    return analysis.function_named(found->name.text);
  }
  return nullptr;
}

Json diagnostic_json(const Document& document, const Diagnostic& diagnostic, Encoding encoding) {
  return Json{{"range", range_json(document, diagnostic.span, encoding)},
              {"severity", diagnostic.severity},
              {"source", "skern"},
              {"message", diagnostic.message}};
}

Json range_json(const Document& document, Span span, Encoding encoding) {
  const Position start = document.index.position(span.start, encoding);
  const Position end = document.index.position(span.end, encoding);
  return Json{{"start", {{"line", start.line}, {"character", start.character}}},
              {"end", {{"line", end.line}, {"character", end.character}}}};
}

Json document_symbols(const Context& context) {
  const Analysis& analysis = context.document.analysis;
  Json symbols = Json::array();
  const auto range = [&context](Span span) { return range_json(context.document, span, context.encoding); };
  for (const Function& function : analysis.functions) {
    Json params = Json::array();
    for (const Name& param : function.params) {
      params.push_back({{"name", param.text},
                        {"kind", SYMBOL_VARIABLE},
                        {"detail", "parameter"},
                        {"range", range(param.span())},
                        {"selectionRange", range(param.span())}});
    }
    symbols.push_back({{"name", function.name.text},
                       {"kind", SYMBOL_FUNCTION},
                       {"detail", function.header},
                       {"range", range(function.span)},
                       {"selectionRange", range(function.name.span())},
                       {"children", std::move(params)}});
  }
  if (analysis.main) {
    Json main = {{"name", "on the iron throne"},
                 {"kind", SYMBOL_MODULE},
                 {"detail", "main block"},
                 {"range", range(analysis.main->span)},
                 {"selectionRange", range(analysis.main->header)}};
    // In the order of the text, as the outline shows it.
    const auto after = std::find_if(analysis.functions.begin(), analysis.functions.end(), [&](const Function& f) {
      return f.span.start > analysis.main->span.start;
    });
    symbols.insert(symbols.begin() + (after - analysis.functions.begin()), std::move(main));
  }
  return symbols;
}

Json definition(const Context& context, std::size_t offset) {
  const Analysis& analysis = context.document.analysis;
  const std::optional<Target> target = target_at(analysis, offset);
  if (!target) {
    return nullptr;
  }
  if (target->council) {
    return target->function == nullptr ? Json(nullptr) : location_json(context, target->function->name.span());
  }
  const Occurrence& occurrence = *target->occurrence;
  if (occurrence.binding != NO_INDEX) {
    return location_json(context, analysis.occurrences[occurrence.binding].name.span());
  }
  if (occurrence.owner == MAIN_BLOCK) {
    return nullptr;  // nothing is below the main block to provide it
  }
  Json locations = Json::array();
  for (const std::uint32_t declaration : providers(analysis, occurrence.owner, occurrence.name.text)) {
    locations.push_back(location_json(context, analysis.occurrences[declaration].name.span()));
  }
  return locations;
}

Json references(const Context& context, std::size_t offset, bool include_declaration) {
  const Analysis& analysis = context.document.analysis;
  const std::optional<Target> target = target_at(analysis, offset);
  if (!target) {
    return nullptr;
  }
  Json locations = Json::array();
  if (target->council) {
    if (target->function == nullptr) {
      return nullptr;
    }
    if (include_declaration) {
      locations.push_back(location_json(context, target->function->name.span()));
    }
    for (const Occurrence& occurrence : analysis.occurrences) {
      if (occurrence.use == Use::Call && occurrence.name.text == target->name) {
        locations.push_back(location_json(context, occurrence.name.span()));
      }
    }
    return locations;
  }
  for (const std::uint32_t same : same_variable(analysis, *target->occurrence)) {
    const Occurrence& occurrence = analysis.occurrences[same];
    if (include_declaration || (occurrence.use != Use::Declare && occurrence.use != Use::Parameter)) {
      locations.push_back(location_json(context, occurrence.name.span()));
    }
  }
  return locations;
}

Json document_highlights(const Context& context, std::size_t offset) {
  const Analysis& analysis = context.document.analysis;
  const std::optional<Target> target = target_at(analysis, offset);
  if (!target) {
    return nullptr;
  }
  std::vector<std::pair<Span, int>> marks;
  if (target->council) {
    for (const Function& function : analysis.functions) {
      if (function.name.text == target->name) {
        marks.emplace_back(function.name.span(), HIGHLIGHT_TEXT);
      }
    }
    for (const Occurrence& occurrence : analysis.occurrences) {
      if (occurrence.use == Use::Call && occurrence.name.text == target->name) {
        marks.emplace_back(occurrence.name.span(), HIGHLIGHT_TEXT);
      }
    }
    std::sort(marks.begin(), marks.end(), [](const auto& a, const auto& b) { return a.first.start < b.first.start; });
  } else {
    for (const std::uint32_t same : same_variable(analysis, *target->occurrence)) {
      const Occurrence& occurrence = analysis.occurrences[same];
      marks.emplace_back(occurrence.name.span(), occurrence.use == Use::Read ? HIGHLIGHT_READ : HIGHLIGHT_WRITE);
    }
  }
  Json highlights = Json::array();
  for (const auto& [span, kind] : marks) {
    highlights.push_back({{"range", range_json(context.document, span, context.encoding)}, {"kind", kind}});
  }
  return highlights;
}

}  // namespace skern::lsp
