// The language server's message handling, fed two ways by the first byte:
//
//  - even: the rest is the byte stream from a client, cut into chunks of
//    sizes the input chooses, framed, read and handled by a server that has
//    been initialized (so every method is reachable);
//  - odd: the rest is a document, up to a NUL byte, and after it requests
//    about it: each three bytes a method, a line and a character.
//
// Checked besides "no crash":
//  - every reply is a JSON object; every response answers with a result or
//    an error, and never both;
//  - the stream's messages and framing problems are the same, in the same
//    order, whether it is read in those chunks or all at once;
//  - the analysis of any bytes (invalid UTF-8 included) gives spans and
//    names inside the text, in the order of the text.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz_common.h"
#include "lsp/analysis.h"
#include "lsp/server.h"
#include "protocol/framing.h"

namespace skern::fuzz {
namespace {

using Json = nlohmann::json;

void check_replies(const std::vector<std::string>& replies) {
  for (const std::string& reply : replies) {
    const Json message = Json::parse(reply, nullptr, false);
    check(message.is_object(), "a reply is not a JSON object", reply);
    if (message.contains("id")) {
      check(message.contains("result") != message.contains("error"), "a response without one result or error",
            reply);
    }
  }
}

std::vector<std::string> send(lsp::Server& server, const Json& message) {
  std::vector<std::string> replies = server.handle(message.dump(-1, ' ', false, Json::error_handler_t::replace));
  check_replies(replies);
  return replies;
}

void initialize(lsp::Server& server, bool utf8) {
  Json capabilities = {{"textDocument", {{"completion", {{"completionItem", {{"snippetSupport", true}}}}}}}};
  if (utf8) {
    capabilities["general"] = {{"positionEncodings", {"utf-8"}}};
  }
  send(server, {{"jsonrpc", "2.0"}, {"id", 0}, {"method", "initialize"}, {"params", {{"capabilities", capabilities}}}});
}

// What a reader makes of the bytes: messages and problems, in order.
std::vector<protocol::Framed> framed_from(protocol::MessageReader& reader) {
  std::vector<protocol::Framed> all;
  while (std::optional<protocol::Framed> framed = reader.next()) {
    all.push_back(std::move(*framed));
  }
  return all;
}

bool same(const std::vector<protocol::Framed>& a, const std::vector<protocol::Framed>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const protocol::Framed& x, const protocol::Framed& y) {
    return x.body == y.body && x.problem == y.problem;
  });
}

void stream(std::string_view bytes) {
  lsp::Server server;
  initialize(server, !bytes.empty() && (bytes.front() & 2) != 0);
  protocol::MessageReader reader;
  std::vector<protocol::Framed> chunked;
  std::size_t at = 0;
  while (at < bytes.size()) {
    // A chunk of 1 to 64 bytes, its size taken from the byte before it.
    const std::size_t size = std::min<std::size_t>(1 + (static_cast<unsigned char>(bytes[at]) & 63U), bytes.size() - at);
    reader.feed(bytes.substr(at, size));
    at += size;
    for (protocol::Framed& framed : framed_from(reader)) {
      if (!server.exited()) {
        if (framed.problem) {
          check_replies({lsp::Server::header_error(*framed.problem)});
        } else {
          check_replies(server.handle(framed.body));
        }
      }
      chunked.push_back(std::move(framed));
    }
  }
  // The messages and problems depend on the bytes alone, not on the chunks.
  protocol::MessageReader whole;
  whole.feed(bytes);
  check(same(framed_from(whole), chunked), "the framing depends on how the bytes were split", bytes);
}

void check_analysis(std::string_view text) {
  const lsp::Analysis analysis = lsp::analyse(text);
  const auto inside = [&](lsp::Span span) { return span.start <= span.end && span.end <= text.size(); };
  for (const lsp::Diagnostic& diagnostic : analysis.diagnostics) {
    check(inside(diagnostic.span), "a diagnostic outside the text", diagnostic.message);
    check(!diagnostic.message.empty(), "a diagnostic without a message");
  }
  std::size_t previous = 0;
  for (const lsp::Occurrence& occurrence : analysis.occurrences) {
    const lsp::Span span = occurrence.name.span();
    check(inside(span) && text.substr(span.start, span.end - span.start) == occurrence.name.text,
          "an occurrence is not where its name stands", occurrence.name.text);
    check(span.start >= previous, "occurrences out of order", occurrence.name.text);
    previous = span.end;
    // A variable means a declaration or parameter of its name, before it, in
    // its body, in its own block or one around it.
    if (occurrence.binding != lsp::NO_INDEX) {
      check(occurrence.binding < analysis.occurrences.size(), "a binding outside the occurrences");
      const lsp::Occurrence& declaration = analysis.occurrences[occurrence.binding];
      check((declaration.use == lsp::Use::Declare || declaration.use == lsp::Use::Parameter) &&
                declaration.name.text == occurrence.name.text && declaration.owner == occurrence.owner &&
                declaration.name.offset <= span.start && analysis.encloses(declaration.scope, occurrence.scope),
            "a binding to no declaration of its name around it", occurrence.name.text);
    }
    check(occurrence.scope < analysis.scopes.size(), "an occurrence outside every block", occurrence.name.text);
    if (occurrence.use == lsp::Use::Call) {
      check(occurrence.first_argument + occurrence.arguments <= analysis.argument_starts.size(),
            "a call's arguments outside the list", occurrence.name.text);
    }
  }
  for (const std::size_t start : analysis.argument_starts) {
    check(start <= text.size(), "an argument outside the text");
  }
  previous = 0;
  for (const lsp::Function& function : analysis.functions) {
    check(inside(function.span) && function.span.start >= previous, "functions out of order or outside the text",
          function.name.text);
    check(function.span.contains(function.name.offset), "a function's name outside its span", function.name.text);
    previous = function.span.end;
  }
}

void document(std::string_view bytes) {
  const std::size_t end = std::min(bytes.find('\0'), bytes.size());
  const std::string_view text = bytes.substr(0, end);
  check_analysis(text);

  lsp::Server server;
  const std::string_view requests = end < bytes.size() ? bytes.substr(end + 1) : std::string_view();
  initialize(server, !requests.empty() && (requests.front() & 1) != 0);
  const std::string uri = "file:///fuzz.skr";
  // Invalid UTF-8 is not JSON: the client's text has it replaced.
  send(server, {{"jsonrpc", "2.0"},
                {"method", "textDocument/didOpen"},
                {"params", {{"textDocument", {{"uri", uri}, {"version", 1}, {"text", std::string(text)}}}}}});
  static constexpr std::array<const char*, 13> methods = {
      "textDocument/hover",         "textDocument/definition",        "textDocument/references",
      "textDocument/completion",    "textDocument/documentSymbol",    "textDocument/prepareRename",
      "textDocument/rename",        "textDocument/signatureHelp",     "textDocument/inlayHint",
      "textDocument/codeAction",    "textDocument/semanticTokens/full", "textDocument/foldingRange",
      "textDocument/documentHighlight"};
  // New names for renames: good ones, a reserved word, one that is no name.
  static constexpr std::array<const char*, 4> names = {"a", "renamed", "while", "2x"};
  for (std::size_t i = 0; i + 3 <= requests.size(); i += 3) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(requests[i + k]); };
    const Json position = {{"line", byte(1) & 31U}, {"character", byte(2)}};
    Json params = {{"textDocument", {{"uri", uri}}},
                   {"position", position},
                   {"range", {{"start", position}, {"end", {{"line", (byte(1) & 31U) + (byte(0) >> 6U)}, {"character", 0}}}}},
                   {"newName", names[(byte(0) >> 4U) & 3U]},
                   {"context", {{"includeDeclaration", (byte(0) & 8U) != 0}, {"diagnostics", Json::array()}}}};
    send(server, {{"jsonrpc", "2.0"}, {"id", i + 1}, {"method", methods[byte(0) % methods.size()]}, {"params", params}});
  }
  send(server, {{"jsonrpc", "2.0"}, {"id", "last"}, {"method", "shutdown"}});
}

void fuzz_one(std::string_view input) {
  if (input.empty()) {
    return;
  }
  if ((static_cast<unsigned char>(input.front()) & 1U) == 0) {
    stream(input.substr(1));
  } else {
    document(input.substr(1));
  }
}

}  // namespace
}  // namespace skern::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  auto body = [input] { skern::fuzz::fuzz_one(input); };
  skern::fuzz::LargeStack::run(body);
  return 0;
}
