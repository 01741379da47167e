// Which variable a name means: bindings through the blocks of a body, and
// the reach of names that a body does not declare into its callers.
#include "lsp/names.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace skern::lsp {

namespace {

bool is_variable_use(Use use) { return use == Use::Read || use == Use::Assign || use == Use::Input; }

// The declaration or parameter of `name` that a use standing where the call
// `call` stands would mean, or NO_INDEX.
std::uint32_t visible_at(const Analysis& analysis, std::uint32_t call, std::string_view name) {
  const std::vector<Occurrence>& occurrences = analysis.occurrences;
  const Occurrence& site = occurrences[call];
  // The latest one before it whose block holds the call: blocks close in the
  // order they open, so that is the innermost.
  for (std::uint32_t i = call; i > 0 && occurrences[i - 1].owner == site.owner; --i) {
    const Occurrence& candidate = occurrences[i - 1];
    if ((candidate.use == Use::Declare || candidate.use == Use::Parameter) && candidate.name.text == name &&
        candidate.statement < site.statement && analysis.encloses(candidate.scope, site.scope)) {
      return i - 1;
    }
  }
  return NO_INDEX;
}

}  // namespace

namespace {

// The names declared in the blocks around the line being read, as the
// occurrences are read in the order of the text.
class Visible {
 public:
  Visible(std::vector<Occurrence>& occurrences, const std::vector<std::uint32_t>& scopes)
      : occurrences_(occurrences), scopes_(scopes) {}

  // A declaration on the line being read counts from the next line on.
  void declare_later(std::uint32_t at) { waiting_.push_back(at); }

  // Moves on to an occurrence: to its line, then into its block.
  void reach(const Occurrence& occurrence) {
    if (occurrence.statement != statement_) {
      for (const std::uint32_t at : waiting_) {
        names_[occurrences_[at].name.text].push_back(at);
        declared_.back().push_back(at);
      }
      waiting_.clear();
      statement_ = occurrence.statement;
    }
    if (chain_.empty() || chain_.back() != occurrence.scope) {
      enter(occurrence.scope);
    }
  }

  // The latest declaration of the name in the open blocks, or NO_INDEX.
  [[nodiscard]] std::uint32_t find(std::string_view name) const {
    const auto found = names_.find(name);
    return found == names_.end() || found->second.empty() ? NO_INDEX : found->second.back();
  }

 private:
  // Closes the blocks that do not hold `scope` and opens those that do.
  void enter(std::uint32_t scope) {
    path_.clear();
    for (std::uint32_t at = scope; at != NO_INDEX; at = scopes_[at]) {
      path_.push_back(at);
    }
    std::reverse(path_.begin(), path_.end());
    std::size_t common = 0;
    while (common < chain_.size() && common < path_.size() && chain_[common] == path_[common]) {
      ++common;
    }
    while (chain_.size() > common) {
      for (const std::uint32_t at : declared_.back()) {
        names_[occurrences_[at].name.text].pop_back();
      }
      declared_.pop_back();
      chain_.pop_back();
    }
    for (std::size_t k = common; k < path_.size(); ++k) {
      chain_.push_back(path_[k]);
      declared_.emplace_back();
    }
  }

  std::vector<Occurrence>& occurrences_;
  const std::vector<std::uint32_t>& scopes_;
  std::unordered_map<std::string_view, std::vector<std::uint32_t>> names_;  // innermost last
  std::vector<std::uint32_t> chain_;                  // the open blocks, outermost first
  std::vector<std::vector<std::uint32_t>> declared_;  // what each open block has declared
  std::vector<std::uint32_t> waiting_;                // declared on the line being read
  std::vector<std::uint32_t> path_;
  std::uint32_t statement_ = 0;
};

}  // namespace

// Each variable's declaration or parameter, read in the order of the text:
// the latest one of its name, on an earlier line, in its own block or one
// around it. Loop bodies and branches are blocks of their own, so what they
// declare is gone after them; a declaration means nothing on its own line,
// whose expression runs first.
void bind(std::vector<Occurrence>& occurrences, const std::vector<std::uint32_t>& scopes) {
  Visible visible(occurrences, scopes);
  for (std::uint32_t i = 0; i < occurrences.size(); ++i) {
    Occurrence& occurrence = occurrences[i];
    visible.reach(occurrence);
    switch (occurrence.use) {
      case Use::Declare:
      case Use::Parameter:
        occurrence.binding = i;
        visible.declare_later(i);
        break;
      case Use::Read:
      case Use::Assign:
      case Use::Input:
        occurrence.binding = visible.find(occurrence.name.text);
        break;
      case Use::Call:
        break;
    }
  }
}

std::pair<std::uint32_t, std::uint32_t> body_around(const Analysis& analysis, std::uint32_t at) {
  const std::vector<Occurrence>& occurrences = analysis.occurrences;
  const std::size_t owner = occurrences[at].owner;
  std::uint32_t first = at;
  while (first > 0 && occurrences[first - 1].owner == owner) {
    --first;
  }
  std::uint32_t last = at + 1;
  while (last < occurrences.size() && occurrences[last].owner == owner) {
    ++last;
  }
  return {first, last};
}

std::optional<Target> target_at(const Analysis& analysis, std::size_t offset) {
  for (const Function& function : analysis.functions) {
    if (function.name.span().contains(offset)) {
      return Target{true, function.name.text, function.name.span(), &function, nullptr};
    }
  }
  const Occurrence* occurrence = analysis.occurrence_at(offset);
  if (occurrence == nullptr || occurrence->owner == NO_OWNER) {
    return std::nullopt;
  }
  if (occurrence->use == Use::Call) {
    return Target{true, occurrence->name.text, occurrence->name.span(), analysis.function_named(occurrence->name.text),
                  nullptr};
  }
  return Target{false, occurrence->name.text, occurrence->name.span(), nullptr, occurrence};
}

std::vector<std::uint32_t> same_variable(const Analysis& analysis, const Occurrence& occurrence) {
  const std::vector<Occurrence>& occurrences = analysis.occurrences;
  const auto [first, last] = body_around(analysis, index_of(analysis, occurrence));
  std::vector<std::uint32_t> same;
  for (std::uint32_t i = first; i < last; ++i) {
    const Occurrence& other = occurrences[i];
    if (other.use == Use::Call || other.name.text != occurrence.name.text) {
      continue;
    }
    if (occurrence.binding != NO_INDEX ? other.binding == occurrence.binding
                                       : other.binding == NO_INDEX && is_variable_use(other.use)) {
      same.push_back(i);
    }
  }
  return same;
}

std::vector<std::size_t> reaching(const Analysis& analysis, std::string_view name) {
  std::vector<std::size_t> functions;
  for (const Occurrence& occurrence : analysis.occurrences) {
    if (occurrence.binding == NO_INDEX && is_variable_use(occurrence.use) && occurrence.name.text == name &&
        occurrence.owner < analysis.functions.size() &&
        (functions.empty() || functions.back() != occurrence.owner)) {
      functions.push_back(occurrence.owner);
    }
  }
  return functions;
}

std::vector<std::uint32_t> providers(const Analysis& analysis, std::size_t owner, std::string_view name) {
  std::unordered_map<std::string_view, std::vector<std::uint32_t>> calls;
  for (std::uint32_t i = 0; i < analysis.occurrences.size(); ++i) {
    if (analysis.occurrences[i].use == Use::Call) {
      calls[analysis.occurrences[i].name.text].push_back(i);
    }
  }
  std::vector<std::uint32_t> found;
  std::vector<std::size_t> pending{owner};
  std::unordered_set<std::size_t> seen{owner};
  while (!pending.empty()) {
    const std::size_t callee = pending.back();
    pending.pop_back();
    const auto sites = calls.find(analysis.functions[callee].name.text);
    if (sites == calls.end()) {
      continue;
    }
    for (const std::uint32_t call : sites->second) {
      const std::size_t caller = analysis.occurrences[call].owner;
      if (caller == NO_OWNER) {
        continue;
      }
      if (const std::uint32_t declaration = visible_at(analysis, call, name); declaration != NO_INDEX) {
        found.push_back(declaration);
      } else if (caller != MAIN_BLOCK && seen.insert(caller).second) {
        pending.push_back(caller);  // its own callers may provide it
      }
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

}  // namespace skern::lsp
