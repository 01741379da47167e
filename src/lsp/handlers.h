// Private to the server: an open document, and one function per kind of
// request that reads it.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <variant>

#include "lsp/analysis.h"

namespace skern::lsp {

using Json = nlohmann::json;

// An open document: its text and what is known of it. The index and the
// analysis hold views into the text, so a document never moves.
struct Document {
  Document(std::string content, std::int64_t version_number)
      : text(std::move(content)), version(version_number), index(text), analysis(analyse(text)) {}
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  Document(Document&&) = delete;
  Document& operator=(Document&&) = delete;
  ~Document() = default;

  std::string text;
  std::int64_t version;
  LineIndex index;
  Analysis analysis;
};

// What a request about a document is asked in.
struct Context {
  const Document& document;
  std::string_view uri;
  Encoding encoding;
  bool snippets;  // whether the client takes completion snippets
};

// A request declined, with the reason the editor shows; `bad_params` when
// the request itself is at fault rather than what it asks.
struct Refusal {
  std::string message;
  bool bad_params = false;
};
// A result written as JSON text already: for an answer too large to build
// as a tree of values first.
struct RawJson {
  std::string text;
};
using Answer = std::variant<Json, Refusal, RawJson>;

Json range_json(const Document& document, Span span, Encoding encoding);
// A diagnostic as it is published, and as quick fixes name it.
Json diagnostic_json(const Document& document, const Diagnostic& diagnostic, Encoding encoding);

// The function whose name stands at `offset`: in a call, or in its own
// header; `hit`, when given, is set to the name's span there.
const Function* function_at(const Analysis& analysis, std::size_t offset, Span* hit = nullptr);

// textDocument/documentSymbol: the functions with their parameters, and the
// main block.
Json document_symbols(const Context& context);
// textDocument/definition: where the function named at `offset` is declared,
// or the variable: its declaration in the same body, or, for a name the body
// does not declare, the callers' declarations that may provide it.
Json definition(const Context& context, std::size_t offset);
// textDocument/references: every call of the function named at `offset`, or
// every use of the variable there (see same_variable in names.h).
Json references(const Context& context, std::size_t offset, bool include_declaration);
// textDocument/documentHighlight: the same, marked as read or written.
Json document_highlights(const Context& context, std::size_t offset);
// textDocument/hover: a function's header, a variable's declaration, or what
// a keyword or type means.
Json hover(const Context& context, std::size_t offset);
// textDocument/completion: what may be written at `offset`; after a typed
// space only where something is sure to follow.
Json completion(const Context& context, std::size_t offset, bool typed_space);
// textDocument/signatureHelp: the header of the function whose arguments
// are being written at `offset`, and which argument that is.
Json signature_help(const Context& context, std::size_t offset);
// textDocument/inlayHint: the parameter's name before each argument of the
// calls in `range`.
Json inlay_hints(const Context& context, Span range);

// textDocument/prepareRename: the name at `offset`, if it can be renamed.
Answer prepare_rename(const Context& context, std::size_t offset);
// textDocument/rename: the edits that give the name at `offset` a new one.
Answer rename(const Context& context, std::size_t offset, std::string_view new_name);
// textDocument/codeAction: quick fixes for the warnings in `range`; `only`
// the kinds the client asks for (null for any).
Json code_actions(const Context& context, Span range, const Json* only);

// textDocument/formatting: the edits that give the document its canonical
// layout (none while it does not parse: its diagnostic says why).
Answer formatting(const Context& context);
// textDocument/rangeFormatting: the same for the statements of `range`, and
// the blocks whose indentation changes with them.
Answer range_formatting(const Context& context, Span range);

// The token types and modifiers that semantic tokens are given in.
Json semantic_tokens_legend();
// textDocument/semanticTokens/full: every keyword, name, literal, operator
// and comment of the document.
RawJson semantic_tokens(const Context& context);
// textDocument/foldingRange: functions, the main block and every block.
Json folding_ranges(const Context& context);

}  // namespace skern::lsp
