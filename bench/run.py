#!/usr/bin/env python3
"""Runs the benchmarks on skern and on every reference engine installed.

How to run (from the checkout):

    python3 bench/run.py                       # all benchmarks, 5 rounds
    python3 bench/run.py --only fib,loop --rounds 3
    python3 bench/run.py --skern /path/to/skern --json after.json
    python3 bench/run.py --baseline /path/to/older/skern   # both in one run
    python3 bench/compare.py before.json after.json

Each benchmark NAME is bench/NAME.skr with equivalents bench/NAME.py and
bench/NAME.lua that print the same output; a few are generated into
bench/generated/ (parse, program, flat, longexpr), and a benchmark may read a
generated standard input (input), which every engine gets alike; the
others read /dev/null. The engines are skern, python3, lua5.4, luajit and
luajit with its compiler turned off (luajit-joff, LuaJIT's interpreter
alone), whichever are installed. The runs are interleaved: in every round
each benchmark runs once on each engine, so slow drifts of the machine
spread over all engines alike. Every run's output must agree with every
other engine's; a mismatch or a failed run marks the benchmark as failed
and makes the runner exit with status 1.

The table gives per benchmark and engine the median wall time and the
largest peak resident set size seen, and the ratios of skern's median to
every other engine's. A second table gives, for the generated programs,
the memory each engine holds per source line: its peak RSS less its peak
RSS on hello (start-up), divided by the program's lines in that engine's
language; it needs hello in the same run, and leaves out programs of few
lines (longexpr). --json also writes these figures, and every single
time, to a file for compare.py.
"""

import argparse
import ctypes
import json
import os
import pathlib
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))
sys.dont_write_bytecode = True  # keep bench/ free of __pycache__
import gen_flat  # noqa: E402  (these live beside this file)
import gen_input  # noqa: E402
import gen_longexpr  # noqa: E402
import gen_parse  # noqa: E402
import gen_program  # noqa: E402

# In the order in which they run within a round.
BENCHMARKS = ["hello", "fib", "calls", "loop", "nested", "concat", "deep",
              "while", "parse", "float", "mixed", "comparisons", "args",
              "mutual", "dynamic", "declare", "text", "output", "input",
              "program", "flat", "longexpr"]
# Benchmarks whose sources are written into bench/generated/ before a run.
GENERATED = {"parse": gen_parse.generate, "program": gen_program.generate,
             "flat": gen_flat.generate, "longexpr": gen_longexpr.generate}
# Benchmarks that read standard input: the generator gives the file's path.
STDIN = {"input": gen_input.generate}
PR_SET_CHILD_SUBREAPER = 36


class Engine:
    def __init__(self, name, command, ext, version):
        self.name = name
        self.command = command
        self.ext = ext
        self.version = version


class Run:
    def __init__(self, seconds, maxrss_kib, status, stdout, stderr):
        self.seconds = seconds
        self.maxrss_kib = maxrss_kib
        self.status = status
        self.stdout = stdout
        self.stderr = stderr


def first_line(command):
    try:
        done = subprocess.run(command, capture_output=True, text=True,
                              timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return "?"
    text = (done.stdout or done.stderr).strip()
    if not text:
        return "?"
    # Version banners may go on with a copyright notice: keep the version.
    return text.splitlines()[0].split("Copyright")[0].rstrip(" -")


def real_python(python):
    # A version-manager shim would add its own start-up time and memory
    # to every run, so run the interpreter that it hands over to.
    try:
        done = subprocess.run(
            [python, "-c", "import sys; print(sys.executable)"],
            capture_output=True, text=True, timeout=30, check=True)
        path = done.stdout.strip()
        if path and os.access(path, os.X_OK):
            return path
    except (OSError, subprocess.SubprocessError):
        pass
    return python


def find_engines(skern, baseline=None):
    engines = []
    if not (os.path.isfile(skern) and os.access(skern, os.X_OK)):
        sys.exit(f"run.py: no skern binary at {skern}; build it with "
                 "`cmake --workflow --preset release` or pass --skern PATH")
    engines.append(Engine("skern", [skern], "skr",
                          first_line([skern, "--version"])))
    if baseline:
        if not (os.path.isfile(baseline) and os.access(baseline, os.X_OK)):
            sys.exit(f"run.py: no skern binary at {baseline}")
        # An older build in the same rounds: drifts of the machine then
        # touch both alike, which separate runs cannot promise.
        engines.append(Engine("skern-before", [baseline], "skr",
                              first_line([baseline, "--version"])))
    python = shutil.which("python3")
    if python:
        python = real_python(python)
        engines.append(Engine("python3", [python], "py",
                              first_line([python, "--version"])))
    for name in ("lua5.4", "luajit"):
        path = shutil.which(name)
        if path:
            version = first_line([path, "-v"])
            engines.append(Engine(name, [path], "lua", version))
            if name == "luajit":
                # LuaJIT's interpreter alone, without its trace compiler.
                engines.append(Engine("luajit-joff", [path, "-joff"], "lua",
                                      version))
    return engines


def source(bench, ext):
    if bench in GENERATED:
        return HERE / "generated" / f"{bench}.{ext}"
    return HERE / f"{bench}.{ext}"


def become_subreaper():
    """Makes orphaned descendants this process's children (Linux only)."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        return libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0
    except (OSError, AttributeError):
        return False


# A child forked from this runner, and so its ru_maxrss, starts out with the
# runner's own resident set (over 10 MiB of Python), which would hide the
# footprint of small programs. So a small shell forks the benchmark process,
# which waits on a pipe, and exits at once; the waiting process is adopted
# by this runner (a subreaper), which then starts the clock, lets it exec the
# engine and reaps it with wait4. Its peak RSS then counts only the shell's
# small image from before the exec, and its wall time excludes the launch.
# A shell without job control gives a command started with & /dev/null as
# its standard input, so the input comes through descriptor {inp} instead.
LAUNCH = ('(read _ <&{go}; exec "$@" {go}<&- <&{inp} {inp}<&-) {pid}>&- & '
          'echo $! >&{pid}')


def run_once(command, timeout, subreaper, stdin_path=os.devnull):
    """Runs one process to its end: wall time, peak RSS, status, output."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            open(stdin_path, "rb") as stdin:
        if not subreaper:
            start = time.perf_counter()
            proc = subprocess.Popen(command, stdin=stdin,
                                    stdout=out, stderr=err, cwd=HERE)
            pid = proc.pid
        else:
            go_r, go_w = os.pipe()
            pid_r, pid_w = os.pipe()
            inp = stdin.fileno()
            shell = subprocess.Popen(
                ["/bin/sh", "-c",
                 LAUNCH.format(go=go_r, pid=pid_w, inp=inp), "sh"]
                + command, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                cwd=HERE, pass_fds=(go_r, pid_w, inp))
            os.close(go_r)
            os.close(pid_w)
            with os.fdopen(pid_r) as reader:
                text = reader.read().strip()
            if shell.wait() != 0 or not text.isdigit():
                os.close(go_w)
                raise RuntimeError(f"launcher failed for {command}")
            pid = int(text)
            start = time.perf_counter()
            os.write(go_w, b"\n")
            os.close(go_w)
        timer = threading.Timer(timeout, os.kill, (pid, signal.SIGKILL))
        timer.start()
        try:
            # wait4 rather than wait: it also gives the child's peak RSS.
            _, status, usage = os.wait4(pid, 0)
        finally:
            timer.cancel()
        seconds = time.perf_counter() - start
        if not subreaper:
            proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        # ru_maxrss is in KiB on Linux.
        return Run(seconds, usage.ru_maxrss,
                   os.waitstatus_to_exitcode(status), out.read(), err.read())


def fmt_time(seconds):
    if seconds < 1:
        return f"{seconds * 1000:.1f} ms"
    return f"{seconds:.2f} s"


def fmt_rss(kib):
    if kib < 10 * 1024:
        return f"{kib} KiB"
    return f"{kib / 1024:.1f} MiB"


def excerpt(data, limit=400):
    text = data.decode("utf-8", "replace")
    return text if len(text) <= limit else text[:limit] + "..."


def write_json(path, engines, benches, rounds, times, rss, failed):
    results = {}
    for bench in benches:
        if bench in failed:
            continue
        results[bench] = {
            e.name: {"median_s": statistics.median(times[(bench, e.name)]),
                     "times_s": times[(bench, e.name)],
                     "peak_rss_kib": rss[(bench, e.name)]}
            for e in engines}
    data = {"rounds": rounds,
            "engines": {e.name: {"command": e.command, "version": e.version}
                        for e in engines},
            "benchmarks": results,
            "failed": failed}
    with open(path, "w") as out:
        json.dump(data, out, indent=1)
        out.write("\n")


def bytes_per_line(benches, engines, rss, failed):
    """Table rows of the memory per source line of every generated
    benchmark that ran, net of start-up; none without hello's figures."""
    if "hello" not in benches or "hello" in failed:
        return []
    names = [e.name for e in engines]
    header = ["benchmark"] + [f"{name} B/line" for name in names]
    if "lua5.4" in names:
        header.append("skern/lua5.4")
    rows = ["| " + " | ".join(header) + " |",
            "|" + "|".join(["---"] + ["---:"] * (len(header) - 1)) + "|"]
    for bench in benches:
        if bench not in GENERATED or bench in failed:
            continue
        # A figure per line means little for a program of a few lines.
        with open(source(bench, "skr"), "rb") as text:
            if sum(1 for _ in text) < 1000:
                continue
        row = [bench]
        figure = {}
        for engine in engines:
            with open(source(bench, engine.ext), "rb") as text:
                count = max(1, sum(1 for _ in text))
            net_kib = max(0, rss[(bench, engine.name)]
                          - rss[("hello", engine.name)])
            figure[engine.name] = net_kib * 1024 / count
            row.append(f"{figure[engine.name]:.0f}")
        if "lua5.4" in names:
            row.append(f"{figure['skern'] / max(1.0, figure['lua5.4']):.2f}")
        rows.append("| " + " | ".join(row) + " |")
    return rows if len(rows) > 2 else []


def main():
    parser = argparse.ArgumentParser(
        description="Run the Skerran benchmarks against the installed "
                    "reference engines and print a Markdown table.")
    parser.add_argument("--only", metavar="NAMES",
                        help="comma-separated benchmarks to run (default: all "
                             "of " + ",".join(BENCHMARKS) + ")")
    parser.add_argument("--rounds", type=int, default=5,
                        help="interleaved rounds (default 5)")
    parser.add_argument("--skern",
                        default=str(ROOT / "build" / "release" / "skern"),
                        help="skern binary (default build/release/skern)")
    parser.add_argument("--baseline", metavar="PATH",
                        help="another skern binary to run in the same rounds "
                             "as an engine of its own, skern-before")
    parser.add_argument("--timeout", type=float, default=600,
                        help="seconds before one run is killed (default 600)")
    parser.add_argument("--json", metavar="FILE",
                        help="also write the medians, every time and the "
                             "peak RSS figures to FILE (for compare.py)")
    args = parser.parse_args()

    if args.rounds < 1:
        parser.error("--rounds must be at least 1")
    benches = BENCHMARKS
    if args.only:
        benches = [b.strip() for b in args.only.split(",") if b.strip()]
        unknown = [b for b in benches if b not in BENCHMARKS]
        if unknown:
            parser.error("unknown benchmark(s): " + ", ".join(unknown))

    engines = find_engines(os.path.abspath(args.skern),
                           args.baseline and os.path.abspath(args.baseline))
    subreaper = become_subreaper()
    if not subreaper:
        print("run.py: cannot become a subreaper; peak RSS figures include "
              "the runner's own footprint", file=sys.stderr)
    stdin_paths = {}
    for bench in benches:
        if bench in GENERATED:
            GENERATED[bench]()
        if bench in STDIN:
            stdin_paths[bench] = str(STDIN[bench]())
    for bench in benches:
        for engine in engines:
            if not source(bench, engine.ext).is_file():
                sys.exit(f"run.py: missing {source(bench, engine.ext)}")

    print("engines: " + "; ".join(
        f"{e.name} = {' '.join(e.command)} ({e.version})" for e in engines),
        file=sys.stderr)

    times = {(b, e.name): [] for b in benches for e in engines}
    rss = {(b, e.name): 0 for b in benches for e in engines}
    failed = {}
    for rnd in range(args.rounds):
        print(f"round {rnd + 1}/{args.rounds}", file=sys.stderr)
        for bench in benches:
            if bench in failed:
                continue
            outputs = {}
            for engine in engines:
                path = source(bench, engine.ext)
                run = run_once(engine.command + [str(path)], args.timeout,
                               subreaper,
                               stdin_paths.get(bench, os.devnull))
                if run.status != 0:
                    how = (f"was killed after {args.timeout:g} s"
                           if run.status == -signal.SIGKILL
                           and run.seconds >= args.timeout
                           else f"exited with status {run.status}")
                    failed[bench] = (
                        f"{engine.name} {how} on {path.name}\n"
                        f"stderr: {excerpt(run.stderr)}")
                    break
                outputs[engine.name] = run.stdout
                times[(bench, engine.name)].append(run.seconds)
                rss[(bench, engine.name)] = max(rss[(bench, engine.name)],
                                                run.maxrss_kib)
            if bench in failed:
                continue
            reference = engines[0].name
            for name, out in outputs.items():
                if out != outputs[reference]:
                    failed[bench] = (
                        f"outputs differ:\n{reference}: "
                        f"{excerpt(outputs[reference])!r}\n{name}: "
                        f"{excerpt(out)!r}")
                    break

    names = [e.name for e in engines]
    header = ["benchmark"]
    for name in names:
        header += [f"{name} time", f"{name} RSS"]
    ratio_to = [n for n in names if n != "skern"]
    header += [f"skern/{n}" for n in ratio_to]
    if "lua5.4" in names:
        header.append("RSS skern/lua5.4")
    lines = ["| " + " | ".join(header) + " |",
             "|" + "|".join(["---"] + ["---:"] * (len(header) - 1)) + "|"]
    for bench in benches:
        if bench in failed:
            lines.append("| " + " | ".join(
                [bench, "FAILED"] + [""] * (len(header) - 2)) + " |")
            continue
        row = [bench]
        med = {}
        for name in names:
            med[name] = statistics.median(times[(bench, name)])
            row += [fmt_time(med[name]), fmt_rss(rss[(bench, name)])]
        for name in ratio_to:
            row.append(f"{med['skern'] / med[name]:.2f}")
        if "lua5.4" in names:
            row.append(f"{rss[(bench, 'skern')] / rss[(bench, 'lua5.4')]:.2f}")
        lines.append("| " + " | ".join(row) + " |")
    print("Engines: " + "; ".join(f"{e.name} ({e.version})" for e in engines)
          + f".\nMedian wall time of {args.rounds} interleaved round(s); RSS "
          "is the largest peak resident set size seen.\n")
    print("\n".join(lines))
    per_line = bytes_per_line(benches, engines, rss, failed)
    if per_line:
        print("\nBytes per source line: peak RSS less the peak RSS of "
              "hello, over the program's lines.\n")
        print("\n".join(per_line))
    if args.json:
        write_json(args.json, engines, benches, args.rounds, times, rss,
                   failed)

    if failed:
        for bench, why in failed.items():
            print(f"\nFAILED {bench}: {why}", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
