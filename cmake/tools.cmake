# The optional tools beside skern (the language server, and whatever joins
# it) are built only where what they need is found. Configure says so with
# one line for each, so that a missing tool is noticed before the build and
# not when it is looked for afterwards.
#
# skern_report_tool(<name> BUILT <bool> [REASON <text>])
#   <name>   the executable as a user knows it, for example skern-lsp
#   BUILT    true when it will be built; an empty value counts as false, so
#            that BUILT ${something_FOUND} is safe even when it is unset
#   REASON   when it will not be: what is missing and the package that
#            brings it, for example
#            "nlohmann/json 3.10 or newer not found (Debian: nlohmann-json3-dev)"
# prints "-- skern-lsp: will be built" or "-- skern-lsp: not built: <reason>".
include_guard(GLOBAL)

function(skern_report_tool name)
  cmake_parse_arguments(PARSE_ARGV 1 tool "" "BUILT;REASON" "")
  if(tool_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "skern_report_tool(${name}): unexpected ${tool_UNPARSED_ARGUMENTS}")
  endif()
  if(tool_BUILT)
    message(STATUS "${name}: will be built")
  elseif(tool_REASON)
    message(STATUS "${name}: not built: ${tool_REASON}")
  else()
    message(FATAL_ERROR "skern_report_tool(${name}): say why it is not built (REASON)")
  endif()
endfunction()
