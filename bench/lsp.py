#!/usr/bin/env python3
"""Times skern-lsp's diagnostics and requests for a large document.

How to run (from the checkout, after `cmake --workflow --preset release`):

    python3 bench/lsp.py                                  # 200,000 lines, 5 rounds
    python3 bench/lsp.py --lsp build/release/skern-lsp --lines 50000 --rounds 3

The document is the program benchmark's generated Skerran program (see
gen_program.py), of about the given number of lines. Each round opens it
in a fresh server and times from the moment the whole didOpen message has
been written to the moment its publishDiagnostics has been read; then it
changes one line into a parse error and back (two didChange messages, full
text each) and times those too, and takes the server's processor time for
the whole round. This is what an editor waits for: reading
the JSON, parsing the program, the outline and the warnings, and writing
the answer. After the open, each round also times the requests an editor
makes of a whole document (semantic tokens, folding ranges, inlay hints and
quick fixes for all of it) and of one name in the middle of it (highlights,
hover, prepareRename and rename of a parameter), from the request written
to its response read. The table gives the median and the slowest round of
each.
"""

import argparse
import json
import pathlib
import resource
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import gen_program  # noqa: E402  (lives beside this file)


def frame(message):
    body = json.dumps(message).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def read_message(stream):
    length = None
    while True:
        line = stream.readline()
        if not line:
            raise EOFError("skern-lsp closed its output")
        if line in (b"\r\n", b"\n"):
            break
        name, _, value = line.decode().partition(":")
        if name.strip().lower() == "content-length":
            length = int(value)
    return json.loads(stream.read(length))


def wait_for_diagnostics(stream, version):
    while True:
        message = read_message(stream)
        if message.get("method") == "textDocument/publishDiagnostics" and \
                message["params"].get("version") == version:
            return message["params"]["diagnostics"]


def wait_for_response(stream, ident):
    while True:
        message = read_message(stream)
        if message.get("id") == ident and "method" not in message:
            return message


def requests(lines):
    """The requests timed after the open: of the whole document, and of the
    first parameter of the function whose header is nearest the middle."""
    whole = {"start": {"line": 0, "character": 0}, "end": {"line": len(lines), "character": 0}}
    middle = len(lines) // 2
    while not lines[middle].startswith("we declare "):
        middle += 1
    param = {"line": middle, "character": lines[middle].index(" with ") + 6}
    return [
        ("semantic tokens", "textDocument/semanticTokens/full", {}),
        ("folding ranges", "textDocument/foldingRange", {}),
        ("inlay hints, all", "textDocument/inlayHint", {"range": whole}),
        ("code actions, all", "textDocument/codeAction", {"range": whole, "context": {"diagnostics": []}}),
        ("highlight a name", "textDocument/documentHighlight", {"position": param}),
        ("hover a name", "textDocument/hover", {"position": param}),
        ("prepareRename", "textDocument/prepareRename", {"position": param}),
        ("rename", "textDocument/rename", {"position": param, "newName": "alpha"}),
    ]


def one_round(lsp, text):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    server = subprocess.Popen([lsp], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    uri = "file:///bench/program.skr"
    server.stdin.write(frame({"jsonrpc": "2.0", "id": 1, "method": "initialize",
                              "params": {"capabilities": {}}}))
    server.stdin.flush()
    read_message(server.stdout)
    times = {}
    diagnostics = {}
    results = {}

    def timed(name, message, version):
        data = frame(message)
        start = time.perf_counter()
        server.stdin.write(data)
        server.stdin.flush()
        diagnostics[name] = wait_for_diagnostics(server.stdout, version)
        times[name] = time.perf_counter() - start

    timed("open", {"jsonrpc": "2.0", "method": "textDocument/didOpen",
                   "params": {"textDocument": {"uri": uri, "languageId": "skerran",
                                               "version": 1, "text": text}}}, 1)
    lines = text.split("\n")
    for ident, (name, method, params) in enumerate(requests(lines), start=10):
        data = frame({"jsonrpc": "2.0", "id": ident, "method": method,
                      "params": {"textDocument": {"uri": uri}, **params}})
        start = time.perf_counter()
        server.stdin.write(data)
        server.stdin.flush()
        response = wait_for_response(server.stdout, ident)
        times[name] = time.perf_counter() - start
        if "error" in response:
            raise RuntimeError(f"{method} failed: {response['error']}")
        results[name] = response["result"]
    middle = len(lines) // 2
    broken = lines[:middle] + [lines[middle] + " +"] + lines[middle + 1:]
    for name, version, body in (("change to an error", 2, "\n".join(broken)),
                                ("change back", 3, text)):
        timed(name, {"jsonrpc": "2.0", "method": "textDocument/didChange",
                     "params": {"textDocument": {"uri": uri, "version": version},
                                "contentChanges": [{"text": body}]}}, version)
    server.stdin.write(frame({"jsonrpc": "2.0", "id": 2, "method": "shutdown"}))
    server.stdin.write(frame({"jsonrpc": "2.0", "method": "exit"}))
    server.stdin.close()
    server.stdout.read()
    status = server.wait()
    if status != 0:
        raise RuntimeError(f"skern-lsp exited with status {status}")
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    # The processor time of the whole round, all three documents: on a busy
    # machine the wall times above also hold the time spent waiting for it.
    times["server CPU, round"] = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return times, diagnostics, results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--lsp", default=str(HERE.parent / "build" / "release" / "skern-lsp"))
    parser.add_argument("--lines", type=int, default=200_000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    text = gen_program.skerran_text(args.lines)
    line_count = text.count("\n")
    print(f"document: {line_count} lines, {len(text.encode()) / 1e6:.1f} MB; {args.rounds} rounds")
    results = {}
    for _ in range(args.rounds):
        times, diagnostics, answers = one_round(args.lsp, text)
        for name, seconds in times.items():
            results.setdefault(name, []).append(seconds)
    # What the rounds found, from the last: none for the program as it is,
    # the parse error for the broken one.
    print(f"diagnostics: open {len(diagnostics['open'])}, "
          f"error {len(diagnostics['change to an error'])} "
          f"({diagnostics['change to an error'][0]['message'].splitlines()[0] if diagnostics['change to an error'] else '-'}), "
          f"back {len(diagnostics['change back'])}")
    # And how much the requests gave, so that a fast answer is seen to be whole.
    renamed = answers["rename"]["changes"] if answers["rename"] else {}
    print(f"answers: {len(answers['semantic tokens']['data']) // 5} tokens, "
          f"{len(answers['folding ranges'])} folds, {len(answers['inlay hints, all'])} hints, "
          f"{len(answers['code actions, all'])} actions, {len(answers['highlight a name'])} highlights, "
          f"rename {sum(len(edits) for edits in renamed.values())} edits")
    print(f"{'message':<22}{'median':>10}{'slowest':>10}")
    for name, seconds in results.items():
        print(f"{name:<22}{statistics.median(seconds) * 1000:>8.0f}ms{max(seconds) * 1000:>8.0f}ms")


if __name__ == "__main__":
    main()
