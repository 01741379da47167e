// Private to the server: an open document, and one function per kind of
// request that reads it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

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

Json range_json(const Document& document, Span span, Encoding encoding);

// The function whose name stands at `offset`: in a call, or in its own
// header; `hit`, when given, is set to the name's span there.
const Function* function_at(const Analysis& analysis, std::size_t offset, Span* hit = nullptr);

// textDocument/documentSymbol: the functions with their parameters, and the
// main block.
Json document_symbols(const Context& context);
// textDocument/definition: where the function named at `offset` is declared.
Json definition(const Context& context, std::size_t offset);
// textDocument/references: every call of the function named at `offset`.
Json references(const Context& context, std::size_t offset, bool include_declaration);
// textDocument/hover: a function's header, or what a keyword or type means.
Json hover(const Context& context, std::size_t offset);
// textDocument/completion: what may be written at `offset`; after a typed
// space only where something is sure to follow.
Json completion(const Context& context, std::size_t offset, bool typed_space);

}  // namespace skern::lsp
