#!/usr/bin/env python3
"""Talks to the real skern-lsp over pipes about what it offers beyond
diagnostics and navigation: renames and quick fixes (Editing), help while
writing calls and statements (Help), colouring, folding and highlights
(Colouring). Each answer is checked in full for a small document.

Usage: requests.py SKERN_LSP SKERN [unittest arguments, e.g. a class name]
"""

import sys
import unittest

import conversation
from conversation import Client, at, doc, skern_report

URI = "file:///t/requests.skr"


def rng(line, start, end):
    """A range on one line."""
    return {"start": at(line, start), "end": at(line, end)}


def lines(first, last):
    """The range from the start of one line to the start of another."""
    return {"start": at(first, 0), "end": at(last, 0)}


def apply_edits(text, edits):
    """The text after a list of TextEdits (ASCII text: characters are bytes)."""
    lines = text.split("\n")
    offsets = [0]
    for line in lines:
        offsets.append(offsets[-1] + len(line) + 1)

    def offset(position):
        return offsets[position["line"]] + position["character"]

    for edit in sorted(edits, key=lambda e: offset(e["range"]["start"]), reverse=True):
        start, end = offset(edit["range"]["start"]), offset(edit["range"]["end"])
        text = text[:start] + edit["newText"] + text[end:]
    return text


class RequestTest(unittest.TestCase):
    TEXT = ""

    def setUp(self):
        self.client = Client()
        self.open(self.TEXT)

    def tearDown(self):
        self.assertEqual(self.client.close(), 0)

    def open(self, text, uri=URI):
        return self.client.open(uri, text)["diagnostics"]

    def ask(self, method, **params):
        return self.client.request(method, {**doc(URI), **params})

    def refusal(self, method, **params):
        response = self.client.request_message(method, {**doc(URI), **params})
        self.assertIn("error", response, response)
        self.assertEqual(response["error"]["code"], -32803)
        return response["error"]["message"]


# A function that reads its caller's `king`, one with shadowing in a nested
# block, and a main block that calls both.
KINGDOM = (
    "we declare announce with ->\n"              # 0
    "council says:\n"                            # 1
    "    speak \"The king is \" + king\n"        # 2
    "we declare add with a, b ->\n"              # 3
    "council says:\n"                            # 4
    "    total is a blade with a + b\n"          # 5
    "    if total > 10:\n"                       # 6
    "        total is a blade with 10\n"         # 7
    "        speak total\n"                      # 8
    "    return total\n"                         # 9
    "on the iron throne:\n"                      # 10
    "    king is a scroll with \"Robert\"\n"     # 11
    "    count is a blade with 1\n"              # 12
    "    announce with\n"                        # 13
    "    speak add with count, 20\n"             # 14
    "    count = count + 1\n"                    # 15
    "    speak count\n")                         # 16


class Editing(RequestTest):
    TEXT = KINGDOM

    def rename(self, position, name):
        edit = self.ask("textDocument/rename", position=position, newName=name)
        self.assertEqual(list(edit["changes"]), [URI])
        return edit["changes"][URI]

    def assert_renamed(self, position, name, ranges):
        """The rename's edits, and that the program does what it did."""
        edits = self.rename(position, name)
        self.assertEqual([e["range"] for e in edits], ranges)
        self.assertTrue(all(e["newText"] == name for e in edits))
        renamed = apply_edits(KINGDOM, edits)
        self.assertEqual(skern_report(renamed), skern_report(KINGDOM))
        self.assertEqual(self.open(renamed, "file:///t/renamed.skr"), [])
        return renamed

    def test_a_council_is_renamed_in_its_header_and_every_call(self):
        self.assertEqual(self.ask("textDocument/prepareRename", position=at(3, 12)),
                         {"range": rng(3, 11, 14), "placeholder": "add"})
        self.assert_renamed(at(14, 11), "plus", [rng(3, 11, 14), rng(14, 10, 13)])

    def test_a_variable_is_renamed_where_its_declaration_is_meant(self):
        # The outer `total`: not the one declared in the `if` block, nor its use there.
        renamed = self.assert_renamed(at(9, 12), "sum", [rng(5, 4, 9), rng(6, 7, 12), rng(9, 11, 16)])
        self.assertIn("        total is a blade with 10\n        speak total\n    return sum\n", renamed)
        self.assert_renamed(at(8, 15), "capped", [rng(7, 8, 13), rng(8, 14, 19)])
        # A parameter, in its header and its body.
        self.assert_renamed(at(5, 26), "first", [rng(3, 20, 21), rng(5, 26, 27)])
        # The main block's variable: its declaration, the argument, the
        # assignment's target and value.
        self.assert_renamed(at(15, 13), "n", [rng(12, 4, 9), rng(14, 19, 24), rng(15, 4, 9), rng(15, 12, 17),
                                               rng(16, 10, 15)])
        # The same name again changes nothing.
        self.assertEqual(self.rename(at(12, 5), "count"), [])

    def test_a_variable_that_a_council_reaches_from_outside_is_refused(self):
        self.assertEqual(self.refusal("textDocument/prepareRename", position=at(11, 5)),
                         "`king` cannot be renamed: `announce` uses `king` without declaring it, so, called from "
                         "here, it may reach this variable, and would no longer after the rename")
        self.assertEqual(self.refusal("textDocument/prepareRename", position=at(2, 28)),
                         "`king` is not declared in `announce`: here it means a variable of whoever calls "
                         "`announce`, which cannot be renamed from here")
        # Nor may a variable take the name a council reaches for.
        self.assertEqual(self.refusal("textDocument/rename", position=at(12, 5), newName="king"),
                         "cannot rename to `king`: `announce` uses `king` without declaring it, so, called from "
                         "here, it would reach this variable instead of another")

    def test_new_names_that_are_not_names_or_are_taken_are_refused(self):
        for position, name, message in (
                (at(3, 12), "2x", "invalid function name `2x`"),
                (at(3, 12), "announce", "council `announce` is already declared"),
                (at(5, 5), "while", "invalid declaration name `while`"),
                (at(3, 20), "with", "invalid parameter `with`"),
                (at(3, 20), "b", "cannot rename to `b`: `b` already names a variable in `add`, and some of its "
                                 "uses would then mean another variable"),
                # Declared again in the block of the parameter: the run would fail there.
                (at(5, 5), "a", "cannot rename to `a`: `a` already names a variable in `add`, and some of its "
                                "uses would then mean another variable")):
            with self.subTest(name=name):
                self.assertEqual(self.refusal("textDocument/rename", position=position, newName=name), message)
        # Nothing to rename on a keyword.
        self.assertIsNone(self.ask("textDocument/prepareRename", position=at(2, 6)))

    def test_a_new_name_that_would_shadow_or_be_called_is_refused(self):
        self.open("we declare add with a ->\ncouncil says:\n    return a\n"
                  "on the iron throne:\n    x is a blade with 1\n    if aye:\n        y is a blade with 2\n"
                  "        speak x + y\n    speak x\n    speak plus with 1\n    speak z\n    z is a blade with 3\n")
        self.assertEqual(self.refusal("textDocument/rename", position=at(4, 4), newName="y"),
                         "cannot rename to `y`: `y` already names a variable in the main block, and some of its "
                         "uses would then mean another variable")
        self.assertEqual(self.refusal("textDocument/rename", position=at(0, 11), newName="plus"),
                         "cannot rename to `plus`: it is called on line 10, where no council of that name is "
                         "declared, and this council would then answer that call")
        self.assertEqual(self.refusal("textDocument/prepareRename", position=at(9, 11)),
                         "no council `plus` is declared, so there is none to rename")
        self.assertEqual(self.refusal("textDocument/prepareRename", position=at(10, 10)),
                         "`z` is not declared above this line in the main block: it names no variable here")
        # The later `z` is renamed alone: the earlier use never meant it.
        self.assertEqual([e["range"] for e in self.rename(at(11, 4), "w")], [rng(11, 4, 5)])

    def test_nothing_is_renamed_while_the_program_does_not_parse(self):
        self.open(KINGDOM + "    speak 1 +\n")
        self.assertEqual(self.refusal("textDocument/prepareRename", position=at(12, 5)),
                         "the program does not parse (see line 18), so not every use of a name is known: "
                         "mend that first")

    def test_quick_fixes_for_warnings(self):
        text = ("we declare greet with name ->\ncouncil says:\n    speak \"Hail, \" + name\n"
                "we declare great with ->\ncouncil says:\n    speak \"great\"\n"
                "on the iron throne:\n    gold is a blade with 1\n"
                "    gret with \"Arya\"\n"          # 8: two names as near
                "    greet with \"Arya\", 2\n"      # 9: one argument too many
                "    speak gld\n"                   # 10: one name nearest
                "    speak fooo with 1\n")          # 11: nothing near
        self.assertEqual(len(self.open(text)), 4)

        def actions(line, only=None):
            context = {"diagnostics": []}
            if only is not None:
                context["only"] = only
            return self.ask("textDocument/codeAction", range=rng(line, 0, 80), context=context)

        def fix(title, diagnostic_range, message, name, preferred=False):
            action = {"title": title, "kind": "quickfix",
                      "diagnostics": [{"range": diagnostic_range, "severity": 2, "source": "skern",
                                       "message": message}],
                      "edit": {"changes": {URI: [{"range": diagnostic_range, "newText": name}]}}}
            if preferred:
                action["isPreferred"] = True
            return action

        unknown = "runtime error: unknown council `gret`"
        self.assertEqual(actions(8), [fix("Change to `great`", rng(8, 4, 8), unknown, "great"),
                                      fix("Change to `greet`", rng(8, 4, 8), unknown, "greet")])
        self.assertEqual(actions(9), [{
            "title": "`greet` is declared as: we declare greet with name ->", "kind": "quickfix",
            "diagnostics": [{"range": rng(9, 4, 9), "severity": 2, "source": "skern",
                             "message": "runtime error: `greet` expects 1 argument(s), received 2"}]}])
        self.assertEqual(actions(10), [fix("Change to `gold`", rng(10, 10, 13), "runtime error: unknown banner `gld`",
                                           "gold", preferred=True)])
        self.assertEqual(actions(11), [])
        self.assertEqual(actions(8, only=["refactor"]), [])
        self.assertEqual(len(actions(8, only=["quickfix"])), 2)
        # The fix does what it says: the run no longer fails there.
        mended = apply_edits(text, actions(10)[0]["edit"]["changes"][URI])
        self.assertIn("    speak gold\n", mended)


class Help(RequestTest):
    TEXT = KINGDOM

    def test_hover_and_definition_of_variables(self):
        hover = self.ask("textDocument/hover", position=at(8, 16))
        self.assertEqual(hover, {"contents": {"kind": "markdown",
                                              "value": "```skerran\ntotal is a blade with 10\n```\n\nvariable of `add`"},
                                 "range": rng(8, 14, 19)})
        self.assertEqual(self.ask("textDocument/hover", position=at(5, 26))["contents"]["value"],
                         "```skerran\nwe declare add with a, b ->\n```\n\nparameter of `add`")
        self.assertEqual(self.ask("textDocument/hover", position=at(2, 28))["contents"]["value"],
                         "`king` is not declared in `announce`: it is the variable of that name of whoever calls "
                         "`announce`.\n\nDeclared by its callers:\n```skerran\nking is a scroll with \"Robert\"\n```")
        self.assertEqual(self.ask("textDocument/definition", position=at(8, 16)),
                         {"uri": URI, "range": rng(7, 8, 13)})
        self.assertEqual(self.ask("textDocument/definition", position=at(9, 12)),
                         {"uri": URI, "range": rng(5, 4, 9)})
        self.assertEqual(self.ask("textDocument/definition", position=at(2, 28)), [{"uri": URI, "range": rng(11, 4, 8)}])
        # A variable's references: its declaration and every use that means it.
        self.assertEqual([r["range"] for r in self.ask("textDocument/references", position=at(12, 5),
                                                       context={"includeDeclaration": False})],
                         [rng(14, 19, 24), rng(15, 4, 9), rng(15, 12, 17), rng(16, 10, 15)])

    def test_callers_of_callers_provide_a_name(self):
        # `shout` does not declare `word`, nor does `relay`, which calls it:
        # the names come from relay's callers, one of them through a parameter.
        self.open("we declare shout with ->\ncouncil says:\n    speak word\n"
                  "we declare relay with ->\ncouncil says:\n    shout with\n"
                  "we declare speaker with word ->\ncouncil says:\n    relay with\n"
                  "on the iron throne:\n    word is a scroll with \"hear\"\n    relay with\n    speaker with \"ye\"\n")
        self.assertEqual(self.ask("textDocument/definition", position=at(2, 11)),
                         [{"uri": URI, "range": rng(6, 24, 28)}, {"uri": URI, "range": rng(10, 4, 8)}])

    def signature(self, line_text):
        self.open(KINGDOM + line_text)
        return self.ask("textDocument/signatureHelp", position=at(17, len(line_text)))

    def test_signature_help_while_writing_arguments(self):
        header = {"label": "we declare add with a, b ->", "parameters": [{"label": [20, 21]}, {"label": [23, 24]}]}
        for line_text, active in (("    speak add with ", 0),
                                  ("    speak add with 1, ", 1),
                                  ("    speak add with (1 + 2", 0),
                                  ("    speak add with \"a, b\", (announce with) + ", 1),
                                  ("    speak add with add with 1, ", 1)):
            with self.subTest(line=line_text):
                self.assertEqual(self.signature(line_text),
                                 {"signatures": [header], "activeSignature": 0, "activeParameter": active})
        # Inside a literal, after the call's parentheses, in a comment, or
        # for a council that is not declared: nothing.
        for line_text in ("    speak add with \"1, ", "    speak (add with 1) + ", "    speak 1 // add with ",
                          "    speak sub with 1, "):
            with self.subTest(line=line_text):
                self.assertIsNone(self.signature(line_text))

    def test_inlay_hints_name_the_parameters_of_calls_that_fit(self):
        self.open("we declare add with a, b ->\ncouncil says:\n    return a + b\n"
                  "on the iron throne:\n"
                  "    speak add with 1, add with 2,   3\n"   # 4
                  "    speak add with 1\n"                     # 5: the count does not fit
                  "    speak sub with 1, 2\n"                  # 6: not declared
                  "    speak add with\t(4), \"é\" + \"5\"\n")  # 7
        hints = self.ask("textDocument/inlayHint", range=lines(0, 8))

        def hint(line, character, label):
            return {"position": at(line, character), "label": label, "kind": 2, "paddingRight": True}

        self.assertEqual(hints, [hint(4, 19, "a:"), hint(4, 22, "b:"), hint(4, 31, "a:"), hint(4, 36, "b:"),
                                 hint(7, 19, "a:"), hint(7, 24, "b:")])
        # Only those in the range asked for.
        self.assertEqual(self.ask("textDocument/inlayHint", range=rng(4, 30, 40)),
                         [hint(4, 31, "a:"), hint(4, 36, "b:")])

    def completions(self, text, line, character, snippets=True):
        client = Client(snippets=snippets)
        try:
            client.open(URI, text)
            items = client.request("textDocument/completion", {**doc(URI), "position": at(line, character)})
        finally:
            self.assertEqual(client.close(), 0)
        return {item["label"]: item for item in items}

    def test_statement_completions_at_the_cursors_depth(self):
        # Tabs: the new line's block one step (a tab, four columns) deeper,
        # written in spaces.
        items = self.completions("on the iron throne:\n\tif aye:\n\t\t\n", 2, 2)
        self.assertEqual(items["while …:"]["insertText"], "while ${1:condition}:\n            $0")
        # Two spaces a step: the same step again.
        two = "on the iron throne:\n  if aye:\n    \n"
        items = self.completions(two, 2, 4)
        self.assertEqual(items["if …:"]["insertText"], "if ${1:condition}:\n      $0")
        plain = self.completions(two, 2, 4, snippets=False)
        self.assertEqual(plain["if …:"]["insertText"], "if condition:\n      ")
        self.assertEqual(plain["if …:"]["insertTextFormat"], 1)
        # At the top level, the document's own step.
        top = self.completions(two + "\n", 3, 0)
        self.assertEqual(top["we declare … with … ->"]["insertText"],
                         "we declare ${1:name} with ${2:parameters} ->\ncouncil says:\n  $0")
        for item in list(items.values()) + list(top.values()):
            self.assertNotIn("\t", item.get("insertText", ""), item["label"])


class Colouring(RequestTest):
    TEXT = KINGDOM

    def tokens(self, text, encodings=None):
        client = Client(encodings=encodings)
        try:
            client.open(URI, text)
            data = client.request("textDocument/semanticTokens/full", doc(URI))["data"]
            legend = client.initialize_result["capabilities"]["semanticTokensProvider"]["legend"]
        finally:
            self.assertEqual(client.close(), 0)
        self.assertEqual(len(data) % 5, 0)
        decoded, line, start = [], 0, 0
        for i in range(0, len(data), 5):
            delta_line, delta_start, length, kind, modifiers = data[i:i + 5]
            line += delta_line
            start = start + delta_start if delta_line == 0 else delta_start
            names = [m for bit, m in enumerate(legend["tokenModifiers"]) if modifiers & (1 << bit)]
            decoded.append((line, start, length, legend["tokenTypes"][kind]) + tuple(names))
        return decoded

    def test_semantic_tokens(self):
        text = ("we declare add with a, b ->\n"
                "council says:\n"
                "    return a + b // sum\n"
                "on the iron throne:\n"
                "    x is a wine with 2.5\n"
                "    x = -x\n"
                "    speak add with x, 'é' == \"🐉\"\n"
                "    the realm marches 2 times:\n"
                "        if aye:\n"
                "            n speaks for input\n")
        common = [
            (0, 0, 10, "keyword"), (0, 11, 3, "function", "declaration"), (0, 15, 4, "keyword"),
            (0, 20, 1, "parameter", "declaration"), (0, 23, 1, "parameter", "declaration"), (0, 25, 2, "operator"),
            (1, 0, 12, "keyword"),
            (2, 4, 6, "keyword"), (2, 11, 1, "parameter"), (2, 13, 1, "operator"), (2, 15, 1, "parameter"),
            (2, 17, 6, "comment"),
            (3, 0, 18, "keyword"),
            (4, 4, 1, "variable", "declaration"), (4, 6, 4, "keyword"), (4, 11, 4, "type"), (4, 16, 4, "keyword"),
            (4, 21, 3, "number"),
            (5, 4, 1, "variable"), (5, 6, 1, "operator"), (5, 8, 1, "operator"), (5, 9, 1, "variable"),
            (6, 4, 5, "keyword"), (6, 10, 3, "function"), (6, 14, 4, "keyword"), (6, 19, 1, "variable")]
        after = [(7, 4, 17, "keyword"), (7, 22, 1, "number"), (7, 24, 5, "keyword"),
                 (8, 8, 2, "keyword"), (8, 11, 3, "keyword"),
                 (9, 12, 1, "variable"), (9, 14, 16, "keyword")]
        # The literals' lengths count UTF-16 units, or bytes when agreed.
        self.assertEqual(self.tokens(text), common + [(6, 22, 3, "string"), (6, 26, 2, "operator"),
                                                      (6, 29, 4, "string")] + after)
        self.assertEqual(self.tokens(text, encodings=["utf-8"]),
                         common + [(6, 22, 4, "string"), (6, 27, 2, "operator"), (6, 30, 6, "string")] + after)

    def test_folding_ranges(self):
        self.open("we declare f with ->\n"        # 0
                  "council says:\n"               # 1
                  "    if aye:\n"                 # 2
                  "        speak 1\n"             # 3
                  "\n"                            # 4
                  "        speak 2 // two\n"      # 5
                  "    else:\n"                   # 6
                  "        speak 3\n"             # 7
                  "on the iron throne:\n"         # 8
                  "    the realm marches 2 times:\n"  # 9
                  "        while nay:\n"          # 10
                  "            speak 4\n"         # 11
                  "    f with\n")                 # 12
        self.assertEqual(self.ask("textDocument/foldingRange"),
                         [{"startLine": a, "endLine": b} for a, b in
                          ((0, 7), (2, 5), (6, 7), (8, 12), (9, 11), (10, 11))])

    def highlights(self, line, character):
        return [(h["range"]["start"]["line"], h["range"]["start"]["character"], h["kind"])
                for h in self.ask("textDocument/documentHighlight", position=at(line, character))]

    def test_document_highlights(self):
        # A variable: written where declared or assigned, read elsewhere.
        self.assertEqual(self.highlights(5, 5), [(5, 4, 3), (6, 7, 2), (9, 11, 2)])
        self.assertEqual(self.highlights(15, 5), [(12, 4, 3), (14, 19, 2), (15, 4, 3), (15, 12, 2), (16, 10, 2)])
        # A council: its header and its calls.
        self.assertEqual(self.highlights(14, 11), [(3, 11, 1), (14, 10, 1)])
        # A name the body does not declare: its uses there.
        self.assertEqual(self.highlights(2, 28), [(2, 27, 2)])
        self.assertIsNone(self.ask("textDocument/documentHighlight", position=at(2, 6)))


# Tabs, 2- and 8-column blocks, free spacing, trailing blanks and blank lines.
MESSY = (
    "we declare add with a ,b->\n"          # 0
    "council says:\n"                       # 1
    "\treturn a+b   \n"                     # 2
    "on the iron throne:\n"                 # 3
    "  x is a blade with 1+2*( 3 )\n"       # 4
    "\n"                                    # 5
    "\n"                                    # 6
    "\n"                                    # 7
    "  if x>1:\n"                           # 8
    "          speak add with x ,2\n")      # 9


class Formatting(RequestTest):
    TEXT = MESSY

    def test_the_document_in_canonical_layout(self):
        edits = self.ask("textDocument/formatting", options={"tabSize": 4, "insertSpaces": True})
        self.assertEqual(apply_edits(MESSY, edits), skern_fmt(MESSY))
        # Edits replace whole lines, each from a line's start to a line's start.
        self.assertTrue(all(e["range"]["start"]["character"] == 0 and e["range"]["end"]["character"] == 0
                            for e in edits), edits)
        formatted = apply_edits(MESSY, edits)
        self.assertEqual(skern_report(formatted), skern_report(MESSY))
        self.open(formatted)
        self.assertEqual(self.ask("textDocument/formatting", options={"tabSize": 4, "insertSpaces": True}), [])

    def test_a_range_takes_its_statements_and_the_blocks_that_move_with_them(self):
        edits = self.ask("textDocument/rangeFormatting", range=lines(4, 5),
                         options={"tabSize": 4, "insertSpaces": True})
        changed = apply_edits(MESSY, edits)
        self.assertIn("    x is a blade with 1 + 2 * (3)\n", changed)
        self.assertEqual(skern_report(changed), skern_report(MESSY))
        # The council above is left as it was.
        self.assertTrue(changed.startswith("we declare add with a ,b->\ncouncil says:\n\treturn a+b   \n"), changed)

    def test_a_document_that_does_not_parse_is_left_alone(self):
        self.open("on the iron throne:\n    speak 1 +\n")
        self.assertEqual(self.ask("textDocument/formatting", options={"tabSize": 4, "insertSpaces": True}), [])


def skern_fmt(text):
    """What skern-fmt writes for a text."""
    import subprocess
    return subprocess.run([conversation.FMT, "-"], input=text, capture_output=True, text=True, check=True).stdout


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    conversation.LSP, conversation.SKERN = sys.argv[1], sys.argv[2]
    # skern-fmt beside skern, for what the formatter itself makes of a text.
    import os
    conversation.FMT = os.path.join(os.path.dirname(os.path.abspath(sys.argv[2])), "skern-fmt")
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[3:])
