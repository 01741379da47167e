# The warning set every target of the project is built with.
set(SKERN_WARNING_FLAGS
  -Wall -Wextra -Wpedantic
  -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wconversion -Wsign-conversion -Wdouble-promotion -Wformat=2
  -Wimplicit-fallthrough -Wundef
  # GCC 12 reports -Wrestrict falsely inside std::string at -O3.
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)

function(skern_warnings target)
  target_compile_options(${target} PRIVATE ${SKERN_WARNING_FLAGS})
  if(SKERN_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
