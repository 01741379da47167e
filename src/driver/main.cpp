// Entry point of the skern command.
#include "driver/cli.h"

int main(int argc, char** argv) {
  return skern::run_with_large_stack([argc, argv] { return skern::main_entry(argc, argv); });
}
