// Reading a source text whole and writing to a file descriptor: what every
// command of the project does with files, with the same reports.
#pragma once

#include <string>
#include <string_view>

#include "driver/error.h"

namespace skern {

// The whole file at `path`, which must be valid UTF-8.
Result<std::string> read_source_file(const char* path);

// All that an open descriptor gives until its end (standard input, say),
// which must be valid UTF-8.
Result<std::string> read_source_fd(int fd);

// Writes all of `text`, retrying after interruptions and partial writes.
Status write_all(int fd, std::string_view text);

}  // namespace skern
