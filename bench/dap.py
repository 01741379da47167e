#!/usr/bin/env python3
"""Times skern-dap: a run under the adapter against the same run under skern,
and going back in time from deep in a long run.

How to run (from the checkout, after `cmake --workflow --preset release`):

    python3 bench/dap.py                          # 10^6 and 10^7 steps, 3 rounds
    python3 bench/dap.py --steps 1000000 --rounds 5

Each program counts in a loop of about the given number of statements (its
steps) and then writes the count. For each size the table gives, as medians
over the rounds:

- skern: the command's wall time;
- under the adapter: from starting skern-dap, through initialize, launch
  and configurationDone, to the exited event, with no breakpoint, and the
  ratio of the two (what a person debugging pays for a run that does not
  stop);
- to the breakpoint: from configurationDone to the stop at the last line,
  with a breakpoint there;
- step back: from the stepBack request to its stopped event, stopped at
  that last line (a step back over the whole loop's last round), then a
  second one, and a reverse continue to the start (which replays nothing
  but scans back through every checkpoint);
- the adapter's peak RSS.

A second table runs the benchmarks of bench/ (those that read no input)
under the adapter with no breakpoint, beside skern, as medians over the
rounds.
"""

import argparse
import json
import pathlib
import statistics
import subprocess
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent


def frame(message):
    body = json.dumps(message).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def read_message(stream):
    length = None
    while True:
        line = stream.readline()
        if not line:
            raise EOFError("skern-dap closed its output")
        if line in (b"\r\n", b"\n"):
            break
        name, _, value = line.decode().partition(":")
        if name.strip().lower() == "content-length":
            length = int(value)
    return json.loads(stream.read(length))


class Adapter:
    def __init__(self, path):
        self.process = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.seq = 0
        self.backlog = []  # messages read while waiting for another

    def send(self, command, arguments=None):
        self.seq += 1
        message = {"seq": self.seq, "type": "request", "command": command}
        if arguments is not None:
            message["arguments"] = arguments
        self.process.stdin.write(frame(message))
        self.process.stdin.flush()
        return self.seq

    def wait_for(self, predicate):
        for index, message in enumerate(self.backlog):
            if predicate(message):
                return self.backlog.pop(index)
        while True:
            message = read_message(self.process.stdout)
            if predicate(message):
                return message
            self.backlog.append(message)

    def event(self, name):
        return self.wait_for(lambda m: m.get("type") == "event" and m.get("event") == name)

    def response(self, seq):
        message = self.wait_for(lambda m: m.get("type") == "response" and m.get("request_seq") == seq)
        if not message["success"]:
            raise RuntimeError(f"{message['command']} failed: {message.get('message')}")
        return message

    def close(self):
        try:
            self.send("disconnect")
            self.process.stdin.close()
        except BrokenPipeError:
            pass
        self.process.wait(timeout=60)


def program_for(steps, folder):
    # Two statements per round: the loop's body; the rest is a handful.
    rounds = max(steps // 2, 1)
    path = pathlib.Path(folder) / f"count{steps}.skr"
    path.write_text(
        "on the iron throne:\n"
        "    i is a blade with 0\n"
        "    total is a blade with 0\n"
        f"    the realm marches {rounds} times:\n"
        "        i = i + 1\n"
        "        total = total + i\n"
        "    speak total\n"
    )
    return path, 7


def launch(adapter_path, program, breakpoint_line=None):
    adapter = Adapter(adapter_path)
    adapter.response(adapter.send("initialize", {"adapterID": "skerran"}))
    adapter.response(adapter.send("launch", {"program": str(program)}))
    adapter.event("initialized")
    if breakpoint_line is not None:
        adapter.response(adapter.send("setBreakpoints", {
            "source": {"path": str(program)}, "breakpoints": [{"line": breakpoint_line}]}))
    return adapter


def timed(action):
    began = time.perf_counter()
    result = action()
    return time.perf_counter() - began, result


def round_for(adapter_path, skern_path, program, last_line):
    figures = {}
    figures["skern"], _ = timed(lambda: subprocess.run([skern_path, str(program)], stdout=subprocess.DEVNULL, check=True))

    def whole_session():
        adapter = launch(adapter_path, program)
        adapter.send("configurationDone")
        adapter.event("exited")
        return adapter
    figures["adapter"], adapter = timed(whole_session)
    adapter.close()

    adapter = launch(adapter_path, program, last_line)
    adapter.send("configurationDone")
    figures["to breakpoint"], _ = timed(lambda: adapter.event("stopped"))
    for name, command in (("step back", "stepBack"), ("second step back", "stepBack"),
                          ("reverse continue", "reverseContinue")):
        def go(command=command):
            adapter.send(command, {"threadId": 1})
            return adapter.event("stopped")
        figures[name], _ = timed(go)
    status = pathlib.Path(f"/proc/{adapter.process.pid}/status").read_text()
    figures["peak RSS MiB"] = int(next(line.split()[1] for line in status.splitlines()
                                       if line.startswith("VmHWM"))) / 1024
    adapter.close()
    return figures


SUITE = ["fib", "calls", "loop", "nested", "concat", "deep", "while", "float", "mixed", "comparisons",
         "args", "mutual", "dynamic", "declare", "text", "output"]


def session_time(adapter_path, program):
    began = time.perf_counter()
    adapter = launch(adapter_path, program)
    adapter.send("configurationDone")
    adapter.event("exited")
    took = time.perf_counter() - began
    adapter.close()
    return took


def command_time(skern_path, program):
    began = time.perf_counter()
    subprocess.run([skern_path, str(program)], stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - began


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dap", default=str(ROOT / "build/release/skern-dap"))
    parser.add_argument("--skern", default=str(ROOT / "build/release/skern"))
    parser.add_argument("--steps", default="1000000,10000000")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--suite", default=",".join(SUITE), help="bench/ programs to run under the adapter ('' for none)")
    args = parser.parse_args()
    rows = []
    with tempfile.TemporaryDirectory() as folder:
        for steps in (int(s) for s in args.steps.split(",")):
            program, last_line = program_for(steps, folder)
            rounds = [round_for(args.dap, args.skern, program, last_line) for _ in range(args.rounds)]
            median = {key: statistics.median(r[key] for r in rounds) for key in rounds[0]}
            rows.append((steps, median))
    ms = lambda seconds: f"{seconds * 1000:.1f} ms"
    print("| steps | skern | under the adapter | ratio | to the breakpoint | step back | second step back"
          " | reverse continue to the start | adapter's peak RSS |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for steps, m in rows:
        print(f"| {steps:,} | {ms(m['skern'])} | {ms(m['adapter'])} | {m['adapter'] / m['skern']:.2f} "
              f"| {ms(m['to breakpoint'])} | {ms(m['step back'])} | {ms(m['second step back'])} "
              f"| {ms(m['reverse continue'])} | {m['peak RSS MiB']:.1f} MiB |")
    names = [name for name in args.suite.split(",") if name]
    if not names:
        return
    print()
    print("| benchmark | skern | under the adapter | ratio |")
    print("|---|---:|---:|---:|")
    for name in names:
        program = HERE / f"{name}.skr"
        # Interleaved, so that a busy moment weighs on both alike.
        pairs = [(command_time(args.skern, program), session_time(args.dap, program)) for _ in range(args.rounds)]
        alone = statistics.median(p[0] for p in pairs)
        under = statistics.median(p[1] for p in pairs)
        print(f"| {name} | {ms(alone)} | {ms(under)} | {under / alone:.2f} |")


if __name__ == "__main__":
    main()
