// The language server's own texts: errors of the conversation, the reasons
// a rename is refused, the titles of quick fixes and the words of hovers.
// Faults of a program are reported in the interpreter's words
// (driver/error.h), which the server quotes as they stand.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace skern::lsp::text {

inline std::string quoted(std::string_view name) { return "`" + std::string(name) + "`"; }

// `a`, `a` and `b`, `a`, `b` and `c`.
inline std::string quoted_list(const std::vector<std::string_view>& names) {
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      list += i + 1 == names.size() ? " and " : ", ";
    }
    list += quoted(names[i]);
  }
  return list;
}

// ---------------------------------------------------------------------------
// The conversation
// ---------------------------------------------------------------------------

inline constexpr std::string_view NOT_AN_OBJECT = "a message must be a JSON object";
inline constexpr std::string_view BAD_ID = "`id` must be a number or a string";
inline constexpr std::string_view BAD_METHOD = "`method` must be a string";
inline constexpr std::string_view NOT_INITIALIZED = "the server is not initialized yet";
inline constexpr std::string_view SHUT_DOWN = "the server is shut down";
inline constexpr std::string_view ALREADY_INITIALIZED = "the server is already initialized";
inline constexpr std::string_view INITIALIZE_NEEDS_PARAMS = "`initialize` needs its parameters";
inline constexpr std::string_view NEEDS_URI = "`textDocument.uri` must be a string";
inline constexpr std::string_view NEEDS_POSITION = "`position` needs a `line` and a `character`, numbers of 0 or more";
inline constexpr std::string_view NEEDS_RANGE = "`range` needs a `start` and an `end`, each a `line` and a `character`";
inline constexpr std::string_view NEEDS_NEW_NAME = "`newName` must be a string";
inline constexpr std::string_view NOT_JSON = "the message is not JSON";
inline constexpr std::string_view OUT_OF_MEMORY = "out of memory";
inline constexpr std::string_view OPEN_NEEDS = "`textDocument` needs a `uri` and a `text`";
inline constexpr std::string_view CHANGE_NEEDS = "needs `textDocument.uri` and `contentChanges`";
inline constexpr std::string_view CHANGE_NEEDS_TEXT = "each change needs a `text`";
inline constexpr std::string_view CHANGE_RANGE_NEEDS = "a change's `range` needs a `start` and an `end`";
inline constexpr std::string_view CLOSE_NEEDS = "needs `textDocument.uri`";
inline std::string unknown_method(std::string_view method) { return "unknown method " + quoted(method); }
inline std::string not_open(std::string_view uri) { return quoted(uri) + " is not open"; }
inline std::string malformed_header(std::string_view description) {
  return "malformed header: " + std::string(description);
}

// ---------------------------------------------------------------------------
// Rename
// ---------------------------------------------------------------------------

// The text does not parse: a name on a line that does not read is not known.
inline std::string rename_needs_parse(std::size_t line) {
  return "the program does not parse (see line " + std::to_string(line) +
         "), so not every use of a name is known: mend that first";
}
inline std::string no_council_to_rename(std::string_view name) {
  return "no council " + quoted(name) + " is declared, so there is none to rename";
}
inline std::string called_but_undeclared(std::string_view name, std::size_t line) {
  return "cannot rename to " + quoted(name) + ": it is called on line " + std::to_string(line) +
         ", where no council of that name is declared, and this council would then answer that call";
}
// A use that its body does not declare: it means a caller's variable.
inline std::string means_callers_variable(std::string_view name, std::string_view function) {
  return quoted(name) + " is not declared in " + quoted(function) + ": here it means a variable of whoever calls " +
         quoted(function) + ", which cannot be renamed from here";
}
inline std::string declared_nowhere_above(std::string_view name) {
  return quoted(name) + " is not declared above this line in the main block: it names no variable here";
}
inline std::string reached_from_outside(std::string_view name, const std::vector<std::string_view>& functions) {
  const bool one = functions.size() == 1;
  return quoted(name) + " cannot be renamed: " + quoted_list(functions) + (one ? " uses " : " use ") + quoted(name) +
         " without declaring it, so, called from here, " + (one ? "it" : "they") +
         " may reach this variable, and would no longer after the rename";
}
inline std::string would_be_reached(std::string_view name, const std::vector<std::string_view>& functions) {
  const bool one = functions.size() == 1;
  return "cannot rename to " + quoted(name) + ": " + quoted_list(functions) + (one ? " uses " : " use ") +
         quoted(name) + " without declaring it, so, called from here, " + (one ? "it" : "they") +
         " would reach this variable instead of another";
}
inline std::string name_taken(std::string_view name, std::string_view where) {
  return "cannot rename to " + quoted(name) + ": " + quoted(name) + " already names a variable in " +
         std::string(where) + ", and some of its uses would then mean another variable";
}
inline std::string in_function(std::string_view function) { return quoted(function); }
inline constexpr std::string_view IN_MAIN_BLOCK = "the main block";

// ---------------------------------------------------------------------------
// Quick fixes
// ---------------------------------------------------------------------------

inline std::string change_to(std::string_view name) { return "Change to " + quoted(name); }
inline std::string declared_as(std::string_view function, std::string_view header) {
  return quoted(function) + " is declared as: " + std::string(header);
}

// ---------------------------------------------------------------------------
// Hover
// ---------------------------------------------------------------------------

inline std::string parameter_of(std::string_view function) { return "parameter of " + quoted(function); }
inline std::string variable_of(std::string_view where) { return "variable of " + std::string(where); }
inline std::string from_callers(std::string_view name, std::string_view function) {
  return quoted(name) + " is not declared in " + quoted(function) + ": it is the variable of that name of whoever calls " +
         quoted(function) + ".";
}
inline constexpr std::string_view CALLERS_DECLARE = "Declared by its callers:";
inline constexpr std::string_view NO_CALLER_DECLARES = "No caller declares it.";
inline std::string undeclared_in_main(std::string_view name) {
  return quoted(name) + " is not declared above this line in the main block.";
}

}  // namespace skern::lsp::text
