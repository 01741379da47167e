// What the editor shows for the Debug mode: breakpoints, set and cleared by
// clicking the gutter (the line numbers or the narrow column before them),
// and the line the recording stands at, with the line of a caller's frame
// when one is picked in the call stack.
import { StateEffect, StateField } from '@codemirror/state';
import { Decoration, EditorView, GutterMarker, gutter, lineNumbers } from '@codemirror/view';

const toggleBreakpoint = StateEffect.define();
const setPlace = StateEffect.define();

// Whether the change removes the whole text of the line at `start`, the
// line break of an empty line included.
function removesLine(changes, doc, start) {
  const end = doc.lineAt(start).to;
  let removed = false;
  changes.iterChangedRanges((from, to) => {
    if (from <= start && to >= end && to > from) removed = true;
  });
  return removed;
}

// Breakpoints are kept as the positions where their lines start, so that
// editing above them moves them with their lines; one whose line is
// removed goes with it.
const breakpointField = StateField.define({
  create: () => [],
  update(starts, transaction) {
    let next = starts;
    if (transaction.docChanged) {
      const { changes, startState, state } = transaction;
      const kept = starts.filter((start) => !removesLine(changes, startState.doc, start));
      next = [...new Set(kept.map((start) => state.doc.lineAt(changes.mapPos(start)).from))];
    }
    for (const effect of transaction.effects) {
      if (!effect.is(toggleBreakpoint)) continue;
      const start = effect.value;
      next = next.includes(start) ? next.filter((other) => other !== start) : [...next, start];
    }
    return next;
  },
});

// {current, frame}: the lines of the step shown and of the frame picked, 1-based
// (frame 0 when it is the innermost one), or null outside the Debug mode.
const placeField = StateField.define({
  create: () => null,
  update(place, transaction) {
    for (const effect of transaction.effects) if (effect.is(setPlace)) return effect.value;
    // The recording's lines are those of the program it was made of.
    return transaction.docChanged ? null : place;
  },
  provide: (field) =>
    EditorView.decorations.compute([field], (state) => {
      const place = state.field(field);
      if (!place) return Decoration.none;
      const marks = [];
      const { doc } = state;
      if (place.frame && place.frame !== place.current && place.frame <= doc.lines) {
        marks.push(Decoration.line({ class: 'cm-debug-frame' }).range(doc.line(place.frame).from));
      }
      if (place.current && place.current <= doc.lines) {
        marks.push(Decoration.line({ class: 'cm-debug-current' }).range(doc.line(place.current).from));
      }
      return Decoration.set(marks, true);
    }),
});

class DebugMarker extends GutterMarker {
  constructor(breakpoint, current) {
    super();
    this.breakpoint = breakpoint;
    this.current = current;
  }

  eq(other) {
    return other.breakpoint === this.breakpoint && other.current === this.current;
  }

  toDOM() {
    const mark = document.createElement('span');
    mark.className = `cm-debug-marker${this.breakpoint ? ' cm-breakpoint' : ''}${this.current ? ' cm-debug-arrow' : ''}`;
    if (this.breakpoint || this.current) mark.title = this.breakpoint ? 'Breakpoint: click to clear' : 'The statement about to run';
    return mark;
  }
}

const MARKERS = [null, new DebugMarker(true, false), new DebugMarker(false, true), new DebugMarker(true, true)];
// Gives the column its width.
const SPACER = new DebugMarker(false, false);

function toggleAt(view, line) {
  view.dispatch({ effects: toggleBreakpoint.of(line.from) });
  return true;
}

const handlers = {
  mousedown: (view, line, event) => {
    event.preventDefault();
    return toggleAt(view, line);
  },
};

// The editor extensions: the breakpoint column, the line numbers (which set
// breakpoints too), and the marks of the step shown.
export function debugMarks() {
  return [
    breakpointField,
    placeField,
    gutter({
      class: 'cm-breakpoint-gutter',
      lineMarker(view, line) {
        const breakpoint = view.state.field(breakpointField).includes(line.from);
        const place = view.state.field(placeField);
        const current = place !== null && place.current > 0 && view.state.doc.lineAt(line.from).number === place.current;
        return MARKERS[(breakpoint ? 1 : 0) + (current ? 2 : 0)];
      },
      lineMarkerChange: (update) =>
        update.startState.field(breakpointField) !== update.state.field(breakpointField) ||
        update.startState.field(placeField) !== update.state.field(placeField),
      initialSpacer: () => SPACER,
      domEventHandlers: handlers,
    }),
    lineNumbers({ domEventHandlers: handlers }),
  ];
}

// The lines that hold a breakpoint, ascending.
export function breakpointLines(state) {
  return state.field(breakpointField).map((start) => state.doc.lineAt(start).number).sort((a, b) => a - b);
}

// Sets or clears the breakpoint on the line that holds the cursor.
export function toggleBreakpointAtCursor(view) {
  return toggleAt(view, view.state.doc.lineAt(view.state.selection.main.head));
}

// Shows the line of the step (0: none) and of the frame picked, and scrolls
// the one picked into view; null clears both.
export function showPlace(view, place) {
  const effects = [setPlace.of(place)];
  const line = place && (place.frame || place.current);
  if (line && line <= view.state.doc.lines) {
    effects.push(EditorView.scrollIntoView(view.state.doc.line(line).from, { y: 'nearest', yMargin: 40 }));
  }
  view.dispatch({ effects });
}
