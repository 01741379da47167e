// Replacing a file's contents at once, for `--write`.
#pragma once

#include <string_view>

#include "driver/error.h"

namespace skern::fmt {

// Gives the file at `path` the contents `text`: writes a temporary file in
// the same folder with the file's permissions, then renames it over the
// file, so that the file is either as it was or wholly new, never half
// written. A symbolic link is followed, and stays. A file that may not be
// written is not replaced. On failure the file is untouched and no
// temporary file is left.
Status replace_file(const char* path, std::string_view text);

}  // namespace skern::fmt
