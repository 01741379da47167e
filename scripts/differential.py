#!/usr/bin/env python3
"""Runs two skern binaries on the same programs and reports every difference.

    scripts/differential.py OLD_BINARY NEW_BINARY [options]

Each program runs once under each binary with the same standard input; the
exit status, every byte of standard output and every byte of standard error
must agree. A run that outlives --timeout in one binary but not in the other
is a difference too. Differences are printed (program, stream, a short diff)
and the exit status is 1; without any, counts are printed and it is 0.

Programs:
  tests/programs/**/*.skr with NAME.stdin beside it, and examples/*.skr with
  tests/examples/NAME.stdin (unless --no-tree);
  --programs DIR   every DIR/**/*.skr with NAME.stdin beside it (the layout
                   of tests/programs and of what --save writes: replays);
  --corpus DIR     every file under DIR as the fuzz_run targets read it:
                   program bytes, then optionally a NUL byte and the input;
  --random N       N generated programs (scripts/gen_programs.py); program i
                   of --seed S is always the same program.

Generated or corpus programs that differ are written to --save (default
build/differential/) as NAME.skr and NAME.stdin, for --programs to replay.
"""

from __future__ import annotations

import argparse
import difflib
import multiprocessing
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.dont_write_bytecode = True  # no __pycache__ left in scripts/

import gen_programs  # noqa: E402  (lives beside this script)

TIMED_OUT = "timed out"


class Settings:
    """What every worker process needs; set once by the pool initializer."""

    old = ""
    new = ""
    timeout = 10.0
    seed = 1
    scratch = ""


def init_worker(old, new, timeout, seed, memory_mb, scratch):
    Settings.old = old
    Settings.new = new
    Settings.timeout = timeout
    Settings.seed = seed
    Settings.scratch = tempfile.mkdtemp(prefix="worker-", dir=scratch)
    if memory_mb > 0:
        # Inherited by both binaries: a program that builds huge texts ends
        # with an allocation failure instead of taking the machine's memory.
        limit = memory_mb * 1024 * 1024
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


def run_binary(binary, program, stdin_path):
    """(status, stdout, stderr), or TIMED_OUT; status is negative for a signal."""
    with open(stdin_path, "rb") as stdin:
        try:
            done = subprocess.run([binary, program], stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  cwd=ROOT, timeout=Settings.timeout, check=False)
        except subprocess.TimeoutExpired:
            return TIMED_OUT
    return done.returncode, done.stdout, done.stderr


def compare(program, stdin_path):
    old = run_binary(Settings.old, program, stdin_path)
    new = run_binary(Settings.new, program, stdin_path)
    return old, new


def run_task(task):
    """One program under both binaries. task: (kind, label, payload)."""
    kind, label, payload = task
    stats = None
    if kind == "file":
        program, stdin_file = payload
        stdin_path = stdin_file or os.devnull
        old, new = compare(program, stdin_path)
        source = stdin = None
    else:
        if kind == "random":
            source, stdin, stats = gen_programs.generate(gen_programs.program_rng(Settings.seed, payload))
        else:
            data = Path(payload).read_bytes()
            nul = data.find(b"\0")
            source, stdin = (data, b"") if nul < 0 else (data[:nul], data[nul + 1:])
        program = os.path.join(Settings.scratch, "program.skr")
        stdin_path = os.path.join(Settings.scratch, "stdin")
        Path(program).write_bytes(source)
        Path(stdin_path).write_bytes(stdin)
        old, new = compare(program, stdin_path)
    same = old == new and old != TIMED_OUT
    result = {
        "kind": kind,
        "label": label,
        "outcome": outcome(old),
        "both_timed_out": old == TIMED_OUT and new == TIMED_OUT,
        "stats": stats,
    }
    if not same and not result["both_timed_out"]:
        result["old"] = old
        result["new"] = new
        result["source"] = source
        result["stdin"] = stdin
    result["same"] = same
    return result


def outcome(run):
    """The kind of ending of one run, for the mix of generated programs."""
    if run == TIMED_OUT:
        return "timeout"
    status, _, err = run
    if status < 0:
        return "signal"
    if status == 0:
        return "normal"
    first = err.split(b"\n", 1)[0]
    if first.startswith(b"runtime error: "):
        return "runtime"
    if first.startswith((b"parse error on line ", b"expression parse error: ")):
        return "parse"
    if first.startswith(b"I/O error: "):
        return "io"
    return "other"


# ------------------------------------------------------------------- sources

def tree_tasks():
    tasks = []
    programs = ROOT / "tests" / "programs"
    for path in sorted(programs.rglob("*.skr")):
        stdin = path.with_suffix(".stdin")
        tasks.append(file_task(path, stdin if stdin.is_file() else None))
    for path in sorted((ROOT / "examples").glob("*.skr")):
        stdin = ROOT / "tests" / "examples" / (path.stem + ".stdin")
        tasks.append(file_task(path, stdin if stdin.is_file() else None))
    return tasks


def file_task(path, stdin):
    path = Path(path).resolve()
    try:
        label = str(path.relative_to(ROOT))
    except ValueError:
        label = str(path)
    return "file", label, (str(path), str(stdin.resolve()) if stdin else None)


def program_dir_tasks(directory):
    tasks = []
    for path in sorted(Path(directory).rglob("*.skr")):
        stdin = path.with_suffix(".stdin")
        tasks.append(file_task(path, stdin if stdin.is_file() else None))
    return tasks


def corpus_tasks(directory):
    tasks = []
    for path in sorted(Path(directory).rglob("*")):
        # make_corpus.sh writes through hidden temporary files.
        if path.is_file() and not path.name.startswith("."):
            tasks.append(("corpus", str(path), str(path)))
    return tasks


# ------------------------------------------------------------------- reports

def describe(run):
    if run == TIMED_OUT:
        return "no end within the timeout"
    status = run[0]
    return "killed by signal %d" % -status if status < 0 else "exit status %d" % status


def show(line):
    """One output line made printable: invalid UTF-8 and control characters escaped."""
    text = line.decode("utf-8", "backslashreplace")
    end = ""
    if text.endswith("\n"):
        text = text[:-1]
    else:
        end = "  (no line feed)"
    text = CONTROL.sub(lambda m: "\\x%02x" % ord(m.group()), text)
    if len(text) > 300:
        text = text[:300] + "... (%d characters)" % len(text)
    return text + end


CONTROL = re.compile("[\x00-\x08\x0b-\x1f\x7f]")


def short_diff(old, new, limit):
    """A unified diff of the stretch of two outputs where they first differ."""
    a = old.splitlines(keepends=True)
    b = new.splitlines(keepends=True)
    first = 0
    while first < len(a) and first < len(b) and a[first] == b[first]:
        first += 1
    start = max(0, first - 2)
    window = first + 4 * limit
    lines = ["    first difference on line %d; old: %d lines, %d bytes; new: %d lines, %d bytes"
             % (first + 1, len(a), len(old), len(b), len(new))]
    diff = difflib.unified_diff([show(x) for x in a[start:window]], [show(x) for x in b[start:window]],
                                lineterm="", n=2)
    body = [line for line in diff if not line.startswith(("---", "+++", "@@"))]
    for line in body[:2 * limit + 2]:
        lines.append("    " + line[0] + " " + line[1:])
    if len(body) > 2 * limit + 2:
        lines.append("    ...")
    return lines


def save_program(directory, result):
    directory.mkdir(parents=True, exist_ok=True)
    name = result["label"]
    if result["kind"] == "corpus":
        name = "corpus-%s-%s" % (Path(name).parent.name, Path(name).name)
    name = re.sub(r"[^A-Za-z0-9_.-]+", "_", name).strip("_")[-80:]
    base = directory / name
    base.with_suffix(".skr").write_bytes(result["source"])
    stdin = base.with_suffix(".stdin")
    if result["stdin"]:
        stdin.write_bytes(result["stdin"])
    elif stdin.exists():
        stdin.unlink()
    return base.with_suffix(".skr")


def report(result, save_dir, args):
    lines = ["DIFFERENT: " + result["label"]]
    old, new = result["old"], result["new"]
    if old == TIMED_OUT or new == TIMED_OUT:
        lines.append("  old: %s; new: %s" % (describe(old), describe(new)))
    else:
        if old[0] != new[0]:
            lines.append("  exit status: old %s, new %s" % (describe(old), describe(new)))
        for index, stream in ((1, "stdout"), (2, "stderr")):
            if old[index] != new[index]:
                lines.append("  %s differs:" % stream)
                lines.extend(short_diff(old[index], new[index], args.diff_lines))
    if result["source"] is not None:
        saved = save_program(save_dir, result)
        lines.append("  saved: %s%s" % (saved, " (and .stdin)" if result["stdin"] else ""))
    print("\n".join(lines), flush=True)


def percent(part, whole):
    return "%.1f%%" % (100.0 * part / whole) if whole else "-"


def summary(results):
    by_kind = {}
    for r in results:
        by_kind[r["kind"]] = by_kind.get(r["kind"], 0) + 1
    names = {"file": "files", "corpus": "corpus inputs", "random": "generated"}
    parts = ["%d %s" % (count, names[kind]) for kind, count in sorted(by_kind.items())]
    print("ran %d programs (%s)" % (len(results), ", ".join(parts)))
    generated = [r for r in results if r["kind"] == "random"]
    if generated:
        mix = {}
        for r in generated:
            mix[r["outcome"]] = mix.get(r["outcome"], 0) + 1
        order = ("normal", "runtime", "parse", "io", "timeout", "signal", "other")
        words = {"normal": "ran to the end", "runtime": "runtime error", "parse": "parse error",
                 "io": "I/O error", "timeout": "timed out", "signal": "killed by a signal", "other": "other"}
        print("generated programs under the old binary: " + ", ".join(
            "%s %s (%d)" % (words[k], percent(mix[k], len(generated)), mix[k]) for k in order if k in mix))
        keys = (("free_reads", "read a caller's variable"), ("free_writes", "assign a caller's variable"),
                ("shadow_calls", "declare a name just before calling a function that needs it"),
                ("resolved_locally", "have a function's caller name found in an intermediate caller"),
                ("update_calls", "update a variable by a call that assigns it (x = x + (f with))"),
                ("recursive", "recurse"), ("mutual", "recurse mutually"),
                ("retype", "have a callee change the kind of its caller's parameter"))
        for key, text in keys:
            having = sum(1 for r in generated if r["stats"] and r["stats"].get(key))
            print("  %s of them %s" % (percent(having, len(generated)), text))


def main(argv=None):
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0], epilog=__doc__.split("\n\n", 1)[1],
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("old", help="the reference binary")
    parser.add_argument("new", help="the binary under test")
    parser.add_argument("--corpus", action="append", default=[], metavar="DIR",
                        help="fuzz_run corpus directory (repeatable)")
    parser.add_argument("--programs", action="append", default=[], metavar="DIR",
                        help="directory of NAME.skr with NAME.stdin (repeatable)")
    parser.add_argument("--random", type=int, default=0, metavar="N", help="generated programs to run")
    parser.add_argument("--seed", type=int, default=1, help="seed of the generated programs (default 1)")
    parser.add_argument("--no-tree", action="store_true", help="skip tests/programs and examples")
    parser.add_argument("--save", default=str(ROOT / "build" / "differential"), metavar="DIR",
                        help="where differing generated and corpus programs go (default build/differential)")
    parser.add_argument("--timeout", type=float, default=10.0, metavar="SEC",
                        help="seconds one run may take (default 10)")
    parser.add_argument("--jobs", type=int, default=2, help="programs run at once (default 2)")
    parser.add_argument("--memory", type=int, default=0, metavar="MB",
                        help="address space limit of each run, e.g. 4096 (default none: sanitizer builds "
                             "reserve terabytes)")
    parser.add_argument("--diff-lines", type=int, default=6, metavar="N",
                        help="lines shown from each side after the first difference (default 6)")
    args = parser.parse_args(argv)

    binaries = []
    for binary in (args.old, args.new):
        path = shutil.which(binary) if os.sep not in binary else binary
        if path is None or not os.access(path, os.X_OK) or not os.path.isfile(path):
            parser.error("not an executable file: %s" % binary)
        binaries.append(os.path.abspath(path))

    tasks = [] if args.no_tree else tree_tasks()
    for directory in args.programs:
        if not os.path.isdir(directory):
            parser.error("no such directory: %s" % directory)
        tasks += program_dir_tasks(directory)
    for directory in args.corpus:
        if not os.path.isdir(directory):
            parser.error("no such directory: %s" % directory)
        tasks += corpus_tasks(directory)
    tasks += [("random", "random-%d-%05d" % (args.seed, i), i) for i in range(args.random)]
    if not tasks:
        parser.error("no programs to run")

    save_dir = Path(args.save)
    started = time.monotonic()
    jobs = max(1, args.jobs)
    scratch = tempfile.mkdtemp(prefix="skern-differential-")
    try:
        results, differences = run_all(tasks, jobs, (binaries[0], binaries[1], args.timeout, args.seed,
                                                     args.memory, scratch), save_dir, args)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    elapsed = time.monotonic() - started

    summary(results)
    hung = [r["label"] for r in results if r["both_timed_out"]]
    if hung:
        print("both binaries timed out on %d programs (not compared): %s" % (len(hung), ", ".join(hung[:10])))
    print("%d differences in %.1f s" % (differences, elapsed))
    return 1 if differences else 0


def run_all(tasks, jobs, settings, save_dir, args):
    results = []
    differences = 0
    last_note = time.monotonic()
    with multiprocessing.Pool(jobs, init_worker, settings) as pool:
        # In order, so that two runs over the same programs print alike.
        for result in pool.imap(run_task, tasks, chunksize=8):
            results.append(result)
            if not result["same"] and not result["both_timed_out"]:
                differences += 1
                report(result, save_dir, args)
            now = time.monotonic()
            if sys.stderr.isatty() and now - last_note > 5:
                last_note = now
                print("... %d of %d programs, %d differences" % (len(results), len(tasks), differences),
                      file=sys.stderr, flush=True)
    return results, differences


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BrokenPipeError:
        # The reader (head, less) has gone: stop quietly.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
