// What a name means where it stands, as far as the text can prove it: a
// function's name, or a variable, which may be a variable of the body it
// stands in or, since a function sees its callers' variables, one of
// whoever calls it.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <string_view>
#include <vector>

#include "lsp/analysis.h"

namespace skern::lsp {

// The name at an offset: a function's, in its header or in a call, or a
// variable's.
struct Target {
  bool council = false;
  std::string_view name;
  Span span;                                // the name at the offset
  const Function* function = nullptr;       // a council's declaration, if there is one
  const Occurrence* occurrence = nullptr;   // a variable's occurrence at the offset
};

std::optional<Target> target_at(const Analysis& analysis, std::size_t offset);

// The index of an occurrence of the analysis.
[[nodiscard]] inline std::uint32_t index_of(const Analysis& analysis, const Occurrence& occurrence) {
  return static_cast<std::uint32_t>(&occurrence - analysis.occurrences.data());
}

// The first and one past the last occurrence of the body that holds
// occurrence `at`.
std::pair<std::uint32_t, std::uint32_t> body_around(const Analysis& analysis, std::uint32_t at);

// The occurrences that certainly mean the same variable as `occurrence`, in
// the order of the text: its declaration or parameter and every use that
// means it; for a name its body has not declared there, every such use of
// the name in that body, all of which mean whatever the callers provide.
std::vector<std::uint32_t> same_variable(const Analysis& analysis, const Occurrence& occurrence);

// The functions, in the order of the text, that read, assign or take input
// into `name` where they have not declared it, and so reach the variable of
// that name of whoever calls them.
std::vector<std::size_t> reaching(const Analysis& analysis, std::string_view name);

// The declarations and parameters of `name`, in the callers of function
// `owner` (and in their callers, where they do not declare it), that are
// visible where they call it: what a use of the name that `owner` does not
// declare may mean.
std::vector<std::uint32_t> providers(const Analysis& analysis, std::size_t owner, std::string_view name);

// Declares each occurrence's binding (see Occurrence::binding), its indices
// counting from the first of `occurrences`.
void bind(std::vector<Occurrence>& occurrences, const std::vector<std::uint32_t>& scopes);

}  // namespace skern::lsp
