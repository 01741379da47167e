// Tokenises Skerran sources with the TextMate grammar of the VS Code
// extension, through the same engine VS Code uses, and checks the scopes.
//
// Usage: node grammar.test.js <source-dir> <node_modules-dir>
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { createRequire } = require('node:module');
const { describe, it, before } = require('node:test');

const [sourceDir, modulesDir] = process.argv.slice(2);
if (!sourceDir || !modulesDir) {
  console.error('usage: node grammar.test.js <source-dir> <node_modules-dir>');
  process.exit(2);
}
const requireDep = createRequire(path.join(modulesDir, 'index.js'));
const vsctm = requireDep('vscode-textmate');
const oniguruma = requireDep('vscode-oniguruma');

const extensionDir = path.join(sourceDir, 'editors', 'vscode');
const manifest = JSON.parse(fs.readFileSync(path.join(extensionDir, 'package.json'), 'utf8'));
const grammarPath = path.join(extensionDir, 'syntaxes', 'skerran.tmLanguage.json');
const configPath = path.join(extensionDir, 'language-configuration.json');

let grammar;

async function loadGrammar() {
  const wasm = fs.readFileSync(requireDep.resolve('vscode-oniguruma/release/onig.wasm'));
  await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
  const registry = new vsctm.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
      createOnigString: (text) => new oniguruma.OnigString(text),
    }),
    loadGrammar: async (scopeName) => {
      if (scopeName !== 'source.skerran') return null;
      const text = fs.readFileSync(grammarPath, 'utf8');
      return vsctm.parseRawGrammar(text, grammarPath);
    },
  });
  const loaded = await registry.loadGrammar('source.skerran');
  assert.ok(loaded, 'grammar source.skerran did not load');
  return loaded;
}

// Tokenises a whole text line by line, carrying the rule stack across lines
// as an editor does. Each line becomes { text, tokens: [{ start, end, text, scopes }] }.
function tokenize(source) {
  let stack = vsctm.INITIAL;
  const lines = source.split(/\r?\n/);
  if (lines.length > 1 && lines[lines.length - 1] === '') lines.pop();
  return lines.map((text) => {
    const result = grammar.tokenizeLine(text, stack);
    stack = result.ruleStack;
    const tokens = result.tokens.map((t, i) => {
      const end = i + 1 < result.tokens.length ? result.tokens[i + 1].startIndex : text.length;
      return { start: t.startIndex, end, text: text.slice(t.startIndex, end), scopes: t.scopes };
    });
    return { text, tokens };
  });
}

function tokenizeLine(text) {
  return tokenize(text)[0];
}

function hasScope(token, scope) {
  return token.scopes.some((s) => s === scope || s.startsWith(scope + '.'));
}

function describeTokens(line) {
  return line.tokens.map((t) => `${JSON.stringify(t.text)} ${t.scopes.slice(1).join(' ')}`).join('\n');
}

// Offset of the nth occurrence of `fragment` in `text`; a fragment that
// begins or ends with a name character only counts where it is not part of
// a longer name ("a" is not found inside "declare").
function find(text, fragment, nth = 0) {
  const nameChar = /[A-Za-z0-9_]/;
  let at = -1;
  let seen = -1;
  while (seen < nth) {
    at = text.indexOf(fragment, at + 1);
    assert.notEqual(at, -1, `${JSON.stringify(fragment)} (occurrence ${nth}) not in ${JSON.stringify(text)}`);
    const end = at + fragment.length;
    const cutsBefore = nameChar.test(fragment[0]) && at > 0 && nameChar.test(text[at - 1]);
    const cutsAfter = nameChar.test(fragment[fragment.length - 1]) && end < text.length && nameChar.test(text[end]);
    if (!cutsBefore && !cutsAfter) seen++;
  }
  return at;
}

// Asserts that the nth occurrence of `fragment` in the line is covered by
// tokens carrying `scope` and that the scope does not spill over onto the
// characters right before and after it, unless those are blanks.
function expectScope(line, fragment, scope, nth = 0) {
  const at = find(line.text, fragment, nth);
  expectScopeAt(line, at, at + fragment.length, scope);
}

function expectScopeAt(line, at, end, scope) {
  const fragment = line.text.slice(at, end);
  const inside = line.tokens.filter((t) => t.end > at && t.start < end);
  for (const t of inside) {
    assert.ok(t.start >= at && t.end <= end || hasScope(t, scope),
      `token ${JSON.stringify(t.text)} crosses ${JSON.stringify(fragment)}`);
    assert.ok(hasScope(t, scope),
      `${JSON.stringify(t.text)} in ${JSON.stringify(line.text)} lacks ${scope}:\n${describeTokens(line)}`);
  }
  for (const t of line.tokens) {
    const overlapsOutside = (t.start < at && t.end > at - 1) || (t.end > end && t.start < end + 1);
    if (!overlapsOutside || !hasScope(t, scope)) continue;
    const outside = line.text.slice(Math.max(t.start, at - 1), at) + line.text.slice(end, Math.min(t.end, end + 1));
    assert.ok(/^\s*$/.test(outside),
      `${scope} spills beyond ${JSON.stringify(fragment)} in ${JSON.stringify(line.text)}:\n${describeTokens(line)}`);
  }
}

function expectNoScope(line, fragment, scope) {
  const at = find(line.text, fragment);
  const end = at + fragment.length;
  for (const t of line.tokens.filter((t) => t.end > at && t.start < end)) {
    assert.ok(!hasScope(t, scope),
      `${JSON.stringify(t.text)} in ${JSON.stringify(line.text)} must not be ${scope}:\n${describeTokens(line)}`);
  }
}

// Where the interpreter cuts a line for its comment: the first "//" outside
// double-quoted strings and single-quoted characters, with backslash escapes
// inside both. -1 when the line has no comment.
function commentStart(text) {
  let inString = false;
  let inChar = false;
  let escape = false;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (escape) { escape = false; continue; }
    if (c === '"' && !inChar) inString = !inString;
    else if (c === "'" && !inString) inChar = !inChar;
    else if (c === '\\' && (inString || inChar)) escape = true;
    else if (c === '/' && !inString && !inChar && text[i + 1] === '/') return i;
  }
  return -1;
}

// Every line's comment, as the interpreter sees it, is scoped as a comment
// from its "//" to the end of the line, and nothing before it is.
function expectCommentsAsInterpreter(lines, where) {
  for (const [n, line] of lines.entries()) {
    const start = commentStart(line.text);
    for (const t of line.tokens) {
      if (t.text === '') continue;
      const isComment = hasScope(t, 'comment.line.double-slash.skerran');
      const shouldBe = start !== -1 && t.start >= start;
      assert.equal(isComment, shouldBe,
        `${where}:${n + 1}: token ${JSON.stringify(t.text)} ${shouldBe ? 'should' : 'should not'} be a comment:\n${describeTokens(line)}`);
    }
  }
}

before(async () => {
  grammar = await loadGrammar();
});

describe('extension manifest and language configuration', () => {
  it('registers the .skr language with the grammar file and configuration', () => {
    const lang = manifest.contributes.languages.find((l) => l.id === 'skerran');
    assert.ok(lang, 'no language with id skerran');
    assert.ok(lang.extensions.includes('.skr'));
    assert.ok(fs.existsSync(path.join(extensionDir, lang.configuration)), lang.configuration);
    const entry = manifest.contributes.grammars.find((g) => g.language === 'skerran');
    assert.ok(entry, 'no grammar for skerran');
    assert.equal(entry.scopeName, 'source.skerran');
    assert.equal(path.resolve(extensionDir, entry.path), grammarPath);
    assert.equal(JSON.parse(fs.readFileSync(grammarPath, 'utf8')).scopeName, 'source.skerran');
    assert.ok(manifest.engines && manifest.engines.vscode, 'engines.vscode is required by VS Code');
  });

  it('declares line comments, brackets and auto-closing quotes', () => {
    const config = JSON.parse(fs.readFileSync(configPath, 'utf8'));
    assert.equal(config.comments.lineComment, '//');
    assert.deepEqual(config.brackets, [['(', ')']]);
    const opens = config.autoClosingPairs.map((p) => (Array.isArray(p) ? p[0] : p.open));
    for (const q of ['(', '"', "'"]) assert.ok(opens.includes(q), `no auto-closing pair for ${q}`);
  });

  it('indents after block headers and nowhere else', () => {
    const config = JSON.parse(fs.readFileSync(configPath, 'utf8'));
    const increase = new RegExp(config.indentationRules.increaseIndentPattern);
    const decrease = new RegExp(config.indentationRules.decreaseIndentPattern);
    const onEnter = config.onEnterRules.map((r) => ({ re: new RegExp(r.beforeText), action: r.action }));
    const indentsOnEnter = (text) => onEnter.some((r) => r.re.test(text) && r.action.indent === 'indent');
    const headers = ['on the iron throne:', 'council says:', '    if x > 1:', '    else:',
      'while n < 3:   // loop', 'the realm marches 3 times:', '        if s == "a:b":'];
    const others = ['we declare add with a, b ->', '    speak "ends with a colon:"', '    speak x // note:',
      '    x is a sigil with \':\'', '    n = n + 1'];
    for (const h of headers) {
      assert.ok(increase.test(h), `increaseIndentPattern misses ${JSON.stringify(h)}`);
      assert.ok(indentsOnEnter(h), `onEnterRules do not indent after ${JSON.stringify(h)}`);
    }
    for (const o of others) {
      assert.ok(!increase.test(o), `increaseIndentPattern matches ${JSON.stringify(o)}`);
      assert.ok(!indentsOnEnter(o), `onEnterRules indent after ${JSON.stringify(o)}`);
    }
    assert.ok(decrease.test('    else:'));
    assert.ok(!decrease.test('    speak "else:"'));
  });
});

describe('examples/hello.skr', () => {
  it('scopes its comments, main block header, speak and string', () => {
    const lines = tokenize(fs.readFileSync(path.join(sourceDir, 'examples', 'hello.skr'), 'utf8'));
    const lineWhere = (pred, what) => {
      const line = lines.find(pred);
      assert.ok(line, `hello.skr has no ${what}`);
      return line;
    };
    const comments = lines.filter((l) => l.text.startsWith('//'));
    assert.ok(comments.length > 0, 'hello.skr has no comment line');
    for (const c of comments) {
      expectScope(c, c.text, 'comment.line.double-slash.skerran');
      expectScope(c, '//', 'punctuation.definition.comment.skerran');
      expectNoScope(c, c.text, 'keyword');
      expectNoScope(c, c.text, 'string');
    }
    const header = lineWhere((l) => l.text === 'on the iron throne:', 'main block header');
    expectScope(header, 'on the iron throne:', 'keyword.other.main.skerran');
    const speak = lineWhere((l) => l.text.trim() === 'speak "Hello, realm!"', 'speak line');
    expectScope(speak, 'speak', 'keyword.other.speak.skerran');
    expectScope(speak, '"Hello, realm!"', 'string.quoted.double.skerran');
    expectScope(speak, '"', 'punctuation.definition.string.begin.skerran');
    expectScope(speak, '"', 'punctuation.definition.string.end.skerran', 1);
  });
});

describe('every program under examples/', () => {
  const dir = path.join(sourceDir, 'examples');
  const files = fs.readdirSync(dir).filter((f) => f.endsWith('.skr')).sort();

  it('finds the examples', () => {
    assert.ok(files.includes('hello.skr'), 'examples/hello.skr is missing');
  });

  for (const file of files) {
    it(`${file}: comments, headers and statement keywords`, () => {
      const lines = tokenize(fs.readFileSync(path.join(dir, file), 'utf8'));
      expectCommentsAsInterpreter(lines, file);
      for (const [n, line] of lines.entries()) {
        const where = `${file}:${n + 1}`;
        const code = line.text.slice(0, commentStart(line.text) === -1 ? undefined : commentStart(line.text)).trim();
        const check = (fragment, scope) => {
          try { expectScope(line, fragment, scope); } catch (e) { e.message = `${where}: ${e.message}`; throw e; }
        };
        if (code === 'on the iron throne:') check('on the iron throne:', 'keyword.other.main.skerran');
        if (code === 'council says:') check('council says:', 'keyword.other.council.skerran');
        if (code === 'else:') check('else:', 'keyword.control.conditional.skerran');
        if (code.startsWith('speak ')) check('speak', 'keyword.other.speak.skerran');
        if (code.startsWith('return ')) check('return', 'keyword.control.return.skerran');
        if (code.startsWith('if ') && code.endsWith(':')) check('if', 'keyword.control.conditional.skerran');
        if (code.startsWith('while ') && code.endsWith(':')) check('while', 'keyword.control.loop.skerran');
        if (code.startsWith('the realm marches ') && code.endsWith(' times:')) {
          check('the realm marches', 'keyword.control.loop.skerran');
          check('times:', 'keyword.control.loop.skerran');
        }
        const decl = /^we declare ([A-Za-z][A-Za-z0-9_]*) with\b/.exec(code);
        if (decl) {
          check('we declare', 'keyword.other.declare.skerran');
          const name = line.text.indexOf('we declare ') + 'we declare '.length;
          expectScopeAt(line, name, name + decl[1].length, 'entity.name.function.skerran');
        }
        if (/^[A-Za-z][A-Za-z0-9_]* speaks for input$/.test(code)) check('speaks for input', 'keyword.other.input.skerran');
      }
    });
  }
});

describe('keyword phrases', () => {
  it('scopes function declarations: keyword, name, with, parameters and arrow', () => {
    const line = tokenizeLine('we declare add with a, b ->');
    expectScope(line, 'we declare', 'keyword.other.declare.skerran');
    expectScope(line, 'add', 'entity.name.function.skerran');
    expectScope(line, 'with', 'keyword.other.with.skerran');
    expectScope(line, 'a', 'variable.parameter.skerran');
    expectScope(line, 'b', 'variable.parameter.skerran');
    expectScope(line, ',', 'punctuation.separator.parameter.skerran');
    expectScope(line, '->', 'keyword.operator.arrow.skerran');
    const bare = tokenizeLine('we declare motto with ->');
    expectScope(bare, 'motto', 'entity.name.function.skerran');
    expectScope(bare, 'with', 'keyword.other.with.skerran');
  });

  it('does not take text after "we declare" without a following "with" as a name', () => {
    const line = tokenizeLine('we declare add a ->');
    expectNoScope(line, 'add', 'entity.name.function.skerran');
    const notDecl = tokenizeLine('    speak we');
    expectNoScope(notDecl, 'we', 'keyword.other.declare.skerran');
  });

  it('scopes the block headers, with trailing comments', () => {
    const lines = tokenize([
      'on the iron throne:   // start',
      'council says:',
      '    if x > 1:',
      '    else:',
      '    while n != 0:',
      '    the realm marches count times: // four',
    ].join('\n'));
    expectScope(lines[0], 'on the iron throne:', 'keyword.other.main.skerran');
    expectScope(lines[0], '// start', 'comment.line.double-slash.skerran');
    expectScope(lines[1], 'council says:', 'keyword.other.council.skerran');
    expectScope(lines[2], 'if', 'keyword.control.conditional.skerran');
    expectScope(lines[2], ':', 'punctuation.section.block.begin.skerran');
    expectScope(lines[2], '>', 'keyword.operator.comparison.skerran');
    expectScope(lines[2], '1', 'constant.numeric.integer.skerran');
    expectScope(lines[3], 'else:', 'keyword.control.conditional.skerran');
    expectScope(lines[4], 'while', 'keyword.control.loop.skerran');
    expectScope(lines[4], '!=', 'keyword.operator.comparison.skerran');
    expectScope(lines[5], 'the realm marches', 'keyword.control.loop.skerran');
    expectScope(lines[5], 'count', 'variable.other.skerran');
    expectScope(lines[5], 'times:', 'keyword.control.loop.skerran');
    expectScope(lines[5], '// four', 'comment.line.double-slash.skerran');
  });

  it('recognises headers only as the interpreter does: exact words and single spaces', () => {
    const lines = tokenize([
      'On the iron throne:',
      'on the iron  throne:',
      'on the iron throne',
      '    speak times',
      '    if:',
      '    elsewhere = 1',
    ].join('\n'));
    expectNoScope(lines[0], 'On the iron throne:', 'keyword.other.main.skerran');
    expectNoScope(lines[1], 'on the iron  throne:', 'keyword.other.main.skerran');
    expectNoScope(lines[2], 'on the iron throne', 'keyword.other.main.skerran');
    expectNoScope(lines[3], 'times', 'keyword.control.loop.skerran');
    expectNoScope(lines[4], 'if', 'keyword.control.conditional.skerran');
    expectNoScope(lines[5], 'elsewhere', 'keyword.control.conditional.skerran');
  });

  it('scopes speak, return, input and declarations with their types', () => {
    const lines = tokenize([
      '    speak greet with "Arya"',
      '    return a + b',
      '    name speaks for input',
      '    x is a blade with 5',
      '    w is a wine with 2.5',
      '    s is a scroll with "x"',
      '    v is a vow with aye',
      '    c is a sigil with \'c\'',
      '    nothing is a void with silence with',
    ].join('\n'));
    expectScope(lines[0], 'speak', 'keyword.other.speak.skerran');
    expectScope(lines[1], 'return', 'keyword.control.return.skerran');
    expectScope(lines[1], '+', 'keyword.operator.arithmetic.skerran');
    expectScope(lines[2], 'name', 'variable.other.readwrite.skerran');
    expectScope(lines[2], 'speaks for input', 'keyword.other.input.skerran');
    expectScope(lines[3], 'x', 'variable.other.definition.skerran');
    expectScope(lines[3], 'is a', 'keyword.other.is-a.skerran');
    expectScope(lines[3], 'with', 'keyword.other.with.skerran');
    expectNoScope(lines[3], 'blade', 'entity.name.function');
    const types = ['blade', 'wine', 'scroll', 'vow', 'sigil', 'void'];
    types.forEach((type, i) => expectScope(lines[3 + i], type, 'storage.type.skerran'));
    expectScope(lines[8], 'silence', 'entity.name.function.call.skerran');
  });
});

describe('function calls', () => {
  it('scopes the name before "with" in calls, including nested and parenthesised ones', () => {
    const line = tokenizeLine('    speak add with 1, add with 2, (factorial with n - 1)');
    expectScope(line, 'add', 'entity.name.function.call.skerran', 0);
    expectScope(line, 'add', 'entity.name.function.call.skerran', 1);
    expectScope(line, 'factorial', 'entity.name.function.call.skerran');
    expectScope(line, 'with', 'keyword.other.with.skerran', 2);
    expectScope(line, '(', 'punctuation.section.parens.begin.skerran');
    expectScope(line, ')', 'punctuation.section.parens.end.skerran');
    expectScope(line, 'n', 'variable.other.skerran');
    const statement = tokenizeLine('    herald with "the king is dead"');
    expectScope(statement, 'herald', 'entity.name.function.call.skerran');
  });

  it('does not take plain names, reserved words or "withhold" for calls', () => {
    const line = tokenizeLine('    speak withhold + x');
    expectNoScope(line, 'withhold', 'entity.name.function.call.skerran');
    expectNoScope(line, 'withhold', 'keyword.other.with.skerran');
    expectScope(line, 'withhold', 'variable.other.skerran');
    const assign = tokenizeLine('    high = tens with n');
    expectNoScope(assign, 'high', 'entity.name.function.call.skerran');
    expectScope(assign, 'tens', 'entity.name.function.call.skerran');
    // Reserved words cannot name a function, and "speak" is a keyword only
    // at the start of a statement.
    const reserved = tokenizeLine('    x = speak with 1');
    expectNoScope(reserved, 'speak', 'entity.name.function.call.skerran');
    expectNoScope(reserved, 'speak', 'keyword.other.speak.skerran');
    expectScope(reserved, 'with', 'keyword.other.with.skerran');
  });
});

describe('literals', () => {
  it('scopes integers, floats and booleans', () => {
    const line = tokenizeLine('    speak 42 + 3.25 + -7 == aye != nay');
    expectScope(line, '42', 'constant.numeric.integer.skerran');
    expectScope(line, '3.25', 'constant.numeric.float.skerran');
    expectScope(line, '7', 'constant.numeric.integer.skerran');
    expectScope(line, '-', 'keyword.operator.arithmetic.skerran');
    expectScope(line, 'aye', 'constant.language.boolean.skerran');
    expectScope(line, 'nay', 'constant.language.boolean.skerran');
    const names = tokenizeLine('    speak ayes + nay_x + x2');
    for (const n of ['ayes', 'nay_x', 'x2']) {
      expectNoScope(names, n, 'constant');
      expectScope(names, n, 'variable.other.skerran');
    }
  });

  it('scopes each string escape and leaves other backslashes alone', () => {
    const line = tokenizeLine('    speak "q\\" b\\\\ n\\n r\\r t\\t a\\\' z\\q"');
    expectScope(line, '"q\\" b\\\\ n\\n r\\r t\\t a\\\' z\\q"', 'string.quoted.double.skerran');
    for (const esc of ['\\"', '\\\\', '\\n', '\\r', '\\t', "\\'"]) {
      expectScope(line, esc, 'constant.character.escape.skerran');
    }
    expectNoScope(line, '\\q', 'constant.character.escape.skerran');
  });

  it('scopes character literals with their escapes and rejects malformed ones', () => {
    const line = tokenizeLine("    speak 'W' == '\\'' == '\\\\' == '\\n' == '\\r' == '\\t' == '\u00e9' == '\"'");
    for (const lit of ["'W'", "'\\''", "'\\\\'", "'\\n'", "'\\r'", "'\\t'", "'\u00e9'", "'\"'"]) {
      expectScope(line, lit, 'string.quoted.single.skerran');
      expectNoScope(line, lit, 'invalid');
    }
    expectScope(line, "\\'", 'constant.character.escape.skerran');
    for (const bad of ["'ab'", "'\\q'", "'\\\"'", "''"]) {
      const l = tokenizeLine(`    speak ${bad}`);
      expectScope(l, bad, 'invalid.illegal.character.skerran');
    }
  });

  it('marks a string without its closing quote, which cannot end in a backslash', () => {
    for (const text of ['    speak "abc', '    speak "ab\\"']) {
      const line = tokenizeLine(text);
      expectScope(line, text.slice(10), 'invalid.illegal.unclosed-string.skerran');
      expectNoScope(line, text.slice(10), 'string.quoted.double.skerran');
    }
  });
});

describe('comments', () => {
  it('runs from "//" to the end of the line outside literals only', () => {
    const lines = tokenize([
      '    speak "a // b" // real',
      "    c is a sigil with '/' // slash",
      '    speak "say \\"hi\\" // still text"',
      "    speak it' // not a comment: the apostrophe opens a character",
      '    speak "open // not a comment either',
      '// a whole line',
      '    x = 1 / 2 //',
      '    speak 1// tight',
    ].join('\n'));
    expectScope(lines[0], '"a // b"', 'string.quoted.double.skerran');
    expectScope(lines[0], '// real', 'comment.line.double-slash.skerran');
    expectScope(lines[1], "'/'", 'string.quoted.single.skerran');
    expectScope(lines[1], '// slash', 'comment.line.double-slash.skerran');
    expectNoScope(lines[2], '// still text', 'comment');
    expectNoScope(lines[3], '// not a comment', 'comment');
    expectNoScope(lines[4], '// not a comment', 'comment');
    expectScope(lines[5], '// a whole line', 'comment.line.double-slash.skerran');
    expectScope(lines[6], '/', 'keyword.operator.arithmetic.skerran');
    expectScope(lines[6], '//', 'comment.line.double-slash.skerran');
    expectScope(lines[7], '// tight', 'comment.line.double-slash.skerran');
    expectCommentsAsInterpreter(lines, 'snippet');
  });

  it('keeps literals on one line: an open quote does not swallow the next line', () => {
    const lines = tokenize('    speak "open\n    speak 1 // done\n');
    expectScope(lines[1], 'speak', 'keyword.other.speak.skerran');
    expectScope(lines[1], '1', 'constant.numeric.integer.skerran');
    expectScope(lines[1], '// done', 'comment.line.double-slash.skerran');
  });
});

describe('operators', () => {
  it('tells assignment from comparison and marks operators the language lacks', () => {
    const line = tokenizeLine('    n = n + 1 == 2 != 3 > 4 < 5 * 6 / 7 - 8');
    expectScope(line, '=', 'keyword.operator.assignment.skerran');
    expectScope(line, '==', 'keyword.operator.comparison.skerran');
    expectScope(line, '!=', 'keyword.operator.comparison.skerran');
    for (const op of ['>', '<']) expectScope(line, op, 'keyword.operator.comparison.skerran');
    for (const op of ['+', '*', '/', '-']) expectScope(line, op, 'keyword.operator.arithmetic.skerran');
    const neg = tokenizeLine('    speak !aye');
    expectScope(neg, '!', 'keyword.operator.logical.skerran');
    for (const op of ['<=', '>=']) {
      const l = tokenizeLine(`    speak a ${op} b`);
      expectScope(l, op, 'invalid.illegal.operator.skerran');
    }
  });
});
