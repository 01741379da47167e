// A whole run recorded statement by statement, for a page that moves
// through it: every step's line, the output written before it and the
// innermost frames with their variables.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace skern::debug {

struct TraceLimits {
  std::size_t steps = 10000;  // steps recorded; the run goes on past them unrecorded
  std::size_t frames = 20;    // innermost frames recorded at each step
};

// The run of `source` with `input` as standard input, as a JSON object:
//   {"status": 0 or 1, "stdout": ..., "stderr": ..., "truncated": bool,
//    "errorLine": the line of the statement a runtime error ended in, or 0,
//    "steps": [{"line", "stdoutLength", "depth",
//               "frames": [{"name", "line",
//                           "variables": [{"name", "type", "value"}],
//                           "fromCallers": [{"name", "type", "value", "owner"}]}]}]}
// stdoutLength counts UTF-16 units, as a page's scripts count text; a name
// from callers that reaches no variable has no type, value or owner.
std::string trace_json(std::string_view source, std::string_view input, const TraceLimits& limits = {});

}  // namespace skern::debug
