// The debugger's own texts, beside the interpreter's catalogue, whose
// messages it reports as they stand.
#pragma once

#include <string>
#include <string_view>

namespace skern::debug::text {

inline constexpr std::string_view NO_CALLS = "calls are not evaluated while debugging: a call could change the run";
inline constexpr std::string_view NO_STATEMENT_AT_OR_AFTER = "no statement on this line or after it";
inline constexpr std::string_view RUNTIME_ERRORS_FILTER = "Runtime errors";
inline constexpr std::string_view PAUSED = "paused";

inline std::string unknown_council(std::string_view name) {
  return "no council `" + std::string(name) + "` is declared";
}
inline std::string bad_hit_condition(std::string_view condition) {
  return "hit condition `" + std::string(condition) + "` is not a number, or a comparison or `%` and a number";
}
inline std::string condition_failed(std::string_view condition, std::string_view report) {
  return "breakpoint condition `" + std::string(condition) + "` failed: " + std::string(report);
}

}  // namespace skern::debug::text
