// The WebAssembly module's entry: one run per call, its output passed to the
// page's worker as it is produced, its report and exit status at the end.
#include <cstddef>
#include <new>
#include <span>
#include <string_view>

#include "web/session.h"

extern "C" {

// Supplied by the worker (src/web/imports.js).
void skern_web_flush();
double skern_web_now();
void skern_web_report(const char* text, std::size_t size);
// Where the reported error lies (see skern::web::SourcePosition).
void skern_web_error_at(double line, double column);
// Does not return: ends the call into the module with an exception.
[[noreturn]] void skern_web_out_of_memory();

// Runs the program and gives its exit status. `buffer` (at least 64 bytes)
// carries standard output; the report goes to skern_web_report.
[[gnu::used]] int skern_web_run(const char* source, std::size_t source_size, const char* input,
                                std::size_t input_size, char* buffer, std::size_t buffer_size);
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

}  // namespace

int skern_web_run(const char* source, std::size_t source_size, const char* input, std::size_t input_size,
                  char* buffer, std::size_t buffer_size) {
  std::set_new_handler(out_of_memory);
  WorkerChannel channel;
  skern::web::BufferOutput output(std::span<char>(buffer, buffer_size), channel, OUTPUT_INTERVAL);
  const skern::web::Outcome outcome =
      skern::web::run_in_memory(std::string_view(source, source_size), std::string_view(input, input_size), output,
                                 &output);
  output.flush();
  if (outcome.position) {
    skern_web_error_at(static_cast<double>(outcome.position->line), static_cast<double>(outcome.position->column));
  }
  if (!outcome.report.empty()) {
    skern_web_report(outcome.report.data(), outcome.report.size());
  }
  return outcome.status;
}
