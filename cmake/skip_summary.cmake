# Run by ctest after its summary (cmake/skipping.cmake): one line for each
# test that skipped itself in this run, with the reason it left in its note.
# Usage: cmake -Dnotes=<notes-dir> -P skip_summary.cmake
file(GLOB files LIST_DIRECTORIES false "${notes}/*")
if(NOT files)
  return()
endif()
# message() writes to standard error; ctest merges it into its own output.
message("\nWhy they were skipped:")
foreach(file IN LISTS files)
  get_filename_component(test "${file}" NAME)
  file(READ "${file}" reason)
  string(STRIP "${reason}" reason)
  string(REPLACE "\n" " " reason "${reason}")
  message("\t  ${test}: ${reason}")
endforeach()
