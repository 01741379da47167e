// Skerran for the editor: highlighting with the word lists of the TextMate
// grammar that the editors use (read from it when the page is built), and
// indentation that opens a block after a line ending in a colon.
import grammar from '../../editors/vscode/syntaxes/skerran.tmLanguage.json';
import { HighlightStyle, StreamLanguage, indentService, syntaxHighlighting } from '@codemirror/language';
import { classHighlighter, tags } from '@lezer/highlight';

// --- Word lists from the grammar ------------------------------------------

// The text of each capturing group of a regular expression, by number.
function capturingGroups(source) {
  const groups = [];
  const open = [];
  let count = 0;
  let inClass = false;
  for (let i = 0; i < source.length; i++) {
    const c = source[i];
    if (c === '\\') {
      i++;
    } else if (inClass) {
      inClass = c !== ']';
    } else if (c === '[') {
      inClass = true;
    } else if (c === '(') {
      open.push(source[i + 1] === '?' ? null : { number: ++count, start: i + 1 });
    } else if (c === ')') {
      const group = open.pop();
      if (group) groups[group.number] = source.slice(group.start, i);
    }
  }
  return groups;
}

// A pattern without its look-arounds, which only say where it may match.
function withoutLookarounds(source) {
  let result = source;
  let previous;
  do {
    previous = result;
    result = result.replace(/\(\?<?[=!](?:[^()\\]|\\.|\([^()]*\))*\)/g, '');
  } while (result !== previous);
  return result;
}

const LITERAL = /^[a-z][a-z :]*$|^->$/;

// The words of the first (?:a|b|c) alternation in a pattern.
function alternatives(source) {
  const match = /\(\?:([a-z|]+)\)/.exec(source);
  return match ? match[1].split('|') : [];
}

function* patternsOf(node) {
  if (!node || typeof node !== 'object') return;
  if (Array.isArray(node)) {
    for (const item of node) yield* patternsOf(item);
    return;
  }
  yield node;
  yield* patternsOf(node.patterns);
  if (node.repository) for (const entry of Object.values(node.repository)) yield* patternsOf(entry);
}

function readGrammar() {
  const phrases = new Set();
  let types = [];
  let booleans = [];
  let reserved = [];
  for (const pattern of patternsOf(grammar)) {
    for (const [key, capturesKey] of [
      ['match', 'captures'],
      ['begin', 'beginCaptures'],
      ['end', 'endCaptures'],
    ]) {
      const source = pattern[key];
      if (typeof source !== 'string') continue;
      const groups = capturingGroups(source);
      for (const [number, capture] of Object.entries(pattern[capturesKey] || {})) {
        const text = groups[Number(number)];
        if (capture.name && capture.name.startsWith('keyword.') && text && LITERAL.test(text)) phrases.add(text);
      }
      if (key === 'match' && pattern.name && pattern.name.startsWith('keyword.')) {
        const text = withoutLookarounds(source);
        if (LITERAL.test(text)) phrases.add(text);
      }
    }
    if (pattern.name === 'storage.type.skerran') types = alternatives(pattern.match);
    if (pattern.name === 'constant.language.boolean.skerran') booleans = alternatives(pattern.match);
    if (pattern.name === 'meta.function-call.skerran') reserved = alternatives(pattern.match);
  }
  return { phrases: [...phrases], types, booleans, reserved };
}

export const words = readGrammar();

// --- Highlighting -----------------------------------------------------------

const phrases = [...words.phrases].sort((a, b) => b.length - a.length);
const types = new Set(words.types);
const booleans = new Set(words.booleans);
const reserved = new Set(words.reserved);
const WORD = /[A-Za-z0-9_]/;

function keywordPhrase(stream) {
  const { string, pos } = stream;
  if (pos > 0 && WORD.test(string[pos - 1])) return null;
  for (const phrase of phrases) {
    if (!string.startsWith(phrase, pos)) continue;
    const after = string[pos + phrase.length];
    if (phrase.endsWith(':') || phrase === '->' || after === undefined || !WORD.test(after)) return phrase;
  }
  return null;
}

const skerranParser = {
  name: 'skerran',
  startState: () => ({ declaring: false }),
  token(stream, state) {
    if (stream.sol()) state.declaring = false;
    if (stream.eatSpace()) return null;
    if (stream.match('//')) {
      stream.skipToEnd();
      return 'comment';
    }
    if (stream.peek() === '"') {
      stream.next();
      let escaped = false;
      while (!stream.eol()) {
        const c = stream.next();
        if (escaped) escaped = false;
        else if (c === '\\') escaped = true;
        else if (c === '"') return 'string';
      }
      return 'invalid';
    }
    if (stream.peek() === "'") {
      if (stream.match(/^'(?:\\.|[^'\\])'/)) return 'character';
      stream.next();
      return 'invalid';
    }
    if (stream.match(/^[0-9]+\.[0-9]+(?![A-Za-z0-9_])/) || stream.match(/^[0-9]+(?![A-Za-z0-9_])/)) return 'number';
    const phrase = keywordPhrase(stream);
    if (phrase) {
      stream.pos += phrase.length;
      if (phrase === 'we declare') state.declaring = true;
      return 'keyword';
    }
    if (stream.match(/^[A-Za-z][A-Za-z0-9_]*/)) {
      const word = stream.current();
      if (types.has(word)) return 'typeName';
      if (booleans.has(word)) return 'bool';
      if (reserved.has(word)) return 'keyword';
      if (state.declaring) {
        state.declaring = false;
        return 'variableName.definition';
      }
      if (/^[ \t]+with(?![A-Za-z0-9_])/.test(stream.string.slice(stream.pos))) return 'variableName.function';
      return 'variableName';
    }
    if (stream.match(/^(?:<=|>=)/)) return 'invalid';
    if (stream.match(/^(?:==|!=|[<>=+\-*/!])/)) return 'operator';
    if (stream.match(/^[(),]/)) return 'punctuation';
    stream.next();
    return null;
  },
  languageData: { commentTokens: { line: '//' } },
};

export const skerranLanguage = StreamLanguage.define(skerranParser);

const colours = HighlightStyle.define([
  { tag: tags.keyword, color: 'var(--syntax-keyword)', fontWeight: '600' },
  { tag: tags.typeName, color: 'var(--syntax-type)' },
  { tag: tags.bool, color: 'var(--syntax-constant)' },
  { tag: [tags.string, tags.character], color: 'var(--syntax-string)' },
  { tag: tags.number, color: 'var(--syntax-constant)' },
  { tag: tags.comment, color: 'var(--syntax-comment)', fontStyle: 'italic' },
  { tag: [tags.function(tags.variableName), tags.definition(tags.variableName)], color: 'var(--syntax-function)' },
  { tag: tags.operator, color: 'var(--syntax-operator)' },
  { tag: tags.invalid, color: 'var(--syntax-invalid)', textDecoration: 'underline wavy' },
]);

// --- Indentation ------------------------------------------------------------

// Columns of a line's indentation: a space counts 1 and a tab 4.
function indentationOf(text) {
  let columns = 0;
  for (const c of text) {
    if (c === ' ') columns += 1;
    else if (c === '\t') columns += 4;
    else break;
  }
  return columns;
}

// A line's text without its comment (a // outside quotes) and trailing blanks.
function codeOf(text) {
  let quote = null;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (quote) {
      if (c === '\\') i++;
      else if (c === quote) quote = null;
    } else if (c === '"' || c === "'") {
      quote = c;
    } else if (c === '/' && text[i + 1] === '/') {
      return text.slice(0, i).trimEnd();
    }
  }
  return text.trimEnd();
}

// A new line keeps the indentation of the line above, one level deeper
// below a line that opens a block.
const blockIndentation = indentService.of((context, pos) => {
  let line = context.lineAt(pos, -1);
  while (line.from > 0 && codeOf(line.text).trim() === '') line = context.lineAt(line.from - 1, -1);
  const base = indentationOf(line.text);
  return codeOf(line.text).endsWith(':') ? base + context.unit : base;
});

export function skerran() {
  return [skerranLanguage, syntaxHighlighting(colours), syntaxHighlighting(classHighlighter), blockIndentation];
}
