// Moving through a recorded run, as a debugger moves through a live one.
// Positions 0 to steps.length - 1 are the steps; steps.length is the end of
// the run. Each move gives the position it lands on.

// The next step after `from` that satisfies `holds`, else the end.
function forward(steps, from, holds) {
  for (let at = from + 1; at < steps.length; at++) if (holds(steps[at])) return at;
  return steps.length;
}

// The next statement, into a call's body when the statement makes a call.
export function stepInto(steps, from) {
  return Math.min(from + 1, steps.length);
}

// The next statement in this frame or a caller's, over any calls made.
export function stepOver(steps, from) {
  if (from >= steps.length) return from;
  const { depth } = steps[from];
  return forward(steps, from, (step) => step.depth <= depth);
}

// The next statement once the current council has returned.
export function stepOut(steps, from) {
  if (from >= steps.length) return from;
  const { depth } = steps[from];
  return forward(steps, from, (step) => step.depth < depth);
}

// The next statement on a line with a breakpoint.
export function continueTo(steps, from, breakpoints) {
  if (from >= steps.length) return from;
  const lines = new Set(breakpoints);
  return forward(steps, from, (step) => lines.has(step.line));
}

// The statement before, in this frame or a caller's: back over a call's
// statements to the line that made the call. From the end, or where no such
// statement is, simply the step before.
export function stepBack(steps, from) {
  if (from <= 0) return 0;
  if (from < steps.length) {
    const { depth } = steps[from];
    for (let at = from - 1; at >= 0; at--) if (steps[at].depth <= depth) return at;
  }
  return from - 1;
}

// Where the Debug mode starts: at the first breakpoint reached, when any is
// set (the end when none is reached), else at the first statement.
export function startOf(steps, breakpoints) {
  if (breakpoints.length === 0) return 0;
  return continueTo(steps, -1, breakpoints);
}
