// A pane of program output that stays quick at any size.
//
// The text is kept in the pieces it arrived in, with an index of where its
// lines start; only the lines in view, and a few around them, are in the
// document, so a million lines cost the page what a screenful costs. Text
// may arrive at any rate: the pane draws at most once an animation frame.
// Past SHOWN_LINES lines or SHOWN_CHARACTERS characters it keeps the first
// and the last half of that, says how much it left out between them, and
// still holds the whole text for download(). A line longer than LINE_SHOWN
// characters is shown cut, saying how much more it has.
//
//   const pane = new OutputPane(element, {onDraw});   // onDraw(pane) after each drawing
//   pane.append(text); pane.setText(text); pane.truncate(length); pane.clear();
//   pane.length, pane.lineCount, pane.omittedLines, pane.text(), pane.download(name)
//   pane.drawNow();       // draws now what waits for the next frame
//   await pane.shown();   // once everything appended so far has been drawn

export const SHOWN_LINES = 1_000_000;
export const SHOWN_CHARACTERS = 10_000_000;
export const LINE_SHOWN = 2_000;
// Lines drawn above and below the ones in view, so that scrolling a little
// needs no drawing.
const OVERSCAN = 30;
// The most lines drawn at once, should the pane be made taller than a screen.
const MOST_DRAWN = 1_000;

const format = (count) => count.toLocaleString('en');

function formatSize(characters) {
  if (characters < 1e3) return `${characters} characters`;
  if (characters < 1e6) return `${(characters / 1e3).toFixed(1)} thousand characters`;
  return `${(characters / 1e6).toFixed(1)} million characters`;
}

// Line starts in a typed array that grows by doubling.
class Offsets {
  constructor() {
    this.values = new Float64Array(1024);
    this.count = 0;
  }

  push(value) {
    if (this.count === this.values.length) {
      const larger = new Float64Array(this.values.length * 2);
      larger.set(this.values);
      this.values = larger;
    }
    this.values[this.count++] = value;
  }

  // Forgets the first `count` entries.
  dropFront(count) {
    this.values.copyWithin(0, count, this.count);
    this.count -= count;
  }

  // Forgets every entry from `value` on (the entries ascend).
  dropFrom(value) {
    while (this.count > 0 && this.values[this.count - 1] >= value) this.count--;
  }
}

export class OutputPane {
  #element;
  #sizer;
  #lines;
  #pieces = [];
  #pieceStarts = [];
  #length = 0;
  // Where each line starts: the first ones in #head, until it holds half of
  // what is shown; then the latest ones in #tail, which forgets its oldest
  // once it holds the other half. Lines between the two are left out.
  #head = new Offsets();
  #headFull = false;
  #headEnd = 0;
  #tail = new Offsets();
  #tailFront = 0;
  #lineCount = 0;
  #widest = 0;
  #lineHeight = 0;
  #drawn = null;
  #frame = 0;
  #follow = true;
  #ownScrollTop = -1;
  #waiting = [];

  #onDraw;

  constructor(element, { onDraw = null } = {}) {
    this.#element = element;
    this.#onDraw = onDraw;
    element.classList.add('virtual');
    this.#sizer = document.createElement('div');
    this.#sizer.className = 'stream-sizer';
    this.#lines = document.createElement('div');
    this.#lines.className = 'stream-lines';
    this.#sizer.append(this.#lines);
    element.replaceChildren(this.#sizer);
    element.addEventListener('scroll', () => this.#scrolled(), { passive: true });
    new ResizeObserver(() => this.#schedule()).observe(element);
    this.clear();
  }

  // Characters of output held (all of them, shown or not).
  get length() {
    return this.#length;
  }

  // Lines of output, a last line without its line feed included.
  get lineCount() {
    return this.#lineCount;
  }

  // Lines left out between the first and the last part shown.
  get omittedLines() {
    return this.#lineCount - this.#head.count - this.#tailLines();
  }

  clear() {
    this.#pieces = [];
    this.#pieceStarts = [];
    this.#length = 0;
    this.#head = new Offsets();
    this.#headFull = false;
    this.#headEnd = 0;
    this.#tail = new Offsets();
    this.#tailFront = 0;
    this.#lineCount = 0;
    this.#widest = 0;
    this.#follow = true;
    this.#schedule();
  }

  setText(text) {
    this.clear();
    this.append(text);
  }

  append(text) {
    if (!text) return;
    const start = this.#length;
    this.#pieces.push(text);
    this.#pieceStarts.push(start);
    this.#length += text.length;
    if (start === 0 || this.#endsWithLineFeed(start)) this.#lineStarts(start);
    for (let at = text.indexOf('\n'); at !== -1; at = text.indexOf('\n', at + 1)) {
      if (start + at + 1 < this.#length) this.#lineStarts(start + at + 1);
    }
    this.#measureLastLine();
    this.#trimTail();
    this.#schedule();
  }

  // Keeps the first `length` characters.
  truncate(length) {
    if (length >= this.#length) return;
    const kept = this.#slice(0, Math.max(0, length));
    this.clear();
    this.append(kept);
  }

  // The whole output, as a text.
  text() {
    return this.#pieces.join('');
  }

  // Offers the whole output as a file.
  download(name = 'output.txt') {
    const url = URL.createObjectURL(new Blob(this.#pieces, { type: 'text/plain;charset=utf-8' }));
    const link = document.createElement('a');
    link.href = url;
    link.download = name;
    link.hidden = true;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60_000);
  }

  // Draws at once what would be drawn at the next frame: at the end of a
  // run, so that the output and the status line change together.
  drawNow() {
    if (this.#frame) {
      cancelAnimationFrame(this.#frame);
      this.#draw();
    }
  }

  // Resolves once everything appended so far is drawn.
  shown() {
    if (!this.#frame && this.#drawn && this.#drawn.length === this.#length) return Promise.resolve();
    return new Promise((resolve) => this.#waiting.push(resolve));
  }

  // --- The index ---

  #endsWithLineFeed(offset) {
    const index = this.#pieceAt(offset - 1);
    return this.#pieces[index][offset - 1 - this.#pieceStarts[index]] === '\n';
  }

  #lineStarts(offset) {
    if (this.#lineCount > 0) this.#measure(this.#lastStart(), offset);
    this.#lineCount += 1;
    if (!this.#headFull) {
      if (this.#head.count < SHOWN_LINES / 2 && offset <= SHOWN_CHARACTERS / 2) {
        this.#head.push(offset);
        return;
      }
      this.#headFull = true;
      this.#headEnd = offset;
    }
    this.#tail.push(offset);
  }

  // The tail forgets its oldest lines once it holds more than its half; the
  // forgotten entries are removed in batches, which keeps the copying rare.
  #trimTail() {
    const tail = this.#tail;
    while (
      tail.count - this.#tailFront > SHOWN_LINES / 2 ||
      (tail.count - this.#tailFront > 1 && this.#length - tail.values[this.#tailFront] > SHOWN_CHARACTERS / 2)
    ) {
      this.#tailFront += 1;
    }
    if (this.#tailFront >= 65_536 && this.#tailFront * 2 >= tail.count) {
      tail.dropFront(this.#tailFront);
      this.#tailFront = 0;
    }
  }

  #lastStart() {
    return this.#tail.count > 0 ? this.#tail.values[this.#tail.count - 1] : this.#head.values[this.#head.count - 1];
  }

  #measure(from, to) {
    this.#widest = Math.max(this.#widest, Math.min(to - from, LINE_SHOWN + 40));
  }

  #measureLastLine() {
    if (this.#lineCount > 0) this.#measure(this.#lastStart(), this.#length);
  }

  #pieceAt(offset) {
    let low = 0;
    let high = this.#pieceStarts.length - 1;
    while (low < high) {
      const middle = (low + high + 1) >> 1;
      if (this.#pieceStarts[middle] <= offset) low = middle;
      else high = middle - 1;
    }
    return low;
  }

  #slice(from, to) {
    if (to <= from) return '';
    let index = this.#pieceAt(from);
    let text = '';
    for (let at = from; at < to; index++) {
      const piece = this.#pieces[index];
      const start = this.#pieceStarts[index];
      text += piece.slice(at - start, Math.min(piece.length, to - start));
      at = start + piece.length;
    }
    return text;
  }

  // --- Rows: the lines shown, with the note of those left out between ---

  #tailLines() {
    return this.#tail.count - this.#tailFront;
  }

  #rows() {
    return this.#head.count + this.#tailLines() + (this.omittedLines > 0 ? 1 : 0);
  }

  // The row's line as [start, end), or null for the note.
  #lineOfRow(row) {
    const head = this.#head.count;
    if (row < head) {
      const end = row + 1 < head ? this.#head.values[row + 1] : this.#headFull ? this.#headEnd : this.#length;
      return [this.#head.values[row], end];
    }
    let index = row - head;
    if (this.omittedLines > 0) {
      if (index === 0) return null;
      index -= 1;
    }
    index += this.#tailFront;
    const end = index + 1 < this.#tail.count ? this.#tail.values[index + 1] : this.#length;
    return [this.#tail.values[index], end];
  }

  #note(className, text) {
    const note = document.createElement('span');
    note.className = className;
    note.textContent = text;
    return note;
  }

  // --- Drawing ---

  #schedule() {
    if (!this.#frame) this.#frame = requestAnimationFrame(() => this.#draw());
  }

  #scrolled() {
    const element = this.#element;
    if (element.scrollTop === this.#ownScrollTop) return;
    this.#ownScrollTop = -1;
    this.#follow = element.scrollTop + element.clientHeight >= element.scrollHeight - this.#lineHeight;
    const [first, last] = this.#visibleRows();
    if (!this.#drawn || first < this.#drawn.first || last > this.#drawn.last) this.#schedule();
  }

  #visibleRows() {
    const element = this.#element;
    const top = Math.max(0, element.scrollTop - this.#sizer.offsetTop);
    const first = Math.floor(top / this.#lineHeight);
    return [first, first + Math.ceil(element.clientHeight / this.#lineHeight) + 1];
  }

  #draw() {
    this.#frame = 0;
    if (!this.#lineHeight) this.#lineHeight = parseFloat(getComputedStyle(this.#lines).lineHeight) || 20;
    const rows = this.#rows();
    this.#sizer.style.height = `${rows * this.#lineHeight}px`;
    this.#sizer.style.minWidth = `${this.#widest}ch`;
    if (this.#follow) {
      this.#element.scrollTop = this.#element.scrollHeight;
      this.#ownScrollTop = this.#element.scrollTop;
    }
    const [visibleFirst, visibleLast] = this.#visibleRows();
    const first = Math.max(0, Math.min(visibleFirst, rows) - OVERSCAN);
    const last = Math.min(rows, visibleLast + OVERSCAN, first + MOST_DRAWN);
    const content = document.createDocumentFragment();
    let text = '';
    for (let row = first; row < last; row++) {
      const line = this.#lineOfRow(row);
      if (!line) {
        content.append(text, this.#note('note omitted', this.#omittedNote()), '\n');
        text = '';
        continue;
      }
      const [start, end] = line;
      if (end - start <= LINE_SHOWN + 1) {
        text += this.#slice(start, end);
        continue;
      }
      const feed = this.#slice(end - 1, end) === '\n';
      text += this.#slice(start, start + LINE_SHOWN);
      content.append(text, this.#note('note', ` … and ${format(end - start - LINE_SHOWN - (feed ? 1 : 0))} more characters on this line`));
      text = feed ? '\n' : '';
    }
    content.append(text);
    this.#lines.replaceChildren(content);
    this.#lines.style.transform = `translateY(${first * this.#lineHeight}px)`;
    this.#drawn = { first, last, length: this.#length };
    if (this.#onDraw) this.#onDraw(this);
    const waiting = this.#waiting;
    this.#waiting = [];
    for (const resolve of waiting) resolve();
  }

  #omittedNote() {
    const lines = this.omittedLines;
    const first = this.#headEnd;
    const last = this.#tail.values[this.#tailFront];
    return `⋯ ${format(lines)} lines (${formatSize(last - first)}) left out here: Download has them ⋯`;
  }
}
