// The WebAssembly module's entry: one run per call, its output passed to the
// page's worker as it is produced, its report and exit status at the end;
// or one run recorded step by step for the page's Debug mode; or a program
// put into canonical layout for the page's Format button.
#include <cstddef>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "debug/trace.h"
#include "format/format.h"
#include "web/session.h"

extern "C" {

// Supplied by the worker (src/web/imports.js).
void skern_web_flush();
double skern_web_now();
void skern_web_report(const char* text, std::size_t size);
// Where the reported error lies (see skern::web::SourcePosition).
void skern_web_error_at(double line, double column);
// A recording as JSON: the steps so far while the run goes on past them
// (with the output so far), and the whole of it at the end.
void skern_web_recorded(const char* steps, std::size_t steps_size, const char* output, std::size_t output_size);
void skern_web_traced(const char* json, std::size_t size);
void skern_web_formatted(const char* text, std::size_t size);
// Does not return: ends the call into the module with an exception.
[[noreturn]] void skern_web_out_of_memory();

// Runs the program and gives its exit status. `buffer` (at least 64 bytes)
// carries standard output; the report goes to skern_web_report.
[[gnu::used]] int skern_web_run(const char* source, std::size_t source_size, const char* input, std::size_t input_size,
                                char* buffer, std::size_t buffer_size);

// Records the run of the program for the Debug mode; the recording goes to
// skern_web_traced, and where a parse error lies to skern_web_error_at.
[[gnu::used]] void skern_web_trace(const char* source, std::size_t source_size, const char* input,
                                   std::size_t input_size);

// Formats the program and gives 0, the text going to skern_web_formatted;
// or gives 1 for a program that does not parse, its report going to
// skern_web_report and where its error lies to skern_web_error_at.
[[gnu::used]] int skern_web_format(const char* source, std::size_t source_size);
}

namespace {

// Output pieces at most this far apart while a program runs, in milliseconds.
constexpr double OUTPUT_INTERVAL = 40;

// The module is built without C++ exceptions, so running out of memory
// cannot unwind to the run's own report: the report is made here, without
// allocating, and the worker ends the run (and starts a fresh module).
void out_of_memory() {
  const std::string_view report = skern::web::OUT_OF_MEMORY_REPORT;
  skern_web_report(report.data(), report.size());
  skern_web_out_of_memory();
}

class WorkerChannel final : public skern::web::Channel {
 public:
  void flush() override { skern_web_flush(); }
  double now() override { return skern_web_now(); }
};

class WorkerObserver final : public skern::debug::TraceObserver {
 public:
  void recorded(std::string_view steps, std::string_view output) override {
    skern_web_recorded(steps.data(), steps.size(), output.data(), output.size());
  }
};

void report_position(const skern::web::Outcome& outcome) {
  if (outcome.position) {
    skern_web_error_at(static_cast<double>(outcome.position->line), static_cast<double>(outcome.position->column));
  }
}

}  // namespace

int skern_web_run(const char* source, std::size_t source_size, const char* input, std::size_t input_size, char* buffer,
                  std::size_t buffer_size) {
  std::set_new_handler(out_of_memory);
  WorkerChannel channel;
  skern::web::BufferOutput output(std::span<char>(buffer, buffer_size), channel, OUTPUT_INTERVAL);
  const skern::web::Outcome outcome = skern::web::run_in_memory(std::string_view(source, source_size),
                                                                std::string_view(input, input_size), output, &output);
  output.flush();
  report_position(outcome);
  if (!outcome.report.empty()) {
    skern_web_report(outcome.report.data(), outcome.report.size());
  }
  return outcome.status;
}

void skern_web_trace(const char* source, std::size_t source_size, const char* input, std::size_t input_size) {
  std::set_new_handler(out_of_memory);
  const std::string_view text(source, source_size);
  // The recording holds the report of a program that cannot run; the page
  // also wants to know where its error lies.
  if (const std::optional<skern::web::Outcome> failed = skern::web::source_failure(text)) {
    report_position(*failed);
  }
  WorkerObserver observer;
  const std::string json = skern::debug::trace_json(text, std::string_view(input, input_size), {}, &observer);
  skern_web_traced(json.data(), json.size());
}

int skern_web_format(const char* source, std::size_t source_size) {
  std::set_new_handler(out_of_memory);
  const std::string_view text(source, source_size);
  const skern::format::Formatted<std::string> formatted = skern::format::format_source(text);
  if (formatted.ok()) {
    skern_web_formatted(formatted->data(), formatted->size());
    return 0;
  }
  if (const std::optional<skern::web::Outcome> failed = skern::web::source_failure(text)) {
    report_position(*failed);
  }
  const std::string report = formatted.report() + "\n";
  skern_web_report(report.data(), report.size());
  return 1;
}
