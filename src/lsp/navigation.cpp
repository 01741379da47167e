// Document symbols, definitions and references of functions.
#include <algorithm>

#include "lsp/handlers.h"

namespace skern::lsp {

namespace {

// The protocol's symbol kinds used here.
constexpr int SYMBOL_MODULE = 2;
constexpr int SYMBOL_FUNCTION = 12;
constexpr int SYMBOL_VARIABLE = 13;

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
  const Function* function = function_at(context.document.analysis, offset);
  if (function == nullptr) {
    return nullptr;
  }
  return location_json(context, function->name.span());
}

Json references(const Context& context, std::size_t offset, bool include_declaration) {
  const Analysis& analysis = context.document.analysis;
  const Function* function = function_at(analysis, offset);
  if (function == nullptr) {
    return nullptr;
  }
  Json locations = Json::array();
  if (include_declaration) {
    locations.push_back(location_json(context, function->name.span()));
  }
  for (const Occurrence& occurrence : analysis.occurrences) {
    if (occurrence.use == Use::Call && occurrence.name.text == function->name.text) {
      locations.push_back(location_json(context, occurrence.name.span()));
    }
  }
  return locations;
}

}  // namespace skern::lsp
