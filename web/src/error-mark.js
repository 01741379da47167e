// Where an error lies, marked in the editor: its line, and the character at
// its column, or a mark just after the line's last character when the error
// lies past its end (an expression that stops too soon). Any error with a
// line, and a column when it has one, is marked the same way.
import { StateEffect, StateField } from '@codemirror/state';
import { Decoration, EditorView, WidgetType } from '@codemirror/view';

const setMark = StateEffect.define();

// A small block after the line's last character, where nothing else is drawn.
class EndOfLineMark extends WidgetType {
  eq() {
    return true;
  }

  toDOM() {
    const mark = document.createElement('span');
    mark.className = 'cm-error-end';
    mark.setAttribute('aria-hidden', 'true');
    return mark;
  }
}

// The UTF-16 offset in `text` of a 1-based column counted in characters.
function offsetOfColumn(text, column) {
  let offset = 0;
  for (let counted = 1; counted < column && offset < text.length; counted++) {
    offset += text.codePointAt(offset) > 0xffff ? 2 : 1;
  }
  return offset;
}

// Where in the document the mark goes: the line's range, and the range of
// the marked character (empty past the line's end), or null without a column.
function placeOf(doc, { line, column }) {
  if (!Number.isInteger(line) || line < 1 || line > doc.lines) return null;
  const { from, to, text } = doc.line(line);
  if (!column || column < 1) return { from, to, at: null };
  const offset = offsetOfColumn(text, column);
  const end = offset < text.length ? offset + (text.codePointAt(offset) > 0xffff ? 2 : 1) : offset;
  return { from, to, at: { from: from + offset, to: from + end } };
}

function decorationsFor(doc, error) {
  const place = placeOf(doc, error);
  if (!place) return Decoration.none;
  const marks = [Decoration.line({ class: 'cm-error-line', attributes: { title: error.message || '' } }).range(place.from)];
  if (place.at && place.at.from < place.at.to) {
    marks.push(Decoration.mark({ class: 'cm-error-at' }).range(place.at.from, place.at.to));
  } else if (place.at) {
    marks.push(Decoration.widget({ widget: new EndOfLineMark(), side: 1 }).range(place.at.from));
  }
  return Decoration.set(marks, true);
}

const errorMarkField = StateField.define({
  create: () => Decoration.none,
  update(marks, transaction) {
    for (const effect of transaction.effects) {
      if (effect.is(setMark)) return effect.value ? decorationsFor(transaction.state.doc, effect.value) : Decoration.none;
    }
    // Edits move the mark with its text.
    return marks.map(transaction.changes);
  },
  provide: (field) => EditorView.decorations.from(field),
});

// The editor extension that draws the marks.
export function errorMarks() {
  return errorMarkField;
}

// Marks the error at `line` and `column` (both 1-based, the column counted in
// characters; 0 or missing for the whole line) and scrolls it into view, the
// position after the line's end included. `message` is shown on hovering.
// Gives whether the line exists.
export function markError(view, { line, column = 0, message = '' }) {
  const place = placeOf(view.state.doc, { line, column });
  if (!place) {
    clearErrorMark(view);
    return false;
  }
  const target = place.at ? place.at.from : place.from;
  view.dispatch({
    effects: [
      setMark.of({ line, column, message }),
      EditorView.scrollIntoView(target, { y: 'nearest', x: 'nearest', xMargin: 40, yMargin: 20 }),
    ],
  });
  return true;
}

export function clearErrorMark(view) {
  view.dispatch({ effects: setMark.of(null) });
}
