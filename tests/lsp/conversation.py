#!/usr/bin/env python3
"""Talks to the real skern-lsp over pipes, as an editor does.

Usage: conversation.py SKERN_LSP SKERN [unittest arguments, e.g. a class name]

Every diagnostic is checked at its line and character, in UTF-16 and in
UTF-8, and its message against what the skern command itself prints for the
same text: a parse error's report, and for a warning the runtime error that
the run ends with when it reaches that line.
"""

import json
import os
import queue
import subprocess
import sys
import tempfile
import threading
import unittest

LSP = None
SKERN = None
TIMEOUT = 30  # seconds for any one reply; a sanitizer build is slow


class Client:
    """One server process and the messages it sends, read on a thread."""

    def __init__(self, encodings=None, snippets=True, initialize=True):
        self.process = subprocess.Popen([LSP], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        self.messages = queue.Queue()
        self.next_id = 1
        threading.Thread(target=self._read, daemon=True).start()
        if initialize:
            capabilities = {"textDocument": {"completion": {"completionItem": {"snippetSupport": snippets}}}}
            if encodings is not None:
                capabilities["general"] = {"positionEncodings": encodings}
            self.initialize_result = self.request("initialize", {"processId": None, "capabilities": capabilities})
            self.notify("initialized", {})

    def _read(self):
        stream = self.process.stdout
        while True:
            length = None
            while True:
                line = stream.readline()
                if not line:
                    self.messages.put(None)
                    return
                if line == b"\r\n":
                    break
                name, _, value = line.decode("ascii").partition(":")
                if name.lower() == "content-length":
                    length = int(value.strip())
            self.messages.put(json.loads(stream.read(length).decode("utf-8")))

    def send_raw(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def send(self, message):
        body = json.dumps(message).encode("utf-8")
        self.send_raw(b"Content-Length: %d\r\n\r\n" % len(body) + body)

    def receive(self):
        message = self.messages.get(timeout=TIMEOUT)
        if message is None:
            raise AssertionError("skern-lsp closed its output")
        return message

    def notify(self, method, params):
        self.send({"jsonrpc": "2.0", "method": method, "params": params})

    def request_message(self, method, params=None):
        """The whole response to a request (result or error); notifications
        that come first are kept for later."""
        ident = self.next_id
        self.next_id += 1
        message = {"jsonrpc": "2.0", "id": ident, "method": method}
        if params is not None:
            message["params"] = params
        self.send(message)
        return self.response_to(ident)

    def response_to(self, ident):
        held = []
        try:
            while True:
                message = self.receive()
                if message.get("id") == ident and "method" not in message:
                    return message
                held.append(message)
        finally:
            for message in held:
                self.messages.put(message)

    def request(self, method, params=None):
        response = self.request_message(method, params)
        if "error" in response:
            raise AssertionError(f"{method} failed: {response['error']}")
        return response["result"]

    def notification(self, method):
        while True:
            message = self.receive()
            if message.get("method") == method:
                return message["params"]

    def open(self, uri, text, version=1):
        self.notify("textDocument/didOpen", {"textDocument": {"uri": uri, "languageId": "skerran",
                                                              "version": version, "text": text}})
        return self.notification("textDocument/publishDiagnostics")

    def close(self, expect_status=0):
        if self.process.poll() is None:
            self.request("shutdown")
            self.notify("exit", None)
        status = self.process.wait(timeout=TIMEOUT)
        self.process.stdin.close()
        self.process.stdout.close()
        self.process.stderr.close()
        return status


def skern_report(text):
    """What `skern` writes to standard error for the program, and its status."""
    with tempfile.NamedTemporaryFile("w", suffix=".skr", delete=False, encoding="utf-8") as file:
        file.write(text)
    try:
        run = subprocess.run([SKERN, file.name], stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT)
    finally:
        os.unlink(file.name)
    return run.stderr.decode("utf-8").rstrip("\n"), run.returncode


def span(diagnostic):
    start, end = diagnostic["range"]["start"], diagnostic["range"]["end"]
    return (start["line"], start["character"], end["line"], end["character"])


def at(line, character):
    return {"line": line, "character": character}


def doc(uri):
    return {"textDocument": {"uri": uri}}


class ConversationTest(unittest.TestCase):
    def setUp(self):
        self.client = Client()

    def tearDown(self):
        self.assertEqual(self.client.close(), 0)


class Diagnostics(ConversationTest):
    def assert_reports_like_skern(self, text, expected_span, severity=1, client=None):
        """The one diagnostic of the text: where it is, and that its message
        is what skern prints."""
        client = client or self.client
        diagnostics = client.open("file:///t/check.skr", text)["diagnostics"]
        self.assertEqual(len(diagnostics), 1, diagnostics)
        report, status = skern_report(text)
        self.assertEqual(status, 1)
        self.assertEqual(diagnostics[0]["message"], report)
        self.assertEqual(diagnostics[0]["severity"], severity)
        self.assertEqual(span(diagnostics[0]), expected_span)
        return diagnostics[0]

    def test_line_error_marks_its_line_after_comments_and_blank_lines(self):
        text = ("// The ravens.\n"
                "\n"
                "on the iron throne:\n"
                "    // a comment of its own\n"
                "\n"
                "    speak \"first\"\n"
                "    gold is a number with 5\n")
        diagnostic = self.assert_reports_like_skern(text, (6, 4, 6, 27))
        self.assertEqual(diagnostic["message"], "parse error on line 7: unknown data type `number`")

    def test_expression_error_marks_the_reported_character_in_utf16(self):
        # A tab, then a literal with a two-byte and a four-byte character
        # (one and two UTF-16 units) before the `=` of `>=`.
        text = "on the iron throne:\n\tspeak \"é🐉\" + (1 >= 2)\n"
        diagnostic = self.assert_reports_like_skern(text, (1, 19, 1, 20))
        self.assertIn("--> 1:12", diagnostic["message"])

    def test_expression_error_in_utf8_when_the_client_offers_it(self):
        client = Client(encodings=["utf-8", "utf-16"])
        try:
            self.assertEqual(client.initialize_result["capabilities"]["positionEncoding"], "utf-8")
            text = "on the iron throne:\n\tspeak \"é🐉\" + (1 >= 2)\n"
            self.assert_reports_like_skern(text, (1, 22, 1, 23), client=client)
        finally:
            self.assertEqual(client.close(), 0)

    def test_expression_error_of_a_loop_header_is_found_after_its_body(self):
        # The body is parsed before the header's count, yet the mark is in
        # the header, under the report's caret: the end of the text.
        text = ("on the iron throne:\n"
                "    n is a blade with 1\n"
                "    the realm marches n + times:\n"
                "        speak n\n")
        diagnostic = self.assert_reports_like_skern(text, (2, 25, 2, 25))
        self.assertIn("= expected unary_expr", diagnostic["message"])

    def test_expression_error_without_a_column_marks_the_whole_expression(self):
        text = "on the iron throne:\n    x is a blade with 5 with 1\n"
        diagnostic = self.assert_reports_like_skern(text, (1, 22, 1, 30))
        self.assertEqual(diagnostic["message"], "expression parse error: `with` can only call an identifier")

    def test_missing_main_block_is_on_the_first_line(self):
        self.assert_reports_like_skern("\n\n// nothing\n", (0, 0, 0, 0))

    def assert_warns_like_the_run(self, text, expected_span, message):
        """The one warning of the text, and that the run fails with it."""
        diagnostic = self.assert_reports_like_skern(text, expected_span, severity=2)
        self.assertEqual(diagnostic["message"], "runtime error: " + message)

    def test_call_of_an_undeclared_function(self):
        self.assert_warns_like_the_run(
            "on the iron throne:\n    speak \"Hail\"\n    speak 1 + (greet with \"Arya\")\n",
            (2, 15, 2, 20), "unknown council `greet`")

    def test_call_with_the_wrong_number_of_arguments(self):
        text = ("we declare add with a, b ->\ncouncil says:\n    return a + b\n\n"
                "on the iron throne:\n    speak add with 1, (add with 2)\n")
        self.assert_warns_like_the_run(text, (5, 23, 5, 26), "`add` expects 2 argument(s), received 1")

    def test_function_with_a_repeated_parameter(self):
        text = ("we declare pair with a, b, a ->\ncouncil says:\n    return a\n"
                "on the iron throne:\n    speak pair with 1, 2, 3\n")
        self.assert_warns_like_the_run(text, (0, 27, 0, 28), "`a` is already declared in this scope")

    def test_name_that_nothing_declares_read_or_assigned(self):
        self.assert_warns_like_the_run("on the iron throne:\n    speak 1\n    speak gold + 1\n",
                                       (2, 10, 2, 14), "unknown banner `gold`")
        self.assert_warns_like_the_run("on the iron throne:\n    gold = 5\n", (1, 4, 1, 8), "unknown banner `gold`")

    def test_input_into_a_name_without_a_typed_declaration(self):
        text = ("we declare ask with name ->\ncouncil says:\n    name speaks for input\n"
                "on the iron throne:\n    ask with \"x\"\n")
        self.assert_warns_like_the_run(text, (2, 4, 2, 8), "`name` must be declared with a concrete type before input")

    def test_dynamic_scoping_and_valid_calls_give_no_warning(self):
        # Every name here is found at run time: callers' variables read and
        # assigned by callees, a name declared only in a function that calls
        # the reader, recursion, a call through parentheses, a caller's
        # variable read into by input.
        text = ("we declare announce with ->\ncouncil says:\n    speak \"The king is \" + king\n"
                "we declare usurp with ->\ncouncil says:\n    king is a scroll with \"Stannis\"\n    announce with\n"
                "we declare crown with heir ->\ncouncil says:\n    king = heir\n    tally = tally + 1\n"
                "we declare fact with n ->\ncouncil says:\n    if n < 2:\n        return 1\n"
                "    return n * (fact with n - 1)\n"
                "we declare ask with ->\ncouncil says:\n    king speaks for input\n"
                "on the iron throne:\n    king is a scroll with \"Robert\"\n    tally is a blade with 0\n"
                "    announce with\n    usurp with\n    crown with \"Joffrey\"\n    announce with\n"
                "    speak (fact) with 5\n    ask with\n    speak king + \"!\"\n")
        diagnostics = self.client.open("file:///t/scoping.skr", text)["diagnostics"]
        self.assertEqual(diagnostics, [])
        self.assertEqual(skern_report(text), ("", 0))

    def test_warnings_stand_beside_a_parse_error(self):
        # The error of the broken line, and the warnings of the others; none
        # for what the broken header may declare, nor for its own names.
        text = ("we declare greet name ->\ncouncil says:\n    speak \"Hail, \" + name\n"
                "on the iron throne:\n    speak greet with \"Arya\"\n    speak gold + nobody\n"
                "    speak (add with 1)\n")
        diagnostics = self.client.open("file:///t/broken.skr", text)["diagnostics"]
        self.assertEqual([(span(d), d["severity"], d["message"]) for d in diagnostics], [
            ((0, 0, 0, 24), 1, "parse error on line 1: function declaration needs `with` before parameters"),
            ((5, 10, 5, 14), 2, "runtime error: unknown banner `gold`"),
            ((5, 17, 5, 23), 2, "runtime error: unknown banner `nobody`"),
            ((6, 11, 6, 14), 2, "runtime error: unknown council `add`")])
        self.assertEqual(skern_report(text)[0], diagnostics[0]["message"])

    def test_change_and_close_publish_again(self):
        uri = "file:///t/edit.skr"
        first = self.client.open(uri, "on the iron throne:\n    speak 1 +\n")
        self.assertEqual(first["version"], 1)
        self.assertEqual(len(first["diagnostics"]), 1)
        self.client.notify("textDocument/didChange", {"textDocument": {"uri": uri, "version": 2},
                                                      "contentChanges": [{"text": "on the iron throne:\n    speak 1\n"}]})
        second = self.client.notification("textDocument/publishDiagnostics")
        self.assertEqual((second["uri"], second["version"], second["diagnostics"]), (uri, 2, []))
        self.client.notify("textDocument/didChange", {"textDocument": {"uri": uri, "version": 3},
                                                      "contentChanges": [{"text": "on the iron throne:\n  speak x\n"}]})
        third = self.client.notification("textDocument/publishDiagnostics")
        self.assertEqual([(span(d), d["severity"]) for d in third["diagnostics"]], [((1, 8, 1, 9), 2)])
        self.client.notify("textDocument/didClose", doc(uri))
        closed = self.client.notification("textDocument/publishDiagnostics")
        self.assertEqual((closed["uri"], closed["diagnostics"]), (uri, []))


NAVIGATION_TEXT = (
    "// Heralds.\n"
    "we declare herald with message, times ->\n"
    "council says:\n"
    "    count is a blade with 0\n"
    "    the realm marches times times:\n"
    "        speak message\n"
    "\n"
    "on the iron throne:\n"
    "    gold is a blade with 12\n"
    "    herald with \"Hear ye\", gold\n"
    "    name is a scroll with \"\"\n"
    "    name speaks for input\n"
    "    herald with name, 2\n"
    "    late is a wine with 1.5\n")
URI = "file:///t/nav.skr"


class Navigation(ConversationTest):
    def setUp(self):
        super().setUp()
        self.assertEqual(self.client.open(URI, NAVIGATION_TEXT)["diagnostics"], [])

    def test_document_symbols(self):
        symbols = self.client.request("textDocument/documentSymbol", doc(URI))
        self.assertEqual([(s["name"], s["kind"]) for s in symbols], [("herald", 12), ("on the iron throne", 2)])
        herald = symbols[0]
        self.assertEqual(herald["selectionRange"], {"start": at(1, 11), "end": at(1, 17)})
        self.assertEqual(herald["range"], {"start": at(1, 0), "end": at(5, 21)})
        self.assertEqual([(p["name"], p["selectionRange"]["start"]) for p in herald["children"]],
                         [("message", at(1, 23)), ("times", at(1, 32))])
        self.assertEqual(symbols[1]["range"], {"start": at(7, 0), "end": at(13, 27)})

    def test_definition_and_references(self):
        declaration = {"uri": URI, "range": {"start": at(1, 11), "end": at(1, 17)}}
        self.assertEqual(self.client.request("textDocument/definition", {**doc(URI), "position": at(12, 7)}),
                         declaration)
        # A keyword names nothing to go to.
        self.assertIsNone(self.client.request("textDocument/definition", {**doc(URI), "position": at(8, 10)}))
        references = self.client.request("textDocument/references",
                                         {**doc(URI), "position": at(9, 4), "context": {"includeDeclaration": True}})
        self.assertEqual([r["range"]["start"] for r in references], [at(1, 11), at(9, 4), at(12, 4)])
        calls_only = self.client.request("textDocument/references",
                                         {**doc(URI), "position": at(1, 12), "context": {"includeDeclaration": False}})
        self.assertEqual([r["range"]["start"] for r in calls_only], [at(9, 4), at(12, 4)])

    def test_hover(self):
        call = self.client.request("textDocument/hover", {**doc(URI), "position": at(9, 6)})
        self.assertEqual(call["contents"]["value"], "```skerran\nwe declare herald with message, times ->\n```")
        self.assertEqual(call["range"], {"start": at(9, 4), "end": at(9, 10)})
        blade = self.client.request("textDocument/hover", {**doc(URI), "position": at(8, 18)})
        self.assertIn("whole number", blade["contents"]["value"])
        marches = self.client.request("textDocument/hover", {**doc(URI), "position": at(4, 10)})
        self.assertIn("the realm marches", marches["contents"]["value"])
        self.assertIn("times", marches["contents"]["value"])
        # `Hear ye` is inside quotes: nothing to explain there.
        self.assertIsNone(self.client.request("textDocument/hover", {**doc(URI), "position": at(9, 17)}))

    def labels(self, line, character):
        return {item["label"]: item for item in
                self.client.request("textDocument/completion", {**doc(URI), "position": at(line, character)})}

    def test_completion_of_types_after_is_a(self):
        self.client.notify("textDocument/didChange", {
            "textDocument": {"uri": URI, "version": 2},
            "contentChanges": [{"text": NAVIGATION_TEXT + "    dragons is a "}]})
        self.client.notification("textDocument/publishDiagnostics")
        self.assertEqual(sorted(self.labels(14, 17)), ["blade", "scroll", "sigil", "void", "vow", "wine"])
        typed_space = {"triggerKind": 2, "triggerCharacter": " "}
        after_space = self.client.request("textDocument/completion",
                                          {**doc(URI), "position": at(14, 17), "context": typed_space})
        self.assertEqual(sorted(item["label"] for item in after_space), ["blade", "scroll", "sigil", "void", "vow", "wine"])
        # A space typed into the indentation, or after `speak`, brings nothing.
        for line, character in ((13, 2), (5, 14)):
            self.assertEqual(self.client.request("textDocument/completion", {
                **doc(URI), "position": at(line, character), "context": typed_space}), [])
        # After ` with `, the calls and variables.
        with_space = self.client.request("textDocument/completion",
                                         {**doc(URI), "position": at(9, 16), "context": typed_space})
        self.assertIn("herald", [item["label"] for item in with_space])

    def test_completion_of_statements_functions_and_variables(self):
        # At the start of a new line of the main block, typed before `late`.
        items = self.labels(13, 4)
        for label in ("the realm marches … times:", "… is a … with …", "… speaks for input"):
            self.assertEqual(items[label]["insertTextFormat"], 2)
        # The body one step deeper than the cursor, in spaces, as the editor
        # gives it: not indented again.
        self.assertEqual(items["the realm marches … times:"]["insertText"], "the realm marches ${1:3} times:\n        $0")
        self.assertEqual(items["the realm marches … times:"]["insertTextMode"], 1)
        self.assertEqual(items["herald"]["insertText"], "herald with ${1:message}, ${2:times}")
        # Declared above in the same body; `late` is below, `count` in another body.
        self.assertIn("gold", items)
        self.assertIn("name", items)
        self.assertNotIn("late", items)
        self.assertNotIn("count", items)
        # Inside the function: its parameters and its own variables.
        inside = self.labels(5, 14)
        self.assertNotIn("… is a … with …", inside)  # not at the start of a statement
        self.assertTrue({"message", "times", "count"} <= set(inside))
        self.assertNotIn("gold", inside)

    def test_completion_without_snippet_support_inserts_plain_text(self):
        plain = Client(snippets=False)
        try:
            plain.open(URI, NAVIGATION_TEXT)
            items = {item["label"]: item for item in
                     plain.request("textDocument/completion", {**doc(URI), "position": at(13, 4)})}
            self.assertEqual(items["… is a … with …"]["insertText"], "name is a blade with value")
            self.assertEqual(items["herald"]["insertText"], "herald with message, times")
            self.assertTrue(all(item.get("insertTextFormat", 1) == 1 for item in items.values()))
        finally:
            self.assertEqual(plain.close(), 0)


class Robustness(ConversationTest):
    def assert_error(self, response, code):
        self.assertIn("error", response, response)
        self.assertEqual(response["error"]["code"], code)

    def assert_still_serving(self):
        self.assertEqual(self.client.request("textDocument/documentSymbol", doc("file:///t/none.skr")), None)

    def test_malformed_headers(self):
        for raw in (b"Content-Lenght: 2\r\n\r\n{}",         # no Content-Length
                    b"Content-Length: ten\r\n\r\n{}",       # not a number
                    b"Content-Length 2\r\n\r\n{}"):        # no colon
            self.client.send_raw(raw)
            response = self.client.receive()
            self.assert_error(response, -32700)
            self.assertIsNone(response["id"])
            self.assert_still_serving()

    def test_header_names_in_any_case_after_a_malformed_one(self):
        # Finding the next message after a bad one must read the field name
        # as the header itself is read: in any case.
        self.client.send_raw(b"content-length: 12x\r\n\r\n")
        self.assert_error(self.client.receive(), -32700)
        body = json.dumps({"jsonrpc": "2.0", "id": 99, "method": "workspace/symbol", "params": {"query": ""}}).encode()
        self.client.send_raw(b"content-length: %d\r\n\r\n" % len(body) + body)
        response = self.client.receive()
        self.assertEqual(response["id"], 99)
        self.assert_error(response, -32601)
        self.assert_still_serving()

    def test_request_after_junk_in_the_same_write_is_answered(self):
        # Junk just before a request, in the same write: one parse error for
        # the junk, then the request's own answer.
        body = json.dumps({"jsonrpc": "2.0", "id": 41, "method": "workspace/symbol", "params": {"query": ""}}).encode()
        framed = b"Content-Length: %d\r\n\r\n" % len(body) + body
        for junk in (b"\r\n", b"garbage", b"garbage\r\n", b"\r\ngarbage\r\n\r\n"):
            with self.subTest(junk=junk):
                self.client.send_raw(junk + framed)
                error = self.client.receive()
                self.assert_error(error, -32700)
                self.assertIsNone(error["id"])
                response = self.client.receive()
                self.assertEqual(response["id"], 41, response)
                self.assert_error(response, -32601)
                self.assert_still_serving()

    def test_request_after_a_header_that_never_ends(self):
        # Longer than any header: given up on after its first 8192 bytes
        # however the pipe splits it, and the request after it answered.
        body = json.dumps({"jsonrpc": "2.0", "id": 42, "method": "workspace/symbol", "params": {"query": ""}}).encode()
        self.client.send_raw(b"X-Padding: " + b"a" * 20000 + b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.assert_error(self.client.receive(), -32700)
        response = self.client.receive()
        self.assertEqual(response["id"], 42, response)
        self.assert_still_serving()

    def test_body_that_is_not_json(self):
        self.client.send_raw(b"Content-Length: 9\r\n\r\n{\"id\": 1,")
        self.assert_error(self.client.receive(), -32700)
        self.client.send_raw(b"Content-Length: 2\r\n\r\n[]")
        self.assert_error(self.client.receive(), -32600)
        self.assert_still_serving()

    def test_bad_parameters(self):
        self.client.open(URI, NAVIGATION_TEXT)
        self.assert_error(self.client.request_message("textDocument/hover", doc(URI)), -32602)
        self.assert_error(self.client.request_message("textDocument/definition", {"position": at(0, 0)}), -32602)
        self.assert_error(self.client.request_message("textDocument/completion",
                                                      {**doc(URI), "position": {"line": -1, "character": "x"}}), -32602)
        self.assert_error(self.client.request_message("textDocument/rename", {**doc(URI), "position": at(9, 5)}),
                          -32602)
        self.assert_error(self.client.request_message("textDocument/codeAction", {**doc(URI), "context": {}}), -32602)
        self.assert_error(self.client.request_message("textDocument/inlayHint", {
            **doc(URI), "range": {"start": at(0, 0)}}), -32602)
        # A notification cannot be answered: its problem is logged instead.
        self.client.notify("textDocument/didOpen", {"textDocument": {"uri": 7}})
        self.assertEqual(self.client.notification("window/logMessage")["type"], 1)
        self.assert_still_serving()

    def test_unknown_methods(self):
        self.assert_error(self.client.request_message("workspace/symbol", {"query": ""}), -32601)
        self.client.notify("$/unknownNotification", {})
        self.assert_still_serving()

    def test_request_before_initialize(self):
        early = Client(initialize=False)
        try:
            self.assert_error(early.request_message("textDocument/documentSymbol", doc(URI)), -32002)
            early.request("initialize", {"capabilities": {}})
        finally:
            self.assertEqual(early.close(), 0)


class Lifecycle(unittest.TestCase):
    def test_shutdown_then_exit_ends_with_status_0(self):
        client = Client()
        self.assertIsNone(client.request("shutdown"))
        self.assertEqual(client.request_message("textDocument/hover", {})["error"]["code"], -32600)
        client.notify("exit", None)
        self.assertEqual(client.process.wait(timeout=TIMEOUT), 0)
        client.close()

    def test_exit_without_shutdown_ends_with_status_1(self):
        client = Client()
        client.notify("exit", None)
        self.assertEqual(client.process.wait(timeout=TIMEOUT), 1)
        client.close()

    def test_capabilities(self):
        client = Client(encodings=["utf-16"])
        try:
            capabilities = client.initialize_result["capabilities"]
            self.assertEqual(capabilities["positionEncoding"], "utf-16")
            self.assertEqual(capabilities["textDocumentSync"]["change"], 1)
            for provider in ("documentSymbolProvider", "definitionProvider", "referencesProvider", "hoverProvider",
                             "inlayHintProvider", "documentHighlightProvider", "foldingRangeProvider"):
                self.assertTrue(capabilities[provider], provider)
            self.assertIn("completionProvider", capabilities)
            self.assertEqual(capabilities["renameProvider"], {"prepareProvider": True})
            self.assertEqual(capabilities["signatureHelpProvider"]["triggerCharacters"], [" ", ","])
            self.assertEqual(capabilities["codeActionProvider"], {"codeActionKinds": ["quickfix"]})
            self.assertEqual(capabilities["semanticTokensProvider"], {
                "legend": {"tokenTypes": ["keyword", "function", "parameter", "variable", "string", "number",
                                          "operator", "comment", "type"],
                           "tokenModifiers": ["declaration"]},
                "full": True})
            self.assertTrue(capabilities["documentFormattingProvider"])
            self.assertTrue(capabilities["documentRangeFormattingProvider"])
        finally:
            self.assertEqual(client.close(), 0)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    LSP, SKERN = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[3:])
