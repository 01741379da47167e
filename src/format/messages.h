// The formatter's own texts. Everything else it reports is the parser's
// error, exactly as skern reports it.
#pragma once

#include <string_view>

namespace skern::format::msg {

// The formatted text did not parse to the source's tree: a fault of the
// formatter, never of the source, which is then left as it is.
inline constexpr std::string_view MEANING_CHANGED =
    "internal error: formatting would change what the program means, so nothing was formatted";

}  // namespace skern::format::msg
