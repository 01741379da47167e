// Edits of the document: renames, and quick fixes for the warnings.
#include <algorithm>
#include <string>

#include "lsp/handlers.h"
#include "lsp/names.h"
#include "lsp/texts.h"
#include "parser/parser.h"

namespace skern::lsp {

namespace {

// ---------------------------------------------------------------------------
// Rename
// ---------------------------------------------------------------------------

// The 1-based line of an offset, as an editor numbers it.
std::size_t line_of(const Document& document, std::size_t offset) {
  return document.index.position(offset, Encoding::Utf8).line + 1;
}

std::vector<std::string_view> function_names(const Analysis& analysis, const std::vector<std::size_t>& indices) {
  std::vector<std::string_view> names;
  names.reserve(indices.size());
  for (const std::size_t index : indices) {
    names.push_back(analysis.functions[index].name.text);
  }
  return names;
}

// The name at `offset` if it can be renamed; nothing where no name stands.
//
// A function's name is renamed in its header and in every call. A variable
// is renamed only where the text proves which uses mean it: a declaration
// or parameter and the uses in its own body that mean it, and only when no
// function anywhere uses the name without declaring it, for such a
// function would reach the variable of whoever calls it, and a call of it
// from this body would find this variable by its old name.
std::variant<std::monostate, Target, Refusal> renamable(const Context& context, std::size_t offset) {
  const Analysis& analysis = context.document.analysis;
  const std::optional<Target> target = target_at(analysis, offset);
  if (!target) {
    return std::monostate{};
  }
  if (!analysis.parses) {
    const auto error = std::find_if(analysis.diagnostics.begin(), analysis.diagnostics.end(),
                                    [](const Diagnostic& diagnostic) { return diagnostic.severity == 1; });
    return Refusal{text::rename_needs_parse(
        error == analysis.diagnostics.end() ? 1 : line_of(context.document, error->span.start))};
  }
  if (target->council) {
    if (target->function == nullptr) {
      return Refusal{text::no_council_to_rename(target->name)};
    }
    return *target;
  }
  const Occurrence& occurrence = *target->occurrence;
  if (occurrence.binding == NO_INDEX) {
    if (occurrence.owner == MAIN_BLOCK) {
      return Refusal{text::declared_nowhere_above(target->name)};
    }
    return Refusal{text::means_callers_variable(target->name, analysis.functions[occurrence.owner].name.text)};
  }
  if (const std::vector<std::size_t> reach = reaching(analysis, target->name); !reach.empty()) {
    return Refusal{text::reached_from_outside(target->name, function_names(analysis, reach))};
  }
  return *target;
}

Json workspace_edit(const Context& context, const std::vector<Span>& spans, std::string_view new_name) {
  Json edits = Json::array();
  for (const Span span : spans) {
    edits.push_back({{"range", range_json(context.document, span, context.encoding)}, {"newText", new_name}});
  }
  return Json{{"changes", {{context.uri, std::move(edits)}}}};
}

Answer rename_council(const Context& context, const Target& target, std::string_view new_name) {
  const Analysis& analysis = context.document.analysis;
  if (!is_valid_identifier(new_name)) {
    return Refusal{msg::invalid_function_name(new_name)};
  }
  if (analysis.function_named(new_name) != nullptr) {
    return Refusal{msg::council_already_declared(new_name)};
  }
  std::vector<Span> spans{target.function->name.span()};
  for (const Occurrence& occurrence : analysis.occurrences) {
    if (occurrence.use != Use::Call) {
      continue;
    }
    if (occurrence.name.text == new_name) {
      return Refusal{text::called_but_undeclared(new_name, line_of(context.document, occurrence.name.offset))};
    }
    if (occurrence.name.text == target.name) {
      spans.push_back(occurrence.name.span());
    }
  }
  std::sort(spans.begin(), spans.end(), [](Span a, Span b) { return a.start < b.start; });
  return workspace_edit(context, spans, new_name);
}

Answer rename_variable(const Context& context, const Target& target, std::string_view new_name) {
  const Analysis& analysis = context.document.analysis;
  const std::uint32_t declaration = target.occurrence->binding;
  if (!is_valid_identifier(new_name)) {
    return Refusal{analysis.occurrences[declaration].use == Use::Parameter ? msg::invalid_parameter(new_name)
                                                                          : msg::invalid_declaration_name(new_name)};
  }
  if (const std::vector<std::size_t> reach = reaching(analysis, new_name); !reach.empty()) {
    return Refusal{text::would_be_reached(new_name, function_names(analysis, reach))};
  }
  const std::vector<std::uint32_t> renamed = same_variable(analysis, analysis.occurrences[declaration]);
  const std::size_t owner = analysis.occurrences[declaration].owner;
  const auto taken = [&] {
    return Refusal{text::name_taken(new_name, owner == MAIN_BLOCK
                                                  ? std::string(text::IN_MAIN_BLOCK)
                                                  : text::in_function(analysis.functions[owner].name.text))};
  };
  // The body as it would read after the rename: every name must still mean
  // what it meant, none shadowed by the new name nor taken over by it.
  const auto [first, last] = body_around(analysis, declaration);
  std::vector<Occurrence> after(analysis.occurrences.begin() + first, analysis.occurrences.begin() + last);
  for (const std::uint32_t at : renamed) {
    after[at - first].name.text = new_name;
  }
  bind(after, analysis.scopes);
  for (std::uint32_t k = 0; k < after.size(); ++k) {
    const std::uint32_t before = analysis.occurrences[first + k].binding;
    if (after[k].binding != (before == NO_INDEX ? NO_INDEX : before - first)) {
      return taken();
    }
    // Two of a name in one block: the second declaration would fail.
    const Occurrence& other = after[k];
    if (first + k != declaration && (other.use == Use::Declare || other.use == Use::Parameter) &&
        other.name.text == new_name && other.scope == analysis.occurrences[declaration].scope) {
      return taken();
    }
  }
  std::vector<Span> spans;
  spans.reserve(renamed.size());
  for (const std::uint32_t at : renamed) {
    spans.push_back(analysis.occurrences[at].name.span());
  }
  return workspace_edit(context, spans, new_name);
}

// ---------------------------------------------------------------------------
// Quick fixes
// ---------------------------------------------------------------------------

constexpr std::string_view QUICK_FIX = "quickfix";

// Edits between two names, a swap of two neighbours counting one: how far a
// slip of the fingers takes one name from the other.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) {
    d[i][0] = i;
  }
  for (std::size_t j = 0; j <= b.size(); ++j) {
    d[0][j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The names nearest to `name`, nearest first, at most three, none further
// than a third of its letters (at least one).
std::vector<std::pair<std::size_t, std::string_view>> nearest(std::string_view name,
                                                              std::vector<std::string_view> candidates) {
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
  const std::size_t limit = std::max<std::size_t>(1, (name.size() + 2) / 3);
  std::vector<std::pair<std::size_t, std::string_view>> found;
  for (const std::string_view candidate : candidates) {
    const std::size_t length_gap = candidate.size() > name.size() ? candidate.size() - name.size()
                                                                  : name.size() - candidate.size();
    if (candidate == name || length_gap > limit) {
      continue;
    }
    if (const std::size_t d = edit_distance(name, candidate); d <= limit) {
      found.emplace_back(d, candidate);
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  if (found.size() > 3) {
    found.resize(3);
  }
  return found;
}

// Whether the client asks for quick fixes: `only` names kinds, each of which
// covers itself and the kinds below it ("quickfix" and "quickfix.x").
bool wants_quick_fixes(const Json* only) {
  if (only == nullptr || !only->is_array()) {
    return true;
  }
  return std::any_of(only->begin(), only->end(), [](const Json& kind) {
    return kind.is_string() && (kind.get_ref<const std::string&>().empty() || kind.get_ref<const std::string&>() == QUICK_FIX);
  });
}

void offer_nearest(const Context& context, const Diagnostic& diagnostic, std::vector<std::string_view> candidates,
                   Json& actions) {
  const std::string_view name =
      std::string_view(context.document.text).substr(diagnostic.span.start, diagnostic.span.end - diagnostic.span.start);
  const auto found = nearest(name, std::move(candidates));
  for (std::size_t i = 0; i < found.size(); ++i) {
    Json action = {{"title", text::change_to(found[i].second)},
                   {"kind", QUICK_FIX},
                   {"diagnostics", {diagnostic_json(context.document, diagnostic, context.encoding)}},
                   {"edit", workspace_edit(context, {diagnostic.span}, found[i].second)}};
    // The one nearest name, when no other is as near, is the fix to apply.
    if (i == 0 && (found.size() == 1 || found[1].first > found[0].first)) {
      action["isPreferred"] = true;
    }
    actions.push_back(std::move(action));
  }
}

}  // namespace

Answer prepare_rename(const Context& context, std::size_t offset) {
  auto found = renamable(context, offset);
  if (auto* refusal = std::get_if<Refusal>(&found)) {
    return std::move(*refusal);
  }
  const Target* target = std::get_if<Target>(&found);
  if (target == nullptr) {
    return Json(nullptr);
  }
  return Json{{"range", range_json(context.document, target->span, context.encoding)}, {"placeholder", target->name}};
}

Answer rename(const Context& context, std::size_t offset, std::string_view new_name) {
  auto found = renamable(context, offset);
  if (auto* refusal = std::get_if<Refusal>(&found)) {
    return std::move(*refusal);
  }
  const Target* target = std::get_if<Target>(&found);
  if (target == nullptr) {
    return Json(nullptr);
  }
  if (new_name == target->name) {
    return workspace_edit(context, {}, new_name);
  }
  return target->council ? rename_council(context, *target, new_name) : rename_variable(context, *target, new_name);
}

Json code_actions(const Context& context, Span range, const Json* only) {
  const Analysis& analysis = context.document.analysis;
  Json actions = Json::array();
  if (!wants_quick_fixes(only)) {
    return actions;
  }
  for (const Diagnostic& diagnostic : analysis.diagnostics) {
    if (diagnostic.span.start > range.end || range.start > diagnostic.span.end) {
      continue;
    }
    const std::string_view name = std::string_view(context.document.text)
                                      .substr(diagnostic.span.start, diagnostic.span.end - diagnostic.span.start);
    switch (diagnostic.problem) {
      case Problem::UnknownCouncil: {
        std::vector<std::string_view> councils;
        for (const Function& function : analysis.functions) {
          councils.push_back(function.name.text);
        }
        offer_nearest(context, diagnostic, std::move(councils), actions);
        break;
      }
      case Problem::UnknownBanner: {
        std::vector<std::string_view> variables;
        for (const Occurrence& occurrence : analysis.occurrences) {
          if (occurrence.use == Use::Declare || occurrence.use == Use::Parameter) {
            variables.push_back(occurrence.name.text);
          }
        }
        offer_nearest(context, diagnostic, std::move(variables), actions);
        break;
      }
      case Problem::WrongArgumentCount:
        // No edit can know the arguments meant: the header says what to write.
        if (const Function* function = analysis.function_named(name)) {
          actions.push_back({{"title", text::declared_as(name, function->header)},
                             {"kind", QUICK_FIX},
                             {"diagnostics", {diagnostic_json(context.document, diagnostic, context.encoding)}}});
        }
        break;
      default:
        break;
    }
  }
  return actions;
}

}  // namespace skern::lsp
