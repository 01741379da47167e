// Unified diffs of a source and its formatted text, for `--check`.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "format/format.h"

namespace skern::fmt {

// Lines of unchanged text shown around each change.
inline constexpr std::size_t DIFF_CONTEXT = 3;

// The unified diff that turns `source` into its formatted text, given the
// formatter's edits of it; both file names in its header are `name`, so that
// `patch -p0` applies it. Empty for no edits.
std::string unified_diff(std::string_view name, std::string_view source, const std::vector<format::LineEdit>& edits);

}  // namespace skern::fmt
