// Entry point of skern-fmt, the formatter of Skerran programs.
#include "fmt/cli.h"
#include "model/stack.h"

int main(int argc, char** argv) {
  // Programs are parsed as skern parses them, on a stack of the same size.
  return skern::run_with_large_stack([argc, argv] { return skern::fmt::main_entry(argc, argv); });
}
