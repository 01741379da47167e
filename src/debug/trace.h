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
  // The recorded steps' JSON in bytes, past which no further step is
  // recorded: long texts in many variables would otherwise take more memory
  // than a page has long before the count of steps is reached.
  std::size_t bytes = std::size_t{32} << 20;
};

// Told once the recording is full while the run goes on unrecorded, which
// may take long or forever: a page can show the steps meanwhile.
class TraceObserver {
 public:
  TraceObserver() = default;
  TraceObserver(const TraceObserver&) = delete;
  TraceObserver& operator=(const TraceObserver&) = delete;
  virtual ~TraceObserver() = default;
  // `steps` is the JSON array of the steps recorded, `output` the standard
  // output written so far.
  virtual void recorded(std::string_view steps, std::string_view output) = 0;
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
// `observer`, when given, hears of a recording that filled up before the
// run ended.
std::string trace_json(std::string_view source, std::string_view input, const TraceLimits& limits = {},
                       TraceObserver* observer = nullptr);

}  // namespace skern::debug
