// The JSON-RPC conversation: the lifecycle, document synchronisation, the
// diagnostics sent for every version of a document, and requests handed to
// their functions. Nothing that a message holds ends the conversation: a
// message that cannot be read or used gets its error, and the next is read.
#include "lsp/server.h"

#include <optional>
#include <unordered_map>
#include <variant>

#include "lsp/handlers.h"
#include "lsp/texts.h"

namespace skern::lsp {

namespace {

// JSON-RPC's error codes, and the protocol's own.
constexpr int PARSE_ERROR = -32700;
constexpr int INVALID_REQUEST = -32600;
constexpr int METHOD_NOT_FOUND = -32601;
constexpr int INVALID_PARAMS = -32602;
constexpr int INTERNAL_ERROR = -32603;
constexpr int SERVER_NOT_INITIALIZED = -32002;
constexpr int REQUEST_FAILED = -32803;

constexpr int FULL_SYNC = 1;
constexpr int MESSAGE_ERROR = 1;

struct RpcError {
  int code;
  std::string message;
};
using Reply = std::variant<Json, RpcError, RawJson>;

std::string dump(const Json& message) { return message.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string error_response(const Json& id, const RpcError& error) {
  return dump({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", error.code}, {"message", error.message}}}});
}

std::string notification(std::string_view method, Json params) {
  return dump({{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
}

// ---------------------------------------------------------------------------
// Reading parameters without exceptions
// ---------------------------------------------------------------------------

const Json* member(const Json& object, const char* key) {
  if (!object.is_object()) {
    return nullptr;
  }
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

const std::string* string_member(const Json& object, const char* key) {
  const Json* value = member(object, key);
  return value != nullptr && value->is_string() ? value->get_ptr<const std::string*>() : nullptr;
}

std::optional<std::uint32_t> index_member(const Json& object, const char* key) {
  const Json* value = member(object, key);
  // The library keeps a number of 0 or more as unsigned.
  if (value == nullptr || !value->is_number_unsigned()) {
    return std::nullopt;
  }
  const auto number = value->get<std::uint64_t>();
  return number > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(number);
}

std::optional<Position> position_member(const Json& object, const char* key) {
  const Json* value = member(object, key);
  if (value == nullptr) {
    return std::nullopt;
  }
  const std::optional<std::uint32_t> line = index_member(*value, "line");
  const std::optional<std::uint32_t> character = index_member(*value, "character");
  if (!line || !character) {
    return std::nullopt;
  }
  return Position{*line, *character};
}

const std::string* document_uri(const Json& params) {
  const Json* document = member(params, "textDocument");
  return document == nullptr ? nullptr : string_member(*document, "uri");
}

bool flag(const Json& object, std::initializer_list<const char*> path) {
  const Json* value = &object;
  for (const char* key : path) {
    value = member(*value, key);
    if (value == nullptr) {
      return false;
    }
  }
  return value->is_boolean() && value->get<bool>();
}

}  // namespace

// ---------------------------------------------------------------------------
// The conversation
// ---------------------------------------------------------------------------

struct Server::State {
  bool initialized = false;
  bool shut_down = false;
  bool exited = false;
  Encoding encoding = Encoding::Utf16;
  bool snippets = false;
  std::unordered_map<std::string, std::unique_ptr<Document>> documents;
  std::vector<std::string> out;  // what the message being handled sends back

  void message(const Json& message);
  Reply request(const std::string& method, const Json& params);
  void notify(const std::string& method, const Json& params);

  Reply initialize(const Json& params);
  Reply document_request(const std::string& method, const Json& params);
  std::optional<std::string> open(const Json& params);
  std::optional<std::string> change(const Json& params);
  std::optional<std::string> close(const Json& params);
  void publish(const std::string& uri, const Document* document);
  void log(std::string_view text) {
    out.push_back(notification("window/logMessage", {{"type", MESSAGE_ERROR}, {"message", text}}));
  }
};

void Server::State::message(const Json& message) {
  if (!message.is_object()) {
    out.push_back(error_response(nullptr, {INVALID_REQUEST, std::string(text::NOT_AN_OBJECT)}));
    return;
  }
  const Json* id = member(message, "id");
  if (id != nullptr && !id->is_string() && !id->is_number_integer() && !id->is_null()) {
    out.push_back(error_response(nullptr, {INVALID_REQUEST, std::string(text::BAD_ID)}));
    return;
  }
  const Json* method = member(message, "method");
  if (method == nullptr && id != nullptr &&
      (member(message, "result") != nullptr || member(message, "error") != nullptr)) {
    return;  // a response to a request of ours; none is sent
  }
  if (method == nullptr || !method->is_string()) {
    out.push_back(
        error_response(id != nullptr ? *id : Json(nullptr), {INVALID_REQUEST, std::string(text::BAD_METHOD)}));
    return;
  }
  static const Json no_params = Json::object();
  const Json* params = member(message, "params");
  if (params == nullptr) {
    params = &no_params;
  }
  if (id == nullptr) {
    notify(method->get<std::string>(), *params);
    return;
  }
  Reply reply = request(method->get<std::string>(), *params);
  if (auto* error = std::get_if<RpcError>(&reply)) {
    out.push_back(error_response(*id, *error));
  } else if (auto* raw = std::get_if<RawJson>(&reply)) {
    out.push_back(R"({"jsonrpc":"2.0","id":)" + dump(*id) + R"(,"result":)" + raw->text + "}");
  } else {
    out.push_back(dump({{"jsonrpc", "2.0"}, {"id", *id}, {"result", std::move(std::get<Json>(reply))}}));
  }
}

Reply Server::State::request(const std::string& method, const Json& params) {
  if (method == "initialize") {
    return initialize(params);
  }
  if (!initialized) {
    return RpcError{SERVER_NOT_INITIALIZED, std::string(text::NOT_INITIALIZED)};
  }
  if (shut_down) {
    return RpcError{INVALID_REQUEST, std::string(text::SHUT_DOWN)};
  }
  if (method == "shutdown") {
    shut_down = true;
    return Json(nullptr);
  }
  if (method.starts_with("textDocument/")) {
    return document_request(method, params);
  }
  return RpcError{METHOD_NOT_FOUND, text::unknown_method(method)};
}

void Server::State::notify(const std::string& method, const Json& params) {
  if (method == "exit") {
    exited = true;
    return;
  }
  if (!initialized || shut_down) {
    return;  // notifications before `initialize` and after `shutdown` are dropped
  }
  std::optional<std::string> problem;
  if (method == "textDocument/didOpen") {
    problem = open(params);
  } else if (method == "textDocument/didChange") {
    problem = change(params);
  } else if (method == "textDocument/didClose") {
    problem = close(params);
  }
  // Anything else (initialized, $/cancelRequest, didSave, ...) needs nothing.
  if (problem) {
    log(method + ": " + *problem);
  }
}

Reply Server::State::initialize(const Json& params) {
  if (initialized) {
    return RpcError{INVALID_REQUEST, std::string(text::ALREADY_INITIALIZED)};
  }
  if (!params.is_object()) {
    return RpcError{INVALID_PARAMS, std::string(text::INITIALIZE_NEEDS_PARAMS)};
  }
  initialized = true;
  const Json* encodings = member(params, "capabilities");
  encodings = encodings == nullptr ? nullptr : member(*encodings, "general");
  encodings = encodings == nullptr ? nullptr : member(*encodings, "positionEncodings");
  if (encodings != nullptr && encodings->is_array()) {
    for (const Json& offered : *encodings) {
      if (offered.is_string() && offered.get_ref<const std::string&>() == "utf-8") {
        encoding = Encoding::Utf8;
      }
    }
  }
  snippets = flag(params, {"capabilities", "textDocument", "completion", "completionItem", "snippetSupport"});
  return Json{{"capabilities",
               {{"positionEncoding", encoding == Encoding::Utf8 ? "utf-8" : "utf-16"},
                {"textDocumentSync", {{"openClose", true}, {"change", FULL_SYNC}}},
                {"documentSymbolProvider", true},
                {"definitionProvider", true},
                {"referencesProvider", true},
                {"hoverProvider", true},
                {"completionProvider", {{"triggerCharacters", {" "}}}},
                {"signatureHelpProvider", {{"triggerCharacters", {" ", ","}}, {"retriggerCharacters", {","}}}},
                {"inlayHintProvider", true},
                {"renameProvider", {{"prepareProvider", true}}},
                {"documentHighlightProvider", true},
                {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
                {"semanticTokensProvider", {{"legend", semantic_tokens_legend()}, {"full", true}}},
                {"foldingRangeProvider", true},
                {"documentFormattingProvider", true},
                {"documentRangeFormattingProvider", true}}},
              {"serverInfo", {{"name", "skern-lsp"}, {"version", SKERN_VERSION}}}};
}

Reply Server::State::document_request(const std::string& method, const Json& params) {
  // What a request names besides its document: a position, a range, or nothing.
  enum class Needs : std::uint8_t { Document, Position, Range };
  struct Where {
    std::size_t offset = 0;
    Span range;
  };
  using Handler = Answer (*)(const Context&, const Where&, const Json&);
  struct Entry {
    Needs needs;
    Handler handler;
  };
  static const std::unordered_map<std::string_view, Entry> handlers = {
      {"textDocument/documentSymbol",
       {Needs::Document, [](const Context& c, const Where&, const Json&) -> Answer { return document_symbols(c); }}},
      {"textDocument/semanticTokens/full",
       {Needs::Document, [](const Context& c, const Where&, const Json&) -> Answer { return semantic_tokens(c); }}},
      {"textDocument/foldingRange",
       {Needs::Document, [](const Context& c, const Where&, const Json&) -> Answer { return folding_ranges(c); }}},
      {"textDocument/formatting",
       {Needs::Document, [](const Context& c, const Where&, const Json&) { return formatting(c); }}},
      {"textDocument/rangeFormatting",
       {Needs::Range, [](const Context& c, const Where& w, const Json&) { return range_formatting(c, w.range); }}},
      {"textDocument/definition",
       {Needs::Position,
        [](const Context& c, const Where& w, const Json&) -> Answer { return definition(c, w.offset); }}},
      {"textDocument/references",
       {Needs::Position,
        [](const Context& c, const Where& w, const Json& p) -> Answer {
          const Json* context = member(p, "context");
          return references(c, w.offset, context == nullptr || flag(*context, {"includeDeclaration"}));
        }}},
      {"textDocument/documentHighlight",
       {Needs::Position,
        [](const Context& c, const Where& w, const Json&) -> Answer { return document_highlights(c, w.offset); }}},
      {"textDocument/hover",
       {Needs::Position, [](const Context& c, const Where& w, const Json&) -> Answer { return hover(c, w.offset); }}},
      {"textDocument/completion",
       {Needs::Position,
        [](const Context& c, const Where& w, const Json& p) -> Answer {
          const Json* context = member(p, "context");
          const std::string* typed = context == nullptr ? nullptr : string_member(*context, "triggerCharacter");
          return completion(c, w.offset, typed != nullptr && *typed == " ");
        }}},
      {"textDocument/signatureHelp",
       {Needs::Position,
        [](const Context& c, const Where& w, const Json&) -> Answer { return signature_help(c, w.offset); }}},
      {"textDocument/prepareRename",
       {Needs::Position, [](const Context& c, const Where& w, const Json&) { return prepare_rename(c, w.offset); }}},
      {"textDocument/rename",
       {Needs::Position,
        [](const Context& c, const Where& w, const Json& p) {
          const std::string* name = string_member(p, "newName");
          return name == nullptr ? Answer(Refusal{std::string(text::NEEDS_NEW_NAME), true})
                                 : rename(c, w.offset, *name);
        }}},
      {"textDocument/inlayHint",
       {Needs::Range, [](const Context& c, const Where& w, const Json&) -> Answer { return inlay_hints(c, w.range); }}},
      {"textDocument/codeAction",
       {Needs::Range,
        [](const Context& c, const Where& w, const Json& p) -> Answer {
          const Json* context = member(p, "context");
          return code_actions(c, w.range, context == nullptr ? nullptr : member(*context, "only"));
        }}},
  };
  const auto entry = handlers.find(method);
  if (entry == handlers.end()) {
    return RpcError{METHOD_NOT_FOUND, text::unknown_method(method)};
  }
  const std::string* uri = document_uri(params);
  if (uri == nullptr) {
    return RpcError{INVALID_PARAMS, std::string(text::NEEDS_URI)};
  }
  const Needs needs = entry->second.needs;
  const std::optional<Position> position = position_member(params, "position");
  const Json* range = member(params, "range");
  const std::optional<Position> start = range == nullptr ? std::nullopt : position_member(*range, "start");
  const std::optional<Position> end = range == nullptr ? std::nullopt : position_member(*range, "end");
  if (needs == Needs::Position && !position) {
    return RpcError{INVALID_PARAMS, std::string(text::NEEDS_POSITION)};
  }
  if (needs == Needs::Range && (!start || !end)) {
    return RpcError{INVALID_PARAMS, std::string(text::NEEDS_RANGE)};
  }
  const auto found = documents.find(*uri);
  if (found == documents.end()) {
    return Json(nullptr);  // not open: nothing is known of it
  }
  const Document& document = *found->second;
  const Context context{document, *uri, encoding, snippets};
  Where where;
  if (position) {
    where.offset = document.index.offset(*position, encoding);
  }
  if (start && end) {
    where.range.start = document.index.offset(*start, encoding);
    where.range.end = std::max(where.range.start, document.index.offset(*end, encoding));
  }
  Answer answer = entry->second.handler(context, where, params);
  if (auto* refusal = std::get_if<Refusal>(&answer)) {
    return RpcError{refusal->bad_params ? INVALID_PARAMS : REQUEST_FAILED, std::move(refusal->message)};
  }
  if (auto* raw = std::get_if<RawJson>(&answer)) {
    return std::move(*raw);
  }
  return std::move(std::get<Json>(answer));
}

// ---------------------------------------------------------------------------
// Documents
// ---------------------------------------------------------------------------

std::optional<std::string> Server::State::open(const Json& params) {
  const Json* item = member(params, "textDocument");
  const std::string* uri = item == nullptr ? nullptr : string_member(*item, "uri");
  const std::string* text = item == nullptr ? nullptr : string_member(*item, "text");
  if (uri == nullptr || text == nullptr) {
    return std::string(text::OPEN_NEEDS);
  }
  const Json* version = member(*item, "version");
  auto& slot = documents[*uri];
  slot = std::make_unique<Document>(
      *text, version != nullptr && version->is_number_integer() ? version->get<std::int64_t>() : 0);
  publish(*uri, slot.get());
  return std::nullopt;
}

std::optional<std::string> Server::State::change(const Json& params) {
  const std::string* uri = document_uri(params);
  const Json* changes = member(params, "contentChanges");
  if (uri == nullptr || changes == nullptr || !changes->is_array()) {
    return std::string(text::CHANGE_NEEDS);
  }
  const auto found = documents.find(*uri);
  if (found == documents.end()) {
    return text::not_open(*uri);
  }
  std::string text = found->second->text;
  for (const Json& change : *changes) {
    const std::string* replacement = string_member(change, "text");
    if (replacement == nullptr) {
      return std::string(text::CHANGE_NEEDS_TEXT);
    }
    const Json* range = member(change, "range");
    if (range == nullptr) {
      text = *replacement;
      continue;
    }
    // A client that sends a range anyway: its edit applies to the text so far.
    const std::optional<Position> start = position_member(*range, "start");
    const std::optional<Position> end = position_member(*range, "end");
    if (!start || !end) {
      return std::string(text::CHANGE_RANGE_NEEDS);
    }
    const LineIndex index(text);
    const std::size_t from = index.offset(*start, encoding);
    const std::size_t to = std::max(from, index.offset(*end, encoding));
    text.replace(from, to - from, *replacement);
  }
  const Json* version = member(*member(params, "textDocument"), "version");
  found->second = std::make_unique<Document>(
      std::move(text), version != nullptr && version->is_number_integer() ? version->get<std::int64_t>() : 0);
  publish(*uri, found->second.get());
  return std::nullopt;
}

std::optional<std::string> Server::State::close(const Json& params) {
  const std::string* uri = document_uri(params);
  if (uri == nullptr) {
    return std::string(text::CLOSE_NEEDS);
  }
  if (documents.erase(*uri) != 0) {
    publish(*uri, nullptr);
  }
  return std::nullopt;
}

// The diagnostics of a document's version; none for a closed document.
void Server::State::publish(const std::string& uri, const Document* document) {
  Json diagnostics = Json::array();
  Json params = {{"uri", uri}};
  if (document != nullptr) {
    params["version"] = document->version;
    for (const Diagnostic& diagnostic : document->analysis.diagnostics) {
      diagnostics.push_back(diagnostic_json(*document, diagnostic, encoding));
    }
  }
  params["diagnostics"] = std::move(diagnostics);
  out.push_back(notification("textDocument/publishDiagnostics", std::move(params)));
}

// ---------------------------------------------------------------------------
// Server
// ---------------------------------------------------------------------------

Server::Server() : state_(std::make_unique<State>()) {}
Server::~Server() = default;

std::vector<std::string> Server::handle(std::string_view body) {
  state_->out.clear();
  // The JSON library reports misuse by exceptions; none may leave a message.
  try {
    const Json message = Json::parse(body, nullptr, false);
    if (message.is_discarded()) {
      state_->out.push_back(error_response(nullptr, {PARSE_ERROR, std::string(text::NOT_JSON)}));
    } else {
      state_->message(message);
    }
  } catch (const Json::exception& failure) {
    state_->out.push_back(error_response(nullptr, {INTERNAL_ERROR, failure.what()}));
  } catch (const std::bad_alloc&) {
    state_->out.clear();
    state_->out.push_back(error_response(nullptr, {INTERNAL_ERROR, std::string(text::OUT_OF_MEMORY)}));
  }
  return std::move(state_->out);
}

std::string Server::header_error(std::string_view description) {
  return error_response(nullptr, {PARSE_ERROR, text::malformed_header(description)});
}

bool Server::exited() const { return state_->exited; }
int Server::exit_status() const { return state_->shut_down ? 0 : 1; }

}  // namespace skern::lsp
